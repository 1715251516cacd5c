#include "terminal_text.hpp"

#include <cstdint>
#include <cstdio>

#include "orvane/common/unicode.hpp"

namespace orvane::app {
namespace {

// Characters that change how the terminal shows what follows.
bool is_control(char32_t code) {
  return code < 0x20 || (code >= 0x7F && code <= 0x9F) || (code >= 0x202A && code <= 0x202E) ||
         (code >= 0x2066 && code <= 0x2069) || code == 0x200E || code == 0x200F || code == 0x061C;
}

std::string escaped(char32_t code) {
  switch (code) {
    case 0x1B:
      return "\\e";
    case '\n':
      return "\\n";
    case '\r':
      return "\\r";
    case '\t':
      return "\\t";
    default:
      break;
  }
  char text[16];
  std::snprintf(text, sizeof text, code < 0x80 ? "\\x%02x" : "\\u%04x",
                static_cast<unsigned>(code));
  return text;
}

}  // namespace

std::string terminal_safe(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    char32_t code = 0;
    const std::size_t length = common::decode_utf8_at(text, at, code);
    if (length == 0) {
      char byte[8];
      std::snprintf(byte, sizeof byte, "\\x%02x", static_cast<unsigned>(text[at] & 0xFF));
      out += byte;
      ++at;
      continue;
    }
    if (is_control(code)) {
      out += escaped(code);
    } else {
      out.append(text, at, length);
    }
    at += length;
  }
  return out;
}

}  // namespace orvane::app
