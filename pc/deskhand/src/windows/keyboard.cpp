// Keys through SendInput: named keys as virtual keys, other characters as Unicode.
#include <chrono>
#include <thread>

#include "orvane/common/unicode.hpp"
#include "windows/virtual_keys.hpp"
#include "windows/windows_input.hpp"

namespace orvane::pc::windows {
namespace {

// Keys of the enhanced keyboard's extra blocks: without the flag Windows reads the arrows as the
// numeric keypad's and right Ctrl as left Ctrl.
bool is_extended(WORD key) {
  switch (key) {
    case VK_UP:
    case VK_DOWN:
    case VK_LEFT:
    case VK_RIGHT:
    case VK_HOME:
    case VK_END:
    case VK_PRIOR:
    case VK_NEXT:
    case VK_INSERT:
    case VK_DELETE:
    case VK_RCONTROL:
    case VK_RMENU:
    case VK_DIVIDE:
    case VK_LWIN:
    case VK_RWIN:
    case VK_APPS:
    case VK_NUMLOCK:
    case VK_SNAPSHOT:
      return true;
    default:
      return false;
  }
}

INPUT virtual_key_event(WORD key, bool up) {
  INPUT event{};
  event.type = INPUT_KEYBOARD;
  event.ki.wVk = key;
  event.ki.wScan = static_cast<WORD>(::MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
  event.ki.dwFlags = (is_extended(key) ? KEYEVENTF_EXTENDEDKEY : 0) | (up ? KEYEVENTF_KEYUP : 0);
  return event;
}

INPUT unicode_event(wchar_t unit, bool up) {
  INPUT event{};
  event.type = INPUT_KEYBOARD;
  event.ki.wScan = unit;
  event.ki.dwFlags = KEYEVENTF_UNICODE | (up ? KEYEVENTF_KEYUP : 0);
  return event;
}

void append_key(std::vector<INPUT>& events, const WindowsInput::Key& key, bool up) {
  if (key.virtual_key != 0) {
    if (key.shift && !up) events.push_back(virtual_key_event(VK_SHIFT, false));
    events.push_back(virtual_key_event(key.virtual_key, up));
    if (key.shift && up) events.push_back(virtual_key_event(VK_SHIFT, true));
    return;
  }
  // Past U+FFFF a character is two UTF-16 units: both go down, then both up, which the system
  // joins into one character.
  if (key.character > 0xffff) {
    const char32_t offset = key.character - 0x10000;
    events.push_back(unicode_event(static_cast<wchar_t>(0xd800 + (offset >> 10)), up));
    events.push_back(unicode_event(static_cast<wchar_t>(0xdc00 + (offset & 0x3ff)), up));
    return;
  }
  events.push_back(unicode_event(static_cast<wchar_t>(key.character), up));
}

// The key that types `c` in text: the control characters X11 types as keys, else Unicode.
WindowsInput::Key key_for_char(char32_t c) {
  switch (c) {
    case U'\n':
    case U'\r':
      return {VK_RETURN};
    case U'\t':
      return {VK_TAB};
    case U'\b':
      return {VK_BACK};
    default:
      return {0, false, c};
  }
}

}  // namespace

std::optional<WindowsInput::Key> key_for_name(const std::string& name) {
  if (const auto key = virtual_key_for_name(name))
    return WindowsInput::Key{static_cast<WORD>(*key)};
  if (!common::is_valid_utf8(name)) return std::nullopt;
  const std::u32string chars = common::decode_utf8(name);
  if (chars.size() != 1 || chars[0] < 0x20 || chars[0] == 0x7f) return std::nullopt;
  // A character of the keyboard layout goes as its key, so that shortcuts ("ctrl+v") reach
  // programs that read keys; one behind AltGr, or on no key, as Unicode.
  if (chars[0] <= 0xffff) {
    const SHORT scan = ::VkKeyScanW(static_cast<wchar_t>(chars[0]));
    if (scan != -1 && (HIBYTE(scan) & ~1) == 0) {
      return WindowsInput::Key{LOBYTE(scan), (HIBYTE(scan) & 1) != 0};
    }
  }
  return WindowsInput::Key{0, false, chars[0]};
}

void WindowsInput::_keys(const std::vector<Key>& keys, bool down, bool up) {
  std::vector<INPUT> events;
  if (down) {
    for (const auto& key : keys) append_key(events, key, false);
  }
  if (up) {
    for (auto key = keys.rbegin(); key != keys.rend(); ++key) append_key(events, *key, true);
  }
  _send(events);
}

// Names no key has are left out, silently, as on X11.
void WindowsInput::press(const std::string& key) {
  if (const auto found = key_for_name(key)) _keys({*found}, true, true);
}

void WindowsInput::hotkey(const std::vector<std::string>& keys) {
  std::vector<Key> found;
  for (const auto& name : keys) {
    if (const auto key = key_for_name(name)) found.push_back(*key);
  }
  _keys(found, true, true);
}

void WindowsInput::keyDown(const std::string& key) {
  if (const auto found = key_for_name(key)) _keys({*found}, true, false);
}

void WindowsInput::keyUp(const std::string& key) {
  if (const auto found = key_for_name(key)) _keys({*found}, false, true);
}

void WindowsInput::write(const std::string& text, double interval) {
  const std::u32string chars = common::decode_utf8(text);
  for (std::size_t i = 0; i < chars.size(); ++i) {
    _keys({key_for_char(chars[i])}, true, true);
    if (i + 1 < chars.size() && interval > 0) {
      std::this_thread::sleep_for(std::chrono::duration<double>(interval));
    }
  }
}

}  // namespace orvane::pc::windows
