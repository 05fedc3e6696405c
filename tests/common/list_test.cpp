#include "common/list.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "asfn/asfn.h"

namespace ascommon {
namespace {

using Values = std::vector<std::uint64_t>;

Values Walk(const CList<std::uint64_t>& list) {
  Values values;
  for (auto pos = list.GetHeadPosition(); pos != nullptr;) values.push_back(list.GetNext(pos));
  return values;
}

TEST(CListTest, AppendRemoveFromHeadEmptyListAndAllocationFailure) {
  CList<std::uint64_t> list;
  for (std::uint64_t v : {5u, 6u, 7u}) ASSERT_EQ(0, list.AddTail(v));
  EXPECT_EQ((Values{5, 6, 7}), Walk(list));
  for (int i = 0; i < 3; ++i) list.RemoveHead();
  EXPECT_THROW(list.GetHead(), EmptyListException);
  EXPECT_THROW(list.RemoveHead(), EmptyListException);
  // The tail was reset with the last node: a new element is head and tail.
  ASSERT_EQ(0, list.AddTail(8));
  EXPECT_EQ((Values{8}), Walk(list));

  const std::int64_t baseline = asfn_live_blocks();
  asfn_fail_at(1, ASFN_FAIL_ONCE);
  EXPECT_EQ(-2, list.AddTail(2));
  asfn_fail_at(0, ASFN_FAIL_OFF);
  EXPECT_TRUE(baseline == asfn_live_blocks() && Walk(list) == Values{8}) << "an allocation failure keeps the list";
  list.RemoveAll();
  EXPECT_EQ(baseline - 1, asfn_live_blocks());
}

}  // namespace
}  // namespace ascommon
