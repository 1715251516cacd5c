#include "kde/kde_input.hpp"
#include "pointer_path.hpp"

#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <thread>

#include "fake-input-client-protocol.h"
#include "kde/kwin_screenshot.hpp"
#include "orvane/common/unicode.hpp"
#include "x11/keysyms.hpp"
#include "zkde-screencast-unstable-v1-client-protocol.h"

namespace orvane::pc::kde {
namespace {

void sleep_seconds(double seconds) {
  if (seconds > 0) std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

int magnitude(int value) {
  return value == std::numeric_limits<int>::min() ? std::numeric_limits<int>::max()
                                                  : std::abs(value);
}

// Absolute motion came with version 3, keys with version 4.
constexpr std::uint32_t FAKE_INPUT_VERSION = 4;
// One wheel step, as KWin counts a mouse wheel's.
constexpr double WHEEL_STEP = 15.0;
constexpr int KEYMAP_TIMEOUT_MS = 1000;
constexpr int CAST_TIMEOUT_MS = 5000;
constexpr std::chrono::milliseconds CAST_FIRST_FRAME_TIMEOUT{3000};
// A frame drawn after the call, when the screen changes at all: the effect of the input just sent.
constexpr std::chrono::milliseconds CAST_FRESH_WITHIN{100};
// A pasting program asks for the clipboard after it sees Ctrl+V; the next paste's text must not
// replace it before then.
constexpr double PASTE_SETTLE_SECONDS = 0.15;

KdeInput& self(void* data) {
  return *static_cast<KdeInput*>(data);
}

// ---- KWin's keymap, as its seat hands it to a keyboard ----

void on_keymap(void* data, wl_keyboard*, uint32_t format, int32_t fd, uint32_t size) {
  if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1) {
    void* text = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (text != MAP_FAILED) {
      self(data)._sent_keymap = std::string(static_cast<const char*>(text),
                                            strnlen(static_cast<const char*>(text), size));
      munmap(text, size);
    }
  }
  close(fd);
}
void on_enter(void*, wl_keyboard*, uint32_t, wl_surface*, wl_array*) {}
void on_leave(void*, wl_keyboard*, uint32_t, wl_surface*) {}
void on_key(void*, wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t) {}
void on_modifiers(void*, wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) {}
void on_repeat(void*, wl_keyboard*, int32_t, int32_t) {}
const wl_keyboard_listener keyboard_listener{on_keymap, on_enter,     on_leave,
                                             on_key,    on_modifiers, on_repeat};

// ---- the screen cast's stream ----

void on_closed(void* data, zkde_screencast_stream_unstable_v1*) {
  self(data)._cast_event_failure = "KWin closed the screen cast";
}
void on_created(void* data, zkde_screencast_stream_unstable_v1*, uint32_t node) {
  self(data)._cast_node = node;
}
void on_failed(void* data, zkde_screencast_stream_unstable_v1*, const char* error) {
  self(data)._cast_event_failure = std::string("KWin cannot cast the screen: ") + error;
}
const zkde_screencast_stream_unstable_v1_listener stream_listener{on_closed, on_created, on_failed};

}  // namespace

std::unique_ptr<KdeInput> KdeInput::open(Clipboard* clipboard, const char* socket,
                                         const std::string& output_name) {
  auto display = wayland::WaylandDisplay::connect(socket);
  std::vector<std::string> missing;
  const auto* fake_input = display->global(org_kde_kwin_fake_input_interface.name);
  if (fake_input == nullptr || fake_input->version < FAKE_INPUT_VERSION) {
    missing.push_back(std::string(org_kde_kwin_fake_input_interface.name) + " version " +
                      std::to_string(FAKE_INPUT_VERSION));
  }
  if (display->global(zkde_screencast_unstable_v1_interface.name) == nullptr)
    missing.emplace_back(zkde_screencast_unstable_v1_interface.name);
  if (!missing.empty()) throw wayland::MissingProtocols(std::move(missing));
  const wayland::Output& output = display->output(output_name);
  return std::unique_ptr<KdeInput>(new KdeInput(std::move(display), output, clipboard));
}

KdeInput::KdeInput(std::unique_ptr<wayland::WaylandDisplay> display, const wayland::Output& output,
                   Clipboard* clipboard)
    : _display(std::move(display)), _wl_output(output.output), _clipboard(clipboard) {
  wl_registry* registry = _display->registry();
  const auto* fake_input = _display->global(org_kde_kwin_fake_input_interface.name);
  _fake_input = static_cast<org_kde_kwin_fake_input*>(wl_registry_bind(
      registry, fake_input->name, &org_kde_kwin_fake_input_interface, FAKE_INPUT_VERSION));
  // KWin ignores a device's events until it has asked.
  org_kde_kwin_fake_input_authenticate(_fake_input, "orvane", "desktop automation");
  const auto* screencast = _display->global(zkde_screencast_unstable_v1_interface.name);
  _screencast = static_cast<zkde_screencast_unstable_v1*>(
      wl_registry_bind(registry, screencast->name, &zkde_screencast_unstable_v1_interface, 1));
  // The fake device gives the seat a keyboard, whose keymap is the one KWin types with.
  _display->roundtrip();
  _display->roundtrip();
  if (_display->seat_capabilities() & WL_SEAT_CAPABILITY_KEYBOARD) {
    _keyboard = wl_seat_get_keyboard(_display->seat());
    wl_keyboard_add_listener(_keyboard, &keyboard_listener, this);
    _display->dispatch_until([&] { return _sent_keymap.has_value(); }, KEYMAP_TIMEOUT_MS);
  }
}

KdeInput::~KdeInput() {
  // KWin keeps what a gone device held pressed: a keyDown or mouseDown left over ends here.
  if (!_display->lost() && !(_held.empty() && _buttons.empty())) {
    for (const xkb_keycode_t key : std::set(_held)) _key(key, false);
    for (const unsigned button : std::set(_buttons)) _button(button, false);
    // A compositor that sees the hang-up with requests still unread drops them: they are
    // waited for.
    wl_display_roundtrip(_display->display());
  }
  _capture.reset();
  if (_stream) zkde_screencast_stream_unstable_v1_close(_stream);
  if (_screencast) zkde_screencast_unstable_v1_destroy(_screencast);
  if (_keyboard) wl_keyboard_destroy(_keyboard);
  if (_fake_input) wl_proxy_destroy(reinterpret_cast<wl_proxy*>(_fake_input));
  if (!_display->lost()) wl_display_flush(_display->display());
}

const wayland::Output& KdeInput::_output() const {
  _display->check();
  return _display->output_for(_wl_output);
}

std::pair<int, int> KdeInput::screen_size() {
  _display->roundtrip();  // a mode change reaches us as an event
  const auto& output = _output();
  return {output.mode_width, output.mode_height};
}

std::string KdeInput::output_name() const {
  return _output().name;
}

// ---- pointer ----

// KWin places a fake pointer in its layout's logical coordinates, on whole logical pixels (it
// rounds what it is sent); an output pixel lands on the logical pixel that contains it.
void KdeInput::_motion(int x, int y) {
  const auto& output = _output();
  if (output.mode_width <= 0 || output.mode_height <= 0)
    throw std::runtime_error("the Wayland output has no current mode");
  // Points off the output stop at its edge, as on an X screen.
  x = std::clamp(x, 0, output.mode_width - 1);
  y = std::clamp(y, 0, output.mode_height - 1);
  const int scale = std::max(output.scale, 1);
  const int logical_width =
      output.logical_width > 0 ? output.logical_width : output.mode_width / scale;
  const int logical_height =
      output.logical_height > 0 ? output.logical_height : output.mode_height / scale;
  const long logical_x = long{x} * logical_width / output.mode_width;
  const long logical_y = long{y} * logical_height / output.mode_height;
  org_kde_kwin_fake_input_pointer_motion_absolute(
      _fake_input, wl_fixed_from_int(static_cast<int>(output.logical_x + logical_x)),
      wl_fixed_from_int(static_cast<int>(output.logical_y + logical_y)));
  _position = {x, y};
}

void KdeInput::moveTo(int x, int y, double duration) {
  walk_pointer(_position.value_or(std::pair{x, y}), {x, y}, duration,
               [&](int px, int py, bool last) {
                 _motion(px, py);
                 if (last) {
                   _display->roundtrip();
                 } else {
                   _display->flush();
                 }
               });
}

void KdeInput::_button(unsigned button, bool down) {
  if (down) {
    _buttons.insert(button);
  } else {
    _buttons.erase(button);
  }
  org_kde_kwin_fake_input_button(
      _fake_input, button,
      down ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED);
}

void KdeInput::_click_button(int x, int y, unsigned button, int clicks) {
  _motion(x, y);
  for (int i = 0; i < clicks; ++i) {
    _button(button, true);
    _button(button, false);
  }
  _display->roundtrip();
}

void KdeInput::click(int x, int y, int clicks) {
  _click_button(x, y, BTN_LEFT, clicks);
}
void KdeInput::rightClick(int x, int y) {
  _click_button(x, y, BTN_RIGHT, 1);
}
void KdeInput::middleClick(int x, int y) {
  _click_button(x, y, BTN_MIDDLE, 1);
}
void KdeInput::doubleClick(int x, int y) {
  _click_button(x, y, BTN_LEFT, 2);
}

void KdeInput::mouseDown() {
  _button(BTN_LEFT, true);
  _display->roundtrip();
}

void KdeInput::mouseUp() {
  _button(BTN_LEFT, false);
  _display->roundtrip();
}

void KdeInput::_wheel(unsigned axis, int steps, int direction) {
  for (int i = 0; i < steps; ++i) {
    org_kde_kwin_fake_input_axis(_fake_input, axis, wl_fixed_from_double(direction * WHEEL_STEP));
    if (i % 64 == 63) _display->flush();
  }
  _display->roundtrip();
}

// Wayland's vertical axis grows downwards and its horizontal one to the right.
void KdeInput::scroll(int clicks) {
  _wheel(WL_POINTER_AXIS_VERTICAL_SCROLL, magnitude(clicks), clicks > 0 ? -1 : 1);
}
void KdeInput::hscroll(int clicks) {
  _wheel(WL_POINTER_AXIS_HORIZONTAL_SCROLL, magnitude(clicks), clicks > 0 ? 1 : -1);
}

std::pair<int, int> KdeInput::position() {
  _display->check();
  if (_position) return *_position;
  throw std::runtime_error(
      "KWin does not tell where the pointer is before this process has moved it");
}

// ---- keys ----

// KWin's keymap when its seat sent one (and again when it changes), else the US layout that
// KWin starts with.
wayland::Keymap& KdeInput::_keymap() {
  if (_keyboard) wl_display_dispatch_pending(_display->display());
  if (_sent_keymap) {
    if (!_keys || _keys->text() != *_sent_keymap)
      _keys = std::make_unique<wayland::Keymap>(*_sent_keymap);
  } else if (!_keys) {
    _keys = std::make_unique<wayland::Keymap>();
  }
  return *_keys;
}

// KWin runs the keys through its own keyboard state, Shift included.
void KdeInput::_key(xkb_keycode_t keycode, bool down) {
  org_kde_kwin_fake_input_keyboard_key(
      _fake_input, keycode - 8,
      down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
  if (down) {
    _held.insert(keycode);
  } else {
    _held.erase(keycode);
  }
}

void KdeInput::_send_stroke(const wayland::Keymap::Stroke& stroke, bool down) {
  const xkb_keycode_t shift = _keymap().shift_keycode();
  if (stroke.shift && down) _key(shift, true);
  _key(stroke.keycode, down);
  if (stroke.shift && !down) _key(shift, false);
}

std::optional<wayland::Keymap::Stroke> KdeInput::_stroke_for_name(const std::string& name) {
  const auto keysym = x11::keysym_for_name(name);
  if (!keysym) return std::nullopt;
  return _keymap().find(static_cast<xkb_keysym_t>(*keysym));
}

void KdeInput::press(const std::string& key) {
  if (const auto stroke = _stroke_for_name(key)) {
    _send_stroke(*stroke, true);
    _send_stroke(*stroke, false);
    _display->roundtrip();
  }
}

void KdeInput::hotkey(const std::vector<std::string>& keys) {
  std::vector<wayland::Keymap::Stroke> strokes;
  for (const auto& key : keys) {
    if (auto stroke = _stroke_for_name(key)) strokes.push_back(*stroke);
  }
  for (const auto& stroke : strokes) _send_stroke(stroke, true);
  for (auto it = strokes.rbegin(); it != strokes.rend(); ++it) _send_stroke(*it, false);
  _display->roundtrip();
}

void KdeInput::keyDown(const std::string& key) {
  if (const auto stroke = _stroke_for_name(key)) {
    _send_stroke(*stroke, true);
    _display->roundtrip();
  }
}

void KdeInput::keyUp(const std::string& key) {
  if (const auto stroke = _stroke_for_name(key)) {
    _send_stroke(*stroke, false);
    _display->roundtrip();
  }
}

// A fake input device cannot change KWin's keymap, so what no key types goes through the
// clipboard.
void KdeInput::_paste(const std::string& text) {
  if (_clipboard == nullptr) {
    throw std::runtime_error("KWin's keymap has no key for \"" + text +
                             "\" and there is no clipboard to paste it through");
  }
  _clipboard->copy(text);
  hotkey({"ctrl", "v"});
  sleep_seconds(PASTE_SETTLE_SECONDS);
}

void KdeInput::write(const std::string& text, double interval) {
  const std::u32string chars = common::decode_utf8(text);
  std::u32string untypable;
  for (std::size_t i = 0; i < chars.size(); ++i) {
    const auto stroke = _keymap().find(static_cast<xkb_keysym_t>(x11::keysym_for_char(chars[i])));
    if (!stroke) {
      // Pasted in runs: one paste per character would be slow for a whole foreign word.
      untypable += chars[i];
      if (i + 1 < chars.size()) continue;
    }
    if (!untypable.empty()) {
      _paste(common::encode_utf8(untypable));
      untypable.clear();
    }
    if (stroke) {
      _send_stroke(*stroke, true);
      _send_stroke(*stroke, false);
      _display->roundtrip();
    }
    if (i + 1 < chars.size()) sleep_seconds(interval);
  }
}

// ---- capture ----

// KWin's screen cast, kept for the object's life; KWin's screenshot service when the cast cannot
// be had or shows nothing (KWin 5.27 casts only outputs that a display or a host compositor
// shows, never those of its --virtual backend).
ScreenCapture KdeInput::screenshot() {
  _display->check();
  if (_cast_failure.empty()) {
    try {
      if (!_capture) _start_cast();
      return _capture->latest(CAST_FRESH_WITHIN);
    } catch (const std::runtime_error& error) {
      _capture.reset();
      if (_stream) zkde_screencast_stream_unstable_v1_close(_stream);
      _stream = nullptr;
      _cast_failure = error.what();
    }
  }
  try {
    return kwin_screenshot(output_name());
  } catch (const std::runtime_error& error) {
    throw std::runtime_error(_cast_failure + "; " + error.what());
  }
}

void KdeInput::_start_cast() {
  _stream = zkde_screencast_unstable_v1_stream_output(_screencast, _wl_output,
                                                      ZKDE_SCREENCAST_UNSTABLE_V1_POINTER_HIDDEN);
  zkde_screencast_stream_unstable_v1_add_listener(_stream, &stream_listener, this);
  _display->dispatch_until([&] { return _cast_node || !_cast_event_failure.empty(); },
                           CAST_TIMEOUT_MS);
  if (!_cast_node) {
    throw std::runtime_error(_cast_event_failure.empty()
                                 ? "KWin did not start the screen cast in time"
                                 : _cast_event_failure);
  }
  _capture = std::make_unique<pipewire::StreamCapture>(
      *_cast_node, "KWin's screen cast of " + output_name(), -1, CAST_FIRST_FRAME_TIMEOUT);
}

}  // namespace orvane::pc::kde
