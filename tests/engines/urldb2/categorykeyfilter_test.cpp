// CCategoryKeyFilter: never tells a key of the database's sets off (shared keys, the key 0,
// keys of one piece only), tells nearly all others off, and holds everything when the
// database is too large for it.
#include "engines/urldb2/categorykeyfilter.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

#include "engines/urldb2/urlcategorydb.h"

namespace {

using ascommon::CCategoryKeyFilter;
using ascommon::CURLCategoryDB;
using ascommon::ECategoryPiece;

TEST(CategoryKeyFilterTest, HoldsEveryKeyOfTheSetsAndFewOthers) {
  CURLCategoryDB db;
  std::mt19937_64 random(5);
  std::set<std::uint64_t> keys{0};
  ASSERT_EQ(db.AddKey(ECategoryPiece::kDomain, 0), 0);
  for (int n = 0; n < 30000; ++n) {
    const std::uint64_t key = random();
    keys.insert(key);
    // A third in all three sets (a listed domain), the rest in one set each.
    for (int p = 0; p < 3; ++p) {
      if (n % 3 == 0 || n % 3 == p) {
        ASSERT_GE(db.AddKey(static_cast<ECategoryPiece>(p), key), 0);
      }
    }
  }
  CCategoryKeyFilter filter;
  ASSERT_EQ(filter.Build(db), 0);
  for (const std::uint64_t key : keys) ASSERT_TRUE(filter.MayHold(key)) << key;
  int held = 0;
  for (int n = 0; n < 200000; ++n) held += filter.MayHold(random());
  EXPECT_LT(held, 200000 / 20) << "one absent key in " << 200000.0 / held;

  ascommon::CCategoryProbe probe;
  probe.keys[0] = *keys.rbegin();
  probe.present[0] = false;  // an absent piece is not asked about
  for (int p = 1; p < 3; ++p) probe.keys[p] = 1, probe.present[p] = true;
  EXPECT_FALSE(filter.MayHoldAny(probe));
  probe.present[0] = true;
  EXPECT_TRUE(filter.MayHoldAny(probe));
}

TEST(CategoryKeyFilterTest, TooLargeADatabaseGetsNoFilter) {
  CURLCategoryDB db;
  for (std::uint64_t key = 1; key <= CCategoryKeyFilter::kMaxKeys + 1; ++key) {
    ASSERT_EQ(db.AddKey(ECategoryPiece::kAddress, key * 0x9E3779B97F4A7C15ull), 0);
  }
  CCategoryKeyFilter filter;
  EXPECT_EQ(filter.Build(db), -1);
  EXPECT_TRUE(filter.MayHold(12345));
}

}  // namespace
