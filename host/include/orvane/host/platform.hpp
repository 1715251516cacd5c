#pragma once
// Host platform utilities used by the desktop executor.
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace orvane::host {

// The X screen's size in pixels (width, height), or nullopt without a display.
std::optional<std::pair<int, int>> get_screen_size_linux();

// The host's screenshot command (the output path is appended as one more argument), or an empty
// list when none is configured. Configured with ORVANE_SCREENSHOT_COMMAND (arguments separated
// by white space).
std::vector<std::string> get_screenshot_command();

}  // namespace orvane::host
