#include "windows/probe_window.hpp"

#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

namespace orvane::pc::testing {

std::uint32_t probe_colour(int x, int y) {
  const std::uint32_t block = static_cast<std::uint32_t>((x >> 8) * 29 + (y >> 8) * 101) & 0xff;
  return (static_cast<std::uint32_t>(x & 0xff) << 16) |
         (static_cast<std::uint32_t>(y & 0xff) << 8) | block;
}

struct ProbeWindow::State {
  RECT area{};
  HWND window = nullptr;
  std::vector<std::uint32_t> pixels;  // BGRA rows, top down, as painted
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<ProbeEvent> events;
  bool ready = false;
  std::string failure;
  std::thread thread;

  void record(UINT message, WPARAM wparam, POINT point) {
    {
      std::lock_guard lock(mutex);
      events.push_back({message, wparam, point});
    }
    changed.notify_all();
  }
};

namespace {

constexpr wchar_t CLASS_NAME[] = L"OrvaneProbeWindow";

bool is_client_mouse_message(UINT message) {
  switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
      return true;
    default:
      return false;
  }
}

LRESULT CALLBACK probe_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* state = reinterpret_cast<ProbeWindow::State*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (state == nullptr) return ::DefWindowProcW(window, message, wparam, lparam);
  if (is_client_mouse_message(message)) {
    POINT point{static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))};
    ::ClientToScreen(window, &point);
    state->record(message, wparam, point);
    return 0;
  }
  switch (message) {
    case WM_MOUSEWHEEL:
    case WM_MOUSEHWHEEL:  // these carry screen points already
      state->record(message, wparam,
                    {static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))});
      return 0;
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
    case WM_CHAR: {
      const DWORD at = ::GetMessagePos();
      state->record(message, wparam,
                    {static_cast<short>(LOWORD(at)), static_cast<short>(HIWORD(at))});
      break;  // the default handling still turns Alt+key into menu keys
    }
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      const HDC dc = ::BeginPaint(window, &paint);
      const int width = state->area.right - state->area.left;
      const int height = state->area.bottom - state->area.top;
      BITMAPINFO info{};
      info.bmiHeader.biSize = sizeof info.bmiHeader;
      info.bmiHeader.biWidth = width;
      info.bmiHeader.biHeight = -height;
      info.bmiHeader.biPlanes = 1;
      info.bmiHeader.biBitCount = 32;
      info.bmiHeader.biCompression = BI_RGB;
      ::SetDIBitsToDevice(dc, 0, 0, width, height, 0, 0, 0, height, state->pixels.data(), &info,
                          DIB_RGB_COLORS);
      ::EndPaint(window, &paint);
      return 0;
    }
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

void run_window(ProbeWindow::State& state) {
  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.style = CS_DBLCLKS;
  window_class.lpfnWndProc = probe_procedure;
  window_class.hInstance = instance;
  window_class.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  window_class.lpszClassName = CLASS_NAME;
  ::RegisterClassExW(&window_class);  // fails harmlessly when an earlier window registered it
  const RECT& area = state.area;
  const HWND window = ::CreateWindowExW(WS_EX_TOPMOST, CLASS_NAME, L"probe", WS_POPUP, area.left,
                                        area.top, area.right - area.left, area.bottom - area.top,
                                        nullptr, nullptr, instance, &state);
  {
    std::lock_guard lock(state.mutex);
    if (window == nullptr)
      state.failure = "CreateWindowExW failed: " + std::to_string(::GetLastError());
    state.window = window;
  }
  if (window != nullptr) {
    ::ShowWindow(window, SW_SHOW);
    ::SetForegroundWindow(window);
    ::SetFocus(window);
    ::UpdateWindow(window);
    ::GdiFlush();
  }
  {
    std::lock_guard lock(state.mutex);
    state.ready = true;
  }
  state.changed.notify_all();
  if (window == nullptr) return;
  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

}  // namespace

ProbeWindow::ProbeWindow(std::optional<RECT> area) : _state(std::make_unique<State>()) {
  ::SetProcessDPIAware();
  _state->area =
      area.value_or(RECT{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)});
  const int width = _state->area.right - _state->area.left;
  const int height = _state->area.bottom - _state->area.top;
  _state->pixels.resize(static_cast<std::size_t>(width) * height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x)
      _state->pixels[static_cast<std::size_t>(y) * width + x] = probe_colour(x, y);
  }
  _state->thread = std::thread(run_window, std::ref(*_state));
  std::unique_lock lock(_state->mutex);
  _state->changed.wait(lock, [&] { return _state->ready; });
  if (!_state->failure.empty()) {
    lock.unlock();
    _state->thread.join();
    throw std::runtime_error(_state->failure);
  }
}

ProbeWindow::~ProbeWindow() {
  ::PostMessageW(_state->window, WM_CLOSE, 0, 0);
  _state->thread.join();
}

HWND ProbeWindow::handle() const {
  return _state->window;
}

RECT ProbeWindow::area() const {
  return _state->area;
}

std::vector<ProbeEvent> ProbeWindow::take() {
  std::lock_guard lock(_state->mutex);
  return std::exchange(_state->events, {});
}

std::vector<ProbeEvent> ProbeWindow::wait_for(std::size_t count,
                                              std::chrono::milliseconds timeout) {
  std::unique_lock lock(_state->mutex);
  _state->changed.wait_for(lock, timeout, [&] { return _state->events.size() >= count; });
  return std::exchange(_state->events, {});
}

}  // namespace orvane::pc::testing
