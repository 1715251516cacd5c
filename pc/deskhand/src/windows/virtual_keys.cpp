#include "windows/virtual_keys.hpp"

#include <windows.h>

#include <array>

#include "key_names.hpp"

namespace orvane::pc::windows {
namespace {

struct NamedKey {
  std::string_view name;
  unsigned key;
};

// The names the X11 backend knows, with the Windows key of each.
constexpr std::array NAMED_KEYS{
    NamedKey{"enter", VK_RETURN},
    NamedKey{"return", VK_RETURN},
    NamedKey{"\n", VK_RETURN},
    NamedKey{"\r", VK_RETURN},
    NamedKey{"tab", VK_TAB},
    NamedKey{"\t", VK_TAB},
    NamedKey{"backspace", VK_BACK},
    NamedKey{"\b", VK_BACK},
    NamedKey{"delete", VK_DELETE},
    NamedKey{"del", VK_DELETE},
    NamedKey{"escape", VK_ESCAPE},
    NamedKey{"esc", VK_ESCAPE},
    NamedKey{"space", VK_SPACE},
    NamedKey{"up", VK_UP},
    NamedKey{"down", VK_DOWN},
    NamedKey{"left", VK_LEFT},
    NamedKey{"right", VK_RIGHT},
    NamedKey{"home", VK_HOME},
    NamedKey{"end", VK_END},
    NamedKey{"pageup", VK_PRIOR},
    NamedKey{"pgup", VK_PRIOR},
    NamedKey{"pagedown", VK_NEXT},
    NamedKey{"pgdn", VK_NEXT},
    NamedKey{"insert", VK_INSERT},
    NamedKey{"win", VK_LWIN},
    NamedKey{"winleft", VK_LWIN},
    NamedKey{"winright", VK_RWIN},
    NamedKey{"command", VK_LWIN},
    NamedKey{"cmd", VK_LWIN},
    NamedKey{"option", VK_LMENU},
    NamedKey{"optionleft", VK_LMENU},
    NamedKey{"optionright", VK_RMENU},
    NamedKey{"ctrl", VK_CONTROL},
    NamedKey{"ctrlleft", VK_LCONTROL},
    NamedKey{"ctrlright", VK_RCONTROL},
    NamedKey{"alt", VK_MENU},
    NamedKey{"altleft", VK_LMENU},
    NamedKey{"altright", VK_RMENU},
    NamedKey{"shift", VK_SHIFT},
    NamedKey{"shiftleft", VK_LSHIFT},
    NamedKey{"shiftright", VK_RSHIFT},
    NamedKey{"capslock", VK_CAPITAL},
    NamedKey{"numlock", VK_NUMLOCK},
    NamedKey{"scrolllock", VK_SCROLL},
    NamedKey{"printscreen", VK_SNAPSHOT},
    NamedKey{"prtsc", VK_SNAPSHOT},
    NamedKey{"prtscr", VK_SNAPSHOT},
    NamedKey{"prntscrn", VK_SNAPSHOT},
    NamedKey{"print", VK_PRINT},
    NamedKey{"pause", VK_PAUSE},
    NamedKey{"apps", VK_APPS},
    NamedKey{"menu", VK_APPS},
    NamedKey{"clear", VK_CLEAR},
    NamedKey{"help", VK_HELP},
    NamedKey{"select", VK_SELECT},
    NamedKey{"execute", VK_EXECUTE},
    NamedKey{"add", VK_ADD},
    NamedKey{"subtract", VK_SUBTRACT},
    NamedKey{"multiply", VK_MULTIPLY},
    NamedKey{"divide", VK_DIVIDE},
    NamedKey{"decimal", VK_DECIMAL},
    NamedKey{"separator", VK_SEPARATOR},
    NamedKey{"volumemute", VK_VOLUME_MUTE},
    NamedKey{"volumedown", VK_VOLUME_DOWN},
    NamedKey{"volumeup", VK_VOLUME_UP},
    NamedKey{"playpause", VK_MEDIA_PLAY_PAUSE},
    NamedKey{"stop", VK_MEDIA_STOP},
    NamedKey{"prevtrack", VK_MEDIA_PREV_TRACK},
    NamedKey{"nexttrack", VK_MEDIA_NEXT_TRACK},
    NamedKey{"browserback", VK_BROWSER_BACK},
    NamedKey{"browserforward", VK_BROWSER_FORWARD},
    NamedKey{"browserrefresh", VK_BROWSER_REFRESH},
    NamedKey{"browserhome", VK_BROWSER_HOME},
    NamedKey{"browsersearch", VK_BROWSER_SEARCH},
    NamedKey{"launchmail", VK_LAUNCH_MAIL},
};

}  // namespace

std::optional<unsigned> virtual_key_for_name(std::string_view name) {
  for (const auto& key : NAMED_KEYS) {
    if (key.name == name) return key.key;
  }
  const auto key = parse_numbered_key(name);
  if (!key) return std::nullopt;
  return key->numpad ? unsigned(VK_NUMPAD0 + key->number) : unsigned(VK_F1 + (key->number - 1));
}

}  // namespace orvane::pc::windows
