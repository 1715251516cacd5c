// Opening the desktop's input, and the one way events reach the system.
#include "windows/windows_input.hpp"

#include <algorithm>
#include <cstdint>
#include <stdexcept>

#include "windows/desktop_duplication.hpp"

namespace orvane::pc::windows {

LONG absolute_coordinate(int pixel, int size) {
  if (size <= 0) return 0;
  pixel = std::clamp(pixel, 0, size - 1);
  // The smallest value that maps back to the pixel: a rounding system (Wine's, for one) then
  // lands on it too, as it is less than half a pixel past the pixel's left edge.
  return static_cast<LONG>((std::int64_t{pixel} * 65536 + size - 1) / size);
}

std::unique_ptr<WindowsInput> WindowsInput::open() {
  // Without DPI awareness a scaled desktop reports 96-DPI units, and points would miss.
  ::SetProcessDPIAware();
  const int width = ::GetSystemMetrics(SM_CXSCREEN);
  const int height = ::GetSystemMetrics(SM_CYSCREEN);
  const HDC screen = ::GetDC(nullptr);
  if (screen != nullptr) ::ReleaseDC(nullptr, screen);
  if (width <= 0 || height <= 0 || screen == nullptr) {
    throw std::runtime_error(
        "the Windows screen cannot be used: this process has no interactive desktop (a service "
        "or a session without a display)");
  }
  return std::make_unique<WindowsInput>([](std::span<INPUT> events) {
    return ::SendInput(static_cast<UINT>(events.size()), events.data(), sizeof(INPUT));
  });
}

WindowsInput::WindowsInput(InputSender sender) : _sender(std::move(sender)) {}

WindowsInput::~WindowsInput() = default;

void WindowsInput::_send(std::vector<INPUT>& events) {
  if (events.empty()) return;
  const unsigned inserted = _sender(events);
  if (inserted < events.size()) {
    // A locked session or the secure desktop takes no input: saying so beats reporting a
    // click. (Input that UIPI drops for an elevated window is counted as inserted all the same.)
    throw std::runtime_error("Windows blocked the input: only " + std::to_string(inserted) +
                             " of " + std::to_string(events.size()) +
                             " events were inserted (the secure desktop or a locked session has "
                             "the input)");
  }
}

}  // namespace orvane::pc::windows
