#pragma once
// Input automation and screen capture on the Windows desktop: SendInput for the pointer, buttons
// and keys; Desktop Duplication, else GDI, for the primary screen. Points are physical pixels of
// the primary screen (the process is made DPI aware).
#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "orvane/pc/desktop.hpp"

namespace orvane::pc::windows {

class DesktopDuplication;

// Hands events to the system and answers how many it inserted, as SendInput does.
using InputSender = std::function<unsigned(std::span<INPUT> events)>;

// SendInput's absolute coordinate (0..65535) for pixel `pixel` of a screen side `size` pixels
// long. The system maps a value v back to pixel v * size / 65536, rounded down.
LONG absolute_coordinate(int pixel, int size);

class WindowsInput final : public InputAutomation {
 public:
  // The input of this desktop; throws std::runtime_error when its screen cannot be used.
  static std::unique_ptr<WindowsInput> open();
  // Events go to `sender` instead of SendInput.
  explicit WindowsInput(InputSender sender);
  ~WindowsInput() override;
  WindowsInput(const WindowsInput&) = delete;
  WindowsInput& operator=(const WindowsInput&) = delete;

  void click(int x, int y, int clicks = 1) override;
  void rightClick(int x, int y) override;
  void middleClick(int x, int y) override;
  void doubleClick(int x, int y) override;
  void moveTo(int x, int y, double duration) override;
  void mouseDown() override;
  void mouseUp() override;
  void press(const std::string& key) override;
  void hotkey(const std::vector<std::string>& keys) override;
  void keyDown(const std::string& key) override;
  void keyUp(const std::string& key) override;
  void write(const std::string& text, double interval) override;
  void scroll(int clicks) override;
  void hscroll(int clicks) override;
  std::pair<int, int> position() override;
  ScreenCapture screenshot() override;

  // How the screen is captured: "Desktop Duplication", or "GDI" with why duplication is not used.
  std::string capture_method() const;

  // A key as SendInput types it: a virtual key (with Shift held for it when `shift`), or a
  // character as Unicode.
  struct Key {
    WORD virtual_key = 0;
    bool shift = false;
    char32_t character = 0;
  };

 private:
  void _send(std::vector<INPUT>& events);
  void _click_button(int x, int y, DWORD down, DWORD up, int clicks);
  void _wheel(DWORD flag, int clicks);
  void _keys(const std::vector<Key>& keys, bool down, bool up);

  InputSender _sender;
  std::unique_ptr<DesktopDuplication> _duplication;
  std::optional<std::string> _duplication_failure;  // set once: GDI from then on
};

// The key a name stands for ("enter", "f5", "a", "é"), or nullopt for a name no key has.
std::optional<WindowsInput::Key> key_for_name(const std::string& name);

}  // namespace orvane::pc::windows
