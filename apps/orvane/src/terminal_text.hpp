#pragma once
// Text from files and users on its way to a terminal: control characters shown, never obeyed.
#include <string>
#include <string_view>

namespace orvane::app {

// `text` with every control character (C0, DEL, C1), bidirectional override or isolate, and byte
// that is not valid UTF-8 written as an escape: "\e" for ESC, "\n", "\r", "\t", "\xNN" for other
// ASCII controls and bytes that are not UTF-8, "\uNNNN" for other characters. Printable UTF-8 stays
// as it is.
std::string terminal_safe(std::string_view text);

}  // namespace orvane::app
