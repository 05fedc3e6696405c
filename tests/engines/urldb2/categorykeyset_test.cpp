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
    SCOPED_TRACE(name);
    std::mt19937_64 random(7);
    CCategoryKeySet set;
    std::set<std::uint64_t> reference;
    for (std::uint64_t i = 0; i < 20000; ++i) {
      const std::uint64_t key = pattern(i, random);
      ASSERT_EQ(set.Insert(key), reference.insert(key).second ? 0 : 1) << key;
    }
    EXPECT_EQ(Sorted(set), std::vector<std::uint64_t>(reference.begin(), reference.end()));
    std::mt19937_64 probes(11);
    for (std::uint64_t i = 0; i < 20000; ++i) {
      const std::uint64_t key = i % 2 == 0 ? pattern(i * 3, probes) : probes();
      ASSERT_EQ(set.Contains(key), reference.count(key) == 1) << key;
    }
  }
}

}  // namespace
