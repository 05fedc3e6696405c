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

template <class... Args>
std::string Fmt(const char* format, Args... args) {
  return Fmt(256, format, args...);
}

const char16_t kWide[] = u"caf\u00e9 \U0001F600";  // é: 2 bytes, the emoji: 4 bytes
const char kWideUtf8[] = "caf\xC3\xA9 \xF0\x9F\x98\x80";

TEST(FormatTest, Conversions) {
  int value = 0;
  char pointerText[32];
  std::snprintf(pointerText, sizeof(pointerText), "%p", static_cast<void*>(&value));
  const char16_t* nullWide = nullptr;
  const char* nullNarrow = nullptr;

  EXPECT_EQ(Fmt("[%5.2f|%-4s|%x %X %#o]", 3.14159, "ab", 255u, 255u, 8u), "[ 3.14|ab  |ff FF 010]");
  EXPECT_EQ(Fmt("%lld %llu %qd", -9000000000LL, 18000000000ULL, 5000000000LL),
            "-9000000000 18000000000 5000000000");
  EXPECT_EQ(Fmt("%jd %td %hhd %hd %ld", std::intmax_t{-9}, std::ptrdiff_t{-10}, 300, 70000, -5L),
            "-9 -10 44 4464 -5");
  EXPECT_EQ(Fmt("100%% %c", 'x'), "100% x");
  EXPECT_EQ(Fmt("%*d|%-*d|%.*f", 4, 7, 3, 1, 2, 1.0), "   7|1  |1.00");
  EXPECT_EQ(Fmt("%*d|", -3, 5), "5  |");
  EXPECT_EQ(Fmt("%p", static_cast<void*>(&value)), pointerText);
  EXPECT_EQ(Fmt("<%S|%ls>", kWide, kWide), std::string("<") + kWideUtf8 + "|" + kWideUtf8 + ">");
  EXPECT_EQ(Fmt("[%6S|%-6S]", u"ab", u"cd"), "[    ab|cd    ]");
  EXPECT_EQ(Fmt("%s %S", nullNarrow, nullWide), "(null) (null)");
  EXPECT_EQ(Fmt("%d%", 1), "1%");          // unfinished directive copied
  EXPECT_EQ(Fmt("%y %d", 1), "%y 1");      // unknown conversion takes no argument
  EXPECT_EQ(Fmt("%S", u"a\xD800z"), "a\xEF\xBF\xBDz");  // lone surrogate -> U+FFFD
}

TEST(FormatTest, MixedArgumentsStayInStep) {
  // A wrong fetch size on any argument would shift every later one.
  EXPECT_EQ(Fmt("%hhd %Lf %lld %S %c %zu %s %.1f", 1, 2.0L, 3LL, u"4", '5', std::size_t{6},
                "7", 8.0),
            "1 2.000000 3 4 5 6 7 8.0");
}

TEST(FormatTest, Bounds) {
  EXPECT_EQ(Fmt(1, "abc"), "");
  EXPECT_EQ(Fmt(4, "abcdef"), "abc");
  EXPECT_EQ(Fmt(4, "%d", 123456), "123");
  EXPECT_EQ(Fmt(6, "ab%sgh", "cdef"), "abcde");
  EXPECT_EQ(Fmt(6, "%s!%d", "abcdefgh", 1), "abcde");  // nothing after a cut
  EXPECT_EQ(Fmt(8, "%10d", 5), "       ");
  EXPECT_EQ(Fmt(4, "%d%%", 123), "123");
  EXPECT_EQ(Fmt(64, "%.500f", 1.0).size(), 63u);
}

TEST(FormatTest, WideTextIsNeverCutInsideASequence) {
  // "caf" 3 bytes, é ends at 5, blank at 6, the emoji ends at 10.
  const struct {
    std::size_t size;
    std::size_t expectedBytes;
  } cases[] = {{4, 3}, {5, 3}, {6, 5}, {7, 6}, {8, 6}, {10, 6}, {11, 10}};
  for (const auto& c : cases) {
    EXPECT_EQ(Fmt(c.size, "%S", kWide), std::string(kWideUtf8, c.expectedBytes))
        << "size " << c.size;
  }
  // Precision caps the bytes, again at a sequence boundary.
  EXPECT_EQ(Fmt("%.4S|", kWide), "caf|");
  EXPECT_EQ(Fmt("%.5S|", kWide), "caf\xC3\xA9|");
  EXPECT_EQ(Fmt("%.9S|", kWide), "caf\xC3\xA9 |");
}

TEST(FormatTest, DegenerateArguments) {
  char buffer[4] = "xyz";
  EXPECT_EQ(Format(buffer, sizeof(buffer), nullptr), 0u);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(Format(nullptr, 10, "abc"), 0u);
  buffer[0] = 'q';
  EXPECT_EQ(Format(buffer, 0, "abc"), 0u);
  EXPECT_EQ(buffer[0], 'q');
}

}  // namespace
