#include "wayland/wayland_input.hpp"
#include "pointer_path.hpp"

#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <thread>

#include "orvane/common/unicode.hpp"
#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"
#include "x11/keysyms.hpp"

namespace orvane::pc::wayland {
namespace {

std::uint32_t now_ms() {
  using namespace std::chrono;
  return static_cast<std::uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void sleep_seconds(double seconds) {
  if (seconds > 0) std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

int magnitude(int value) {
  return value == std::numeric_limits<int>::min() ? std::numeric_limits<int>::max()
                                                  : std::abs(value);
}

// One wheel step, in the length a mouse wheel reports.
constexpr double WHEEL_STEP = 15.0;

constexpr std::uint32_t SEAT_DEVICES = WL_SEAT_CAPABILITY_POINTER | WL_SEAT_CAPABILITY_KEYBOARD;
constexpr int SEAT_ANNOUNCE_TIMEOUT_MS = 1000;
constexpr double SEAT_TAKE_UP_SECONDS = 0.1;

}  // namespace

std::unique_ptr<WaylandInput> WaylandInput::open(const char* socket,
                                                 const std::string& output_name) {
  auto display = WaylandDisplay::open(socket);
  const Output& output = display->output(output_name);
  return std::unique_ptr<WaylandInput>(new WaylandInput(std::move(display), output));
}

WaylandInput::WaylandInput(std::unique_ptr<WaylandDisplay> display, const Output& output)
    : _display(std::move(display)),
      _wl_output(output.output),
      _probe(*_display),
      _screencopy(*_display) {
  const std::uint32_t had = _display->seat_capabilities();
  _pointer = zwlr_virtual_pointer_manager_v1_create_virtual_pointer_with_output(
      _display->pointer_manager(), _display->seat(), _wl_output);
  _keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(_display->keyboard_manager(),
                                                                      _display->seat());
  _send_keymap_if_changed();
  _display->roundtrip();
  _wait_for_seat_devices(had);
}

// Clients take up a seat's pointer or keyboard only once the seat announces it, on their next
// turn of their event loop: what is sent before that is lost to them. No event tells when they
// have, so they are given a moment. A seat that had both already changes nothing for them.
void WaylandInput::_wait_for_seat_devices(std::uint32_t had) {
  if ((had & SEAT_DEVICES) == SEAT_DEVICES) return;
  if (_display->dispatch_until(
          [&] { return (_display->seat_capabilities() & SEAT_DEVICES) == SEAT_DEVICES; },
          SEAT_ANNOUNCE_TIMEOUT_MS)) {
    sleep_seconds(SEAT_TAKE_UP_SECONDS);
  }
}

WaylandInput::~WaylandInput() {
  if (_state) xkb_state_unref(_state);
  if (_keyboard) zwp_virtual_keyboard_v1_destroy(_keyboard);
  if (_pointer) zwlr_virtual_pointer_v1_destroy(_pointer);
  if (!_display->lost()) wl_display_flush(_display->display());
}

const Output& WaylandInput::_output() const {
  _display->check();
  return _display->output_for(_wl_output);
}

std::pair<int, int> WaylandInput::screen_size() {
  _display->roundtrip();  // a mode change reaches us as an event
  const Output& output = _output();
  return {output.mode_width, output.mode_height};
}

std::string WaylandInput::output_name() const {
  return _output().name;
}

// ---- pointer ----

void WaylandInput::_motion(int x, int y) {
  const Output& output = _output();
  if (output.mode_width <= 0 || output.mode_height <= 0)
    throw std::runtime_error("the Wayland output has no current mode");
  // Points off the output stop at its edge, as on an X screen.
  x = std::clamp(x, 0, output.mode_width - 1);
  y = std::clamp(y, 0, output.mode_height - 1);
  zwlr_virtual_pointer_v1_motion_absolute(_pointer, now_ms(), static_cast<std::uint32_t>(x),
                                          static_cast<std::uint32_t>(y),
                                          static_cast<std::uint32_t>(output.mode_width),
                                          static_cast<std::uint32_t>(output.mode_height));
  zwlr_virtual_pointer_v1_frame(_pointer);
  _position = {x, y};
}

void WaylandInput::moveTo(int x, int y, double duration) {
  // The path starts where we left the pointer; asked for only when we never moved it (asking
  // during a drag would wait in vain, the held button keeping the pointer from the overlay).
  const auto from = _position || duration <= 0 ? _position : _locate();
  walk_pointer(from.value_or(std::pair{x, y}), {x, y}, duration, [&](int px, int py, bool last) {
    _motion(px, py);
    if (last) {
      _display->roundtrip();
    } else {
      _display->flush();
    }
  });
}

void WaylandInput::_button(unsigned button, bool down) {
  zwlr_virtual_pointer_v1_button(
      _pointer, now_ms(), button,
      down ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED);
  zwlr_virtual_pointer_v1_frame(_pointer);
}

void WaylandInput::_click_button(int x, int y, unsigned button, int clicks) {
  _motion(x, y);
  for (int i = 0; i < clicks; ++i) {
    _button(button, true);
    _button(button, false);
  }
  _display->roundtrip();
}

void WaylandInput::click(int x, int y, int clicks) {
  _click_button(x, y, BTN_LEFT, clicks);
}
void WaylandInput::rightClick(int x, int y) {
  _click_button(x, y, BTN_RIGHT, 1);
}
void WaylandInput::middleClick(int x, int y) {
  _click_button(x, y, BTN_MIDDLE, 1);
}
void WaylandInput::doubleClick(int x, int y) {
  _click_button(x, y, BTN_LEFT, 2);
}

void WaylandInput::mouseDown() {
  _button(BTN_LEFT, true);
  _display->roundtrip();
}

void WaylandInput::mouseUp() {
  _button(BTN_LEFT, false);
  _display->roundtrip();
}

void WaylandInput::_wheel(unsigned axis, int steps, int direction) {
  for (int i = 0; i < steps; ++i) {
    const std::uint32_t time = now_ms();
    zwlr_virtual_pointer_v1_axis_source(_pointer, WL_POINTER_AXIS_SOURCE_WHEEL);
    zwlr_virtual_pointer_v1_axis_discrete(_pointer, time, axis,
                                          wl_fixed_from_double(direction * WHEEL_STEP), direction);
    zwlr_virtual_pointer_v1_frame(_pointer);
    if (i % 64 == 63) _display->flush();
  }
  _display->roundtrip();
}

// Wayland's vertical axis grows downwards and its horizontal one to the right.
void WaylandInput::scroll(int clicks) {
  _wheel(WL_POINTER_AXIS_VERTICAL_SCROLL, magnitude(clicks), clicks > 0 ? -1 : 1);
}
void WaylandInput::hscroll(int clicks) {
  _wheel(WL_POINTER_AXIS_HORIZONTAL_SCROLL, magnitude(clicks), clicks > 0 ? 1 : -1);
}

std::optional<std::pair<int, int>> WaylandInput::_locate() {
  _display->roundtrip();  // the output's current mode
  const auto found = _probe.locate(_output());
  if (found) _position = found;
  return _position;
}

std::pair<int, int> WaylandInput::position() {
  if (const auto found = _locate()) return *found;
  throw std::runtime_error(
      _probe.available()
          ? "the Wayland compositor did not show where the pointer is on " + output_name()
          : std::string("the Wayland compositor offers no layer shell to show where the pointer "
                        "is before this process has moved it"));
}

// ---- keys ----

void WaylandInput::_send_keymap_if_changed() {
  if (_sent_keymap == _keymap.generation()) return;
  const std::string& text = _keymap.text();
  const int fd = memfd_create("orvane-keymap", MFD_CLOEXEC);
  if (fd < 0) throw std::runtime_error(std::string("memfd_create failed: ") + std::strerror(errno));
  // The compositor maps the file and reads it as a C string, terminator included.
  const bool written =
      ::write(fd, text.c_str(), text.size() + 1) == static_cast<ssize_t>(text.size() + 1);
  if (!written) {
    close(fd);
    throw std::runtime_error("cannot write the keymap");
  }
  zwp_virtual_keyboard_v1_keymap(_keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                 static_cast<std::uint32_t>(text.size() + 1));
  close(fd);
  _sent_keymap = _keymap.generation();
  // Keys still held (a keyDown before this change) keep their modifiers in the new state.
  if (_state) xkb_state_unref(_state);
  _state = xkb_state_new(_keymap.keymap());
  if (_state == nullptr) throw std::runtime_error("cannot create a keyboard state");
  for (const xkb_keycode_t key : _held) xkb_state_update_key(_state, key, XKB_KEY_DOWN);
  zwp_virtual_keyboard_v1_modifiers(_keyboard,
                                    xkb_state_serialize_mods(_state, XKB_STATE_MODS_DEPRESSED),
                                    xkb_state_serialize_mods(_state, XKB_STATE_MODS_LATCHED),
                                    xkb_state_serialize_mods(_state, XKB_STATE_MODS_LOCKED),
                                    xkb_state_serialize_layout(_state, XKB_STATE_LAYOUT_EFFECTIVE));
}

// A virtual keyboard's key events do not move the compositor's modifier state; it is sent
// beside them, from a state of our own.
void WaylandInput::_key(xkb_keycode_t keycode, bool down) {
  zwp_virtual_keyboard_v1_key(
      _keyboard, now_ms(), keycode - 8,
      down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
  if (down) {
    _held.insert(keycode);
  } else {
    _held.erase(keycode);
  }
  const auto changed = xkb_state_update_key(_state, keycode, down ? XKB_KEY_DOWN : XKB_KEY_UP);
  if (changed & (XKB_STATE_MODS_EFFECTIVE | XKB_STATE_LAYOUT_EFFECTIVE)) {
    zwp_virtual_keyboard_v1_modifiers(
        _keyboard, xkb_state_serialize_mods(_state, XKB_STATE_MODS_DEPRESSED),
        xkb_state_serialize_mods(_state, XKB_STATE_MODS_LATCHED),
        xkb_state_serialize_mods(_state, XKB_STATE_MODS_LOCKED),
        xkb_state_serialize_layout(_state, XKB_STATE_LAYOUT_EFFECTIVE));
  }
}

void WaylandInput::_send_stroke(const Keymap::Stroke& stroke, bool down) {
  if (stroke.shift && down) _key(_keymap.shift_keycode(), true);
  _key(stroke.keycode, down);
  if (stroke.shift && !down) _key(_keymap.shift_keycode(), false);
}

std::optional<Keymap::Stroke> WaylandInput::_stroke_for_name(const std::string& name) {
  // A name no key has is ignored, silently, as the input automation's contract has it.
  const auto keysym = x11::keysym_for_name(name);
  if (!keysym) return std::nullopt;
  return _keymap.stroke_for(static_cast<xkb_keysym_t>(*keysym));
}

void WaylandInput::press(const std::string& key) {
  const auto stroke = _stroke_for_name(key);
  if (!stroke) return;
  _send_keymap_if_changed();
  _send_stroke(*stroke, true);
  _send_stroke(*stroke, false);
  _display->roundtrip();
}

void WaylandInput::hotkey(const std::vector<std::string>& keys) {
  // Resolved twice: a key bound late may have moved one bound earlier once spare keys ran out.
  for (const auto& key : keys) _stroke_for_name(key);
  std::vector<Keymap::Stroke> strokes;
  for (const auto& key : keys) {
    if (auto stroke = _stroke_for_name(key)) strokes.push_back(*stroke);
  }
  _send_keymap_if_changed();
  for (const auto& stroke : strokes) _send_stroke(stroke, true);
  for (auto it = strokes.rbegin(); it != strokes.rend(); ++it) _send_stroke(*it, false);
  _display->roundtrip();
}

void WaylandInput::keyDown(const std::string& key) {
  if (const auto stroke = _stroke_for_name(key)) {
    _send_keymap_if_changed();
    _send_stroke(*stroke, true);
    _display->roundtrip();
  }
}

void WaylandInput::keyUp(const std::string& key) {
  if (const auto stroke = _stroke_for_name(key)) {
    _send_keymap_if_changed();
    _send_stroke(*stroke, false);
    _display->roundtrip();
  }
}

void WaylandInput::write(const std::string& text, double interval) {
  const std::u32string chars = common::decode_utf8(text);
  for (std::size_t i = 0; i < chars.size(); ++i) {
    const auto stroke =
        _keymap.stroke_for(static_cast<xkb_keysym_t>(x11::keysym_for_char(chars[i])));
    _send_keymap_if_changed();
    _send_stroke(stroke, true);
    _send_stroke(stroke, false);
    _display->roundtrip();
    if (i + 1 < chars.size()) sleep_seconds(interval);
  }
}

// ---- capture ----

ScreenCapture WaylandInput::screenshot() {
  _display->roundtrip();
  return _screencopy.capture(_output());
}

}  // namespace orvane::pc::wayland
