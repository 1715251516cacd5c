#include "orvane/host/platform.hpp"

#include <X11/Xlib.h>

#include <cstdlib>
#include <sstream>

namespace orvane::host {

std::optional<std::pair<int, int>> get_screen_size_linux() {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return std::nullopt;
  const int screen = DefaultScreen(display);
  std::pair<int, int> size{DisplayWidth(display, screen), DisplayHeight(display, screen)};
  XCloseDisplay(display);
  return size;
}

std::vector<std::string> get_screenshot_command() {
  std::vector<std::string> args;
  if (const char* configured = std::getenv("ORVANE_SCREENSHOT_COMMAND")) {
    std::istringstream words(configured);
    for (std::string word; words >> word;) args.push_back(word);
  }
  return args;
}

}  // namespace orvane::host
