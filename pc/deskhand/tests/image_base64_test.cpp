#include <gtest/gtest.h>

#include <string>

#include "image/image.hpp"

namespace orvane::pc::image {
namespace {

TEST(ImageBase64, EncodesTheRfc4648TestVectors) {
  EXPECT_EQ(base64_encode(""), "");
  EXPECT_EQ(base64_encode("f"), "Zg==");
  EXPECT_EQ(base64_encode("fo"), "Zm8=");
  EXPECT_EQ(base64_encode("foo"), "Zm9v");
  EXPECT_EQ(base64_encode("foob"), "Zm9vYg==");
  EXPECT_EQ(base64_encode("fooba"), "Zm9vYmE=");
  EXPECT_EQ(base64_encode("foobar"), "Zm9vYmFy");
}

TEST(ImageBase64, UsesTheStandardAlphabetWithoutLineBreaks) {
  // Bytes that map to the last two letters, and a long input that a MIME encoder would wrap.
  EXPECT_EQ(base64_encode(std::string("\xfb\xff\xbf", 3)), "+/+/");
  EXPECT_EQ(base64_encode(std::string("\0\0\0", 3)), "AAAA");
  const std::string long_text = base64_encode(std::string(300, '\xff'));
  EXPECT_EQ(long_text, std::string(400, '/'));
}

}  // namespace
}  // namespace orvane::pc::image
