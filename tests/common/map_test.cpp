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

std::uint32_t OneBucket(const std::uint32_t&) { return 7; }

struct AllocFailOff {
  ~AllocFailOff() { asfn_fail_at(0, ASFN_FAIL_OFF); }
};

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

TEST(CMapTest, AddLookupAndDuplicate) {
  IntMap map;
  EXPECT_EQ(-2, map.SetAt(1, 10));  // No bucket table yet.
  ASSERT_EQ(0, map.InitHashTable(17));
  ASSERT_EQ(0, map.SetAt(1, 10));
  ASSERT_EQ(0, map.SetAt(2, 20));
  EXPECT_EQ(-451, map.SetAt(1, 99));
  EXPECT_EQ(2u, map.GetCount());

  int value = -1;
  EXPECT_TRUE(map.Lookup(1, value));
  EXPECT_EQ(10, value);
  EXPECT_FALSE(map.Lookup(3, value));
  EXPECT_EQ(10, value);
  ASSERT_NE(nullptr, map.Lookup(2));
  *map.Lookup(2) = 21;
  EXPECT_EQ(21, *static_cast<const IntMap&>(map).Lookup(2));
  EXPECT_EQ(nullptr, map.Lookup(3));
}

TEST(CMapTest, ChainOrderSortedOrAppended) {
  CMap<std::uint32_t, int> sorted(true, OneBucket);
  CMap<std::uint32_t, int> appended(false, OneBucket);
  for (auto* map : {&sorted, &appended}) {
    ASSERT_EQ(0, map->InitHashTable(5));
    for (std::uint32_t key : {7u, 3u, 5u, 9u, 1u}) ASSERT_EQ(0, map->SetAt(key, 0));
  }
  EXPECT_EQ((std::vector<std::uint32_t>{1, 3, 5, 7, 9}), Keys(sorted));
  EXPECT_EQ((std::vector<std::uint32_t>{7, 3, 5, 9, 1}), Keys(appended));

  // Re-bucketing keeps each rule; the tail pointers follow (8 is appended after it).
  ASSERT_EQ(0, sorted.InitHashTable(3));
  ASSERT_EQ(0, appended.InitHashTable(3));
  ASSERT_EQ(0, sorted.SetAt(4, 0));
  ASSERT_EQ(0, appended.SetAt(8, 0));
  EXPECT_EQ((std::vector<std::uint32_t>{1, 3, 4, 5, 7, 9}), Keys(sorted));
  EXPECT_EQ((std::vector<std::uint32_t>{7, 3, 5, 9, 1, 8}), Keys(appended));
}

TEST(CMapTest, RemoveKeyKeepsChainEnds) {
  struct Case {
    std::uint32_t removed;
    std::vector<std::uint32_t> expected;  // After appending 4.
  };
  const Case cases[] = {
      {3, {1, 2, 4}},     // The tail: 4 must follow 2.
      {1, {2, 3, 4}},     // The head.
      {2, {1, 3, 4}},     // The middle.
      {9, {1, 2, 3, 4}},  // Absent.
  };
  for (const Case& c : cases) {
    CMap<std::uint32_t, int> map(false, OneBucket);
    ASSERT_EQ(0, map.InitHashTable(4));
    for (std::uint32_t key : {1u, 2u, 3u}) ASSERT_EQ(0, map.SetAt(key, 0));
    EXPECT_EQ(c.removed != 9, map.RemoveKey(c.removed));
    ASSERT_EQ(0, map.SetAt(4, 0));
    EXPECT_EQ(c.expected, Keys(map)) << "removed " << c.removed;
    EXPECT_EQ(c.expected.size(), map.GetCount());
  }
  // Removing the only key empties the chain; a new key becomes head and tail.
  CMap<std::uint32_t, int> map(false, OneBucket);
  ASSERT_EQ(0, map.InitHashTable(1));
  ASSERT_EQ(0, map.SetAt(5, 0));
  EXPECT_TRUE(map.RemoveKey(5));
  ASSERT_EQ(0, map.SetAt(6, 0));
  ASSERT_EQ(0, map.SetAt(7, 0));
  EXPECT_EQ((std::vector<std::uint32_t>{6, 7}), Keys(map));
}

TEST(CMapTest, InitHashTableKeepsEveryKey) {
  IntMap map;
  ASSERT_EQ(0, map.InitHashTable(4));
  for (std::uint32_t key = 0; key < 1000; ++key)
    ASSERT_EQ(0, map.SetAt(key * 7919u, static_cast<int>(key)));
  EXPECT_EQ(0, map.InitHashTable(0));
  EXPECT_EQ(4u, map.GetHashTableSize());
  ASSERT_EQ(0, map.InitHashTable(97));
  EXPECT_EQ(97u, map.GetHashTableSize());
  EXPECT_EQ(1000u, map.GetCount());
  for (std::uint32_t key = 0; key < 1000; ++key) {
    const int* value = map.Lookup(key * 7919u);
    ASSERT_NE(nullptr, value) << key;
    EXPECT_EQ(static_cast<int>(key), *value);
  }
}

