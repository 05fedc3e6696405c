// Free character-string utilities: ASCII folding of 8-bit text, Unicode letters and lower
// case of wide text, bounded comparisons, tokenisers, byte search, decimal parsing.
#include "common/strutils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace ascommon;

TEST(StrUtils, EightBitFoldingIsAsciiOnly) {
  char text[] = "AZaz@[`{\xC9\xE9 MiXeD";
  AsciiLowerInPlace(text);
  EXPECT_STREQ(text, "azaz@[`{\xC9\xE9 mixed");
  const struct {
    const char *haystack, *needle;
    int position;  // -1: not found.
  } cases[] = {{"Hello World", "WORLD", 6}, {"Hello World", "o w", 4}, {"abc", "", 0},
               {"abc", "abcd", -1},         {"aaab", "AAB", 1},       {"", "a", -1},
               {"\xC9t\xE9", "\xE9", 2},    {"\xC9t\xE9", "\xC9T", 0}};
  for (const auto& c : cases) {
    const char* hit = FindNoCase(c.haystack, c.needle);
    EXPECT_EQ(hit == nullptr ? -1 : static_cast<int>(hit - c.haystack), c.position) << c.needle;
  }
  EXPECT_EQ(FindNoCase(nullptr, "a"), nullptr);
  EXPECT_TRUE(CompareNoCase("ABC", "abc") == 0 && CompareNoCase("abc", "ABD") < 0 && CompareNoCase("\xE9", "a") > 0);
  EXPECT_TRUE(CompareBytes("abc", 3, "abcdef", 6) == 0 && CompareBytes("x", 0, "y", 1) == 0);
  EXPECT_EQ(CompareBytes("\x01", 1, "\xFF", 1), -1) << "unsigned bytes";
  EXPECT_TRUE(CompareUnits(u"ab", 2, u"abz", 3) == 0 && CompareUnits(u"\uFFFF", 1, u"a", 1) == 1);
}

// Letters and lower case come from Unicode whatever the process locale (tests run in "C").
TEST(StrUtils, UnicodeLettersAndLowerCase) {
  for (const char32_t* p = U"AzÉßЖжΣωאكب漢字ひカ가ᄀⅣ\U00020000\U00010400"; *p != 0; ++p)
    EXPECT_TRUE(IsLetter(*p)) << std::hex << unsigned{*p};
  for (const char32_t* p = U"09@ ×÷،٣。、\u0301\uFFFD\U0001F600\U000E0001"; *p != 0; ++p)
    EXPECT_FALSE(IsLetter(*p)) << std::hex << unsigned{*p};
  EXPECT_FALSE(IsLetter(0xD800) || IsLetter(0x110000));
  const struct {
    char32_t upper, lower;
  } cases[] = {{U'A', U'a'}, {U'a', U'a'}, {U'@', U'@'}, {0xC9, 0xE9}, {0x416, 0x436},
               {0x3A3, 0x3C3}, {0x3A9, 0x3C9}, {0x13A0, 0xAB70}, {0x130, U'i'}, {0x212A, U'k'},
               {0x1E9E, 0xDF}, {0x10400, 0x10428}, {0x1E900, 0x1E922}, {0x6F22, 0x6F22},
               {0xFF21, 0xFF41}, {0xD800, 0xD800}, {0x110000, 0x110000}};
  for (const auto& c : cases) {
    EXPECT_EQ(ToLower(c.upper), c.lower) << std::hex << unsigned{c.upper};
    EXPECT_EQ(c.upper < 0x10000 ? WideToLower(static_cast<char16_t>(c.upper)) : c.lower, c.lower);
  }
  std::u16string text = u"ÉTÉ ЖУК ΣΟΦΊΑ \U00010400\xD801|\xDC00Z";  // Pairs fold, halves stay.
  WideLowerInPlace(text.data(), text.size());
  EXPECT_EQ(text, u"été жук σοφία \U00010428\xD801|\xDC00z");
  EXPECT_TRUE(WideCompareNoCase(u"HeLLo ЖУК", u"hello жук") == 0 && WideCompareNoCase(u"abc", u"ABD") < 0);
  EXPECT_LT(WideCompareNoCase(u"ab", u"abc"), 0);
  EXPECT_TRUE(WideCompareNoCaseN(u"ΣΑx", u"σαy", 2) == 0 && WideCompareNoCaseN(u"ABCy", u"abcx", 4) > 0);
  EXPECT_EQ(WideCompareNoCaseN(u"ab", u"ABCD", 4), 0) << "stops at either terminator";
  const char16_t* haystack = u"Some WORDS Ωμέγα";
  EXPECT_TRUE(WideFindNoCase(haystack, u"words") == haystack + 5 && WideFindNoCase(haystack, u"ωΜΈ") == haystack + 11);
  EXPECT_EQ(WideFindNoCase(haystack, u"wordsx"), nullptr);
}

