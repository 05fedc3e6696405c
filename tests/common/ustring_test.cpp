// sstring and usstring: buffer rules, null-string semantics, hashing, allocation failure
// and the locale conversions.
#include "common/ustring.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <cstring>
#include <string>

#include "asfn/asfn.h"
#include "common/asexception.h"
#include "support/trace_capture.h"

namespace {

using ascommon::sstring;
using ascommon::usstring;

// Allocations made while the object lives.
class AllocCount {
 public:
  AllocCount() : m_start(asfn_allocation_count()) {}
  std::uint64_t Made() const { return asfn_allocation_count() - m_start; }

 private:
  std::uint64_t m_start;
};

// Switches the C locale for one test and restores the previous one.
class LocaleScope {
 public:
  explicit LocaleScope(const char* name) : m_previous(std::setlocale(LC_ALL, nullptr)) {
    m_ok = std::setlocale(LC_ALL, name) != nullptr;
  }
  ~LocaleScope() { std::setlocale(LC_ALL, m_previous.c_str()); }
  bool ok() const { return m_ok; }

 private:
  std::string m_previous;
  bool m_ok = false;
};

class StringTest : public ::testing::Test {
 protected:
  void SetUp() override { m_live = asfn_live_blocks(); }
  void TearDown() override {
    asfn_fail_at(0, ASFN_FAIL_OFF);
    EXPECT_EQ(asfn_live_blocks(), m_live) << "a string leaked a block";
  }
  static void FailNextAllocation() { asfn_fail_at(1, ASFN_FAIL_ONCE); }

