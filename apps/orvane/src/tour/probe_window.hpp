#pragma once
// A small window of the tour's own that records the clicks and the text it receives, the way an
// application would: key presses become characters, ctrl+v pastes the clipboard. An X11 window on
// Linux, a Win32 one on Windows.
#ifdef _WIN32
#include <windows.h>
#else
#include <X11/Xlib.h>
#endif

#include <array>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace orvane::app::tour {

struct Click {
  int x_root = 0;
  int y_root = 0;
  unsigned button = 0;
};

class ProbeWindow {
 public:
  // On $DISPLAY (Linux) or the desktop (Windows), at (x, y) in screen pixels, filled with the
  // 24-bit colour `rgb`. Throws CheckFailed when the window cannot be shown.
  ProbeWindow(int x, int y, int width, int height, unsigned long rgb);
  ~ProbeWindow();
  ProbeWindow(const ProbeWindow&) = delete;
  ProbeWindow& operator=(const ProbeWindow&) = delete;

  int x() const { return _x; }
  int y() const { return _y; }
  int width() const { return _width; }
  int height() const { return _height; }
  // The colour as the server shows it (8 bits per channel).
  std::array<int, 3> colour() const { return _colour; }
  std::string display_name() const;

  // Handles the window's events until `done` holds or `timeout` has passed; returns `done()`.
  bool wait_until(const std::function<bool()>& done,
                  std::chrono::milliseconds timeout = std::chrono::seconds(3));

  // Takes the clipboard over. A clipboard tool that copied text stays in the background until
  // someone else owns the clipboard, holding the standard error it inherited from this process
  // (X11; the Windows clipboard holds data, not a process).
  void take_clipboard();

  const std::vector<Click>& clicks() const { return _clicks; }
  // The text received so far (UTF-8), and whether some of it came from a paste.
  const std::string& text() const { return _text; }
  bool pasted() const { return _pasted; }

 private:
#ifdef _WIN32
  static LRESULT CALLBACK _window_procedure(HWND window, UINT message, WPARAM w, LPARAM l);
  LRESULT _message(UINT message, WPARAM w, LPARAM l);
  void _click(unsigned button, LPARAM l);
  void _paste();

  HWND _window = nullptr;
  HBRUSH _brush = nullptr;
  char16_t _high_surrogate = 0;
#else
  void _handle(XEvent& event);
  void _key_press(XKeyEvent& event);
  void _paste_arrived(const XSelectionEvent& event);

  Display* _display = nullptr;
  Window _window = 0;
  Atom _clipboard = 0, _utf8 = 0, _paste_property = 0;
#endif
  int _x, _y, _width, _height;
  std::array<int, 3> _colour{};
  std::vector<Click> _clicks;
  std::string _text;
  bool _pasted = false;
  bool _mapped = false;
};

}  // namespace orvane::app::tour
