#pragma once
// Base64 decoding for reading image results back in tests.
#include <stdexcept>
#include <string>
#include <string_view>

namespace orvane::pc::testing {

inline std::string base64_decode(std::string_view text) {
  static constexpr std::string_view ALPHABET =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  if (text.size() % 4 != 0) throw std::invalid_argument("base64 length not a multiple of 4");
  std::string out;
  unsigned buffer = 0;
  int bits = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '=') {
      if (i + 2 < text.size()) throw std::invalid_argument("padding inside base64 text");
      continue;
    }
    const auto value = ALPHABET.find(text[i]);
    if (value == std::string_view::npos) throw std::invalid_argument("not a base64 character");
    buffer = (buffer << 6) | static_cast<unsigned>(value);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((buffer >> bits) & 0xff);
    }
  }
  return out;
}

}  // namespace orvane::pc::testing
