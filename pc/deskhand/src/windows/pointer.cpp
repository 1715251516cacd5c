// The pointer through SendInput: absolute moves on the primary screen, buttons and wheels.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <thread>

#include "pointer_path.hpp"
#include "windows/windows_input.hpp"

namespace orvane::pc::windows {
namespace {

INPUT mouse_event(DWORD flags, DWORD data = 0) {
  INPUT event{};
  event.type = INPUT_MOUSE;
  event.mi.dwFlags = flags;
  event.mi.mouseData = data;
  return event;
}

INPUT move_event(int x, int y) {
  INPUT event = mouse_event(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE);
  event.mi.dx = absolute_coordinate(x, ::GetSystemMetrics(SM_CXSCREEN));
  event.mi.dy = absolute_coordinate(y, ::GetSystemMetrics(SM_CYSCREEN));
  return event;
}

// SendInput's "left" is the physical button: with the buttons swapped, the primary one is right.
bool swapped() {
  return ::GetSystemMetrics(SM_SWAPBUTTON) != 0;
}
DWORD primary_down() {
  return swapped() ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN;
}
DWORD primary_up() {
  return swapped() ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP;
}

int magnitude(int value) {
  return value == std::numeric_limits<int>::min() ? std::numeric_limits<int>::max()
                                                  : std::abs(value);
}

}  // namespace

void WindowsInput::moveTo(int x, int y, double duration) {
  walk_pointer(position(), {x, y}, duration, [&](int px, int py, bool) {
    std::vector<INPUT> step{move_event(px, py)};
    _send(step);
  });
}

// The move and the presses go in one call, so no other input comes between them, and each press
// carries the point too: Wine, for one, may still move the pointer back to where X last had it
// after the move.
void WindowsInput::_click_button(int x, int y, DWORD down, DWORD up, int clicks) {
  const INPUT at = move_event(x, y);
  std::vector<INPUT> events{at};
  for (int i = 0; i < 2 * clicks; ++i) {
    events.push_back(at);
    events.back().mi.dwFlags |= i % 2 ? up : down;
  }
  _send(events);
}

void WindowsInput::click(int x, int y, int clicks) {
  _click_button(x, y, primary_down(), primary_up(), clicks);
}
void WindowsInput::rightClick(int x, int y) {
  if (swapped()) return _click_button(x, y, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP, 1);
  _click_button(x, y, MOUSEEVENTF_RIGHTDOWN, MOUSEEVENTF_RIGHTUP, 1);
}
void WindowsInput::middleClick(int x, int y) {
  _click_button(x, y, MOUSEEVENTF_MIDDLEDOWN, MOUSEEVENTF_MIDDLEUP, 1);
}
void WindowsInput::doubleClick(int x, int y) {
  _click_button(x, y, primary_down(), primary_up(), 2);
}

void WindowsInput::mouseDown() {
  std::vector<INPUT> events{mouse_event(primary_down())};
  _send(events);
}

void WindowsInput::mouseUp() {
  std::vector<INPUT> events{mouse_event(primary_up())};
  _send(events);
}

// One WHEEL_DELTA per click, as a notched wheel turns; sent in batches so that a long turn
// does not build one huge array.
void WindowsInput::_wheel(DWORD flag, int clicks) {
  const DWORD delta = static_cast<DWORD>(clicks > 0 ? WHEEL_DELTA : -WHEEL_DELTA);
  std::vector<INPUT> events;
  for (int left = magnitude(clicks); left > 0; --left) {
    events.push_back(mouse_event(flag, delta));
    if (events.size() == 64 || left == 1) {
      _send(events);
      events.clear();
    }
  }
}

// A positive delta turns the vertical wheel away from the user (up) and tilts the horizontal one
// to the right.
void WindowsInput::scroll(int clicks) {
  _wheel(MOUSEEVENTF_WHEEL, clicks);
}
void WindowsInput::hscroll(int clicks) {
  _wheel(MOUSEEVENTF_HWHEEL, clicks);
}

std::pair<int, int> WindowsInput::position() {
  POINT point{};
  if (!::GetCursorPos(&point)) {
    throw std::runtime_error("cannot read the pointer's position (error " +
                             std::to_string(::GetLastError()) +
                             "): another desktop, such as the secure one, has the input");
  }
  return {point.x, point.y};
}

}  // namespace orvane::pc::windows
