#include "key_names.hpp"

#include <array>
#include <utility>

#include "orvane/common/unicode.hpp"

namespace orvane::pc {
namespace {

constexpr std::array<std::pair<std::string_view, std::string_view>, 27> KEY_NAMES{{
    {"Return", "enter"},
    {"return", "enter"},
    {"Enter", "enter"},
    {"BackSpace", "backspace"},
    {"Backspace", "backspace"},
    {"Delete", "delete"},
    {"Escape", "escape"},
    {"Tab", "tab"},
    {"space", "space"},
    {"Space", "space"},
    {"Up", "up"},
    {"Down", "down"},
    {"Left", "left"},
    {"Right", "right"},
    {"Home", "home"},
    {"End", "end"},
    {"Page_Up", "pageup"},
    {"Page_Down", "pagedown"},
    {"super", "win"},
    {"Super_L", "win"},
    {"Super_R", "win"},
    {"ctrl", "ctrl"},
    {"Control_L", "ctrl"},
    {"alt", "alt"},
    {"Alt_L", "alt"},
    {"shift", "shift"},
    {"Shift_L", "shift"},
}};

}  // namespace

std::string translate_key(std::string_view name) {
  for (const auto& [received, sent] : KEY_NAMES) {
    if (received == name) return std::string(sent);
  }
  return common::to_lower(name);
}

std::optional<NumberedKey> parse_numbered_key(std::string_view name) {
  const auto number = [](std::string_view digits) -> int {
    if (digits.empty() || digits.size() > 2 || (digits[0] == '0' && digits.size() > 1)) return -1;
    int value = 0;
    for (const char c : digits) {
      if (c < '0' || c > '9') return -1;
      value = value * 10 + (c - '0');
    }
    return value;
  };
  if (name.size() > 1 && name[0] == 'f') {
    const int n = number(name.substr(1));
    if (n >= 1 && n <= 24) return NumberedKey{false, n};
  }
  if (name.size() == 4 && name.substr(0, 3) == "num") {
    const int n = number(name.substr(3));
    if (n >= 0 && n <= 9) return NumberedKey{true, n};
  }
  return std::nullopt;
}

}  // namespace orvane::pc
