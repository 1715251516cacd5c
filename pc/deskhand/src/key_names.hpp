#pragma once
// The model's key names (X11 keysym style) as the input automation names them.
#include <string>
#include <string_view>

namespace orvane::pc {

// The table's name for `name` (exact, case-sensitive), else `name` lower-cased.
std::string translate_key(std::string_view name);

}  // namespace orvane::pc
