#include "gnome/gnome_input.hpp"
#include "pointer_path.hpp"

#include <linux/input-event-codes.h>
#include <xkbcommon/xkbcommon-keysyms.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <thread>

#include "orvane/common/unicode.hpp"
#include "pipewire/stream_capture.hpp"
#include "x11/keysyms.hpp"

namespace orvane::pc::gnome {
namespace {

void sleep_seconds(double seconds) {
  if (seconds > 0) std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

int magnitude(int value) {
  return value == std::numeric_limits<int>::min() ? std::numeric_limits<int>::max()
                                                  : std::abs(value);
}

// What any keymap a GNOME user types with has a key for.
bool typeable(char32_t c) {
  return (c >= 0x20 && c < 0x7f) || c == '\n' || c == '\t';
}

constexpr unsigned VERTICAL = 0;
constexpr unsigned HORIZONTAL = 1;
constexpr auto DEVICE_TAKE_UP = std::chrono::milliseconds(100);
constexpr auto PASTE_TIMEOUT = std::chrono::seconds(2);
constexpr auto SECOND_READ_TIMEOUT = std::chrono::milliseconds(500);
constexpr auto FIRST_FRAME_TIMEOUT = std::chrono::seconds(5);

}  // namespace

std::unique_ptr<GnomeInput> GnomeInput::open() {
  auto session = MutterSession::open();
  session->announce_devices();
  // Windows take up new seat devices on their next loop pass, and nothing tells when: events
  // sent before then are lost to them.
  std::this_thread::sleep_for(DEVICE_TAKE_UP);
  return std::unique_ptr<GnomeInput>(new GnomeInput(std::move(session)));
}

GnomeInput::GnomeInput(std::unique_ptr<MutterSession> session) : _session(std::move(session)) {}
GnomeInput::~GnomeInput() = default;

void GnomeInput::_motion(int x, int y) {
  const auto [width, height] = _session->size();
  // Points off the monitor stop at its edge, as on an X screen.
  x = std::clamp(x, 0, std::max(width - 1, 0));
  y = std::clamp(y, 0, std::max(height - 1, 0));
  _session->pointer_motion(x, y);
  _position = {x, y};
}

void GnomeInput::moveTo(int x, int y, double duration) {
  walk_pointer(_position.value_or(std::pair{x, y}), {x, y}, duration,
               [&](int px, int py, bool) { _motion(px, py); });
}

void GnomeInput::_click(int x, int y, int button, int clicks) {
  _motion(x, y);
  for (int i = 0; i < clicks; ++i) {
    _session->pointer_button(button, true);
    _session->pointer_button(button, false);
  }
}

void GnomeInput::click(int x, int y, int clicks) {
  _click(x, y, BTN_LEFT, clicks);
}
void GnomeInput::rightClick(int x, int y) {
  _click(x, y, BTN_RIGHT, 1);
}
void GnomeInput::middleClick(int x, int y) {
  _click(x, y, BTN_MIDDLE, 1);
}
void GnomeInput::doubleClick(int x, int y) {
  _click(x, y, BTN_LEFT, 2);
}
void GnomeInput::mouseDown() {
  _session->pointer_button(BTN_LEFT, true);
}
void GnomeInput::mouseUp() {
  _session->pointer_button(BTN_LEFT, false);
}

// Mutter's steps grow downwards and to the right, as Wayland's axes do.
void GnomeInput::scroll(int clicks) {
  if (clicks != 0)
    _session->pointer_wheel(VERTICAL, clicks > 0 ? -magnitude(clicks) : magnitude(clicks));
}
void GnomeInput::hscroll(int clicks) {
  if (clicks != 0)
    _session->pointer_wheel(HORIZONTAL, clicks > 0 ? magnitude(clicks) : -magnitude(clicks));
}

std::pair<int, int> GnomeInput::position() {
  if (!_position) {
    throw std::runtime_error(
        "GNOME does not tell where the pointer is before this process has moved it");
  }
  return *_position;
}

void GnomeInput::_key(std::uint32_t keysym, bool down) {
  _session->key(keysym, down);
}

void GnomeInput::press(const std::string& key) {
  // A name no key has is ignored, silently, as the input automation's contract has it.
  if (const auto keysym = x11::keysym_for_name(key)) {
    _key(static_cast<std::uint32_t>(*keysym), true);
    _key(static_cast<std::uint32_t>(*keysym), false);
  }
}

void GnomeInput::hotkey(const std::vector<std::string>& keys) {
  std::vector<std::uint32_t> keysyms;
  for (const auto& key : keys) {
    if (const auto keysym = x11::keysym_for_name(key))
      keysyms.push_back(static_cast<std::uint32_t>(*keysym));
  }
  for (const auto keysym : keysyms) _key(keysym, true);
  for (auto it = keysyms.rbegin(); it != keysyms.rend(); ++it) _key(*it, false);
}

void GnomeInput::keyDown(const std::string& key) {
  if (const auto keysym = x11::keysym_for_name(key))
    _key(static_cast<std::uint32_t>(*keysym), true);
}

void GnomeInput::keyUp(const std::string& key) {
  if (const auto keysym = x11::keysym_for_name(key))
    _key(static_cast<std::uint32_t>(*keysym), false);
}

void GnomeInput::_paste(const std::u32string& text) {
  const auto served = _session->clipboard_reads();
  _session->set_clipboard(common::encode_utf8(text));
  _key(XKB_KEY_Control_L, true);
  _key(XKB_KEY_v, true);
  _key(XKB_KEY_v, false);
  _key(XKB_KEY_Control_L, false);
  // The window reads the clipboard after it sees the keys, and Mutter reads it once more for
  // itself (to keep it when we are gone), in either order. The next run must not replace it
  // before both.
  if (!_session->wait_for_clipboard_read(served, PASTE_TIMEOUT)) {
    throw std::runtime_error(
        "typing through GNOME's clipboard: no window read the text pasted for the characters "
        "its keymap lacks");
  }
  _session->wait_for_clipboard_read(served + 1, SECOND_READ_TIMEOUT);
}

void GnomeInput::write(const std::string& text, double interval) {
  const std::u32string chars = common::decode_utf8(text);
  std::size_t i = 0;
  while (i < chars.size()) {
    if (typeable(chars[i])) {
      const auto keysym = static_cast<std::uint32_t>(x11::keysym_for_char(chars[i]));
      _key(keysym, true);
      _key(keysym, false);
      ++i;
    } else {
      std::size_t end = i;
      while (end < chars.size() && !typeable(chars[end])) ++end;
      _paste(chars.substr(i, end - i));
      i = end;
    }
    if (i < chars.size()) sleep_seconds(interval);
  }
}

ScreenCapture GnomeInput::screenshot() {
  try {
    if (!_capture) {
      _capture = std::make_unique<pipewire::StreamCapture>(
          _session->node_id(), "GNOME's screen cast of " + _session->monitor(), -1,
          FIRST_FRAME_TIMEOUT);
    }
    return _capture->latest();
  } catch (const std::exception&) {
    // A cast that failed stays failed (its monitor went away, say): the next action starts a
    // new session instead of failing for good.
    _cast_ended = true;
    throw;
  }
}

}  // namespace orvane::pc::gnome
