#pragma once
// Key names in an action's result that no key of the desktop's input has.
#include <string>
#include <string_view>
#include <vector>

namespace orvane::app {

// The names no key has in an action's result text ("Pressed: ctrl+nosuchkey", "Held x for 1s").
std::vector<std::string> unknown_keys_in_result(std::string_view action, std::string_view text);

}  // namespace orvane::app
