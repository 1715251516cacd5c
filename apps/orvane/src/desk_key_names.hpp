#pragma once
// Key names the desktop's input can press. The executor passes any other name on, and the input
// ignores it, so the action still reports the key as pressed.
#include <string>
#include <string_view>
#include <vector>

namespace orvane::app {

// `name` as the executor passes it on (after its own translation: "enter", "ctrl", "f5", "a").
bool is_known_key(std::string_view name);

// The names no key has in an action's result text ("Pressed: ctrl+nosuchkey", "Held x for 1s").
std::vector<std::string> unknown_keys_in_result(std::string_view action, std::string_view text);

}  // namespace orvane::app
