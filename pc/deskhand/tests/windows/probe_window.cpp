#include "windows/probe_window.hpp"

#include <windowsx.h>

#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

namespace orvane::pc::testing {

std::uint32_t probe_colour(int x, int y) {
  const auto block = static_cast<std::uint32_t>((x >> 8) * 29 + (y >> 8) * 101) & 0xff;
  return static_cast<std::uint32_t>((x & 0xff) << 16 | (y & 0xff) << 8) | block;
}

struct ProbeWindow::State {
  RECT area{};
  BITMAPINFO format{};
  std::vector<std::uint32_t> pixels;  // as painted: BGRA rows, top down
  HWND window = nullptr;
  DWORD error = 0;
  bool ready = false;
  std::vector<ProbeEvent> events;
  std::mutex mutex;
  std::condition_variable changed;
  std::thread thread;

  void record(UINT message, WPARAM wparam, LPARAM point) {
    {
      std::lock_guard lock(mutex);
      events.push_back({message, wparam, {GET_X_LPARAM(point), GET_Y_LPARAM(point)}});
    }
    changed.notify_all();
  }
};

namespace {

LRESULT CALLBACK probe_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* state = reinterpret_cast<ProbeWindow::State*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (state == nullptr) return ::DefWindowProcW(window, message, wparam, lparam);
  if (message >= WM_LBUTTONDOWN && message <= WM_MBUTTONDBLCLK) {
    POINT point{GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
    ::ClientToScreen(window, &point);
    state->record(message, wparam, MAKELPARAM(point.x, point.y));
    return 0;
  }
  switch (message) {
    case WM_MOUSEWHEEL:
    case WM_MOUSEHWHEEL:  // these carry screen points already
      state->record(message, wparam, lparam);
      return 0;
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_CHAR:
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
      state->record(message, wparam, static_cast<LPARAM>(::GetMessagePos()));
      break;  // the default handling still makes Alt+key menu keys
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      const HDC dc = ::BeginPaint(window, &paint);
      const int width = state->format.bmiHeader.biWidth;
      const int height = -state->format.bmiHeader.biHeight;
      ::SetDIBitsToDevice(dc, 0, 0, width, height, 0, 0, 0, height, state->pixels.data(),
                          &state->format, DIB_RGB_COLORS);
      ::EndPaint(window, &paint);
      return 0;
    }
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

void run_window(ProbeWindow::State& state) {
  WNDCLASSEXW window_class{sizeof window_class};
  window_class.style = CS_DBLCLKS;
  window_class.lpfnWndProc = probe_procedure;
  window_class.hInstance = ::GetModuleHandleW(nullptr);
  window_class.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  window_class.lpszClassName = L"OrvaneProbeWindow";
  ::RegisterClassExW(&window_class);  // fails harmlessly once an earlier window registered it
  const RECT& area = state.area;
  const HWND window =
      ::CreateWindowExW(WS_EX_TOPMOST, window_class.lpszClassName, L"probe", WS_POPUP, area.left,
                        area.top, area.right - area.left, area.bottom - area.top, nullptr, nullptr,
                        window_class.hInstance, &state);
  if (window != nullptr) {
    ::ShowWindow(window, SW_SHOW);
    ::SetForegroundWindow(window);
    ::SetFocus(window);
    ::UpdateWindow(window);
  }
  {
    std::lock_guard lock(state.mutex);
    state.window = window;
    state.error = window ? 0 : ::GetLastError();
    state.ready = true;
  }
  state.changed.notify_all();
  MSG message;
  while (window != nullptr && ::GetMessageW(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

}  // namespace

ProbeWindow::ProbeWindow(std::optional<RECT> area) : _state(std::make_unique<State>()) {
  ::SetProcessDPIAware();
  State& state = *_state;
  state.area =
      area.value_or(RECT{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)});
  const int width = state.area.right - state.area.left;
  const int height = state.area.bottom - state.area.top;
  state.format.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB};
  state.pixels.resize(static_cast<std::size_t>(width) * height);
  for (std::size_t i = 0; i < state.pixels.size(); ++i) {
    state.pixels[i] = probe_colour(static_cast<int>(i % width), static_cast<int>(i / width));
  }
  state.thread = std::thread(run_window, std::ref(state));
  std::unique_lock lock(state.mutex);
  state.changed.wait(lock, [&] { return state.ready; });
  if (state.window == nullptr) {
    lock.unlock();
    state.thread.join();
    throw std::runtime_error("CreateWindowExW failed: error " + std::to_string(state.error));
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
