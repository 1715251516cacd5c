#pragma once
// What the desktop executor takes from the machine it runs on. The executor receives one
// DesktopPlatform; make_system_platform() is the real one (Wayland or X11 on Linux), tests pass
// fakes.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "orvane/host/process.hpp"

namespace orvane::pc {

// A whole-screen capture: packed 8-bit RGB, rows top to bottom, no padding.
struct ScreenCapture {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;
};

// Desktop input automation. Operation names and meanings follow the pyautogui library: points are
// screen pixels, key names are its names ("enter", "pageup", "win", "ctrl", "f5", "a"), and a key
// name it does not know is ignored. Every operation throws std::exception on failure.
class InputAutomation {
 public:
  virtual ~InputAutomation() = default;
  virtual void click(int x, int y, int clicks = 1) = 0;
  virtual void rightClick(int x, int y) = 0;
  virtual void middleClick(int x, int y) = 0;
  virtual void doubleClick(int x, int y) = 0;
  virtual void moveTo(int x, int y, double duration) = 0;
  virtual void mouseDown() = 0;
  virtual void mouseUp() = 0;
  virtual void press(const std::string& key) = 0;
  virtual void hotkey(const std::vector<std::string>& keys) = 0;
  virtual void keyDown(const std::string& key) = 0;
  virtual void keyUp(const std::string& key) = 0;
  virtual void write(const std::string& text, double interval) = 0;
  virtual void scroll(int clicks) = 0;   // vertical wheel, positive is up
  virtual void hscroll(int clicks) = 0;  // horizontal wheel, positive is right
  virtual std::pair<int, int> position() = 0;
  virtual ScreenCapture screenshot() = 0;  // the primary screen in screen pixels
};

// The system clipboard.
class Clipboard {
 public:
  virtual ~Clipboard() = default;
  // Replaces the clipboard's content; throws when the system's clipboard mechanism fails.
  virtual void copy(const std::string& text) = 0;
};

class DesktopPlatform {
 public:
  virtual ~DesktopPlatform() = default;

  // The operating system's name: "Linux", "Darwin", "Windows", ...
  virtual std::string system() = 0;
  // The input automation; throws when none can be had (no display, for instance).
  virtual InputAutomation& input() = 0;
  // The clipboard, or null when the machine has no clipboard facility at all.
  virtual Clipboard* clipboard() = 0;
  // user32: SetProcessDPIAware(), then GetSystemMetrics(0) and GetSystemMetrics(1). Throws when
  // user32 cannot be used.
  virtual std::pair<int, int> windows_screen_metrics() = 0;
  virtual host::ProcessResult run_process(const std::vector<std::string>& args,
                                          const host::ProcessOptions& options) = 0;
  virtual std::optional<std::pair<int, int>> get_screen_size_linux() = 0;
  virtual std::vector<std::string> get_screenshot_command() = 0;
  // Blocks the caller; `seconds` is finite and not negative.
  virtual void sleep(double seconds) = 0;
};

// The platform of the running process: its uname, the host's process runner and platform
// functions, input automation opened on first use, and the clipboard. When $WAYLAND_DISPLAY is
// set, the input is GNOME's (Mutter's remote-desktop session and screen cast, with the session's
// clipboard) when the session bus offers it, else a wlroots compositor's when it offers virtual
// pointer, virtual keyboard and screen copy; otherwise, or when neither works, the X display's.
// ORVANE_DESKTOP=gnome|wayland|x11 forces one. One warning names what each desktop lacked when
// none works or a Wayland session falls back to X. The clipboard is otherwise the first tool
// found on PATH (xclip, xsel, wl-copy). The screen size is that of the driven monitor or output
// in the pixels of pointer and capture; on wlroots the pointer's position is read through a
// layer-shell overlay when offered, and without a host screenshot command the fallback capture
// is grim.
std::shared_ptr<DesktopPlatform> make_system_platform();

// True when the system's desktop input has a key of this name, a name as the executor passes it
// on ("enter", "ctrl", "f5", "a", an X keysym name). The input ignores any other name, so the
// action still reports such a key as pressed; a host can warn about it.
bool can_press_key(std::string_view name);

}  // namespace orvane::pc
