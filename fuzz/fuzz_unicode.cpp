// Length, cut and line splitting agree with each other on any valid text, and reject bad text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "orvane/common/unicode.hpp"

using namespace orvane::common;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (!is_valid_utf8(text)) {
    try {
      length(text);
    } catch (const UnicodeError&) {
      return 0;
    }
    __builtin_trap();
  }
  const auto n = length(text);
  if (decode_utf8(text).size() != n) __builtin_trap();
  if (encode_utf8(decode_utf8(text)) != text) __builtin_trap();
  const auto half = cut(text, n / 2);
  if (length(half) != n / 2 || text.compare(0, half.size(), half) != 0) __builtin_trap();
  std::size_t joined = 0;
  for (const auto& line : splitlines(text)) joined += line.size();
  if (joined > text.size()) __builtin_trap();
  (void)to_lower(text);
  return 0;
}