  std::int64_t m_live = 0;
};

std::u16string Units(const usstring& s) { return s.is_null() ? u"<null>" : s.c_str(); }

TEST_F(StringTest, InlineBufferHoldsUpTo22Characters) {
  struct Case {
    std::size_t length;
    std::uint64_t allocations;
  } const cases[] = {{0, 0}, {1, 0}, {22, 0}, {23, 1}, {100, 1}};
  for (const Case& c : cases) {
    const std::string text(c.length, 'q');
    AllocCount count;
    sstring s(text.c_str());
    EXPECT_EQ(count.Made(), c.allocations) << c.length;
    EXPECT_EQ(s.length(), c.length);
    EXPECT_EQ(s.capacity(), c.length + 1);
    EXPECT_EQ(text, s.c_str());
  }
}

TEST_F(StringTest, AppendMovesToHeapOnlyAtTheBoundary) {
  sstring s("0123456789");
  AllocCount count;
  EXPECT_EQ(s.append("0123456789ab"), 0);  // 22 characters: still inline.
  EXPECT_EQ(count.Made(), 0u);
  EXPECT_EQ(s.append("c"), 0);  // 23: one exact block.
  EXPECT_EQ(count.Made(), 1u);
  EXPECT_EQ(s.capacity(), 24u);
  EXPECT_EQ(s.append(s), 0);  // Self-append reads the old block before releasing it.
  EXPECT_EQ(std::string(s.c_str()), "01234567890123456789abc01234567890123456789abc");
  // Counted construction copies count bytes, then stops the length at the first zero.
  const sstring counted("ab\0cd", 5);
  EXPECT_EQ(counted.length(), 2u);
  EXPECT_EQ(counted.capacity(), 6u);
}

TEST_F(StringTest, FillReservesOrRepeats) {
  sstring s;
  AllocCount count;
  EXPECT_EQ(s.fill(5, '\0'), 0);
  EXPECT_EQ(count.Made(), 0u);
  EXPECT_EQ(s.capacity(), 5u);
  EXPECT_EQ(s.length(), 0u);
  EXPECT_FALSE(s.is_null());
  EXPECT_EQ(std::memcmp(s.c_str(), "\0\0\0\0\0", 5), 0);
  EXPECT_EQ(s.fill(30, '\0'), 0);
  EXPECT_EQ(count.Made(), 1u);
  EXPECT_EQ(s.capacity(), 30u);
  EXPECT_EQ(s.fill(3, 'x'), 0);
  EXPECT_STREQ(s.c_str(), "xxx");
  EXPECT_EQ(s.capacity(), 4u);
  EXPECT_EQ(s.fill(0, 'y'), 0);
  EXPECT_STREQ(s.c_str(), "xxx") << "count 0 does nothing";
  usstring u;
  EXPECT_EQ(u.fill(4, 0), 0);
  EXPECT_EQ(u.capacity(), 4u);
  EXPECT_EQ(u.length(), 0u);
}

TEST_F(StringTest, CopyKeepsCapacityAndFlag) {
  sstring reserved;
  reserved.fill(30, '\0');
  const sstring copy(reserved);
  EXPECT_EQ(copy.capacity(), 30u);
  EXPECT_EQ(copy.length(), 0u);

  usstring u(u"Mixed");
  u.set_ignore_case(true);
  usstring other;
  other = u;
  EXPECT_TRUE(other.ignore_case());
  EXPECT_EQ(other.capacity(), u.capacity());
  AllocCount count;
  const sstring moved(std::move(reserved));
  EXPECT_EQ(count.Made(), 0u);
  EXPECT_TRUE(reserved.is_null());  // NOLINT(bugprone-use-after-move)
  EXPECT_EQ(moved.capacity(), 30u);
}

TEST_F(StringTest, NullStringComparisons) {
  const sstring null1;
  const sstring null2;
  const sstring abc("abc");
  EXPECT_TRUE(null1 == null1) << "the same object is equal to itself";
  EXPECT_FALSE(null1 == null2);
  EXPECT_FALSE(null1 != null2);
  EXPECT_FALSE(null1 < null2);
  EXPECT_TRUE(null1 != abc);
  EXPECT_TRUE(abc != null1);
  EXPECT_TRUE(null1 < abc);
  EXPECT_TRUE(abc < null1);

  const usstring unull1;
  const usstring unull2;
  const usstring uabc(u"abc");
  EXPECT_FALSE(unull1 == unull2);
  EXPECT_FALSE(unull1 != unull2);
  EXPECT_TRUE(unull1 < uabc);
  EXPECT_TRUE(uabc < unull1);
  EXPECT_FALSE(uabc > unull1);
  EXPECT_FALSE(unull1 > uabc);
}

TEST_F(StringTest, OrderIsUnsigned) {
  EXPECT_TRUE(sstring("ab") < sstring("abc"));
  EXPECT_FALSE(sstring("abc") < sstring("ab"));
  EXPECT_TRUE(sstring("z") < sstring("\xE9"));
  EXPECT_TRUE(usstring(u"\u00E9") > usstring(u"z"));
  const sstring abc("abc");
  EXPECT_EQ(sstring().compare("abc"), -3);
  EXPECT_EQ(abc.compare(nullptr), -2);
  EXPECT_EQ(abc.compare("abd"), -1);
  EXPECT_EQ(abc.compare("ABC"), 1);
  EXPECT_EQ(abc.compare("ABC", true), 0);
  EXPECT_EQ(sstring("\xE9").compare("a"), 1);
}

TEST_F(StringTest, IgnoreCaseFollowsTheLeftOperand) {
  usstring upper(u"ABC");
  usstring lower(u"abc");
  EXPECT_FALSE(upper == lower);
  upper.set_ignore_case(true);
  EXPECT_TRUE(upper == lower);
  EXPECT_FALSE(upper != lower);
  EXPECT_FALSE(lower == upper) << "the flag on the right operand has no effect";
  EXPECT_TRUE(lower != upper);
  EXPECT_FALSE(upper < lower);
  EXPECT_FALSE(upper > lower);
  EXPECT_TRUE(upper < usstring(u"abd"));
  EXPECT_TRUE(lower > upper);  // 'a' > 'A' unit-wise.
}

TEST_F(StringTest, Searches) {
  const sstring s("Hello, hello world");
  std::size_t pos = 99;
  EXPECT_TRUE(s.find("hello", pos));
  EXPECT_EQ(pos, 7u);
  EXPECT_TRUE(s.find_nocase("HELLO", pos));
  EXPECT_EQ(pos, 0u);
  EXPECT_TRUE(s.rfind('o', pos));
  EXPECT_EQ(pos, 14u);
  pos = 99;
  EXPECT_FALSE(s.find("absent", pos));
  EXPECT_FALSE(sstring().find("a", pos));
  EXPECT_EQ(pos, 99u) << "a failed search leaves pos alone";
  const usstring u(u"Straße STRASSE");
  EXPECT_TRUE(u.find_nocase(u"sse", pos));
  EXPECT_EQ(pos, 11u);
  EXPECT_TRUE(u.rfind(u'S', pos));
  EXPECT_EQ(pos, 12u);
}

TEST_F(StringTest, Concatenation) {
  EXPECT_TRUE((sstring() + sstring()).is_null());
  EXPECT_STREQ((sstring() + sstring("ab")).c_str(), "ab");
  const sstring empties = sstring("") + sstring("");
  EXPECT_FALSE(empties.is_null());
  EXPECT_EQ(empties.length(), 0u);
  const sstring left(std::string(20, 'l').c_str());
  AllocCount count;
  const sstring joined = left + sstring("rrrrr");
  EXPECT_EQ(count.Made(), 1u);
  EXPECT_EQ(joined.length(), 25u);
  EXPECT_EQ(joined.capacity(), 26u);
  EXPECT_EQ(Units(usstring() + usstring(u"x")), u"x");
  EXPECT_TRUE((usstring() + usstring()).is_null());
}

TEST_F(StringTest, HashValues) {
  // 5381 -> (5381*33)^'a' = 177604 -> (177604*33)^'b' = 5860902 -> (5860902*33)^'c'.
  EXPECT_EQ(sstring("abc").hash(), 0x0B873285u);
  EXPECT_EQ(usstring(u"abc").hash(), 0x0B873285u);
  // 0xE9 sign-extends to 0xFFFFFFE9 in the 8-bit string; U+00E9 stays 0xE9.
  EXPECT_EQ(sstring("\xE9").hash(), 0xFFFD4A4Cu);
  EXPECT_EQ(usstring(u"\u00E9").hash(), 0x0002B54Cu);
  EXPECT_EQ(sstring().hash(), 0u);
  EXPECT_EQ(sstring("").hash(), 0u);
  EXPECT_EQ(usstring(u"").hash(), 0u);
}

TEST_F(StringTest, WideAppendRules) {
  usstring u(u"xy");
  const std::size_t capacity = u.capacity();
  EXPECT_EQ(u.append(u"abc", 10), -50);
  EXPECT_EQ(Units(u), u"xy");
  EXPECT_EQ(u.capacity(), capacity);
  EXPECT_EQ(u.status(), 0);

  AllocCount count;
  EXPECT_EQ(u.append(u"abc", 2), 0);
  EXPECT_EQ(u.append(u"!"), 0);
  EXPECT_EQ(count.Made(), 2u) << "every append takes a new exact block";
  EXPECT_EQ(Units(u), u"xyab!");
  EXPECT_EQ(u.capacity(), 6u);
  EXPECT_EQ(u.append(u), 0);
  EXPECT_EQ(Units(u), u"xyab!xyab!");

  usstring fresh;
  EXPECT_EQ(fresh.append(u"new"), 0);
  EXPECT_EQ(Units(fresh), u"new");
}

// Each scenario: a string with content, then an operation whose one allocation fails.
TEST_F(StringTest, AllocationFailureKeepsOldContent) {
  const std::string longText(40, 'L');
  {
    sstring s("old");
    FailNextAllocation();
    EXPECT_EQ(s.assign(longText.c_str()), -2);
    EXPECT_STREQ(s.c_str(), "old");
    EXPECT_EQ(s.status(), -2);
    EXPECT_EQ(s.assign("fine"), 0);
    EXPECT_EQ(s.status(), 0) << "a later success clears the status";
  }
  {
    sstring s(longText.c_str());
    FailNextAllocation();
    EXPECT_EQ(s.append(longText.c_str()), -2);
    EXPECT_EQ(std::string(s.c_str()), longText);
    EXPECT_EQ(s.length(), 40u);
  }
  {
    const sstring source(longText.c_str());
    sstring target("kept");
    FailNextAllocation();
    target = source;
    EXPECT_STREQ(target.c_str(), "kept");
    EXPECT_EQ(target.status(), -2);
    FailNextAllocation();
    const sstring copy(source);
    EXPECT_TRUE(copy.is_null());
    EXPECT_EQ(copy.status(), -2);
  }
  {
    usstring u(u"old");
    FailNextAllocation();
    EXPECT_EQ(u.append(u"more"), -2);
    EXPECT_EQ(Units(u), u"old");
    usstring target(u"kept");
    FailNextAllocation();
    target = u;
    EXPECT_EQ(Units(target), u"kept");
    EXPECT_EQ(target.status(), -2);
  }
  // TearDown checks that every block was returned.
}

TEST_F(StringTest, ToSstringOfNullTracesAndReturnsNull) {
  zztest::TraceCapture capture;
  const sstring s = usstring().to_sstring();
  EXPECT_TRUE(s.is_null());
  const std::string line =
      capture.Find("ascommon::usstring::to_sstring - trying to convert an uninitialized string");
  EXPECT_NE(line, "");
  EXPECT_EQ(line.rfind("[VEVOZOVI]           ", 0), 0u);
}

TEST_F(StringTest, ToSstringFailureThrows) {
  struct Case {
    const char* locale;
    std::u16string text;
  } const cases[] = {
      {"C", u"caf\u00E9"},         // Not representable in the C locale.
      {"C.UTF-8", u"a\xD800z"},    // Unpaired high surrogate.
      {"C.UTF-8", u"\xDC00"},      // Lone low surrogate.
  };
  for (const Case& c : cases) {
    LocaleScope locale(c.locale);
    ASSERT_TRUE(locale.ok()) << c.locale;
    zztest::TraceCapture capture;
    const usstring u(c.text.c_str());
    try {
      (void)u.to_sstring();
      ADD_FAILURE() << "no exception in " << c.locale;
    } catch (const ASException& e) {
      EXPECT_STREQ(e.what(), "ASException - MESSAGE: conversion failed");
      EXPECT_EQ(e.GetCode(), 0);
    }
    const auto lines = capture.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, 1u);
    EXPECT_NE(lines[0].text.find("[VEVOZOVI EXCEPTION] "), std::string::npos);
    EXPECT_NE(lines[0].text.find("-ASException - MESSAGE: conversion failed\n"),
              std::string::npos);
  }
  // Memory failure while converting also throws, and leaks nothing.
  const usstring u(u"plain");
  FailNextAllocation();
  EXPECT_THROW((void)u.to_sstring(), ASException);
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
