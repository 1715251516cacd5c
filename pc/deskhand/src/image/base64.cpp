#include <cstdint>
#include <string>

#include "image/image.hpp"

namespace orvane::pc::image {

std::string base64_encode(std::string_view bytes) {
  static constexpr char ALPHABET[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out((bytes.size() + 2) / 3 * 4, '=');
  const auto* in = reinterpret_cast<const std::uint8_t*>(bytes.data());
  const std::size_t whole = bytes.size() / 3 * 3;
  char* o = out.data();
  for (std::size_t i = 0; i < whole; i += 3, o += 4) {
    const std::uint32_t v =
        (std::uint32_t{in[i]} << 16) | (std::uint32_t{in[i + 1]} << 8) | in[i + 2];
    o[0] = ALPHABET[v >> 18];
    o[1] = ALPHABET[(v >> 12) & 63];
    o[2] = ALPHABET[(v >> 6) & 63];
    o[3] = ALPHABET[v & 63];
  }
  const std::size_t rest = bytes.size() - whole;
  if (rest > 0) {
    std::uint32_t v = std::uint32_t{in[whole]} << 16;
    if (rest == 2) v |= std::uint32_t{in[whole + 1]} << 8;
    o[0] = ALPHABET[v >> 18];
    o[1] = ALPHABET[(v >> 12) & 63];
    if (rest == 2) o[2] = ALPHABET[(v >> 6) & 63];
  }
  return out;
}

}  // namespace orvane::pc::image
