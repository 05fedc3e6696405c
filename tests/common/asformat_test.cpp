// Format: the printf conversions the tracing uses, wide text as UTF-8, and the bound (never
// written past, never cut inside a UTF-8 sequence).
#include "common/asformat.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

using ascommon::Format;

template <class... Args>
std::string Fmt(std::size_t size, const char* format, Args... args) {
  std::string buffer(size + 8, '#');
  std::size_t n = Format(buffer.data(), size, format, args...);
  EXPECT_LT(n, size);
  EXPECT_EQ(buffer[n], '\0') << "not terminated";
  EXPECT_EQ(buffer[size], '#') << "wrote past the bound";
  return buffer.substr(0, n);
}

const char16_t kWide[] = u"caf\u00e9 \U0001F600";  // é: 2 bytes, the emoji: 4 bytes
const char kWideUtf8[] = "caf\xC3\xA9 \xF0\x9F\x98\x80";

TEST(FormatTest, Conversions) {
  const char16_t* nullWide = nullptr;
  const char* nullNarrow = nullptr;
  const struct { std::string got, expected; } cases[] = {
      {Fmt(256, "[%5.2f|%-4s|%x %X %#o]", 3.14159, "ab", 255u, 255u, 8u), "[ 3.14|ab  |ff FF 010]"},
      {Fmt(256, "%lld %qd %jd %td", -9000000000LL, 5000000000LL, std::intmax_t{-9}, std::ptrdiff_t{-10}),
       "-9000000000 5000000000 -9 -10"},
      {Fmt(256, "%hhd %hd %ld %c 100%%", 300, 70000, -5L, 'x'), "44 4464 -5 x 100%"},
      {Fmt(256, "%*d|%-*d|%.*f|%*d|", 4, 7, 3, 1, 2, 1.0, -3, 5), "   7|1  |1.00|5  |"},
      {Fmt(256, "<%S|%ls>", kWide, kWide), std::string("<") + kWideUtf8 + "|" + kWideUtf8 + ">"},
      {Fmt(256, "%s %S", nullNarrow, nullWide), "(null) (null)"},
      {Fmt(256, "%y %d%", 1), "%y 1%"},  // unknown conversion takes no argument; unfinished copied
      {Fmt(256, "%S", u"a\xD800z"), "a\xEF\xBF\xBDz"},       // lone surrogate -> U+FFFD
      // A wrong fetch size on any argument would shift every later one.
      {Fmt(256, "%hhd %Lf %lld %S %c %zu %s %.1f", 1, 2.0L, 3LL, u"4", '5', std::size_t{6}, "7", 8.0),
       "1 2.000000 3 4 5 6 7 8.0"},
      // The bound: nothing after a cut.
      {Fmt(1, "abc"), ""}, {Fmt(4, "%d", 123456), "123"}, {Fmt(6, "%s!%d", "abcdefgh", 1), "abcde"},
      {Fmt(8, "%10d", 5), "       "}, {std::to_string(Fmt(64, "%.500f", 1.0).size()), "63"},
      // Precision caps the bytes of wide text at a sequence boundary.
      {Fmt(256, "%.4S|%.5S|%.9S|", kWide, kWide, kWide), "caf|caf\xC3\xA9|caf\xC3\xA9 |"},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(cases[i].got, cases[i].expected) << i;
}

TEST(FormatTest, WideTextIsNeverCutInsideASequence) {
  // "caf" 3 bytes, é ends at 5, blank at 6, the emoji ends at 10.
  const std::size_t expectedBytes[] = {0, 0, 1, 2, 3, 3, 5, 6, 6, 6, 6, 10};  // by size
  for (std::size_t size = 1; size < std::size(expectedBytes); ++size)
    EXPECT_EQ(Fmt(size, "%S", kWide), std::string(kWideUtf8, expectedBytes[size])) << size;
  char buffer[4] = "xyz";
  EXPECT_TRUE(Format(buffer, sizeof(buffer), nullptr) == 0u && buffer[0] == 0);
  EXPECT_TRUE(Format(nullptr, 10, "abc") == 0u && Format(buffer, 0, "abc") == 0u);
}

}  // namespace
