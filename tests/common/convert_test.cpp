// Strict UTF-8 <-> UTF-16 conversion and UTF-8 lower-casing.
#include "common/convert.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <string>
#include <utility>

#include "asfn/asfn.h"
#include "common/ustring.h"
#include "support/locale_scope.h"
#include "support/trace_capture.h"

namespace {

using ascommon::sstring;
using ascommon::usstring;
using zztest::LocaleScope;

// Status and the units (bytes) produced, before an error if any.
using Decoded = std::pair<std::int32_t, std::u16string>;
using Encoded = std::pair<std::int32_t, std::string>;
Decoded Decode(const std::string& bytes) {
  char16_t out[64];
  std::size_t produced = 0;
  const std::int32_t status = ascommon::Utf8ToUtf16(bytes.data(), bytes.size(), out, 64, produced);
  return {status, std::u16string(out, produced)};
}
Encoded Encode(const std::u16string& units, std::size_t capacity = 64) {
  char out[64];
  std::size_t produced = 0;
  const std::int32_t status =
      ascommon::WideToUtf8(units.data(), units.size(), out, capacity, produced);
  return {status, std::string(out, produced)};
}

TEST(Utf8Decode, IllFormedSequencesStopWithTheirStatus) {
  const struct { const char* name; std::string input; std::int32_t status; std::u16string units; } cases[] = {
      {"overlong 2 C1", "\xC1\xBF", -50, u""},          {"overlong 3", "\xE0\x80\xAF", -50, u""},
      {"overlong 4", "x\xF0\x80\x80\xAF", -50, u"x"}, {"surrogate", "\xED\xA0\x80", -50, u""},
      {"above 10FFFF", "\xF4\x90\x80\x80", -50, u""}, {"stray continuation", "ab\x80", -50, u"ab"},
      {"bad continuation", "\xC3\x41", -50, u""},    {"truncated 4", "\xF0\x9F\x98", -51, u""},
      // The input is judged too short before the bytes of a cut sequence are looked at.
      {"cut, bad byte", "ab\xE2\x41", -51, u"ab"},    {"cut F8", "\xF8\x80\x80", -51, u""},
      {"whole F8", "\xF8\x80\x80\x80\x80", -50, u""},
  };
  for (const auto& c : cases) EXPECT_EQ(Decode(c.input), (Decoded{c.status, c.units})) << c.name;
  // A full target is reported; a pair needs both units of room.
  char16_t out[2];
  std::size_t produced = 0;
  EXPECT_TRUE(ascommon::Utf8ToUtf16("abc", 3, out, 2, produced) == -51 && produced == 2u);
  EXPECT_TRUE(ascommon::Utf8ToUtf16("a\xF0\x9F\x98\x80", 5, out, 2, produced) == -51 && produced == 1u);
}

TEST(Utf8Encode, SurrogatesAreStrict) {
  const struct { const char* name; std::u16string input; std::int32_t status; std::string bytes; } cases[] = {
      {"lone low", u"a\xDC00", -50, "a"},     {"high then letter", u"\xD800z", -50, ""},
      {"two highs", u"\xD800\xD800", -50, ""}, {"high at the end", u"ab\xD83D", -51, "ab"},
  };
  for (const auto& c : cases) EXPECT_EQ(Encode(c.input), (Encoded{c.status, c.bytes})) << c.name;
  EXPECT_EQ(Encode(u"\u20AC", 2).first, -51) << "no room for three bytes";
  // A null output computes the reservation bound: 3 bytes per unit at most.
  std::size_t produced = 0;
  const std::u16string text = u"a\u00E9\u20AC\U0001F600";
  EXPECT_TRUE(ascommon::WideToUtf8(text.data(), text.size(), nullptr, 0, produced) == 0 && produced == 12u);
  EXPECT_EQ(ascommon::Utf8LengthBound(text.data(), text.size()), produced);
}

// Every scalar value survives UTF-16 -> UTF-8 -> UTF-16 with the expected byte length.
TEST(Utf8RoundTrip, AllScalarValues) {
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    const std::u16string units = c > 0xFFFF ? std::u16string{static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)),
                                                              static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF))}
                                            : std::u16string(1, static_cast<char16_t>(c));
    const Encoded e = Encode(units);
    const std::size_t expected = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
    ASSERT_TRUE(e.first == 0 && e.second.size() == expected) << std::hex << std::uint32_t(c);
    ASSERT_EQ(Decode(e.second), (Decoded{0, units})) << std::hex << std::uint32_t(c);
  }
}

// The locale conversions run through sstring and usstring in ustring_test.
TEST(StringConversion, PrefixesAndAllocationFailure) {
  sstring narrow;
  EXPECT_TRUE(ascommon::UsstringToUtf8(usstring(u"ok\xDC00"), narrow) == -50 && std::string(narrow.c_str()) == "ok");

  usstring wide;
  EXPECT_TRUE(ascommon::Utf8ToUsstring("ab\xC3", 3, wide) == -51 && std::u16string(wide.c_str()) == u"ab");
  EXPECT_EQ(ascommon::Utf8ToUsstring(nullptr, 3, wide), -1);

  const std::int64_t live = asfn_live_blocks();
  {
    usstring kept(u"kept");
    const sstring source("abc");
    asfn_fail_at(1, ASFN_FAIL_ONCE);
    const std::int32_t status = ascommon::Utf8ToUsstring(source, kept);
    asfn_fail_at(0, ASFN_FAIL_OFF);
    EXPECT_TRUE(status == -2 && std::u16string(kept.c_str()) == u"kept");
  }
  EXPECT_EQ(asfn_live_blocks(), live);
}

TEST(Utf8Lower, LowerCasesThroughWideTextAndRefusesInvalidInput) {
  LocaleScope locale("C.UTF-8");
  ASSERT_TRUE(locale.ok());
  sstring out;
  EXPECT_EQ(ascommon::Utf8Lower(sstring("\xC3\x80" "BC \xC3\x89t\xC3\xA9 \xD0\x96 \xF0\x9F\x98\x80"),
                                out), 0);
  EXPECT_STREQ(out.c_str(), "\xC3\xA0" "bc \xC3\xA9t\xC3\xA9 \xD0\xB6 \xF0\x9F\x98\x80");
  EXPECT_TRUE(ascommon::Utf8Lower(sstring("AB\xC3"), out) == -51 && std::string(out.c_str()) == "ab") << "cut short";
  zztest::TraceCapture capture;
  out.assign("untouched");
  EXPECT_TRUE(ascommon::Utf8Lower(sstring("A\xC0\xAF"), out) == -50 && std::string(out.c_str()) == "untouched");
  EXPECT_EQ(capture.Count("-could not convert from UTF-8 to UCS: invalid input\n"), 1);
}

}  // namespace
