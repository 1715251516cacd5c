#include "orvane/common/json_depth.hpp"

#include <string>
#include <utility>
#include <vector>

namespace orvane::common {

using Json = nlohmann::ordered_json;

Json parse_json_limited(std::string_view text, int max_depth) {
  // `depth` counts the containers around the one that starts.
  const auto limit_depth = [max_depth](int depth, Json::parse_event_t event, Json&) {
    const bool starts =
        event == Json::parse_event_t::object_start || event == Json::parse_event_t::array_start;
    if (starts && depth >= max_depth) {
      throw JsonTooDeep("JSON nested more than " + std::to_string(max_depth) + " levels deep");
    }
    return true;
  };
  return Json::parse(text, limit_depth);
}

bool nested_deeper_than(const Json& value, int max_depth) {
  std::vector<std::pair<const Json*, int>> pending{{&value, 1}};
  while (!pending.empty()) {
    const auto [node, depth] = pending.back();
    pending.pop_back();
    if (!node->is_structured()) continue;
    if (depth > max_depth) return true;
    for (const auto& child : *node) pending.emplace_back(&child, depth + 1);
  }
  return false;
}

}  // namespace orvane::common
