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

}  // namespace orvane::pc
