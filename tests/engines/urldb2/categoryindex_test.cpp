// CCategoryIndex against the databases it was built over: exactly the lists holding each
// key, for keys shared between lists and pieces, the key 0, and lists larger than the
// estimate the table is first sized from; over lists as inserted and as loaded from files
// (whose sorted sets are merged while the index is built).
#include "engines/urldb2/categoryindex.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "engines/urldb2/urlcategorydb.h"
#include "support/scratch_dir.h"

namespace {

using ascommon::CCategoryIndex;
using ascommon::CCategoryProbe;
using ascommon::CURLCategoryDB;
using ascommon::ECategoryPiece;

CCategoryProbe Probe(std::uint64_t key) {
  CCategoryProbe probe;
  for (int p = 0; p < 3; ++p) probe.keys[p] = key, probe.present[p] = true;
  return probe;
}

TEST(CategoryIndexTest, NamesExactlyTheListsHoldingEachKey) {
  // Six slots, one empty. Lists 1 and 3 share half their keys; the three pieces of lists 2
  // and 5 hold different keys (three times the estimate from their largest sets, so the
  // table grows while keys are in flight); list 0 holds the key 0 as a domain only.
  std::mt19937_64 random(3);
  std::vector<std::unique_ptr<CURLCategoryDB>> owned;
  const CURLCategoryDB* lists[6] = {};
  std::vector<std::uint64_t> all;
  for (int i : {0, 1, 2, 3, 5}) {
    owned.push_back(std::make_unique<CURLCategoryDB>());
    lists[i] = owned.back().get();
    for (int n = 0; n < 20000; ++n) {
      const std::uint64_t shared = i == 3 && n % 2 == 0 ? all[20000 + n] : random();
      for (int p = 0; p < 3; ++p) {
        const bool distinct = i == 2 || i == 5;
        const std::uint64_t key = distinct ? random() : shared;
        ASSERT_GE(owned.back()->AddKey(static_cast<ECategoryPiece>(p), key), 0);
        if (distinct || p == 0) all.push_back(key);
      }
    }
  }
  ASSERT_EQ(owned[0]->AddKey(ECategoryPiece::kDomain, 0), 0);
  all.push_back(0);
  for (int n = 0; n < 1000; ++n) all.push_back(random());  // on no list

  // The same lists written and loaded back: their sets in the sorted form.
  zztest::ScratchDir dir;
  std::vector<std::unique_ptr<CURLCategoryDB>> loaded;
  const CURLCategoryDB* loadedLists[6] = {};
  for (int i = 0; i < 6; ++i) {
    if (lists[i] == nullptr) continue;
    const std::u16string path = zztest::Wide(dir / ("list" + std::to_string(i)));
    ASSERT_EQ(lists[i]->WriteFile(path.c_str(), dir.Wide().c_str()), 0);
    loaded.push_back(std::make_unique<CURLCategoryDB>());
    ASSERT_EQ(loaded.back()->LoadFile(path.c_str(), dir.Wide().c_str()), 0);
    ASSERT_NE(loaded.back()->GetSet(ECategoryPiece::kAddress).SortedKeys(), nullptr);
    loadedLists[i] = loaded.back().get();
  }
  for (const CURLCategoryDB* const* built : {lists, loadedLists}) {
    CCategoryIndex index;
    ASSERT_EQ(index.Build(built, 6), 0);
    for (std::uint64_t key : all) {
      std::uint32_t holders[3];
      index.Holders(Probe(key), holders);
      for (int p = 0; p < 3; ++p) {
        std::uint32_t want = 0;
        for (int i = 0; i < 6; ++i) {
          if (lists[i] == nullptr) continue;
          if (lists[i]->GetSet(static_cast<ECategoryPiece>(p)).Contains(key)) want |= 1u << i;
        }
        ASSERT_EQ(holders[p], want) << key << " piece " << p;
      }
    }
    // An absent piece is held by no list.
    CCategoryProbe probe = Probe(all[0]);
    probe.present[0] = false;
    std::uint32_t holders[3];
    index.Holders(probe, holders);
    EXPECT_EQ(holders[0], 0u);
    EXPECT_EQ(holders[1], 1u);
    EXPECT_EQ(index.Build(lists, CCategoryIndex::kMaxLists + 1), -1);
  }
}

TEST(CategoryIndexTest, GrowsItsBucketsWhenTheListsHoldMoreThanEstimated) {
  // Three sets of distinct keys: three times the estimate (the largest set), so buckets
  // sized from it fill up and the overflow grows until the buckets double.
  std::mt19937_64 random(9);
  CURLCategoryDB list;
  std::vector<std::uint64_t> keys;
  for (int p = 0; p < 3; ++p) {
    for (int n = 0; n < 150000; ++n) {
      keys.push_back(random());
      ASSERT_EQ(list.AddKey(static_cast<ECategoryPiece>(p), keys.back()), 0);
    }
  }
  const CURLCategoryDB* lists[2] = {nullptr, &list};
  CCategoryIndex index;
  ASSERT_EQ(index.Build(lists, 2), 0);
  EXPECT_EQ(index.GetCount(), keys.size());
  EXPECT_LE(index.GetOverflowCount() * 16, index.GetCount());
  for (std::size_t k = 0; k < keys.size(); ++k) {
    std::uint32_t holders[3];
    index.Holders(Probe(keys[k]), holders);
    for (std::size_t p = 0; p < 3; ++p) ASSERT_EQ(holders[p], p == k / 150000 ? 2u : 0u) << k;
    index.Holders(Probe(random()), holders);
    ASSERT_EQ(holders[0] | holders[1] | holders[2], 0u);
  }
}

TEST(CategoryIndexTest, RefusesListsWithMoreMaskCodesThanEntriesHold) {
  // Key k on list i for every bit i of k: 2^17 keys in as many combinations of lists, more
  // than the 65,535 codes an entry's 16 bits can name. The build fails rather than store a
  // code that does not fit, and the index then holds nothing.
  std::vector<std::unique_ptr<CURLCategoryDB>> owned;
  const CURLCategoryDB* lists[17] = {};
  for (int i = 0; i < 17; ++i) {
    owned.push_back(std::make_unique<CURLCategoryDB>());
    lists[i] = owned.back().get();
  }
  for (std::uint64_t k = 1; k < (1u << 17); ++k) {
    for (int i = 0; i < 17; ++i) {
      if (((k >> i) & 1) != 0) {
        ASSERT_EQ(owned[i]->AddKey(ECategoryPiece::kDomain, k * 977), 0);
      }
    }
  }
  CCategoryIndex index;
  EXPECT_EQ(index.Build(lists, 17), -2);
  EXPECT_EQ(index.GetCount(), 0u);
  std::uint32_t holders[3];
  index.Holders(Probe(977), holders);
  EXPECT_EQ(holders[2], 0u);
}

}  // namespace
