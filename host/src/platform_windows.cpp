#include "orvane/host/platform.hpp"

namespace orvane::host {

// There is no X display on Windows; callers fall back as they do without one on Linux.
std::optional<std::pair<int, int>> get_screen_size_linux() {
  return std::nullopt;
}

}  // namespace orvane::host
