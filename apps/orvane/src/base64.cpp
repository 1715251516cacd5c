#include "base64.hpp"

#include <array>
#include <cstdint>

namespace orvane::app {
namespace {

constexpr std::array<std::int8_t, 256> decoding_table() {
  std::array<std::int8_t, 256> table{};
  table.fill(-1);
  constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (int i = 0; i < 64; ++i) table[static_cast<unsigned char>(alphabet[i])] = std::int8_t(i);
  return table;
}

}  // namespace

std::optional<std::string> base64_decode(const std::string& text) {
  static constexpr auto TABLE = decoding_table();
  if (text.size() % 4 != 0 || text.size() > (1u << 30)) return std::nullopt;
  std::size_t padding = 0;
  if (!text.empty() && text.back() == '=') padding = text[text.size() - 2] == '=' ? 2 : 1;
  std::string bytes;
  bytes.reserve(text.size() / 4 * 3);
  for (std::size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    std::uint32_t group = 0;
    for (std::size_t k = 0; k < 4; ++k) {
      const char c = text[i + k];
      const bool pad = last && k >= 4 - padding;
      const std::int8_t value = pad ? 0 : TABLE[static_cast<unsigned char>(c)];
      if (value < 0 || (pad && c != '=')) return std::nullopt;
      group = group << 6 | std::uint32_t(value);
    }
    bytes += char(group >> 16);
    bytes += char(group >> 8 & 0xff);
    bytes += char(group & 0xff);
  }
  bytes.resize(bytes.size() - padding);
  return bytes;
}

}  // namespace orvane::app
