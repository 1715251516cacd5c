#pragma once
// Input-automation key names ("enter", "pageup", "win", "f5", "num0") as Windows virtual keys.
#include <optional>
#include <string_view>

namespace orvane::pc::windows {

// The virtual-key code of a named key, or nullopt for a name no key has; single characters are
// not named keys (they are typed as Unicode).
std::optional<unsigned> virtual_key_for_name(std::string_view name);

}  // namespace orvane::pc::windows
