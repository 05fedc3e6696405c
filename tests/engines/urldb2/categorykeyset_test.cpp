// CCategoryKeySet against a std::set reference, with keys that are digests and keys that
// are not (small numbers, keys sharing their high or low bits), and under allocation
// failure.
#include "engines/urldb2/categorykeyset.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <set>
#include <vector>

#include "asfn/asfn.h"
#include "engines/urldb2/urldb2_format.h"

namespace {

using ascommon::CCategoryKeySet;

std::vector<std::uint64_t> Sorted(const CCategoryKeySet& set) {
  std::vector<std::uint64_t> keys(set.GetCount());
  set.CopySorted(keys.data());
  return keys;
}

TEST(CategoryKeySetTest, AgreesWithAReferenceSet) {
  using Pattern = std::uint64_t (*)(std::uint64_t i, std::mt19937_64& random);
  const std::pair<const char*, Pattern> patterns[] = {
      {"digests", [](std::uint64_t, std::mt19937_64& r) -> std::uint64_t { return r(); }},
      // 0 among them: the key that also marks a free slot.
      {"small numbers", [](std::uint64_t i, std::mt19937_64&) -> std::uint64_t { return i % 5000; }},
      {"same low bits",
       [](std::uint64_t i, std::mt19937_64&) -> std::uint64_t { return (i % 7000) << 40; }},
      {"same high bits", [](std::uint64_t i, std::mt19937_64&) -> std::uint64_t {
         return 0xAB00000000000000ull | (i % 6000);
       }},
  };
  for (const auto& [name, pattern] : patterns) {
    SCOPED_TRACE(name);
    std::mt19937_64 random(7);
    CCategoryKeySet set;
    std::set<std::uint64_t> reference;
    for (std::uint64_t i = 0; i < 20000; ++i) {
      const std::uint64_t key = pattern(i, random);
      const bool added = reference.insert(key).second;
      ASSERT_EQ(set.Insert(key), added ? 0 : 1) << key;
    }
    EXPECT_EQ(set.GetCount(), reference.size());
    EXPECT_EQ(Sorted(set), std::vector<std::uint64_t>(reference.begin(), reference.end()));
    std::mt19937_64 probes(11);
    for (std::uint64_t i = 0; i < 20000; ++i) {
      const std::uint64_t key = i % 2 == 0 ? pattern(i * 3, probes) : probes();
      ASSERT_EQ(set.Contains(key), reference.count(key) == 1) << key;
    }
  }
}

TEST(CategoryKeySetTest, ReservedRoomNeedsNoMemoryAndFailuresChangeNothing) {
  const std::int64_t before = asfn_live_blocks();
  {
    CCategoryKeySet set;
    ASSERT_EQ(set.Reserve(1000), 0);
    asfn_fail_at(1, ASFN_FAIL_FROM);
    for (std::uint64_t key = 1; key <= 1000; ++key) ASSERT_EQ(set.Insert(key * 977), 0);
    // The next key needs a larger table, which cannot be had: nothing changes.
    EXPECT_EQ(set.Insert(5), -2);
    EXPECT_EQ(set.Reserve(5000), -2);
    asfn_fail_at(0, ASFN_FAIL_OFF);
    EXPECT_EQ(set.GetCount(), 1000u);
    EXPECT_FALSE(set.Contains(5));
    EXPECT_TRUE(set.Contains(977 * 1000));
    EXPECT_EQ(set.Insert(5), 0);
    // Beyond the key limit a reserve fails without trying to allocate.
    EXPECT_EQ(set.Reserve(ascommon::kCategoryMaxKeysPerSet + 1), -2);
    EXPECT_EQ(set.GetCount(), 1001u);
  }
  EXPECT_EQ(asfn_live_blocks(), before);
}

}  // namespace
