#include "orvane/common/unicode.hpp"

#include <gtest/gtest.h>

using namespace orvane::common;

TEST(UnicodeText, LengthAndCutCountCodePointsNotBytes) {
  EXPECT_EQ(length(""), 0u);
  EXPECT_EQ(length("h\xc3\xa9llo"), 5u);       // é is two bytes
  EXPECT_EQ(length("\xf0\x9f\x98\x80x"), 2u);  // beyond the BMP: one code point
  EXPECT_EQ(cut("h\xc3\xa9llo", 2), "h\xc3\xa9");
  EXPECT_EQ(cut("\xf0\x9f\x98\x80\xf0\x9f\x98\x81", 1), "\xf0\x9f\x98\x80");
  EXPECT_EQ(cut("abc", 10), "abc");
  EXPECT_EQ(cut("abc", 0), "");
}

TEST(UnicodeText, InvalidUtf8IsAClearErrorNeverAWrongCount) {
  for (std::string bad : {std::string("\xff"), std::string("a\xc3"), std::string("\xed\xa0\x80"),
                          std::string("\xc0\xaf"), std::string("ok\x80")}) {
    EXPECT_THROW(length(bad), UnicodeError) << bad;
    EXPECT_THROW(cut(bad, 1), UnicodeError) << bad;
    EXPECT_THROW(decode_utf8(bad), UnicodeError) << bad;
    EXPECT_FALSE(is_valid_utf8(bad));
  }
  try {
    length("ab\xff");
    FAIL();
  } catch (const UnicodeError& e) {
    EXPECT_NE(std::string(e.what()).find("byte 2"), std::string::npos) << e.what();
  }
}

TEST(UnicodeText, CategoriesFollowPythonStrMethods) {
  EXPECT_TRUE(
      is_alnum("\xc3\xbc"
               "ber1"));  // über1
  EXPECT_FALSE(
      is_alnum("\xc3\xbc"
               "ber_1"));  // "_" is a word character but not alphanumeric
  EXPECT_FALSE(is_alnum("a-b"));
  EXPECT_FALSE(is_alnum(""));
  EXPECT_TRUE(is_alnum("\xd9\xa3"));      // Arabic-Indic digit three
  EXPECT_TRUE(is_alnum("\xe2\x85\xa2"));  // Roman numeral three (Nl)
  EXPECT_TRUE(is_word_char(U'_'));
  EXPECT_TRUE(is_word_char(U'\u00fc'));
  EXPECT_FALSE(is_word_char(U'-'));
  EXPECT_TRUE(is_space(U'\u3000'));
  EXPECT_TRUE(is_space(U'\x1c'));
  EXPECT_FALSE(is_space(U'\u200b'));
}

TEST(UnicodeText, LowerCasesBeyondAscii) {
  EXPECT_EQ(to_lower("\xc3\x9c"
                     "BER \xce\xa3"),
            "\xc3\xbc"
            "ber \xcf\x83");  // ÜBER Σ
  EXPECT_EQ(to_lower("abc-123"), "abc-123");
}

TEST(UnicodeText, SplitlinesBreaksWherePythonDoes) {
  using V = std::vector<std::string>;
  EXPECT_EQ(splitlines(""), V{});
  EXPECT_EQ(splitlines("a\nb\r\nc\rd"), (V{"a", "b", "c", "d"}));
  EXPECT_EQ(splitlines("a\n"), V{"a"});
  EXPECT_EQ(splitlines("a\n\nb"), (V{"a", "", "b"}));
  EXPECT_EQ(splitlines("a\vb\fc\x1c"
                       "d\x1d"
                       "e\x1e"
                       "f"),
            (V{"a", "b", "c", "d", "e", "f"}));
  EXPECT_EQ(splitlines("a\xc2\x85"
                       "b\xe2\x80\xa8"
                       "c\xe2\x80\xa9"
                       "d"),
            (V{"a", "b", "c", "d"}));
  EXPECT_EQ(splitlines("a\r\r\nb"), (V{"a", "", "b"}));
  EXPECT_EQ(splitlines("x\x1f"
                       "y"),
            V{"x\x1fy"});  // unit separator is not a line break
}

TEST(UnicodeText, InvalidBytesAreReplacedAsPythonDecodesWithReplace) {
  const std::string fffd = "\xef\xbf\xbd";
  EXPECT_EQ(replace_invalid_utf8("a\xff"
                                 "b"),
            "a" + fffd + "b");
  EXPECT_EQ(replace_invalid_utf8("\xe2\x82"), fffd);                    // truncated: one
  EXPECT_EQ(replace_invalid_utf8("\xed\xa0\x80"), fffd + fffd + fffd);  // surrogate: three
  EXPECT_EQ(replace_invalid_utf8("\xf0\x9f\x98x"), fffd + "x");
  EXPECT_EQ(replace_invalid_utf8("\xc0\xaf"), fffd + fffd);
  EXPECT_EQ(replace_invalid_utf8("\xf4\x90\x80\x80"), fffd + fffd + fffd + fffd);
  EXPECT_EQ(replace_invalid_utf8("ok \xc3\xa9"), "ok \xc3\xa9");
}
