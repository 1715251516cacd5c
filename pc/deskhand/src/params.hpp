#pragma once
// Binding an action's JSON parameters the way a keyword-argument call binds them: only the
// names the action takes, each of the kind it needs.
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace orvane::pc::params {

using Json = nlohmann::ordered_json;

// The type name a JSON value has on the model's side (NoneType, bool, int, float, str, list,
// dict).
std::string type_name(const Json& value);

// The parameters of one call of `method`: throws std::invalid_argument when `params` is not an
// object or holds a name outside `names`.
class Bound {
 public:
  Bound(std::string_view method, const Json& params, std::initializer_list<const char*> names);
  // The value given for `name`, or null when absent.
  const Json* get(const char* name) const;
  // The value given for `name`, else the one for `other_name`, else null.
  const Json* get_either(const char* name, const char* other_name) const;

 private:
  const Json* _params;
};

// A coordinate is usable when it is an array of exactly two elements.
bool usable_coordinate(const Json* coordinate);

// Text parameter: "" when absent; throws std::invalid_argument for a value that is not text.
std::string text(const Json* value, const char* name);
// Number parameter as a double; `fallback` when absent; throws for a value that is not a number.
double number(const Json* value, const char* name, double fallback);
// Number parameter truncated to an integer; throws when it does not fit in an int.
int integer(const Json* value, const char* name, int fallback);

}  // namespace orvane::pc::params
