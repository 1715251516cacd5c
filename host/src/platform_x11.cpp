#include <X11/Xlib.h>

#include "orvane/host/platform.hpp"

namespace orvane::host {

std::optional<std::pair<int, int>> get_screen_size_linux() {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return std::nullopt;
  const int screen = DefaultScreen(display);
  std::pair<int, int> size{DisplayWidth(display, screen), DisplayHeight(display, screen)};
  XCloseDisplay(display);
  return size;
}

}  // namespace orvane::host
