#include "windows/probe_window.hpp"

#include <windowsx.h>

#include <condition_variable>
#include <future>
#include <mutex>
#include <stdexcept>
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
  std::vector<ProbeEvent> events;
  std::mutex mutex;
  std::condition_variable changed;
  std::thread thread;

  void record(UINT message, WPARAM wparam, POINT point) {
    std::lock_guard lock(mutex);
    events.push_back({message, wparam, point});
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
  POINT point{GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
  if (state == nullptr) {
  } else if (message >= WM_LBUTTONDOWN && message <= WM_MBUTTONDBLCLK) {
    ::ClientToScreen(window, &point);
    state->record(message, wparam, point);
    return 0;
  } else if (message == WM_MOUSEWHEEL || message == WM_MOUSEHWHEEL) {
    state->record(message, wparam, point);  // a screen point already
    return 0;
  } else if (message >= WM_KEYFIRST && message <= WM_SYSKEYUP && message != WM_DEADCHAR) {
    ::GetCursorPos(&point);
    state->record(message, wparam, point);  // and on to the default handling of Alt+key
  } else if (message == WM_PAINT) {
    PAINTSTRUCT paint;
    const HDC dc = ::BeginPaint(window, &paint);
    const auto& size = state->format.bmiHeader;
    ::SetDIBitsToDevice(dc, 0, 0, size.biWidth, -size.biHeight, 0, 0, 0, -size.biHeight,
                        state->pixels.data(), &state->format, DIB_RGB_COLORS);
    ::EndPaint(window, &paint);
    return 0;
  } else if (message == WM_DESTROY) {
    ::PostQuitMessage(0);
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

void run_window(ProbeWindow::State& state, std::promise<HWND>& created) {
  WNDCLASSEXW window_class{sizeof window_class, CS_DBLCLKS, probe_procedure};
  window_class.hInstance = ::GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"OrvaneProbeWindow";
  ::RegisterClassExW(&window_class);  // fails harmlessly once an earlier window registered it
  const RECT& area = state.area;
  const HWND window =
      ::CreateWindowExW(WS_EX_TOPMOST, window_class.lpszClassName, L"probe", WS_POPUP | WS_VISIBLE,
                        area.left, area.top, area.right - area.left, area.bottom - area.top,
                        nullptr, nullptr, window_class.hInstance, &state);
  ::SetForegroundWindow(window);  // each of these does nothing without a window
  ::SetFocus(window);
  ::UpdateWindow(window);
  created.set_value(window);
  MSG message;
  while (window != nullptr && ::GetMessageW(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

}  // namespace

ProbeWindow::ProbeWindow(std::optional<RECT> area)
    : _area((::SetProcessDPIAware(), area.value_or(RECT{0, 0, ::GetSystemMetrics(SM_CXSCREEN),
                                                        ::GetSystemMetrics(SM_CYSCREEN)}))),
      _state(std::make_unique<State>()) {
  State& state = *_state;
  state.area = _area;
  const int width = _area.right - _area.left, height = _area.bottom - _area.top;
  state.format.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB};
  state.pixels.resize(static_cast<std::size_t>(width) * height);
  for (std::size_t i = 0; i < state.pixels.size(); ++i) {
    state.pixels[i] = probe_colour(static_cast<int>(i % width), static_cast<int>(i / width));
  }
  std::promise<HWND> created;
  state.thread = std::thread(run_window, std::ref(state), std::ref(created));
  state.window = created.get_future().get();
  if (state.window == nullptr) {
    state.thread.join();
    throw std::runtime_error("the probe window could not be made");
  }
  // Wine moves the pointer back to where X had it when the window appears: that passes first.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  wait_for(0, {});
}

ProbeWindow::~ProbeWindow() {
  ::PostMessageW(_state->window, WM_CLOSE, 0, 0);
  _state->thread.join();
}

std::vector<ProbeEvent> ProbeWindow::wait_for(std::size_t count,
                                              std::chrono::milliseconds timeout) {
  std::unique_lock lock(_state->mutex);
  _state->changed.wait_for(lock, timeout, [&] { return _state->events.size() >= count; });
  return std::exchange(_state->events, {});
}

}  // namespace orvane::pc::testing
