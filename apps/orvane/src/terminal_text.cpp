#include "terminal_text.hpp"

#include <cstdint>
#include <cstdio>

namespace orvane::app {
namespace {

// Length of the valid UTF-8 sequence at `at` and its code point, or 0 when there is none.
std::size_t decode(std::string_view text, std::size_t at, char32_t& code) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
  const std::uint8_t lead = byte(at);
  std::size_t length = 0;
  char32_t min = 0;
  if (lead < 0x80) {
    code = lead;
    return 1;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, min = 0x80, code = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, min = 0x800, code = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, min = 0x10000, code = lead & 0x07;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (std::size_t i = at + 1; i < at + length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i) & 0x3F);
  }
  if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

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
    const std::size_t length = decode(text, at, code);
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
