#include "support/mutter.hpp"

#include <sys/stat.h>
#include <systemd/sd-bus.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace orvane::pc::testing {

namespace {

// Gives the virtual monitor `scale` through Mutter's display configuration, for this run only.
void set_scale(const std::string& mode, int scale) {
  sd_bus* bus = nullptr;
  sd_bus_message* state = nullptr;
  sd_bus_error error = SD_BUS_ERROR_NULL;
  constexpr const char* DEST = "org.gnome.Mutter.DisplayConfig";
  constexpr const char* PATH = "/org/gnome/Mutter/DisplayConfig";
  std::uint32_t serial = 0;
  int code = sd_bus_open_user(&bus);
  for (int attempt = 0; bus != nullptr && attempt < 100; ++attempt) {
    sd_bus_error_free(&error);
    code = sd_bus_call_method(bus, DEST, PATH, DEST, "GetCurrentState", &error, &state, "");
    if (code >= 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // not on the bus yet
  }
  if (code >= 0) code = sd_bus_message_read(state, "u", &serial);
  if (code >= 0) {
    code = sd_bus_call_method(bus, DEST, PATH, DEST, "ApplyMonitorsConfig", &error, nullptr,
                              "uua(iiduba(ssa{sv}))a{sv}", serial, 1u, 1, 0, 0, double(scale), 0u,
                              1, 1, "Meta-0", mode.c_str(), 0, 0);
  }
  const std::string why = error.message ? error.message : std::to_string(code);
  sd_bus_error_free(&error);
  sd_bus_message_unref(state);
  sd_bus_flush_close_unref(bus);
  if (code < 0)
    throw std::runtime_error("cannot give Mutter's monitor scale " + std::to_string(scale) + ": " +
                             why);
}

}  // namespace

Mutter::Mutter(int width, int height, int scale) {
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
  if (scale != 1) set_scale(monitor + "@60.000", scale);
  setenv("WAYLAND_DISPLAY", _socket.c_str(), 1);
}

Mutter::~Mutter() {
  unsetenv("WAYLAND_DISPLAY");
}

}  // namespace orvane::pc::testing
