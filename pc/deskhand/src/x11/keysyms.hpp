#pragma once
// Input-automation key names ("enter", "pageup", "win", "f5", "a", "é") as X keysyms.
#include <X11/X.h>

#include <optional>
#include <string_view>

namespace orvane::pc::x11 {

// The keysym a key name stands for, or nullopt for a name no key has.
std::optional<KeySym> keysym_for_name(std::string_view name);

// The keysym that types one Unicode character.
KeySym keysym_for_char(char32_t c);

}  // namespace orvane::pc::x11
