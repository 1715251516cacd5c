#include "orvane/common/unicode.hpp"

#include <cstdint>

#include "unicode_case.hpp"

namespace orvane::common {
namespace {

// Length of the well-formed sequence at `pos`, or of its longest valid beginning (at least 1)
// with `valid` false.
std::size_t sequence_at(std::string_view text, std::size_t pos, bool& valid) {
  const auto lead = static_cast<unsigned char>(text[pos]);
  valid = true;
  if (lead < 0x80) return 1;
  std::size_t size = 0;
  unsigned char low = 0x80, high = 0xBF;  // range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    size = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    size = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    size = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing beyond U+10FFFF
  } else {
    valid = false;
    return 1;
  }
  for (std::size_t i = 1; i < size; ++i) {
    if (pos + i >= text.size()) {
      valid = false;
      return i;
    }
    const auto byte = static_cast<unsigned char>(text[pos + i]);
    if (byte < (i == 1 ? low : 0x80) || byte > (i == 1 ? high : 0xBF)) {
      valid = false;
      return i;
    }
  }
  return size;
}

// Decodes one code point at `pos`; throws UnicodeError for malformed input (surrogates included).
char32_t next_code_point(std::string_view text, std::size_t& pos) {
  char32_t c = 0;
  const auto size = decode_utf8_at(text, pos, c);
  if (size == 0) throw UnicodeError("invalid UTF-8 at byte " + std::to_string(pos));
  pos += size;
  return c;
}

}  // namespace

std::size_t decode_utf8_at(std::string_view text, std::size_t pos, char32_t& code) {
  bool valid = true;
  const auto size = sequence_at(text, pos, valid);
  if (!valid) return 0;
  const auto lead = static_cast<unsigned char>(text[pos]);
  code = size == 1 ? lead : lead & (0x7F >> size);
  for (std::size_t i = 1; i < size; ++i)
    code = (code << 6) | (static_cast<unsigned char>(text[pos + i]) & 0x3F);
  return size;
}

std::u32string decode_utf8(std::string_view text) {
  std::u32string out;
  out.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) out += next_code_point(text, pos);
  return out;
}

std::string encode_utf8(char32_t code_point) {
  const auto c = static_cast<std::uint32_t>(code_point);
  if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
    throw UnicodeError("not a Unicode scalar value: " + std::to_string(c));
  }
  std::string out;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

std::string encode_utf8(std::u32string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char32_t c : text) out += encode_utf8(c);
  return out;
}

std::string replace_invalid_utf8(std::string_view text) {
  std::string out;
  std::size_t copied = 0;  // text[copied, pos) is valid and not yet in `out`
  for (std::size_t pos = 0; pos < text.size();) {
    bool valid = true;
    const auto size = sequence_at(text, pos, valid);
    if (!valid) {
      out.append(text.substr(copied, pos - copied));
      out += "\uFFFD";
      copied = pos + size;
    }
    pos += size;
  }
  if (copied == 0) return std::string(text);
  out.append(text.substr(copied));
  return out;
}

bool is_valid_utf8(std::string_view text) {
  try {
    for (std::size_t pos = 0; pos < text.size();) next_code_point(text, pos);
    return true;
  } catch (const UnicodeError&) {
    return false;
  }
}

std::size_t length(std::string_view text) {
  std::size_t count = 0;
  for (std::size_t pos = 0; pos < text.size(); ++count) next_code_point(text, pos);
  return count;
}

std::string cut(std::string_view text, std::size_t count) {
  std::size_t pos = 0;
  for (std::size_t i = 0; i < count && pos < text.size(); ++i) next_code_point(text, pos);
  // The rest must still be valid text, so a bad tail is reported rather than hidden by the cut.
  for (std::size_t rest = pos; rest < text.size();) next_code_point(text, rest);
  return std::string(text.substr(0, pos));
}

bool is_alnum(char32_t c) {
  return is_alpha(c) || is_numeric(c);
}

bool is_word_char(char32_t c) {
  return c == U'_' || is_alnum(c);
}

bool is_alnum(std::string_view text) {
  if (text.empty()) return false;
  for (char32_t c : decode_utf8(text))
    if (!is_alnum(c)) return false;
  return true;
}

std::string to_lower(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char32_t c : decode_utf8(text)) {
    out += encode_utf8(simple_lower(c));
  }
  return out;
}

std::vector<std::string> splitlines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t at = pos;
    const char32_t c = next_code_point(text, pos);
    const bool is_break = c == U'\n' || c == U'\r' || c == U'\v' || c == U'\f' ||
                          (c >= 0x1c && c <= 0x1e) || c == 0x85 || c == 0x2028 || c == 0x2029;
    if (!is_break) continue;
    lines.emplace_back(text.substr(start, at - start));
    if (c == U'\r' && pos < text.size() && text[pos] == '\n') ++pos;
    start = pos;
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}

}  // namespace orvane::common
