#pragma once
// A private desktop session for a test: a session D-Bus, PipeWire and WirePlumber in a runtime
// directory of their own, stopped by PID. While it lives, the test process's
// $XDG_RUNTIME_DIR and $DBUS_SESSION_BUS_ADDRESS point at it, so compositors started from the
// test and the library's own PipeWire and D-Bus connections all meet there.
#include <sys/types.h>

#include <string>
#include <vector>

namespace orvane::pc::testing {

class SessionServices {
 public:
  SessionServices();
  ~SessionServices();
  SessionServices(const SessionServices&) = delete;
  SessionServices& operator=(const SessionServices&) = delete;

  const std::string& runtime_dir() const { return _runtime; }
  const std::string& bus_address() const { return _bus; }
  // Starts `args` in the session's environment (plus `env`, "NAME=value"), its output appended
  // to `log` in the session's folder; stopped with the session.
  pid_t start(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
              const std::string& log = "session.log");
  std::string path(const std::string& name) const { return _dir + "/" + name; }

 private:
  std::string _dir;
  std::string _runtime;
  std::string _bus;
  std::vector<pid_t> _pids;
};

}  // namespace orvane::pc::testing
