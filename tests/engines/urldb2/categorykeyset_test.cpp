// CCategoryKeySet against a std::set reference, with keys that are digests and keys that
// are not (small numbers, keys sharing their low bits or their top bits), in both forms.
#include "engines/urldb2/categorykeyset.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <set>
#include <vector>

#include "common/asmemory.h"

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

TEST(CategoryKeySetTest, SortedFormAgreesWithAReferenceSet) {
  using Pattern = std::uint64_t (*)(std::uint64_t i, std::mt19937_64& random);
  const std::pair<const char*, Pattern> patterns[] = {
      {"digests", [](std::uint64_t, std::mt19937_64& r) -> std::uint64_t { return r(); }},
      {"small numbers", [](std::uint64_t i, std::mt19937_64&) -> std::uint64_t { return i; }},
      {"same low bits", [](std::uint64_t i, std::mt19937_64&) -> std::uint64_t { return i << 40; }},
  };
  for (const auto& [name, pattern] : patterns) {
    for (const std::uint64_t count : {1u, 7u, 8u, 5000u}) {
      SCOPED_TRACE(testing::Message() << name << " " << count);
      std::mt19937_64 random(5);
      std::set<std::uint64_t> reference;
      while (reference.size() < count) reference.insert(pattern(reference.size() * 2, random));
      auto* keys = ascommon::as_alloc_array_nt<std::uint64_t>(count);
      std::copy(reference.begin(), reference.end(), keys);
      CCategoryKeySet set;
      if (count > 1) {  // out of order, or into a set that is not empty: not taken
        std::swap(keys[0], keys[1]);
        EXPECT_EQ(set.AdoptSorted(keys, count), 0);
        std::swap(keys[0], keys[1]);
        CCategoryKeySet held;
        ASSERT_EQ(held.Insert(keys[0]), 0);
        EXPECT_EQ(held.AdoptSorted(keys, count), 0);
      }
      ASSERT_EQ(set.AdoptSorted(keys, count), 1);
      EXPECT_EQ(Sorted(set), std::vector<std::uint64_t>(reference.begin(), reference.end()));
      std::uint64_t visited = 0;
      set.ForEach([&](std::uint64_t key) { visited += reference.count(key); });
      EXPECT_EQ(visited, count);
      std::mt19937_64 probes(11);
      for (std::uint64_t i = 0; i < 3 * count; ++i) {
        const std::uint64_t key = i % 2 == 0 ? pattern(i, probes) : probes();
        ASSERT_EQ(set.Contains(key), reference.count(key) == 1) << key;
      }
      // The first insert turns the set into the hashed form, keeping every key.
      EXPECT_EQ(set.Insert(*reference.begin()), 1);
      const std::uint64_t added = pattern(1, random);
      ASSERT_EQ(set.Insert(added), reference.insert(added).second ? 0 : 1);
      EXPECT_EQ(Sorted(set), std::vector<std::uint64_t>(reference.begin(), reference.end()));
    }
  }
}

}  // namespace
