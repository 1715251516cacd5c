#pragma once
// A private headless KWin in a test's session: one virtual output, and a .desktop file naming
// the test program, so that KWin grants it fake input, screen casts and screenshots. Sets
// $WAYLAND_DISPLAY to its socket while it lives.
#include <string>

#include "support/session_services.hpp"

namespace orvane::pc::testing {

class KWin {
 public:
  // `granted`: whether the .desktop file names the test program.
  KWin(SessionServices& session, int width, int height, int scale, bool granted = true);
  ~KWin();
  KWin(const KWin&) = delete;
  KWin& operator=(const KWin&) = delete;
  const std::string& socket() const { return _socket; }

 private:
  std::string _socket;
};

}  // namespace orvane::pc::testing