// Values worked out by hand from the mix: x = k * 4097; x = (x ^ x >> 22) * 17;
// x = (x ^ x >> 9) * 1025; x = (x ^ x >> 2) * 129; x ^ x >> 12, in 32 bits; the signed
// flavour shifts arithmetically.
TEST(CMapTest, DefaultHashKnownValues) {
  EXPECT_EQ(0u, MapDefaultHash<std::uint32_t>(0));
  EXPECT_EQ(0xAF227BB7u, MapDefaultHash<std::uint32_t>(1));
  EXPECT_EQ(0x67A3F2DEu, MapDefaultHash<std::uint32_t>(30001));
  EXPECT_EQ(0x047D84DFu, MapDefaultHash<std::uint32_t>(0xFFFFFFFFu));
  EXPECT_EQ(0x50A8A48Fu, MapDefaultHash<std::int32_t>(-1));
  EXPECT_EQ(0x678CA2BEu, MapDefaultHash<std::int32_t>(-30001));
  EXPECT_EQ(0x50D27BB7u, MapDefaultHash<std::int32_t>(1));   // A sign bit appears mid-way.
  EXPECT_EQ(0x50A8A48Fu, MapDefaultHash<std::int16_t>(-1));  // Sign-extended first.
  EXPECT_EQ(0xAF227BB7u, MapDefaultHash<std::uint64_t>(0x100000001ull));  // Low 32 bits.

  // The map buckets by hash % bucket count: 1 -> 695, 30001 -> 790, 0 -> 0 of 1000.
  IntMap map;
  ASSERT_EQ(0, map.InitHashTable(1000));
  for (std::uint32_t key : {30001u, 1u, 0u}) ASSERT_EQ(0, map.SetAt(key, 0));
  EXPECT_EQ((std::vector<std::uint32_t>{0, 1, 30001}), Keys(map));
}

TEST(CMapTest, StringKeysUseTheirHash) {
  CMap<sstring, int> narrow;
  CMap<usstring, int> wide;
  ASSERT_EQ(0, narrow.InitHashTable(32));
  ASSERT_EQ(0, wide.InitHashTable(32));
  const char* const names[] = {"co.uk", "com.au", "a key longer than the inline buffer"};
  int i = 0;
  for (const char* name : names) {
    ASSERT_EQ(0, narrow.SetAt(sstring(name), i));
    std::u16string name16(name, name + std::char_traits<char>::length(name));
    ASSERT_EQ(0, wide.SetAt(usstring(name16.c_str()), i));
    ++i;
  }
  EXPECT_EQ(-451, narrow.SetAt(sstring("co.uk"), 9));
  ASSERT_NE(nullptr, narrow.Lookup(sstring("com.au")));
  EXPECT_EQ(1, *narrow.Lookup(sstring("com.au")));
  EXPECT_EQ(nullptr, narrow.Lookup(sstring("org.au")));
  ASSERT_NE(nullptr, wide.Lookup(usstring(u"a key longer than the inline buffer")));
  EXPECT_EQ(2, *wide.Lookup(usstring(u"a key longer than the inline buffer")));
}

TEST(CMapTest, AllocationFailureLeavesMapUnchanged) {
  AllocFailOff off;
  CMap<sstring, sstring> map;
  ASSERT_EQ(0, map.InitHashTable(8));
  const sstring key("a key longer than the inline buffer of sstring");
  const sstring value("a value longer than the inline buffer of sstring");
  ASSERT_EQ(0, map.SetAt(sstring("first"), value));
  const std::int64_t baseline = asfn_live_blocks();

  for (std::uint64_t step = 1; step <= 3; ++step) {  // Node, key copy, value copy.
    asfn_fail_at(step, ASFN_FAIL_ONCE);
    EXPECT_EQ(-2, map.SetAt(key, value)) << "step " << step;
    EXPECT_EQ(baseline, asfn_live_blocks()) << "step " << step;
    EXPECT_EQ(1u, map.GetCount());
    EXPECT_EQ(nullptr, map.Lookup(key));
  }
  for (std::uint64_t step = 1; step <= 2; ++step) {  // Head array, tail array.
    asfn_fail_at(step, ASFN_FAIL_ONCE);
    EXPECT_EQ(-2, map.InitHashTable(64)) << "step " << step;
    EXPECT_EQ(baseline, asfn_live_blocks());
    EXPECT_EQ(8u, map.GetHashTableSize());
    ASSERT_NE(nullptr, map.Lookup(sstring("first")));
  }
  asfn_fail_at(0, ASFN_FAIL_OFF);
  ASSERT_EQ(0, map.SetAt(key, value));
  EXPECT_STREQ(value.c_str(), map.Lookup(key)->c_str());
}

TEST(CMapTest, WalkMayRemoveTheEntryJustReturned) {
  IntMap map;
  ASSERT_EQ(0, map.InitHashTable(3));
  for (std::uint32_t key = 0; key < 20; ++key) ASSERT_EQ(0, map.SetAt(key, static_cast<int>(key)));
  int sum = 0;
  for (auto pos = map.GetStartPosition(); pos != nullptr;) {
    const std::uint32_t* key = nullptr;
    int* value = nullptr;
    map.GetNextAssoc(pos, key, value);
    sum += *value;
    if (*key % 2 == 0) {
      EXPECT_TRUE(map.RemoveKey(*key));
    }
  }
  EXPECT_EQ(190, sum);
  EXPECT_EQ(10u, map.GetCount());
  int visited = 0;
  static_cast<const IntMap&>(map).ForEach([&visited](std::uint32_t key, int) {
    EXPECT_EQ(1u, key % 2);
    ++visited;
  });
  EXPECT_EQ(10, visited);
}

}  // namespace
}  // namespace ascommon
