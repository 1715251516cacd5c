#pragma once
// A private X server for a test, and a window on it that records what input reaches it.
#include <X11/Xlib.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace orvane::pc::testing {

// Xvfb on the first free display number from :90, with one screen of the given size. Sets
// $DISPLAY to it while it lives.
class Xvfb {
 public:
  Xvfb(int width, int height);
  ~Xvfb();
  Xvfb(const Xvfb&) = delete;
  Xvfb& operator=(const Xvfb&) = delete;
  const std::string& display_name() const { return _name; }

 private:
  pid_t _pid = -1;
  std::string _name;
  std::string _old_display;
  bool _had_display = false;
};

// A borderless window over the whole screen that has the keyboard focus and records pointer,
// button and key events.
class TestWindow {
 public:
  TestWindow();  // on $DISPLAY
  ~TestWindow();
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;

  Display* display() const { return _display; }
  // Events received so far (drained from the server).
  std::vector<XEvent> events();
  // Waits until `done` holds for the events received so far (at most `timeout`).
  std::vector<XEvent> wait_for(const std::function<bool(const std::vector<XEvent>&)>& done,
                               std::chrono::milliseconds timeout = std::chrono::seconds(3));
  void clear();
  // Fills a rectangle in 24-bit RGB colour.
  void fill(int x, int y, int width, int height, unsigned long rgb);
  // The keysym a key event's keycode carries at the level its Shift state selects, read from the
  // server's current keymap.
  KeySym keysym_of(const XKeyEvent& event);

 private:
  Display* _display = nullptr;
  Window _window = 0;
  GC _gc = nullptr;
  std::vector<XEvent> _events;
};

}  // namespace orvane::pc::testing
