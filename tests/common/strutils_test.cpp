// Free character-string utilities: ASCII folding of 8-bit text, Unicode letters and lower
// case of wide text, comparisons, the tokeniser.
#include "common/strutils.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

using namespace ascommon;

TEST(StrUtils, EightBitFoldingIsAsciiOnly) {
  const struct {
    const char *haystack, *needle;
    int position;  // -1: not found.
  } cases[] = {{"Hello World", "WORLD", 6}, {"abc", "", 0}, {"abc", "abcd", -1}, {"aaab", "AAB", 1},
               {"\xC9t\xE9", "\xE9", 2}};
  for (const auto& c : cases) {
    const char* hit = FindNoCase(c.haystack, c.needle);
    EXPECT_EQ(hit == nullptr ? -1 : static_cast<int>(hit - c.haystack), c.position) << c.needle;
  }
  EXPECT_EQ(FindNoCase(nullptr, "a"), nullptr);
  EXPECT_TRUE(CompareNoCase("ABC", "abc") == 0 && CompareNoCase("abc", "ABD") < 0 && CompareNoCase("\xE9", "a") > 0);
  EXPECT_EQ(CompareBytes("\x01", 1, "\xFF", 1), -1) << "unsigned bytes";
}

// Letters and lower case come from Unicode whatever the process locale (tests run in "C").
TEST(StrUtils, UnicodeLettersAndLowerCase) {
  for (const char32_t* p = U"AzÉßЖжΣωאكب漢字ひカ가ᄀⅣ\U00020000\U00010400"; *p != 0; ++p)
    EXPECT_TRUE(IsLetter(*p)) << std::hex << unsigned{*p};
  for (const char32_t* p = U"09@ ×÷،٣。、\u0301\uFFFD\U0001F600\U000E0001"; *p != 0; ++p)
    EXPECT_FALSE(IsLetter(*p)) << std::hex << unsigned{*p};
  EXPECT_FALSE(IsLetter(0xD800) || IsLetter(0x110000));
  const struct { char32_t upper, lower; } cases[] = {
      {U'A', U'a'}, {U'@', U'@'}, {0xC9, 0xE9}, {0x416, 0x436}, {0x3A3, 0x3C3}, {0x13A0, 0xAB70},
      {0x130, U'i'}, {0x212A, U'k'}, {0x10400, 0x10428}, {0x6F22, 0x6F22}, {0xD800, 0xD800}, {0x110000, 0x110000}};
  for (const auto& c : cases) {
    EXPECT_EQ(ToLower(c.upper), c.lower) << std::hex << unsigned{c.upper};
    EXPECT_EQ(c.upper < 0x10000 ? WideToLower(static_cast<char16_t>(c.upper)) : c.lower, c.lower);
  }
  std::u16string text = u"ÉTÉ ЖУК ΣΟΦΊΑ \U00010400\xD801|\xDC00Z";  // Pairs fold, halves stay.
  WideLowerInPlace(text.data(), text.size());
  EXPECT_EQ(text, u"été жук σοφία \U00010428\xD801|\xDC00z");
}

TEST(StrUtils, TokenizersKeepTheirOwnPositions) {
  char first[] = ",,a b;c,", second[] = "1,2";
  char *c1 = nullptr, *c2 = nullptr;
  EXPECT_STREQ(Tokenize(first, " ,;", &c1), "a");
  EXPECT_STREQ(Tokenize(second, ",", &c2), "1");
  EXPECT_STREQ(Tokenize(nullptr, " ,;", &c1), "b");
  EXPECT_STREQ(Tokenize(nullptr, ",", &c2), "2");
  EXPECT_STREQ(Tokenize(nullptr, " ,;", &c1), "c");
  EXPECT_TRUE(Tokenize(nullptr, ",", &c2) == nullptr && Tokenize(nullptr, " ,;", &c1) == nullptr);
}

}  // namespace
