#pragma once
// Reading JSON text: nesting kept within a limit, and the non-finite numbers Python writes.
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string_view>

namespace orvane::common {

// Objects and arrays may nest this many levels deep and no deeper. Copying, comparing and writing
// a value recurse once per level, so deeper values are refused before anything walks them.
inline constexpr int MAX_JSON_DEPTH = 512;

class JsonTooDeep : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

enum class OnInvalid {
  Throw,    // nlohmann::json::exception (parse_error; out_of_range for a number too large)
  Discard,  // a discarded value
};

// The value of the JSON text, parsed without recursion. Throws JsonTooDeep when objects and
// arrays nest deeper than MAX_JSON_DEPTH, whatever `on_invalid` says.
nlohmann::ordered_json parse_json(std::string_view text, OnInvalid on_invalid = OnInvalid::Throw);

// As parse_json, and also reads the bare tokens NaN, Infinity and -Infinity that Python's json
// module writes for numbers that are not finite (and reads back), as those numbers.
nlohmann::ordered_json parse_python_json(std::string_view text);

// True when objects and arrays in `value` nest more than `limit` levels deep (a scalar has no
// level, [] and [1] have one). Walks without recursion and stops at the first such path.
bool nests_deeper_than(const nlohmann::ordered_json& value, int limit = MAX_JSON_DEPTH);

}  // namespace orvane::common
