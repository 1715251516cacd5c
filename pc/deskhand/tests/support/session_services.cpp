#include "support/session_services.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace orvane::pc::testing {
namespace {

bool exists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

void wait_for_file(const std::string& path, pid_t owner, const char* what) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!exists(path)) {
    if (waitpid(owner, nullptr, WNOHANG) == owner)
      throw std::runtime_error(std::string(what) + " ended at start");
    if (std::chrono::steady_clock::now() > deadline)
      throw std::runtime_error(std::string(what) + " did not start");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace

SessionServices::SessionServices() {
  char dir_template[] = "/tmp/orvane-session-XXXXXX";
  if (mkdtemp(dir_template) == nullptr) throw std::runtime_error("mkdtemp failed");
  _dir = dir_template;
  _runtime = _dir + "/run";
  mkdir(_runtime.c_str(), 0700);
  _bus = "unix:path=" + _runtime + "/bus";
  setenv("XDG_RUNTIME_DIR", _runtime.c_str(), 1);
  setenv("DBUS_SESSION_BUS_ADDRESS", _bus.c_str(), 1);
  unsetenv("PIPEWIRE_REMOTE");

  const pid_t bus =
      start({"dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=" + _bus});
  wait_for_file(_runtime + "/bus", bus, "dbus-daemon");
  const pid_t pipewire = start({"pipewire"}, {}, "pipewire.log");
  wait_for_file(_runtime + "/pipewire-0", pipewire, "pipewire");
  start({"wireplumber"}, {}, "wireplumber.log");
}

pid_t SessionServices::start(const std::vector<std::string>& args,
                             const std::vector<std::string>& env, const std::string& log) {
  const std::string log_path = path(log);
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    const int fd = ::open(log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd >= 0) {
      dup2(fd, 1);
      dup2(fd, 2);
    }
    setenv("HOME", _dir.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (_dir + "/config").c_str(), 1);
    setenv("XDG_DATA_HOME", (_dir + "/data").c_str(), 1);
    setenv("XDG_STATE_HOME", (_dir + "/state").c_str(), 1);
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("DISPLAY");
    for (const auto& setting : env) putenv(const_cast<char*>(setting.c_str()));
    std::vector<char*> argv;
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  _pids.push_back(pid);
  return pid;
}

SessionServices::~SessionServices() {
  // Last started, first stopped: compositors before PipeWire before the bus.
  for (auto it = _pids.rbegin(); it != _pids.rend(); ++it) {
    kill(*it, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (waitpid(*it, nullptr, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(*it, SIGKILL);
        waitpid(*it, nullptr, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
  if (std::getenv("ORVANE_KEEP_SESSION") == nullptr) std::system(("rm -rf " + _dir).c_str());
}

}  // namespace orvane::pc::testing
