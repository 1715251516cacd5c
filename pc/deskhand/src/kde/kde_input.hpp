#pragma once
// Input automation and screen capture on KDE Plasma's compositor, KWin: its fake input device
// for pointer, wheel and keys, and its screen cast of one output as a PipeWire stream. KWin offers
// both only to programs an installed .desktop file names (X-KDE-Wayland-Interfaces). Points are
// the output's pixels, the same pixels the capture has, whatever the output's scale.
#include <xkbcommon/xkbcommon.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "orvane/pc/desktop.hpp"
#include "pipewire/stream_capture.hpp"
#include "wayland/keymap.hpp"
#include "wayland/wayland_display.hpp"

struct org_kde_kwin_fake_input;
struct zkde_screencast_unstable_v1;
struct zkde_screencast_stream_unstable_v1;
struct wl_keyboard;

namespace orvane::pc::kde {

class KdeInput final : public InputAutomation {
 public:
  // Connects to `socket` (null: $WAYLAND_DISPLAY) and drives the output called `output_name`
  // (empty: the one at the layout's origin). Text that KWin's keymap cannot type is pasted
  // through `clipboard` (Ctrl+V); without one, writing such text throws. Throws
  // wayland::MissingProtocols when KWin withholds fake input or screen casts (no .desktop file
  // grants them to this executable), std::runtime_error for any other reason it cannot be driven.
  static std::unique_ptr<KdeInput> open(Clipboard* clipboard = nullptr,
                                        const char* socket = nullptr,
                                        const std::string& output_name = {});
  ~KdeInput() override;
  KdeInput(const KdeInput&) = delete;
  KdeInput& operator=(const KdeInput&) = delete;

  // True once the compositor is gone; every operation then throws.
  bool lost() const { return _display->lost(); }
  // The output's current mode in pixels.
  std::pair<int, int> screen_size();
  std::string output_name() const;

  void click(int x, int y, int clicks = 1) override;
  void rightClick(int x, int y) override;
  void middleClick(int x, int y) override;
  void doubleClick(int x, int y) override;
  void moveTo(int x, int y, double duration) override;
  void mouseDown() override;
  void mouseUp() override;
  // Keys are KWin's: a name whose keysym no key of its keymap types with Shift or nothing is
  // ignored, as an unknown name is.
  void press(const std::string& key) override;
  void hotkey(const std::vector<std::string>& keys) override;
  void keyDown(const std::string& key) override;
  void keyUp(const std::string& key) override;
  void write(const std::string& text, double interval) override;
  void scroll(int clicks) override;
  void hscroll(int clicks) override;
  // Where this process last put the pointer: KWin tells a fake input device nothing. Throws
  // before the first move.
  std::pair<int, int> position() override;
  // The output without the cursor, from KWin's screen cast of it, or from KWin's screenshot
  // service when the cast shows nothing.
  ScreenCapture screenshot() override;

  // Listener state, public for the C callbacks.
  std::optional<std::string> _sent_keymap;
  std::optional<std::uint32_t> _cast_node;
  std::string _cast_event_failure;

 private:
  KdeInput(std::unique_ptr<wayland::WaylandDisplay> display, const wayland::Output& output,
           Clipboard* clipboard);
  const wayland::Output& _output() const;
  wayland::Keymap& _keymap();
  void _motion(int x, int y);
  void _button(unsigned button, bool down);
  void _click_button(int x, int y, unsigned button, int clicks);
  void _wheel(unsigned axis, int steps, int direction);
  std::optional<wayland::Keymap::Stroke> _stroke_for_name(const std::string& name);
  void _key(xkb_keycode_t keycode, bool down);
  void _send_stroke(const wayland::Keymap::Stroke& stroke, bool down);
  void _paste(const std::string& text);
  void _start_cast();

  std::unique_ptr<wayland::WaylandDisplay> _display;
  wl_output* _wl_output;
  Clipboard* _clipboard;
  org_kde_kwin_fake_input* _fake_input = nullptr;
  zkde_screencast_unstable_v1* _screencast = nullptr;
  zkde_screencast_stream_unstable_v1* _stream = nullptr;
  wl_keyboard* _keyboard = nullptr;
  std::unique_ptr<wayland::Keymap> _keys;
  std::set<xkb_keycode_t> _held;
  std::set<unsigned> _buttons;
  std::optional<std::pair<int, int>> _position;
  std::unique_ptr<pipewire::StreamCapture> _capture;
  std::string _cast_failure;  // why the cast is not used, once it failed
};

}  // namespace orvane::pc::kde
