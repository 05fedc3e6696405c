// The platform layer's lenient UTF-8 reading and path mapping: well-formed text passes,
// anything else becomes U+FFFD byte by byte and never turns into ASCII it was not.
#include "zzplat/paths.h"

#include <gtest/gtest.h>

namespace {

TEST(PathsTest, LenientUtf8AndLocalPaths) {
  const struct { const char* bytes; std::u16string expected; } cases[] = {
      {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", u"\u00e9\u20ac\U0001F600"},
      {"\xC0\xAE", u"\uFFFD\uFFFD"},                      // overlong "." stays no dot
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // a surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
      {"\xE2\x82", u"\uFFFD\uFFFD"},                      // cut short
      {"\xC3" "a", u"\uFFFDa"},                           // lead byte without continuation
  };
  for (const auto& c : cases) EXPECT_EQ(zzplat::Utf8ToUtf16Lenient(c.bytes), c.expected) << c.bytes;
  // Product paths map to local ones.

  EXPECT_EQ(zzplat::LocalPath(u"data\\lists\\prlblk.cas"), "data/lists/prlblk.cas");
  const zzplat::LocalPathBuffer mapped(u"C:\\d\u00e9j\u00e0\\x");
  ASSERT_TRUE(mapped.ok());
  EXPECT_STREQ(mapped.c_str(), "C:/d\xC3\xA9j\xC3\xA0/x");
  EXPECT_FALSE(zzplat::LocalPathBuffer(std::u16string(5000, u'a').c_str()).ok() || zzplat::LocalPathBuffer(nullptr).ok());
}

}  // namespace
