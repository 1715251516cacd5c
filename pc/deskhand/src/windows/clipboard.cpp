#include "windows/clipboard.hpp"

#include <windows.h>

#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "orvane/common/unicode.hpp"

namespace orvane::pc::windows {
namespace {

std::wstring utf16_of(const std::string& text) {
  std::wstring out;
  for (char32_t c : common::decode_utf8(text)) {
    if (c > 0xffff) {
      out.push_back(static_cast<wchar_t>(0xd800 + ((c - 0x10000) >> 10)));
      out.push_back(static_cast<wchar_t>(0xdc00 + ((c - 0x10000) & 0x3ff)));
    } else {
      out.push_back(static_cast<wchar_t>(c));
    }
  }
  return out;
}

// The clipboard is opened for a window of ours: opened for none, EmptyClipboard leaves it without
// an owner and SetClipboardData may fail. The window goes right after; the text stays.
class ClipboardWindow {
 public:
  ClipboardWindow()
      : _window(::CreateWindowExW(0, L"STATIC", nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  nullptr, nullptr)) {
    if (_window == nullptr) {
      throw std::runtime_error("cannot make a window for the clipboard (error " +
                               std::to_string(::GetLastError()) + ")");
    }
  }
  ~ClipboardWindow() { ::DestroyWindow(_window); }
  ClipboardWindow(const ClipboardWindow&) = delete;
  ClipboardWindow& operator=(const ClipboardWindow&) = delete;
  HWND handle() const { return _window; }

 private:
  HWND _window;
};

}  // namespace

void WindowsClipboard::copy(const std::string& text) {
  const std::wstring wide = utf16_of(text);
  const ClipboardWindow window;
  // Clipboard viewers and managers open it briefly after every change.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  while (!::OpenClipboard(window.handle())) {
    if (std::chrono::steady_clock::now() >= deadline) {
      throw std::runtime_error("the clipboard is held by another program (tried for 1 s)");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(15));
  }
  const std::size_t bytes = (wide.size() + 1) * sizeof(wchar_t);
  HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes);
  void* locked = memory ? ::GlobalLock(memory) : nullptr;
  if (locked != nullptr) {
    std::memcpy(locked, wide.c_str(), bytes);
    ::GlobalUnlock(memory);
  }
  const bool placed =
      locked != nullptr && ::EmptyClipboard() && ::SetClipboardData(CF_UNICODETEXT, memory);
  const DWORD error = ::GetLastError();
  ::CloseClipboard();
  if (!placed) {
    if (memory) ::GlobalFree(memory);  // the clipboard owns it only once placed
    throw std::runtime_error("cannot put the text on the clipboard (error " +
                             std::to_string(error) + ")");
  }
}

}  // namespace orvane::pc::windows
