#pragma once
// A window of the test's own for checking what reaches the Windows desktop: borderless, topmost,
// over a screen rectangle, painting probe_colour() and recording the input it receives. It runs
// on a thread of its own, so the test's thread can send input and wait for it to arrive.
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace orvane::pc::testing {

struct ProbeEvent {
  UINT message;   // WM_LBUTTONDOWN, WM_LBUTTONDBLCLK, WM_MOUSEWHEEL, WM_KEYDOWN, WM_CHAR, ...
  WPARAM wparam;  // as the window got it: virtual key, character, wheel delta in the high word
  POINT point;    // screen point: the pointer's for mouse messages, the cursor's for the others
};

// The colour painted at window point (x, y) as 0xRRGGBB: the low byte of x and of y as red and
// green gradients, the 256-pixel block they lie in as blue. A capture off by a pixel differs.
std::uint32_t probe_colour(int x, int y);

class ProbeWindow {
 public:
  // Covers `area` (default: the primary screen) and returns once the window is painted and has
  // the keyboard focus. Its class has CS_DBLCLKS: a second click arrives as WM_LBUTTONDBLCLK.
  explicit ProbeWindow(std::optional<RECT> area = std::nullopt);
  ~ProbeWindow();
  ProbeWindow(const ProbeWindow&) = delete;
  ProbeWindow& operator=(const ProbeWindow&) = delete;

  HWND handle() const;
  RECT area() const;
  // The events recorded so far, which are then forgotten.
  std::vector<ProbeEvent> take();
  // Waits until at least `count` events are recorded or `timeout` has passed, then takes them.
  std::vector<ProbeEvent> wait_for(std::size_t count,
                                   std::chrono::milliseconds timeout = std::chrono::seconds(5));

  struct State;

 private:
  std::unique_ptr<State> _state;
};

}  // namespace orvane::pc::testing
