// sstring and usstring: the inline-buffer boundary, null-string semantics, hashing,
// allocation failure and the locale conversions.
#include "common/ustring.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>

#include "asfn/asfn.h"
#include "common/asexception.h"
#include "support/locale_scope.h"
#include "support/trace_capture.h"

namespace {

using ascommon::sstring;
using ascommon::usstring;
using zztest::LocaleScope;

// Fails the test when a string leaked a block.
class StringTest : public ::testing::Test {
 protected:
  void TearDown() override {
    asfn_fail_at(0, ASFN_FAIL_OFF);
    EXPECT_EQ(asfn_live_blocks(), m_live) << "a string leaked a block";
  }
  static void FailNext() { asfn_fail_at(1, ASFN_FAIL_ONCE); }
  // Allocations made since the previous call (or the start of the test).
  std::uint64_t Allocations() { return asfn_allocation_count() - std::exchange(m_count, asfn_allocation_count()); }

  std::int64_t m_live = asfn_live_blocks();
  std::uint64_t m_count = asfn_allocation_count();
};

std::u16string Units(const usstring& s) { return s.is_null() ? u"<null>" : s.c_str(); }

TEST_F(StringTest, InlineBufferHoldsUpTo22Characters) {
  for (std::size_t length : {0u, 1u, 22u, 23u, 100u}) {
    const std::string text(length, 'q');
    Allocations();
    const sstring s(text.c_str());
    EXPECT_TRUE(Allocations() == (length < 23 ? 0u : 1u) && s.length() == length &&
                s.capacity() == length + 1 && text == s.c_str()) << length;
  }
  // Appending crosses the same boundary; a self-append reads the old block before freeing it.
  sstring s("0123456789");
  Allocations();
  EXPECT_TRUE(s.append("0123456789ab") == 0 && Allocations() == 0u);
  EXPECT_TRUE(s.append("c") == 0 && Allocations() == 1u && s.capacity() == 24u);
  EXPECT_EQ(s.append(s), 0);
  EXPECT_EQ(std::string(s.c_str()), "01234567890123456789abc01234567890123456789abc");
  const sstring counted("ab\0cd", 5);  // copies 5 bytes, the length stops at the zero
  EXPECT_TRUE(counted.length() == 2u && counted.capacity() == 6u);
}

// fill(n, 0) reserves n zero bytes of length 0 for a conversion to write into; copies keep
// the source's capacity and the ignore-case flag.
TEST_F(StringTest, FillReservesAndCopiesKeepCapacity) {
  sstring s;
  EXPECT_TRUE(s.fill(5, '\0') == 0 && Allocations() == 0u && s.capacity() == 5u && s.length() == 0u);
  EXPECT_EQ(std::memcmp(s.c_str(), "\0\0\0\0\0", 5), 0);
  EXPECT_TRUE(s.fill(3, 'x') == 0 && s.fill(0, 'y') == 0);
  EXPECT_STREQ(s.c_str(), "xxx") << "count 0 does nothing";
  EXPECT_EQ(s.fill(30, '\0'), 0);
  EXPECT_EQ(sstring(s).capacity(), 30u);
  usstring u(u"Mixed"), other;
  u.set_ignore_case(true);
  other = u;
  EXPECT_TRUE(other.ignore_case());
}

TEST_F(StringTest, NullStringComparisons) {
  const sstring null1, null2, abc("abc");
  EXPECT_TRUE(null1 == null1) << "the same object is equal to itself";
  EXPECT_FALSE(null1 == null2 || null1 != null2 || null1 < null2);
  EXPECT_TRUE(null1 != abc && abc != null1);
  EXPECT_TRUE(null1 < abc && abc < null1) << "a null string sorts first in either order";
  const usstring unull1, unull2, uabc(u"abc");
  EXPECT_FALSE(unull1 == unull2 || unull1 != unull2);
  EXPECT_TRUE(unull1 < uabc && uabc < unull1);
  EXPECT_FALSE(uabc > unull1 || unull1 > uabc);
}

TEST_F(StringTest, OrderIsUnsignedAndIgnoreCaseFollowsTheLeftOperand) {
  EXPECT_TRUE(sstring("ab") < sstring("abc"));
  EXPECT_TRUE(sstring("z") < sstring("\xE9"));
  EXPECT_TRUE(usstring(u"\u00E9") > usstring(u"z"));
  const sstring abc("abc");
  EXPECT_TRUE(sstring().compare("abc") == -3 && abc.compare(nullptr) == -2);
  EXPECT_TRUE(abc.compare("abd") == -1 && abc.compare("ABC") == 1 && abc.compare("ABC", true) == 0);
  // Wide ignore-case folds by Unicode: Cyrillic and Greek as well as ASCII.
  usstring upper(u"ABC ЖУК ΣΟΦΊΑ");
  const usstring lower(u"abc жук σοφία");
  upper.set_ignore_case(true);
  EXPECT_TRUE(upper == lower);
  EXPECT_FALSE(lower == upper) << "the flag on the right operand has no effect";
  EXPECT_FALSE(upper < lower);
  EXPECT_TRUE(lower > upper);  // 'a' > 'A' unit-wise
}

TEST_F(StringTest, Searches) {
  const sstring s("Hello, hello world");
  std::size_t pos = 99;
  EXPECT_TRUE(s.find("hello", pos) && pos == 7u);
  EXPECT_TRUE(s.find_nocase("HELLO", pos) && pos == 0u);
  EXPECT_TRUE(s.rfind('o', pos) && pos == 14u);
  EXPECT_FALSE(s.find("absent", pos));
  EXPECT_EQ(pos, 14u) << "a failed search leaves pos alone";
  EXPECT_TRUE(usstring(u"Straße STRASSE").find_nocase(u"sse", pos) && pos == 11u);
  EXPECT_TRUE(usstring(u"Книга ΚΑΛΗ").find_nocase(u"нига καλ", pos) && pos == 1u);
}

TEST_F(StringTest, ConcatenationAndWideAppend) {
  EXPECT_TRUE((sstring() + sstring()).is_null() && !(sstring("") + sstring("")).is_null());
  EXPECT_STREQ((sstring() + sstring("ab")).c_str(), "ab");
  EXPECT_EQ((sstring(std::string(20, 'l').c_str()) + sstring("rrrrr")).capacity(), 26u);

  usstring u(u"xy");
  EXPECT_EQ(u.append(u"abc", 10), -50) << "a count beyond the text changes nothing";
  EXPECT_TRUE(Units(u) == u"xy" && u.status() == 0);
  EXPECT_TRUE(u.append(u"abc", 2) == 0 && u.append(u"!") == 0 && u.append(u) == 0);
  EXPECT_EQ(Units(u), u"xyab!xyab!");
}

TEST_F(StringTest, HashValues) {
  // 5381 -> (5381*33)^'a' = 177604 -> (177604*33)^'b' = 5860902 -> (5860902*33)^'c'.
  EXPECT_TRUE(sstring("abc").hash() == 0x0B873285u && usstring(u"abc").hash() == 0x0B873285u);
  // 0xE9 sign-extends to 0xFFFFFFE9 in the 8-bit string; U+00E9 stays 0xE9.
  EXPECT_TRUE(sstring("\xE9").hash() == 0xFFFD4A4Cu && usstring(u"\u00E9").hash() == 0x0002B54Cu);
  EXPECT_TRUE(sstring().hash() == 0u && usstring(u"").hash() == 0u);
}

// Each operation's one allocation fails: the old content stays and status() says -2.
TEST_F(StringTest, AllocationFailureKeepsOldContent) {
  const std::string longText(40, 'L');
  sstring s("old");
  FailNext();
  EXPECT_EQ(s.assign(longText.c_str()), -2);
  EXPECT_TRUE(std::string(s.c_str()) == "old" && s.status() == -2);
  EXPECT_EQ(s.assign(longText.c_str()), 0);
  EXPECT_EQ(s.status(), 0) << "a later success clears the status";
  FailNext();
  EXPECT_TRUE(s.append("more") == -2 && std::string(s.c_str()) == longText);
  sstring target("kept");
  FailNext();
  target = s;
  EXPECT_TRUE(std::string(target.c_str()) == "kept" && target.status() == -2);
  FailNext();
  const sstring copy(s);
  EXPECT_TRUE(copy.is_null() && copy.status() == -2);
  usstring u(u"old");
  FailNext();
  EXPECT_TRUE(u.append(u"more") == -2 && Units(u) == u"old" && u.status() == -2);
}

TEST_F(StringTest, ToSstringFailureTracesAndThrows) {
  // Not representable in the C locale; an unpaired surrogate.
  for (const auto& [name, text] : {std::pair{"C", u"caf\u00E9"}, std::pair{"C.UTF-8", u"a\xD800z"}}) {
    LocaleScope locale(name);
    ASSERT_TRUE(locale.ok()) << name;
    zztest::TraceCapture capture;
    try {
      (void)usstring(text).to_sstring();
      ADD_FAILURE() << "no exception in " << name;
    } catch (const ASException& e) {
      EXPECT_STREQ(e.what(), "ASException - MESSAGE: conversion failed");
    }
    const auto lines = capture.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].level == 1u && lines[0].text.rfind("[VEVOZOVI EXCEPTION] ", 0) == 0u &&
                lines[0].text.find("-ASException - MESSAGE: conversion failed\n") != std::string::npos);
  }
  const usstring plain(u"plain");
  FailNext();
  EXPECT_THROW((void)plain.to_sstring(), ASException);
  // A null string is no failure: an ordinary trace line and a null result.
  zztest::TraceCapture capture;
  EXPECT_TRUE(usstring().to_sstring().is_null());
  EXPECT_EQ(capture.Find("ascommon::usstring::to_sstring - trying to convert an uninitialized string")
                .rfind("[VEVOZOVI]           ", 0),
            0u);
}

TEST_F(StringTest, LocaleConversions) {
  {
    LocaleScope locale("C.UTF-8");
    ASSERT_TRUE(locale.ok());
    const sstring s = usstring(u"caf\u00E9 \U0001F600").to_sstring();
    EXPECT_STREQ(s.c_str(), "caf\xC3\xA9 \xF0\x9F\x98\x80");
    EXPECT_EQ(Units(s.to_usstring()), u"caf\u00E9 \U0001F600");
  }
  LocaleScope locale("C");
  EXPECT_STREQ(usstring(u"ascii").to_sstring().c_str(), "ascii");
  EXPECT_TRUE(sstring("caf\xE9").to_usstring().is_null()) << "failure gives null, no throw";
  EXPECT_TRUE(sstring().to_usstring().is_null());
}

}  // namespace
