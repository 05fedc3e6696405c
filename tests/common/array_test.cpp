// CArray: growth steps, index checks, adds of its own elements, element lifetimes and
// all-or-nothing behaviour when an allocation fails.
#include "common/array.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "asfn/asfn.h"
#include "common/ustring.h"

namespace ascommon {
namespace {

const char kLong[] = "a text well beyond the inline buffer of sstring";

template <class T, std::uint64_t Step>
std::string Joined(const CArray<T, Step>& a) {
  std::string out;
  for (std::uint64_t i = 0; i < a.GetSize(); ++i) out += std::string(a[i].c_str()) + ",";
  return out;
}

// Add grows when count + 1 reaches the capacity, to (n / step + 1) * step; indexes stop at
// the count.
TEST(CArrayTest, GrowStepAndIndexChecks) {
  CArray<int, 8> a;
  for (std::uint64_t i = 0; i < 9; ++i) {
    ASSERT_EQ(0, a.Add(static_cast<int>(i)));
    EXPECT_EQ(i < 7 ? 8u : 16u, a.GetCapacity()) << i + 1 << " adds";
  }
  for (std::uint64_t i = 0; i < 9; ++i) EXPECT_EQ(static_cast<int>(i), a[i]);
  ASSERT_TRUE(a.SetSize(16, false) == 0 && a.GetCapacity() == 24u) << "exactly a step: the next multiple above";
  ASSERT_EQ(0, a.SetSize(4, true));  // shrinking keeps the first elements
  EXPECT_TRUE(a.GetCapacity() == 8u && a[3] == 3);
  ASSERT_EQ(0, a.SetSize(6, true));
  EXPECT_EQ(0, a[5]) << "value-initialised";
  EXPECT_THROW(a[6], InvalidIndexException);
  EXPECT_THROW(a.SetAt(6, 3), InvalidIndexException);
  ASSERT_EQ(0, a.SetSize(0, false));
  EXPECT_EQ(nullptr, a.GetData());
}

// A value that refers into the array's own buffer survives the growth it causes.
TEST(CArrayTest, AddOfOwnElementAcrossGrowth) {
  CArray<sstring, 2> own;  // a small step makes each add cross a reallocation
  ASSERT_EQ(0, own.Add(kLong));
  ASSERT_EQ(0, own.Add(own[0]));
  ASSERT_EQ(0, own.Add(own[1]));
  EXPECT_EQ(std::string(kLong) + "," + kLong + "," + kLong + ",", Joined(own));
}

TEST(CArrayTest, ShrinkingAndDestructionReleaseEveryElement) {
  const std::int64_t baseline = asfn_live_blocks();
  {
    CArray<sstring, 8> a;
    for (int i = 0; i < 20; ++i) ASSERT_EQ(0, a.Add(kLong));
    ASSERT_EQ(0, a.SetSize(5, false));
    EXPECT_EQ(baseline + 6, asfn_live_blocks()) << "the buffer and five texts";
  }
  EXPECT_EQ(baseline, asfn_live_blocks());
}

// The new buffer, or the copy of a long string, fails: the array keeps its count and content
// and no block leaks.
TEST(CArrayTest, AllocationFailureLeavesArrayUnchanged) {
  const sstring longText(kLong);
  CArray<sstring, 4> a;
  for (const char* text : {"one", kLong, "three"}) ASSERT_EQ(0, a.Add(text));  // capacity 4
  const std::int64_t baseline = asfn_live_blocks();
  const struct {
    std::uint64_t failAt;
    std::int32_t (*op)(CArray<sstring, 4>&, const sstring&);
  } cases[] = {
      {1, [](CArray<sstring, 4>& x, const sstring&) { return x.Add("four"); }},  // the buffer
      {1, [](CArray<sstring, 4>& x, const sstring&) { return x.SetSize(100, true); }},
      {1, [](CArray<sstring, 4>& x, const sstring& s) { return x.SetAt(0, s); }},  // the copy
      {2, [](CArray<sstring, 4>& x, const sstring& s) { return x.Add(s); }},  // grown, copy fails
  };
  for (const auto& c : cases) {
    asfn_fail_at(c.failAt, ASFN_FAIL_ONCE);
    EXPECT_EQ(-2, c.op(a, longText));
    asfn_fail_at(0, ASFN_FAIL_OFF);
    EXPECT_EQ(baseline, asfn_live_blocks());
    EXPECT_EQ(std::string("one,") + kLong + ",three,", Joined(a));
  }
}

}  // namespace
}  // namespace ascommon
