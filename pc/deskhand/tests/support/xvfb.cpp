#include "support/xvfb.hpp"

#include <X11/Xutil.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace orvane::pc::testing {
namespace {

bool display_taken(int number) {
  return std::filesystem::exists("/tmp/.X" + std::to_string(number) + "-lock") ||
         std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(number));
}

// The pid written in a display's lock file, or -1.
pid_t lock_owner(int number) {
  std::ifstream lock("/tmp/.X" + std::to_string(number) + "-lock");
  long pid = -1;
  lock >> pid;
  return lock ? static_cast<pid_t>(pid) : -1;
}

}  // namespace

Xvfb::Xvfb(int width, int height) {
  const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
  for (int number = 90; number < 190; ++number) {
    if (display_taken(number)) continue;
    const std::string name = ":" + std::to_string(number);
    std::vector<std::string> args{"Xvfb", name,        "-screen", "0",
                                  screen, "-nolisten", "tcp",     "-noreset"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, "Xvfb", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start Xvfb");

    // Ready when our own server holds the lock and accepts a connection; a server that exits lost
    // the number to someone else.
    bool ready = false;
    for (int attempt = 0; attempt < 200 && !ready; ++attempt) {
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        pid = -1;
        break;
      }
      if (lock_owner(number) == pid) {
        if (Display* display = XOpenDisplay(name.c_str())) {
          XCloseDisplay(display);
          ready = true;
          break;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    if (ready) {
      _pid = pid;
      _name = name;
      if (const char* old = std::getenv("DISPLAY")) {
        _had_display = true;
        _old_display = old;
      }
      setenv("DISPLAY", name.c_str(), 1);
      return;
    }
    if (pid > 0) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
  }
  throw std::runtime_error("no free X display number for Xvfb");
}

Xvfb::~Xvfb() {
  if (_had_display) {
    setenv("DISPLAY", _old_display.c_str(), 1);
  } else {
    unsetenv("DISPLAY");
  }
  kill(_pid, SIGTERM);
  waitpid(_pid, nullptr, 0);
}

TestWindow::TestWindow() {
  _display = XOpenDisplay(nullptr);
  if (_display == nullptr) throw std::runtime_error("cannot open the test display");
  const int screen = DefaultScreen(_display);
  XSetWindowAttributes attributes{};
  attributes.override_redirect = True;
  attributes.background_pixel = WhitePixel(_display, screen);
  attributes.event_mask = ButtonPressMask | ButtonReleaseMask | PointerMotionMask | KeyPressMask |
                          KeyReleaseMask | StructureNotifyMask;
  _window =
      XCreateWindow(_display, RootWindow(_display, screen), 0, 0, DisplayWidth(_display, screen),
                    DisplayHeight(_display, screen), 0, CopyFromParent, InputOutput, CopyFromParent,
                    CWOverrideRedirect | CWBackPixel | CWEventMask, &attributes);
  XMapRaised(_display, _window);
  wait_for([](const std::vector<XEvent>& events) {
    for (const auto& event : events) {
      if (event.type == MapNotify) return true;
    }
    return false;
  });
  XSetInputFocus(_display, _window, RevertToParent, CurrentTime);
  _gc = XCreateGC(_display, _window, 0, nullptr);
  XSync(_display, False);
  clear();
}

TestWindow::~TestWindow() {
  XFreeGC(_display, _gc);
  XDestroyWindow(_display, _window);
  XCloseDisplay(_display);
}

std::vector<XEvent> TestWindow::events() {
  XSync(_display, False);
  while (XPending(_display) > 0) {
    XEvent event;
    XNextEvent(_display, &event);
    _events.push_back(event);
  }
  return _events;
}

std::vector<XEvent> TestWindow::wait_for(
    const std::function<bool(const std::vector<XEvent>&)>& done,
    std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto received = events();
    if (done(received) || std::chrono::steady_clock::now() > deadline) return received;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void TestWindow::clear() {
  events();
  _events.clear();
}

void TestWindow::fill(int x, int y, int width, int height, unsigned long rgb) {
  XSetForeground(_display, _gc, rgb);
  XFillRectangle(_display, _window, _gc, x, y, static_cast<unsigned>(width),
                 static_cast<unsigned>(height));
  XSync(_display, False);
}

KeySym TestWindow::keysym_of(const XKeyEvent& event) {
  int per_keycode = 0;
  KeySym* syms =
      XGetKeyboardMapping(_display, static_cast<KeyCode>(event.keycode), 1, &per_keycode);
  if (syms == nullptr) return NoSymbol;
  KeySym keysym = syms[0];
  if ((event.state & ShiftMask) && per_keycode > 1) {
    if (syms[1] != NoSymbol) {
      keysym = syms[1];
    } else {
      KeySym lower = NoSymbol, upper = NoSymbol;
      XConvertCase(syms[0], &lower, &upper);
      keysym = upper;
    }
  }
  XFree(syms);
  return keysym;
}

}  // namespace orvane::pc::testing
