// CCategoryGate against the databases it was built over: never a list left out that holds
// a key, rarely one named that does not.
#include "engines/urldb2/categorygate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

#include "engines/urldb2/urlcategorydb.h"

namespace {

using ascommon::CCategoryGate;
using ascommon::CCategoryProbe;
using ascommon::CURLCategoryDB;
using ascommon::ECategoryPiece;

CCategoryProbe Probe(std::uint64_t address, std::uint64_t subdomain, std::uint64_t domain) {
  CCategoryProbe probe;
  const std::uint64_t keys[3] = {address, subdomain, domain};
  for (int p = 0; p < 3; ++p) probe.keys[p] = keys[p], probe.present[p] = true;
  return probe;
}

TEST(CategoryGateTest, NamesEveryListHoldingAKeyAndRarelyAnother) {
  // Five lists (one slot empty) of 20,000 random keys per piece; lists 1 and 3 share keys.
  std::mt19937_64 random(3);
  std::vector<std::unique_ptr<CURLCategoryDB>> owned;
  const CURLCategoryDB* lists[6] = {};
  std::vector<std::uint64_t> keys[6][3];
  for (int i : {0, 1, 2, 3, 5}) {
    owned.push_back(std::make_unique<CURLCategoryDB>());
    lists[i] = owned.back().get();
    for (int p = 0; p < 3; ++p) {
      for (int n = 0; n < 20000; ++n) {
        const std::uint64_t key = i == 3 && n % 2 == 0 ? keys[1][p][n] : random();
        keys[i][p].push_back(key);
        ASSERT_GE(owned.back()->AddKey(static_cast<ECategoryPiece>(p), key), 0);
      }
    }
  }
  CCategoryGate gate;
  ASSERT_EQ(gate.Build(lists, 6), 0);
  for (int i : {0, 1, 2, 3, 5}) {
    for (int n = 0; n < 20000; ++n) {
      std::uint32_t masks[3];
      gate.Candidates(Probe(keys[i][0][n], keys[i][1][n], keys[i][2][n]), masks);
      const std::uint32_t want = (1u << i) | (i == 3 && n % 2 == 0 ? 2u : 0u);
      for (int p = 0; p < 3; ++p) ASSERT_EQ(masks[p] & want, want) << i << " " << p << " " << n;
    }
  }
  // Keys on no list: each list is named for under 1% of them, the empty slot never.
  int named[6] = {};
  for (int n = 0; n < 30000; ++n) {
    std::uint32_t masks[3];
    gate.Candidates(Probe(random(), random(), random()), masks);
    for (int b = 0; b < 18; ++b) named[b % 6] += (masks[b / 6] >> (b % 6)) & 1u;
  }
  EXPECT_EQ(*std::max_element(named, named + 6) < 900 && named[4] == 0, true)
      << named[0] << " " << named[1] << " " << named[2] << " " << named[3] << " " << named[5];
}

}  // namespace
