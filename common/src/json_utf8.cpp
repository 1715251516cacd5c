#include "orvane/common/json_utf8.hpp"

#include <string>

#include "orvane/common/unicode.hpp"

namespace orvane::common {
namespace {

using json = nlohmann::ordered_json;

bool all_valid(const json& value) {
  if (value.is_string()) return is_valid_utf8(value.get_ref<const std::string&>());
  if (value.is_array()) {
    for (const auto& item : value)
      if (!all_valid(item)) return false;
  }
  if (value.is_object()) {
    for (const auto& [key, item] : value.items())
      if (!is_valid_utf8(key) || !all_valid(item)) return false;
  }
  return true;
}

json replaced(const json& value) {
  if (value.is_string()) return replace_invalid_utf8(value.get_ref<const std::string&>());
  if (value.is_array()) {
    json copy = json::array();
    for (const auto& item : value) copy.push_back(replaced(item));
    return copy;
  }
  if (value.is_object()) {
    json copy = json::object();
    for (const auto& [key, item] : value.items()) copy[replace_invalid_utf8(key)] = replaced(item);
    return copy;
  }
  return value;
}

}  // namespace

bool is_valid_utf8_json(const json& value) {
  return all_valid(value);
}

// The check first: nearly every value is valid, and then no copy is made.
json valid_utf8_json(const json& value) {
  return all_valid(value) ? value : replaced(value);
}

}  // namespace orvane::common
