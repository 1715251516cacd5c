#include <thread>

#include "orvane/common/unicode.hpp"
#include "tour/probe_window.hpp"
#include "tour/tour.hpp"

namespace orvane::app::tour {
namespace {

constexpr wchar_t CLASS_NAME[] = L"OrvaneTourProbe";

bool is_high_surrogate(char16_t unit) {
  return unit >= 0xd800 && unit <= 0xdbff;
}
bool is_low_surrogate(char16_t unit) {
  return unit >= 0xdc00 && unit <= 0xdfff;
}

// Appends UTF-16 units as UTF-8, `pending` carrying a high surrogate between calls; control
// characters (the 0x16 that ctrl+v also produces, for one) are no text.
void append_utf16(std::string& out, char16_t& pending, std::u16string_view units) {
  for (const char16_t unit : units) {
    if (is_high_surrogate(unit)) {
      pending = unit;
      continue;
    }
    char32_t c = unit;
    if (is_low_surrogate(unit)) {
      if (pending == 0) continue;
      c = 0x10000 + ((static_cast<char32_t>(pending) - 0xd800) << 10) + (unit - 0xdc00);
    }
    pending = 0;
    if (c >= 0x20 && c != 0x7f) out += common::encode_utf8(c);
  }
}

}  // namespace

ProbeWindow::ProbeWindow(int x, int y, int width, int height, unsigned long rgb)
    : _x(x), _y(y), _width(width), _height(height) {
  // Positions in pixels, as the executor's are, on a scaled desktop too.
  ::SetProcessDPIAware();
  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  WNDCLASSW window_class{};
  window_class.lpfnWndProc = _window_procedure;
  window_class.hInstance = instance;
  window_class.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  window_class.lpszClassName = CLASS_NAME;
  ::RegisterClassW(&window_class);  // fails harmlessly when a second window registers it again
  _colour = {static_cast<int>((rgb >> 16) & 0xff), static_cast<int>((rgb >> 8) & 0xff),
             static_cast<int>(rgb & 0xff)};
  _brush = ::CreateSolidBrush(RGB(_colour[0], _colour[1], _colour[2]));
  // Placed exactly where asked and kept above the others, without a frame.
  _window = ::CreateWindowExW(WS_EX_TOPMOST, CLASS_NAME, L"orvane tour", WS_POPUP, x, y, width,
                              height, nullptr, nullptr, instance, this);
  if (_window == nullptr) {
    ::DeleteObject(_brush);
    throw CheckFailed("CreateWindowEx failed, error " + std::to_string(::GetLastError()));
  }
  ::ShowWindow(_window, SW_SHOW);
  ::SetForegroundWindow(_window);
  ::UpdateWindow(_window);
  if (!wait_until([this] { return _mapped; }, std::chrono::seconds(3))) {
    ::DestroyWindow(_window);
    ::DeleteObject(_brush);
    throw CheckFailed("the window was not painted within 3 s");
  }
  // Drawn on the screen, not only queued: a capture right after this sees it.
  ::GdiFlush();
  wait_until([] { return false; }, std::chrono::milliseconds(200));
}

ProbeWindow::~ProbeWindow() {
  ::DestroyWindow(_window);
  ::DeleteObject(_brush);
}

std::string ProbeWindow::display_name() const {
  return "the Windows desktop";
}

bool ProbeWindow::wait_until(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
    if (done()) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  }
}

void ProbeWindow::take_clipboard() {}

LRESULT CALLBACK ProbeWindow::_window_procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(l);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<ProbeWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr || self->_window != window) {
    return ::DefWindowProcW(window, message, w, l);
  }
  return self->_message(message, w, l);
}

LRESULT ProbeWindow::_message(UINT message, WPARAM w, LPARAM l) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      const HDC dc = ::BeginPaint(_window, &paint);
      RECT all{0, 0, _width, _height};
      ::FillRect(dc, &all, _brush);
      ::EndPaint(_window, &paint);
      _mapped = true;
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;  // WM_PAINT fills it all
    // Buttons numbered as X numbers them, as the tour's checks do.
    case WM_LBUTTONDOWN:
      _click(1, l);
      return 0;
    case WM_MBUTTONDOWN:
      _click(2, l);
      return 0;
    case WM_RBUTTONDOWN:
      _click(3, l);
      return 0;
    case WM_KEYDOWN:
      if (w == 'V' && (::GetKeyState(VK_CONTROL) & 0x8000)) _paste();
      return 0;
    case WM_CHAR: {
      const char16_t unit = static_cast<char16_t>(w);
      append_utf16(_text, _high_surrogate, std::u16string_view(&unit, 1));
      return 0;
    }
    default:
      return ::DefWindowProcW(_window, message, w, l);
  }
}

void ProbeWindow::_click(unsigned button, LPARAM l) {
  POINT point{static_cast<short>(LOWORD(l)), static_cast<short>(HIWORD(l))};
  ::ClientToScreen(_window, &point);
  _clicks.push_back({static_cast<int>(point.x), static_cast<int>(point.y), button});
  ::SetForegroundWindow(_window);
}

void ProbeWindow::_paste() {
  // Another program may hold the clipboard open for a moment.
  for (int attempt = 0; attempt < 20 && !::OpenClipboard(_window); ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (const HANDLE data = ::GetClipboardData(CF_UNICODETEXT)) {
    if (const auto* units = static_cast<const char16_t*>(::GlobalLock(data))) {
      char16_t pending = 0;
      append_utf16(_text, pending, units);
      _pasted = true;
      ::GlobalUnlock(data);
    }
  }
  ::CloseClipboard();
}

}  // namespace orvane::app::tour
