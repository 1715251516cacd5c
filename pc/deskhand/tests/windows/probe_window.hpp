#pragma once
// A borderless topmost window of the test's own over a screen rectangle, painting probe_colour()
// and recording the input it gets, on a thread of its own while the test sends input.
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace orvane::pc::testing {

struct ProbeEvent {
  UINT message;  // mouse buttons and wheels, WM_(SYS)KEYDOWN/UP, WM_CHAR
  WPARAM wparam;
  POINT point;  // on the screen: the pointer's for mouse messages, the cursor's for the others
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

  RECT area() const { return _area; }
  // Waits for `count` events (or `timeout`), then hands over and forgets those recorded.
  std::vector<ProbeEvent> wait_for(std::size_t count,
                                   std::chrono::milliseconds timeout = std::chrono::seconds(5));

  struct State;

 private:
  RECT _area;
  std::unique_ptr<State> _state;
};

}  // namespace orvane::pc::testing
