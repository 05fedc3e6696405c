// CMap: lookups and duplicates, chain order (sorted or appended) through removal and
// re-bucketing, the default integer hash, allocation failure, removal while walking.
#include "common/map.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "asfn/asfn.h"
#include "common/ustring.h"

namespace ascommon {
namespace {

using IntMap = CMap<std::uint32_t, int>;
using KeyList = std::vector<std::uint32_t>;

std::uint32_t OneBucket(const std::uint32_t&) { return 7; }

// Keys in iteration order, through the position API.
template <class K, class V>
std::vector<K> Keys(CMap<K, V>& map) {
  std::vector<K> keys;
  for (auto pos = map.GetStartPosition(); pos != nullptr;) {
    const K* key = nullptr;
    V* value = nullptr;
    map.GetNextAssoc(pos, key, value);
    keys.push_back(*key);
  }
  return keys;
}

TEST(CMapTest, AddLookupDuplicateAndTheDefaultHash) {
  IntMap map;
  EXPECT_EQ(-2, map.SetAt(1, 10)) << "no bucket table yet";
  ASSERT_EQ(0, map.InitHashTable(17));
  ASSERT_TRUE(map.SetAt(1, 10) == 0 && map.SetAt(2, 20) == 0);
  EXPECT_TRUE(map.SetAt(1, 99) == -451 && map.GetCount() == 2u && *map.Lookup(1) == 10) << "the value stays";
  EXPECT_EQ(nullptr, map.Lookup(3));

  // The default hash, worked out by hand: x = k * 4097; x = (x ^ x >> 22) * 17;
  // x = (x ^ x >> 9) * 1025; x = (x ^ x >> 2) * 129; x ^ x >> 12, in 32 bits; the signed
  // flavour shifts arithmetically.
  EXPECT_EQ(0xAF227BB7u, MapDefaultHash<std::uint32_t>(1));
  EXPECT_EQ(0x67A3F2DEu, MapDefaultHash<std::uint32_t>(30001));
  EXPECT_EQ(0x50D27BB7u, MapDefaultHash<std::int32_t>(1));   // a sign bit appears mid-way
  EXPECT_EQ(0x50A8A48Fu, MapDefaultHash<std::int16_t>(-1));  // sign-extended first
  // The map buckets by hash % bucket count: 1 -> 695, 30001 -> 790, 0 -> 0 of 1000.
  IntMap ordered;
  ASSERT_EQ(0, ordered.InitHashTable(1000));
  for (std::uint32_t key : {30001u, 1u, 0u}) ASSERT_EQ(0, ordered.SetAt(key, 0));
  EXPECT_EQ((KeyList{0, 1, 30001}), Keys(ordered));
}

// Keys 7, 3, 5, 9, 1 in one bucket; re-bucketing keeps every key, each chain's rule and
// the tail pointers.
TEST(CMapTest, ChainOrderSortedOrAppended) {
  CMap<std::uint32_t, int> sorted(true, OneBucket);
  CMap<std::uint32_t, int> appended(false, OneBucket);
  for (auto* map : {&sorted, &appended}) {
    ASSERT_EQ(0, map->InitHashTable(5));
    for (std::uint32_t key : {7u, 3u, 5u, 9u, 1u}) ASSERT_EQ(0, map->SetAt(key, 0));
  }
  EXPECT_EQ((KeyList{1, 3, 5, 7, 9}), Keys(sorted));
  EXPECT_EQ((KeyList{7, 3, 5, 9, 1}), Keys(appended));
  ASSERT_TRUE(sorted.InitHashTable(3) == 0 && appended.InitHashTable(3) == 0);
  ASSERT_TRUE(sorted.SetAt(4, 0) == 0 && appended.SetAt(8, 0) == 0);
  EXPECT_EQ((KeyList{1, 3, 4, 5, 7, 9}), Keys(sorted));
  EXPECT_EQ((KeyList{7, 3, 5, 9, 1, 8}), Keys(appended));
}

// After the removal, 4 is appended: it must follow the chain's real tail.
TEST(CMapTest, RemoveKeyKeepsChainEnds) {
  const struct { KeyList keys; std::uint32_t removed; KeyList expected; } cases[] = {
      {{1, 2, 3}, 3, {1, 2, 4}},     // the tail
      {{1, 2, 3}, 1, {2, 3, 4}},     // the head
      {{1, 2, 3}, 2, {1, 3, 4}},     // the middle
      {{1, 2, 3}, 9, {1, 2, 3, 4}},  // absent
      {{5}, 5, {4}},                 // the only key: head and tail reset
  };
  for (const auto& c : cases) {
    CMap<std::uint32_t, int> map(false, OneBucket);
    ASSERT_EQ(0, map.InitHashTable(4));
    for (std::uint32_t key : c.keys) ASSERT_EQ(0, map.SetAt(key, 0));
    EXPECT_EQ(c.removed != 9, map.RemoveKey(c.removed));
    ASSERT_EQ(0, map.SetAt(4, 0));
    EXPECT_TRUE(c.expected == Keys(map) && c.expected.size() == map.GetCount()) << "removed " << c.removed;
  }
}

TEST(CMapTest, AllocationFailureLeavesMapUnchanged) {
  CMap<sstring, sstring> map;
  const sstring key("a key longer than the inline buffer of sstring"), value("a value longer than that buffer too");
  ASSERT_TRUE(map.InitHashTable(8) == 0 && map.SetAt(sstring("first"), value) == 0);
  const std::int64_t baseline = asfn_live_blocks();
  for (std::uint64_t step = 1; step <= 5; ++step) {  // node, key, value; heads, tails
    asfn_fail_at(step <= 3 ? step : step - 3, ASFN_FAIL_ONCE);
    EXPECT_EQ(-2, step <= 3 ? map.SetAt(key, value) : map.InitHashTable(64)) << "step " << step;
    asfn_fail_at(0, ASFN_FAIL_OFF);
    EXPECT_EQ(baseline, asfn_live_blocks()) << "step " << step;
    EXPECT_TRUE(map.GetHashTableSize() == 8u && map.GetCount() == 1u && map.Lookup(key) == nullptr);
  }
  ASSERT_TRUE(map.SetAt(key, value) == 0 && map.Lookup(key) != nullptr);
}

TEST(CMapTest, WalkMayRemoveTheEntryJustReturned) {
  IntMap map;
  ASSERT_EQ(0, map.InitHashTable(3));
  for (std::uint32_t key = 0; key < 20; ++key) ASSERT_EQ(0, map.SetAt(key, int(key)));
  int sum = 0;
  for (auto pos = map.GetStartPosition(); pos != nullptr;) {
    const std::uint32_t* key = nullptr;
    int* value = nullptr;
    map.GetNextAssoc(pos, key, value);
    sum += *value;
    EXPECT_TRUE(*key % 2 != 0 || map.RemoveKey(*key));  // the even keys go
  }
  EXPECT_TRUE(sum == 190 && map.GetCount() == 10u) << "every entry visited once";
}

// A map emptied and filled again reuses its node blocks (a blackbox carries page after page
// this way); beyond the spare bound, blocks go back to the allocator.
TEST(CMapTest, RefillReusesNodeBlocksUpToTheBound) {
  const std::int64_t baseline = asfn_live_blocks();
  {
    IntMap map;
    ASSERT_EQ(0, map.InitHashTable(64));
    for (std::uint32_t key = 0; key < 20; ++key) ASSERT_EQ(0, map.SetAt(key, 1));
    map.RemoveAll();
    const std::uint64_t before = asfn_allocation_count();
    for (std::uint32_t key = 100; key < 120; ++key) ASSERT_EQ(0, map.SetAt(key, 2));
    EXPECT_EQ(before, asfn_allocation_count()) << "a refill allocates nothing";
    for (std::uint32_t key = 0; key < 200; ++key) map.SetAt(key, 3);
    map.RemoveAll();
    EXPECT_LE(asfn_live_blocks() - baseline, 64 + 2) << "at most 64 spare nodes and the table";
  }
  EXPECT_EQ(baseline, asfn_live_blocks());
}

}  // namespace
}  // namespace ascommon
