// CCategoryKeySet against a std::set reference, with keys that are digests and keys that
// are not (small numbers, keys sharing their low bits).
#include "engines/urldb2/categorykeyset.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <set>
#include <vector>


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
  };
  for (const auto& [name, pattern] : patterns) {
    for (const bool reserved : {false, true}) {  // InsertAll with the room reserved or not
      SCOPED_TRACE(testing::Message() << name << " " << reserved);
      std::mt19937_64 random(7);
      CCategoryKeySet set;
      std::set<std::uint64_t> reference;
      for (std::uint64_t i = 0; i < 10000; ++i) {
        const std::uint64_t key = pattern(i, random);
        ASSERT_EQ(set.Insert(key), reference.insert(key).second ? 0 : 1) << key;
      }
      std::vector<std::uint64_t> batch;  // repeats some keys held and some of its own
      for (std::uint64_t i = 5000; i < 25000; ++i) batch.push_back(pattern(i, random));
      batch.push_back(batch.front());
      reference.insert(batch.begin(), batch.end());
      if (reserved) {
        ASSERT_EQ(set.Reserve(set.GetCount() + batch.size()), 0);
      }
      ASSERT_EQ(set.InsertAll(batch.data(), batch.size()), 0);
      EXPECT_EQ(Sorted(set), std::vector<std::uint64_t>(reference.begin(), reference.end()));
      std::mt19937_64 probes(11);
      for (std::uint64_t i = 0; i < 20000; ++i) {
        const std::uint64_t key = i % 2 == 0 ? pattern(i * 3, probes) : probes();
        ASSERT_EQ(set.Contains(key), reference.count(key) == 1) << key;
      }
    }
  }
}

}  // namespace
