#include "support/kwin.hpp"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace orvane::pc::testing {

KWin::KWin(SessionServices& session, int width, int height, int scale, bool granted) {
  namespace fs = std::filesystem;
  // The installed binary carries a file capability that this container's exec refuses; a copy
  // carries none.
  const std::string binary = session.path("kwin_wayland");
  fs::copy_file("/usr/bin/kwin_wayland", binary, fs::copy_options::overwrite_existing);
  chmod(binary.c_str(), 0755);
  const std::string data = session.path("share");
  fs::create_directories(data + "/applications");
  std::ofstream(data + "/applications/orvane-test.desktop")
      << "[Desktop Entry]\nType=Application\nName=orvane test\nNoDisplay=true\nExec="
      << (granted ? fs::read_symlink("/proc/self/exe").string() : "/usr/bin/true")
      << "\nX-KDE-Wayland-Interfaces=org_kde_kwin_fake_input,zkde_screencast_unstable_v1"
      << "\nX-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2\n";
  const pid_t pid =
      session.start({binary, "--virtual", "--width", std::to_string(width), "--height",
                     std::to_string(height), "--scale", std::to_string(scale), "--no-lockscreen",
                     "--no-global-shortcuts", "--socket", "kwin-test"},
                    {"XDG_DATA_DIRS=" + data + ":/usr/share"}, "kwin.log");
  _socket = session.runtime_dir() + "/kwin-test";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!fs::exists(_socket)) {
    if (waitpid(pid, nullptr, WNOHANG) == pid)
      throw std::runtime_error("kwin_wayland ended at start; see " + session.path("kwin.log"));
    if (std::chrono::steady_clock::now() > deadline)
      throw std::runtime_error("kwin_wayland did not start; see " + session.path("kwin.log"));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // outputs and seat set up
  setenv("WAYLAND_DISPLAY", _socket.c_str(), 1);
}

KWin::~KWin() {
  unsetenv("WAYLAND_DISPLAY");
}

}  // namespace orvane::pc::testing
