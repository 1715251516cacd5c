#pragma once
// A limit on JSON nesting: writing a value out and copying it recurse once per level, so values
// from outside are refused past a depth that any real document stays far below.
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string_view>

namespace orvane::common {

constexpr int MAX_JSON_DEPTH = 512;

class JsonTooDeep : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// nlohmann's parse, refusing documents with containers nested more than `max_depth` levels deep
// (JsonTooDeep); other faults raise nlohmann::json::parse_error as usual.
nlohmann::ordered_json parse_json_limited(std::string_view text, int max_depth = MAX_JSON_DEPTH);

// True when containers in `value` are nested more than `max_depth` levels deep. Iterative, so
// any depth can be asked about.
bool nested_deeper_than(const nlohmann::ordered_json& value, int max_depth = MAX_JSON_DEPTH);

}  // namespace orvane::common
