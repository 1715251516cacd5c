#include "base64.hpp"

#include <openssl/evp.h>

namespace orvane::app {

std::optional<std::string> base64_decode(const std::string& text) {
  if (text.size() % 4 != 0 || text.size() > (1u << 30)) return std::nullopt;
  std::string bytes(text.size() / 4 * 3, '\0');
  const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(bytes.data()),
                                reinterpret_cast<const unsigned char*>(text.data()),
                                static_cast<int>(text.size()));
  if (n < 0) return std::nullopt;
  // EVP_DecodeBlock counts the padding as zero bytes.
  std::size_t padding = 0;
  if (!text.empty() && text.back() == '=') padding = text[text.size() - 2] == '=' ? 2 : 1;
  bytes.resize(static_cast<std::size_t>(n) - padding);
  return bytes;
}

}  // namespace orvane::app
