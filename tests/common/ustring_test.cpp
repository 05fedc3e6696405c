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
#include "support/what_of.h"

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
  // fill(n, 0) reserves n zero bytes of length 0 for a conversion to write into; copies keep
  // the source's capacity.
  sstring f;
  Allocations();
  EXPECT_TRUE(f.fill(5, '\0') == 0 && Allocations() == 0u && f.capacity() == 5u && f.length() == 0u);
  EXPECT_EQ(std::memcmp(f.c_str(), "\0\0\0\0\0", 5), 0);
  EXPECT_TRUE(f.fill(3, 'x') == 0 && f.fill(0, 'y') == 0);
  EXPECT_STREQ(f.c_str(), "xxx") << "count 0 does nothing";
  EXPECT_TRUE(f.fill(30, '\0') == 0 && sstring(f).capacity() == 30u);
}

TEST_F(StringTest, ComparisonsAndSearches) {
  const sstring null1, null2, abc("abc");
  EXPECT_TRUE(null1 == null1) << "the same object is equal to itself";
  EXPECT_FALSE(null1 == null2 || null1 != null2 || null1 < null2);
  EXPECT_TRUE(null1 != abc && abc != null1);
  EXPECT_TRUE(null1 < abc && abc < null1) << "a null string sorts first in either order";
  // Order is unsigned.
  EXPECT_TRUE(sstring("ab") < sstring("abc") && sstring("z") < sstring("\xE9") && usstring(u"\u00E9") > usstring(u"z"));
  EXPECT_TRUE(sstring().compare("abc") == -3 && abc.compare(nullptr) == -2);
  EXPECT_TRUE(abc.compare("abd") == -1 && abc.compare("ABC") == 1 && abc.compare("ABC", true) == 0);
  const sstring s("Hello, hello world");
  std::size_t pos = 99;
  EXPECT_TRUE(s.find("hello", pos) && pos == 7u);
  EXPECT_TRUE(s.rfind('o', pos) && pos == 14u);
  EXPECT_FALSE(s.find("absent", pos));
  EXPECT_EQ(pos, 14u) << "a failed search leaves pos alone";
}

TEST_F(StringTest, ConcatenationAppendAndHash) {
  EXPECT_TRUE((sstring() + sstring()).is_null() && !(sstring("") + sstring("")).is_null());
  usstring u(u"xy");
  EXPECT_EQ(u.append(u"abc", 10), -50) << "a count beyond the text changes nothing";
  EXPECT_TRUE(Units(u) == u"xy" && u.status() == 0);
  EXPECT_TRUE(u.append(u"abc", 2) == 0 && u.append(u"!") == 0 && u.append(u) == 0);
  EXPECT_EQ(Units(u), u"xyab!xyab!");

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
  EXPECT_TRUE(s.assign(longText.c_str()) == -2 && std::string(s.c_str()) == "old" && s.status() == -2);
  EXPECT_TRUE(s.assign(longText.c_str()) == 0 && s.status() == 0) << "a later success clears the status";
  FailNext();
  EXPECT_TRUE(s.append("more") == -2 && std::string(s.c_str()) == longText);
  sstring target("kept");
  FailNext();
  target = s;
  EXPECT_TRUE(std::string(target.c_str()) == "kept" && target.status() == -2);
  usstring u(u"old");
  FailNext();
  EXPECT_TRUE(u.append(u"more") == -2 && Units(u) == u"old" && u.status() == -2);
}

// Locale conversions both ways; a text the locale cannot hold traces and throws one way, and
// gives null the other.
TEST_F(StringTest, LocaleConversions) {
  // Not representable in the C locale; an unpaired surrogate.
  for (const auto& [name, text] : {std::pair{"C", u"caf\u00E9"}, std::pair{"C.UTF-8", u"a\xD800z"}}) {
    LocaleScope locale(name);
    ASSERT_TRUE(locale.ok()) << name;
    zztest::TraceCapture capture;
    EXPECT_EQ(zztest::WhatOf([&] { (void)usstring(text).to_sstring(); }), "ASException - MESSAGE: conversion failed");
    EXPECT_EQ(capture.Count("-ASException - MESSAGE: conversion failed\n"), 1) << name;
  }
  const usstring plain(u"plain");
  FailNext();
  EXPECT_THROW((void)plain.to_sstring(), ASException);
  EXPECT_TRUE(usstring().to_sstring().is_null()) << "a null string is no failure";
  {
    LocaleScope locale("C.UTF-8");
    const sstring s = usstring(u"caf\u00E9 \U0001F600").to_sstring();
    EXPECT_STREQ(s.c_str(), "caf\xC3\xA9 \xF0\x9F\x98\x80");
    EXPECT_EQ(Units(s.to_usstring()), u"caf\u00E9 \U0001F600");
  }
  LocaleScope locale("C");
  EXPECT_TRUE(sstring("caf\xE9").to_usstring().is_null()) << "failure gives null, no throw";
}

}  // namespace
