#include "x11/keysyms.hpp"

#include <X11/XF86keysym.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <array>
#include <string>
#include <utility>

#include "key_names.hpp"
#include "orvane/common/unicode.hpp"

namespace orvane::pc::x11 {
namespace {

struct NamedKey {
  std::string_view name;
  KeySym keysym;
};

constexpr std::array NAMED_KEYS{
    NamedKey{"enter", XK_Return},
    NamedKey{"return", XK_Return},
    NamedKey{"\n", XK_Return},
    NamedKey{"\r", XK_Return},
    NamedKey{"tab", XK_Tab},
    NamedKey{"\t", XK_Tab},
    NamedKey{"backspace", XK_BackSpace},
    NamedKey{"\b", XK_BackSpace},
    NamedKey{"delete", XK_Delete},
    NamedKey{"del", XK_Delete},
    NamedKey{"escape", XK_Escape},
    NamedKey{"esc", XK_Escape},
    NamedKey{"space", XK_space},
    NamedKey{"up", XK_Up},
    NamedKey{"down", XK_Down},
    NamedKey{"left", XK_Left},
    NamedKey{"right", XK_Right},
    NamedKey{"home", XK_Home},
    NamedKey{"end", XK_End},
    NamedKey{"pageup", XK_Prior},
    NamedKey{"pgup", XK_Prior},
    NamedKey{"pagedown", XK_Next},
    NamedKey{"pgdn", XK_Next},
    NamedKey{"insert", XK_Insert},
    NamedKey{"win", XK_Super_L},
    NamedKey{"winleft", XK_Super_L},
    NamedKey{"winright", XK_Super_R},
    NamedKey{"command", XK_Super_L},
    NamedKey{"cmd", XK_Super_L},
    NamedKey{"option", XK_Alt_L},
    NamedKey{"optionleft", XK_Alt_L},
    NamedKey{"optionright", XK_Alt_R},
    NamedKey{"ctrl", XK_Control_L},
    NamedKey{"ctrlleft", XK_Control_L},
    NamedKey{"ctrlright", XK_Control_R},
    NamedKey{"alt", XK_Alt_L},
    NamedKey{"altleft", XK_Alt_L},
    NamedKey{"altright", XK_Alt_R},
    NamedKey{"shift", XK_Shift_L},
    NamedKey{"shiftleft", XK_Shift_L},
    NamedKey{"shiftright", XK_Shift_R},
    NamedKey{"capslock", XK_Caps_Lock},
    NamedKey{"numlock", XK_Num_Lock},
    NamedKey{"scrolllock", XK_Scroll_Lock},
    NamedKey{"printscreen", XK_Print},
    NamedKey{"prtsc", XK_Print},
    NamedKey{"prtscr", XK_Print},
    NamedKey{"prntscrn", XK_Print},
    NamedKey{"print", XK_Print},
    NamedKey{"pause", XK_Pause},
    NamedKey{"apps", XK_Menu},
    NamedKey{"menu", XK_Menu},
    NamedKey{"clear", XK_Clear},
    NamedKey{"help", XK_Help},
    NamedKey{"select", XK_Select},
    NamedKey{"execute", XK_Execute},
    NamedKey{"add", XK_KP_Add},
    NamedKey{"subtract", XK_KP_Subtract},
    NamedKey{"multiply", XK_KP_Multiply},
    NamedKey{"divide", XK_KP_Divide},
    NamedKey{"decimal", XK_KP_Decimal},
    NamedKey{"separator", XK_KP_Separator},
    NamedKey{"volumemute", XF86XK_AudioMute},
    NamedKey{"volumedown", XF86XK_AudioLowerVolume},
    NamedKey{"volumeup", XF86XK_AudioRaiseVolume},
    NamedKey{"playpause", XF86XK_AudioPlay},
    NamedKey{"stop", XF86XK_AudioStop},
    NamedKey{"prevtrack", XF86XK_AudioPrev},
    NamedKey{"nexttrack", XF86XK_AudioNext},
    NamedKey{"browserback", XF86XK_Back},
    NamedKey{"browserforward", XF86XK_Forward},
    NamedKey{"browserrefresh", XF86XK_Refresh},
    NamedKey{"browserhome", XF86XK_HomePage},
    NamedKey{"browsersearch", XF86XK_Search},
    NamedKey{"launchmail", XF86XK_Mail},
};

// "f1".."f24" and "num0".."num9".
std::optional<KeySym> numbered_key(std::string_view name) {
  const auto key = parse_numbered_key(name);
  if (!key) return std::nullopt;
  return key->numpad ? KeySym(XK_KP_0 + key->number) : KeySym(XK_F1 + (key->number - 1));
}

}  // namespace

KeySym keysym_for_char(char32_t c) {
  switch (c) {
    case U'\n':
    case U'\r':
      return XK_Return;
    case U'\t':
      return XK_Tab;
    case U'\b':
      return XK_BackSpace;
    default:
      break;
  }
  // Latin-1 keysyms equal their code points; every other character has a Unicode keysym.
  if ((c >= 0x20 && c <= 0x7e) || (c >= 0xa0 && c <= 0xff)) return c;
  return 0x01000000 | c;
}

std::optional<KeySym> keysym_for_name(std::string_view name) {
  for (const auto& key : NAMED_KEYS) {
    if (key.name == name) return key.keysym;
  }
  if (auto numbered = numbered_key(name)) return numbered;
  if (common::is_valid_utf8(name)) {
    const std::u32string chars = common::decode_utf8(name);
    if (chars.size() == 1 && chars[0] >= 0x20 && chars[0] != 0x7f) return keysym_for_char(chars[0]);
  }
  // Names of the keysyms themselves ("xf86audiomute" is not one; "Hangul" would be).
  const KeySym keysym = XStringToKeysym(std::string(name).c_str());
  if (keysym != NoSymbol) return keysym;
  return std::nullopt;
}

}  // namespace orvane::pc::x11
