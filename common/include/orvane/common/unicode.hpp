#pragma once
// Unicode text helpers on UTF-8: lengths and cuts count code points, never bytes.
#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace orvane::common {

// Raised for text that is not valid UTF-8; the message gives the byte offset.
class UnicodeError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

std::u32string decode_utf8(std::string_view text);
// The byte length of the well-formed sequence at `pos`, with its code point in `code`; 0 when the
// bytes there are not one (`pos` must be inside `text`).
std::size_t decode_utf8_at(std::string_view text, std::size_t pos, char32_t& code);
std::string encode_utf8(std::u32string_view text);
std::string encode_utf8(char32_t code_point);
bool is_valid_utf8(std::string_view text);
// Python's bytes.decode("utf-8", "replace"): every maximal ill-formed sequence becomes U+FFFD;
// valid text comes back unchanged.
std::string replace_invalid_utf8(std::string_view text);

// Number of code points.
std::size_t length(std::string_view text);
// The first `count` code points (the whole text when it is shorter).
std::string cut(std::string_view text, std::size_t count);

// Tests by Unicode general category, as Python's str methods define them.
bool is_alpha(char32_t c);    // L*
bool is_numeric(char32_t c);  // Nd, Nl, No
bool is_alnum(char32_t c);
bool is_word_char(char32_t c);  // regex \w: alphanumeric or "_"
bool is_space(char32_t c);      // str.isspace
// str.isalnum(): non-empty and every code point alphanumeric.
bool is_alnum(std::string_view text);

// Lower case of every code point (simple case mapping).
std::string to_lower(std::string_view text);

// str.splitlines(): breaks at \n, \r\n, \r, \v, \f, \x1c-\x1e, U+0085, U+2028, U+2029;
// the breaks are dropped and a final break makes no empty last line.
std::vector<std::string> splitlines(std::string_view text);

}  // namespace orvane::common