// Every token of text, through Tokenize or TokenizeWide.
template <class Char>
std::vector<std::basic_string<Char>> SplitAll(Char* (*tokenize)(Char*, const Char*, Char**),
                                              std::basic_string<Char> text, const Char* delimiters) {
  std::vector<std::basic_string<Char>> tokens;
  Char* context = nullptr;
  for (Char* t = tokenize(text.data(), delimiters, &context); t; t = tokenize(nullptr, delimiters, &context))
    tokens.emplace_back(t);
  return tokens;
}

TEST(StrUtils, Tokenizers) {
  using V = std::vector<std::string>;
  EXPECT_EQ(SplitAll(Tokenize, std::string(",,a,b;;c,"), ",;"), (V{"a", "b", "c"}));
  EXPECT_EQ(SplitAll(Tokenize, std::string(",,,"), ","), V{});
  EXPECT_EQ(SplitAll(TokenizeWide, std::u16string(u"  one two\tthree "), u" \t"),
            (std::vector<std::u16string>{u"one", u"two", u"three"}));
  // Two tokenisers interleaved keep independent positions.
  char first[] = "a b c", second[] = "1,2";
  char *c1 = nullptr, *c2 = nullptr;
  EXPECT_STREQ(Tokenize(first, " ", &c1), "a");
  EXPECT_STREQ(Tokenize(second, ",", &c2), "1");
  EXPECT_STREQ(Tokenize(nullptr, " ", &c1), "b");
  EXPECT_STREQ(Tokenize(nullptr, ",", &c2), "2");
  EXPECT_EQ(Tokenize(nullptr, ",", &c2), nullptr);
}

TEST(StrUtils, FindBytesMatchesNaiveSearch) {
  const std::string buffer("ab\0cab\0cd", 9);
  EXPECT_EQ(FindBytes(buffer.data(), buffer.size(), "\0cd", 3),
            reinterpret_cast<const unsigned char*>(buffer.data()) + 6);
  EXPECT_TRUE(!FindBytes(buffer.data(), buffer.size(), "", 0) && !FindBytes(buffer.data(), 2, "abc", 3) &&
              !FindBytes(nullptr, 5, "a", 1));
  std::mt19937 random(7);  // Random small-alphabet buffers against std::search.
  for (int round = 0; round < 2000; ++round) {
    std::string hay(random() % 40, 'a'), pat(1 + random() % 4, 'a');
    for (char& c : hay) c = static_cast<char>('a' + random() % 3);
    for (char& c : pat) c = static_cast<char>('a' + random() % 3);
    const auto expected = std::search(hay.begin(), hay.end(), pat.begin(), pat.end());
    const auto* hit = reinterpret_cast<const char*>(FindBytes(hay.data(), hay.size(), pat.data(), pat.size()));
    ASSERT_EQ(hit == nullptr ? -1 : hit - hay.data(), expected == hay.end() ? -1 : expected - hay.begin());
  }
}

TEST(StrUtils, ParseWideDecimal) {
  const struct {
    const char16_t* text;
    std::int64_t value;
  } cases[] = {{u"0", 0},  {u"7", 7},  {u"00123", 123}, {u"12a", 0},  {u"", 0},
               {u"-1", 0}, {u" 1", 0}, {u"1 ", 0},      {nullptr, 0}, {u"\uFF11", 0},
               {u"9223372036854775807", INT64_MAX},     {u"9223372036854775808", 0}};
  for (const auto& c : cases) EXPECT_EQ(ParseWideDecimal(c.text), c.value);
}

}  // namespace
