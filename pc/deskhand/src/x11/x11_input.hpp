#pragma once
// Input automation and screen capture on an X display: XTest for the pointer, buttons and keys,
// XGetImage (through MIT-SHM when the server offers it) for the screen.
#include <X11/Xlib.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "orvane/pc/desktop.hpp"

namespace orvane::pc::x11 {

class X11Input final : public InputAutomation {
 public:
  // Opens `display_name` (null: $DISPLAY). Throws std::runtime_error when the display cannot be
  // opened or lacks the XTEST extension.
  static std::unique_ptr<X11Input> open(const char* display_name = nullptr);
  ~X11Input() override;
  X11Input(const X11Input&) = delete;
  X11Input& operator=(const X11Input&) = delete;

  // True once the connection to the display is gone (the server ended); every operation then
  // throws, and a new X11Input is needed.
  bool lost() const { return _lost; }

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

 private:
  // A key to send: its keycode, and whether Shift must be held for the wanted keysym.
  struct Stroke {
    KeyCode keycode = 0;
    bool shift = false;
  };

  explicit X11Input(Display* display);
  std::optional<Stroke> _stroke_for_name(const std::string& name);
  Stroke _stroke_for_keysym(KeySym keysym);
  KeyCode _bind_spare_keycode(KeySym keysym);
  void _send_key(const Stroke& stroke, bool down);
  void _button(unsigned button, bool down);
  void _click_button(int x, int y, unsigned button, int clicks);
  void _wheel(unsigned button, int clicks);
  void _sync();
  void _check_connection() const;
  static void _on_connection_lost(Display* display, void* self);
  struct ShmBuffer;
  bool _capture_shm(ScreenCapture& capture);
  bool _attach_shm(int width, int height);
  void _release_shm();

  Display* _display;
  int _screen;
  Window _root;
  KeyCode _shift_keycode = 0;
  std::vector<KeyCode> _spare_keycodes;
  // Spare keycodes bound by us, oldest first; they keep their keysym until reused or closed, so
  // that a client reading the key later still finds it in the keymap.
  std::vector<std::pair<KeyCode, KeySym>> _bound;
  bool _shm_checked = false;
  bool _shm_usable = false;
  // Attached once and reused while the screen keeps its size.
  std::unique_ptr<ShmBuffer> _shm;
  bool _lost = false;
};

}  // namespace orvane::pc::x11
