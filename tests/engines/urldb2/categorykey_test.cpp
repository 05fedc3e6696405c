// Category keys: known digests, and the lock-step digests of up to three texts against
// CMD5 for every length around the block boundaries.
#include "engines/urldb2/categorykey.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using ascommon::CategoryKeyOf;
using ascommon::CategoryKeysOf;
using ascommon::CategoryText;

TEST(CategoryKeyTest, LockStepDigestsMatchCMD5) {
  // The first eight digest bytes, little-endian: MD5("abc") = 900150983cd24fb0...
  EXPECT_EQ(CategoryKeyOf("abc", 3), 0xb04fd23c98500190ull);
  std::string text;
  for (int i = 0; i < 300; ++i) text += static_cast<char>('a' + (i * 7) % 26);
  // Every length from 0 to 200 in the first lane, beside partners whose block counts
  // differ (so lanes drop out of the lock-step at different blocks) or that fit one block
  // like it (every third length); with the AVX-512 steps where the processor has them
  // (lanes all of one block are digested from registers), and with the SSE2 steps.
  const bool wide = ascommon::g_categoryKeysWide;
  for (const bool useWide : {wide, false})
  for (std::size_t length = 0; length <= 200; ++length) {
    ascommon::g_categoryKeysWide = useWide;
    const std::size_t others[] = {length % 3 == 0 ? 55 - length % 56 : (length * 5 + 3) % 130,
                                  length % 3 == 0 ? length % 56 : 200 - length};
    const CategoryText texts[] = {{text.data(), length},
                                  {text.data() + 1, others[0]},
                                  {text.data() + 2, others[1]}};
    for (std::size_t count = 1; count <= 3; ++count) {
      std::uint64_t keys[3] = {};
      CategoryKeysOf(texts, count, keys);
      for (std::size_t l = 0; l < count; ++l) {
        ASSERT_EQ(keys[l], CategoryKeyOf(texts[l].text, texts[l].length))
            << "length " << length << " lane " << l << " of " << count << " wide " << useWide;
      }
    }
  }
  ascommon::g_categoryKeysWide = wide;
}

}  // namespace
