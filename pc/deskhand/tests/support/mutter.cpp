#include "support/mutter.hpp"

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace orvane::pc::testing {

Mutter::Mutter(int width, int height) {
  const std::string monitor = std::to_string(width) + "x" + std::to_string(height);
  _session.start({"mutter", "--headless", "--virtual-monitor", monitor, "--wayland", "--no-x11",
                  "--wayland-display", "wayland-orvane"},
                 {}, "mutter.log");
  _socket = _session.runtime_dir() + "/wayland-orvane";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  struct stat info {};
  while (::stat(_socket.c_str(), &info) != 0) {
    if (std::chrono::steady_clock::now() > deadline)
      throw std::runtime_error("mutter did not start; see " + _session.path("mutter.log"));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  setenv("WAYLAND_DISPLAY", _socket.c_str(), 1);
}

Mutter::~Mutter() {
  unsetenv("WAYLAND_DISPLAY");
}

}  // namespace orvane::pc::testing
