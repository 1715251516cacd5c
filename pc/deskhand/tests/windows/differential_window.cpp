// The screen scripts/desk-differential runs both executors over: the tests' probe window over the
// whole screen, each input it records written to standard output as one line ("ready W H" first).
// A ctrl+v also writes the clipboard's text, as a window pasting would read it; the clipboard is
// emptied at the start, so that text can only come from the executor. The program ends when its
// standard input closes.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <utility>

#include "windows/probe_window.hpp"

namespace {

void say(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

void open_clipboard() {
  for (int attempt = 0; attempt < 20 && !::OpenClipboard(nullptr); ++attempt) ::Sleep(10);
}

std::string clipboard_text() {
  std::string text = "(none)";
  open_clipboard();
  if (const HANDLE data = ::GetClipboardData(CF_UNICODETEXT)) {
    if (const auto* units = static_cast<const wchar_t*>(::GlobalLock(data))) {
      const int size = ::WideCharToMultiByte(CP_UTF8, 0, units, -1, nullptr, 0, nullptr, nullptr);
      text.assign(size > 1 ? size - 1 : 0, '\0');
      ::WideCharToMultiByte(CP_UTF8, 0, units, -1, text.data(), size, nullptr, nullptr);
      ::GlobalUnlock(data);
    }
  }
  ::CloseClipboard();
  return text;
}

std::string point_text(const POINT& point) {
  return std::to_string(point.x) + " " + std::to_string(point.y);
}

// Mouse input with its screen point; keys and characters without (theirs is only the cursor's).
void print(const orvane::pc::testing::ProbeEvent& event, bool& control) {
  static const std::pair<UINT, const char*> buttons[] = {
      {WM_LBUTTONDOWN, "left-down"},  {WM_LBUTTONUP, "left-up"},  {WM_LBUTTONDBLCLK, "left-double"},
      {WM_RBUTTONDOWN, "right-down"}, {WM_RBUTTONUP, "right-up"}, {WM_MBUTTONDOWN, "middle-down"},
      {WM_MBUTTONUP, "middle-up"}};
  for (const auto& [message, name] : buttons) {
    if (event.message == message) return say(name + (" " + point_text(event.point)));
  }
  const unsigned long w = static_cast<unsigned long>(event.wparam);
  switch (event.message) {
    case WM_MOUSEWHEEL:
    case WM_MOUSEHWHEEL:
      return say((event.message == WM_MOUSEWHEEL ? "wheel " : "hwheel ") +
                 std::to_string(GET_WHEEL_DELTA_WPARAM(event.wparam)) + " " +
                 point_text(event.point));
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      if (w == VK_CONTROL) control = true;
      say("key-down " + std::to_string(w));
      if (w == 'V' && control) {
        // Wine takes a change of the X clipboard (the Linux executor's copy) over a moment later.
        std::string text = clipboard_text();
        for (int wait = 0; wait < 50 && text == "(none)"; ++wait) {
          ::Sleep(20);
          text = clipboard_text();
        }
        say("paste " + text);
      }
      return;
    case WM_KEYUP:
    case WM_SYSKEYUP:
      if (w == VK_CONTROL) control = false;
      return say("key-up " + std::to_string(w));
    case WM_CHAR:
      return say("char " + std::to_string(w));
    default:
      return say("message " + std::to_string(event.message));
  }
}

}  // namespace

int main() {
  open_clipboard();
  ::EmptyClipboard();
  ::CloseClipboard();
  orvane::pc::testing::ProbeWindow window;
  const RECT area = window.area();
  say("ready " + std::to_string(area.right - area.left) + " " +
      std::to_string(area.bottom - area.top));
  std::atomic<bool> ended{false};
  std::thread input_end([&ended] {
    char buffer[256];
    while (std::fread(buffer, 1, sizeof buffer, stdin) > 0) {
    }
    ended = true;
  });
  bool control = false;
  while (!ended) {
    for (const auto& event : window.wait_for(1, std::chrono::milliseconds(50))) {
      print(event, control);
    }
  }
  for (const auto& event : window.wait_for(1, std::chrono::milliseconds(100))) {
    print(event, control);
  }
  input_end.join();
  return 0;
}
