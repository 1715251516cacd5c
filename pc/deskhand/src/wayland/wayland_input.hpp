#pragma once
// Input automation and screen capture on a wlroots compositor (sway, Hyprland, river, labwc,
// Wayfire): a virtual pointer mapped onto one output, a virtual keyboard with a keymap of our
// own, and screen copies of that output. Points are the output's pixels, the same pixels the
// capture has, whatever the output's scale.
#include <xkbcommon/xkbcommon.h>

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "orvane/pc/desktop.hpp"
#include "wayland/keymap.hpp"
#include "wayland/pointer_probe.hpp"
#include "wayland/screencopy.hpp"
#include "wayland/wayland_display.hpp"

struct zwlr_virtual_pointer_v1;
struct zwp_virtual_keyboard_v1;

namespace orvane::pc::wayland {

class WaylandInput final : public InputAutomation {
 public:
  // Connects to `socket` (null: $WAYLAND_DISPLAY) and drives the output called `output_name`
  // (empty: the one at the layout's origin). Throws MissingProtocols when the compositor lacks a
  // needed protocol, std::runtime_error for any other reason it cannot be driven.
  static std::unique_ptr<WaylandInput> open(const char* socket = nullptr,
                                            const std::string& output_name = {});
  ~WaylandInput() override;
  WaylandInput(const WaylandInput&) = delete;
  WaylandInput& operator=(const WaylandInput&) = delete;

  // True once the compositor is gone; every operation then throws.
  bool lost() const { return _display->lost(); }
  // The output's current mode in pixels.
  std::pair<int, int> screen_size();
  // The driven output's name ("HEADLESS-1"), empty when the compositor tells none.
  std::string output_name() const;

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
  // Where the pointer is, asked of the compositor through an overlay; where this process last
  // put it when the compositor cannot show it (no layer shell, a button held). Throws when
  // neither is known. Never moves the pointer.
  std::pair<int, int> position() override;
  ScreenCapture screenshot() override;

 private:
  WaylandInput(std::unique_ptr<WaylandDisplay> display, const Output& output);
  const Output& _output() const;
  void _wait_for_seat_devices(std::uint32_t had);
  std::optional<std::pair<int, int>> _locate();
  void _motion(int x, int y);
  void _button(unsigned button, bool down);
  void _click_button(int x, int y, unsigned button, int clicks);
  void _wheel(unsigned axis, int steps, int direction);
  std::optional<Keymap::Stroke> _stroke_for_name(const std::string& name);
  void _send_keymap_if_changed();
  void _key(xkb_keycode_t keycode, bool down);
  void _send_stroke(const Keymap::Stroke& stroke, bool down);

  std::unique_ptr<WaylandDisplay> _display;
  wl_output* _wl_output;
  zwlr_virtual_pointer_v1* _pointer = nullptr;
  zwp_virtual_keyboard_v1* _keyboard = nullptr;
  Keymap _keymap;
  unsigned _sent_keymap = 0;
  xkb_state* _state = nullptr;
  std::set<xkb_keycode_t> _held;
  // The compositor does not tell a virtual pointer where the cursor is: this is where we put it
  // or last found it.
  std::optional<std::pair<int, int>> _position;
  PointerProbe _probe;
  Screencopy _screencopy;
};

}  // namespace orvane::pc::wayland
