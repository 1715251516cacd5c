#include "desk_key_names.hpp"

#include <X11/Xlib.h>

namespace orvane::app {
namespace {

// The named keys of the desktop input (the X11 and Wayland backends share them).
// clang-format off
constexpr std::string_view NAMED_KEYS[] = {
    "enter", "return", "\n", "\r", "tab", "\t", "backspace", "\b", "delete", "del",
    "escape", "esc", "space", "up", "down", "left", "right", "home", "end", "pageup",
    "pgup", "pagedown", "pgdn", "insert", "win", "winleft", "winright", "command", "cmd",
    "option", "optionleft", "optionright", "ctrl", "ctrlleft", "ctrlright", "alt",
    "altleft", "altright", "shift", "shiftleft", "shiftright", "capslock", "numlock",
    "scrolllock", "printscreen", "prtsc", "prtscr", "prntscrn", "print", "pause", "apps",
    "menu", "clear", "help", "select", "execute", "add", "subtract", "multiply",
    "divide", "decimal", "separator", "volumemute", "volumedown", "volumeup",
    "playpause", "stop", "prevtrack", "nexttrack", "browserback", "browserforward",
    "browserrefresh", "browserhome", "browsersearch", "launchmail"
};
// clang-format on

// "f1".."f24", "num0".."num9".
bool numbered_key(std::string_view name) {
  const auto number = [](std::string_view digits) {
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
    if (n >= 1 && n <= 24) return true;
  }
  return name.size() == 4 && name.starts_with("num") && number(name.substr(3)) >= 0;
}

// One printable character types itself.
bool one_character(std::string_view name) {
  if (name.empty()) return false;
  const auto first = static_cast<unsigned char>(name[0]);
  if (first < 0x20 || first == 0x7f) return false;
  std::size_t starts = 0;
  for (const char c : name) starts += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return starts == 1;
}

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

bool is_known_key(std::string_view name) {
  for (const auto key : NAMED_KEYS) {
    if (key == name) return true;
  }
  if (numbered_key(name) || one_character(name)) return true;
  // The X keysym names themselves ("eacute", "ssharp").
  return XStringToKeysym(std::string(name).c_str()) != NoSymbol;
}

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
    if (!is_known_key(name)) unknown.push_back(std::move(name));
  }
  return unknown;
}

}  // namespace orvane::app
