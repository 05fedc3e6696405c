// Free character-string utilities.
#include "common/strutils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace ascommon;

TEST(StrUtils, AsciiLowerChangesOnlyCapitals) {
  char text[] = "AZaz@[`{\xC9\xE9 MiXeD";
  AsciiLowerInPlace(text);
  EXPECT_STREQ(text, "azaz@[`{\xC9\xE9 mixed");
}

TEST(StrUtils, FindNoCase) {
  struct Case {
    const char* haystack;
    const char* needle;
    int position;  // -1: not found.
  } const cases[] = {
      {"Hello World", "WORLD", 6}, {"Hello World", "o w", 4}, {"abc", "", 0},
      {"abc", "abcd", -1},         {"aaab", "AAB", 1},       {"", "a", -1},
      {"\xC9t\xE9", "\xE9", 2},    {"\xC9t\xE9", "\xC9T", 0},
  };
  for (const Case& c : cases) {
    const char* hit = FindNoCase(c.haystack, c.needle);
    EXPECT_EQ(hit == nullptr ? -1 : static_cast<int>(hit - c.haystack), c.position)
        << c.haystack << " / " << c.needle;
  }
  EXPECT_EQ(FindNoCase(nullptr, "a"), nullptr);
  EXPECT_EQ(CompareNoCase("ABC", "abc"), 0);
  EXPECT_LT(CompareNoCase("abc", "ABD"), 0);
  EXPECT_GT(CompareNoCase("\xE9", "a"), 0);
}

TEST(StrUtils, BoundedComparesUseTheShorterLength) {
  EXPECT_EQ(CompareBytes("abc", 3, "abcdef", 6), 0);
  EXPECT_EQ(CompareBytes("abd", 3, "abc", 3), 1);
  EXPECT_EQ(CompareBytes("\x01", 1, "\xFF", 1), -1) << "unsigned bytes";
  EXPECT_EQ(CompareBytes("x", 0, "y", 1), 0);
  EXPECT_EQ(CompareUnits(u"ab", 2, u"abz", 3), 0);
  EXPECT_EQ(CompareUnits(u"\uFFFF", 1, u"a", 1), 1);
  EXPECT_EQ(CompareUnits(u"a", 1, u"b", 1), -1);
}

TEST(StrUtils, WideCaseInsensitiveCompares) {
  EXPECT_EQ(WideCompareNoCase(u"HeLLo", u"hello"), 0);
  EXPECT_LT(WideCompareNoCase(u"abc", u"ABD"), 0);
  EXPECT_LT(WideCompareNoCase(u"ab", u"abc"), 0);
  EXPECT_EQ(WideCompareNoCaseN(u"ABCx", u"abcy", 3), 0);
  EXPECT_GT(WideCompareNoCaseN(u"ABCy", u"abcx", 4), 0);
  EXPECT_EQ(WideCompareNoCaseN(u"ab", u"ABCD", 4), 0) << "stops at either terminator";
  EXPECT_EQ(WideToLower(0xD800), 0xD800);
  const char16_t* text = u"Some WORDS here";
  EXPECT_EQ(WideFindNoCase(text, u"words"), text + 5);
  EXPECT_EQ(WideFindNoCase(text, u"heres"), nullptr);
}

// Every token of text, through Tokenize or TokenizeWide.
template <class Char>
std::vector<std::basic_string<Char>> SplitAll(Char* (*tokenize)(Char*, const Char*, Char**),
                                              std::basic_string<Char> text, const Char* delimiters) {
  std::vector<std::basic_string<Char>> tokens;
  Char* context = nullptr;
  for (Char* token = tokenize(text.data(), delimiters, &context); token != nullptr;
       token = tokenize(nullptr, delimiters, &context)) {
    tokens.emplace_back(token);
  }
  return tokens;
}

TEST(StrUtils, Tokenizers) {
  using V = std::vector<std::string>;
  EXPECT_EQ(SplitAll(Tokenize, std::string(",,a,b;;c,"), ",;"), (V{"a", "b", "c"}));
  EXPECT_EQ(SplitAll(Tokenize, std::string(",,,"), ","), V{});
  EXPECT_EQ(SplitAll(TokenizeWide, std::u16string(u"  one two\tthree "), u" \t"),
            (std::vector<std::u16string>{u"one", u"two", u"three"}));

  // Two tokenisers interleaved keep independent positions.
  char first[] = "a b c";
  char second[] = "1,2";
  char* c1 = nullptr;
  char* c2 = nullptr;
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
  EXPECT_EQ(FindBytes(buffer.data(), buffer.size(), "", 0), nullptr);
  EXPECT_EQ(FindBytes(buffer.data(), 2, "abc", 3), nullptr);
  EXPECT_EQ(FindBytes(nullptr, 5, "a", 1), nullptr);

  // Random small-alphabet buffers against std::search.
  std::mt19937 random(7);
  for (int round = 0; round < 2000; ++round) {
    std::string hay(random() % 40, 'a');
    std::string pat(1 + random() % 4, 'a');
    for (char& c : hay) c = static_cast<char>('a' + random() % 3);
    for (char& c : pat) c = static_cast<char>('a' + random() % 3);
    const auto expected = std::search(hay.begin(), hay.end(), pat.begin(), pat.end());
    const unsigned char* hit = FindBytes(hay.data(), hay.size(), pat.data(), pat.size());
    const std::ptrdiff_t expectedPos = expected == hay.end() ? -1 : expected - hay.begin();
    const std::ptrdiff_t pos =
        hit == nullptr ? -1 : hit - reinterpret_cast<const unsigned char*>(hay.data());
    ASSERT_EQ(pos, expectedPos) << hay << " / " << pat;
  }
}

TEST(StrUtils, ParseWideDecimal) {
  struct Case {
    const char16_t* text;
    std::int64_t value;
  } const cases[] = {
      {u"0", 0},       {u"7", 7},    {u"00123", 123}, {u"12a", 0},   {u"", 0},
      {u"-1", 0},      {u" 1", 0},   {u"1 ", 0},      {nullptr, 0},  {u"\uFF11", 0},
      {u"9223372036854775807", INT64_MAX},             {u"9223372036854775808", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseWideDecimal(c.text), c.value);
}

}  // namespace
