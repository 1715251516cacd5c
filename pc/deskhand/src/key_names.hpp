#pragma once
// The model's key names (X11 keysym style) as the input automation names them.
#include <optional>
#include <string>
#include <string_view>

namespace orvane::pc {

// The table's name for `name` (exact, case-sensitive), else `name` lower-cased.
std::string translate_key(std::string_view name);

// The numbered keys: "f1".."f24" and "num0".."num9" (no leading zeros).
struct NumberedKey {
  bool numpad = false;  // "numN", else "fN"
  int number = 0;
};
std::optional<NumberedKey> parse_numbered_key(std::string_view name);

}  // namespace orvane::pc
