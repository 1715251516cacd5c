#include "desk_key_names.hpp"

#include "orvane/pc/desktop.hpp"

namespace orvane::app {
namespace {

std::vector<std::string> split(std::string_view text, char separator) {
  std::vector<std::string> parts;
  for (;;) {
    const auto at = text.find(separator);
    parts.emplace_back(text.substr(0, at));
    if (at == std::string_view::npos) return parts;
    text.remove_prefix(at + 1);
  }
}

}  // namespace

std::vector<std::string> unknown_keys_in_result(std::string_view action, std::string_view text) {
  std::vector<std::string> names;
  if (action == "key" && text.starts_with("Pressed: ")) {
    names = split(text.substr(9), '+');
  } else if (action == "hold_key" && text.starts_with("Held ")) {
    const auto end = text.rfind(" for ");
    if (end != std::string_view::npos && end >= 5) names.emplace_back(text.substr(5, end - 5));
  }
  std::vector<std::string> unknown;
  for (auto& name : names) {
    if (!pc::can_press_key(name)) unknown.push_back(std::move(name));
  }
  return unknown;
}

}  // namespace orvane::app
