#pragma once
// A private headless GNOME compositor (Mutter) for a test, on a session of its own (D-Bus,
// PipeWire, WirePlumber), with one virtual monitor at a scale of 1 or 2. Sets $WAYLAND_DISPLAY
// while it lives.
#include <string>

#include "support/session_services.hpp"

namespace orvane::pc::testing {

class Mutter {
 public:
  Mutter(int width, int height, int scale = 1);
  ~Mutter();
  Mutter(const Mutter&) = delete;
  Mutter& operator=(const Mutter&) = delete;
  const std::string& socket() const { return _socket; }

 private:
  SessionServices _session;
  std::string _socket;
};

}  // namespace orvane::pc::testing
