// CArray: growth steps, index checks, order under insert/remove, element lifetimes and
// all-or-nothing behaviour when an allocation fails.
#include "common/array.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "asfn/asfn.h"
#include "common/ustring.h"

namespace ascommon {
namespace {

// Counts live instances, so a test can prove every constructed element was destroyed.
struct Tracked {
  static int live;
  int value = 0;
  Tracked() { ++live; }
  Tracked(int v) : value(v) { ++live; }  // NOLINT(google-explicit-constructor)
  Tracked(const Tracked& other) : value(other.value) { ++live; }
  Tracked& operator=(const Tracked&) = default;
  ~Tracked() { --live; }
};
int Tracked::live = 0;

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
  const std::uint64_t capacities[] = {8, 8, 8, 8, 8, 8, 8, 16, 16};  // after 1..9 adds
  for (std::uint64_t i = 0; i < 9; ++i) {
    ASSERT_EQ(0, a.Add(static_cast<int>(i)));
    EXPECT_EQ(capacities[i], a.GetCapacity()) << i + 1 << " adds";
  }
  for (std::uint64_t i = 0; i < 9; ++i) EXPECT_EQ(static_cast<int>(i), a[i]);
  ASSERT_EQ(0, a.SetSize(16, false));  // exactly a step: the next multiple above
  EXPECT_EQ(24u, a.GetCapacity());
  ASSERT_EQ(0, a.SetSize(4, true));  // shrinking keeps the first elements
  EXPECT_EQ(8u, a.GetCapacity());
  EXPECT_EQ(3, a[3]);
  ASSERT_EQ(0, a.SetSize(6, true));
  EXPECT_EQ(0, a[5]) << "value-initialised";
  ASSERT_EQ(0, a.SetSize(1, true));
  EXPECT_EQ(0, a[0]);
  EXPECT_THROW(a[1], InvalidIndexException);
  EXPECT_THROW(a.SetAt(1, 3), InvalidIndexException);
  EXPECT_THROW(a.RemoveAt(1), InvalidIndexException);
  EXPECT_THROW(a.InsertAt(2, 3), InvalidIndexException);
  EXPECT_EQ(0, a.InsertAt(1, 8)) << "inserting at the count appends";
  ASSERT_EQ(0, a.SetSize(0, false));
  EXPECT_EQ(nullptr, a.GetData());
}

TEST(CArrayTest, InsertAndRemoveKeepOrderAcrossGrowth) {
  CArray<sstring, 2> a;  // a small step makes inserts cross reallocations
  for (const char* text : {"b", "d"}) ASSERT_EQ(0, a.Add(text));
  ASSERT_EQ(0, a.InsertAt(0, "a"));
  ASSERT_EQ(0, a.InsertAt(2, "c"));
  ASSERT_EQ(0, a.InsertAt(4, kLong));
  EXPECT_EQ(std::string("a,b,c,d,") + kLong + ",", Joined(a));
  a.RemoveAt(0);
  a.RemoveAt(3);
  a.RemoveAt(1);
  EXPECT_EQ("b,d,", Joined(a));

  // A value that refers into the array's own buffer survives the growth it causes.
  CArray<sstring, 2> own;
  ASSERT_EQ(0, own.Add(kLong));
  ASSERT_EQ(0, own.Add(own[0]));
  ASSERT_EQ(0, own.InsertAt(0, own[1]));
  EXPECT_EQ(std::string(kLong) + "," + kLong + "," + kLong + ",", Joined(own));
}

TEST(CArrayTest, EveryConstructedElementIsDestroyed) {
  {
    CArray<Tracked, 8> a;
    for (int i = 0; i < 20; ++i) ASSERT_EQ(0, a.Add(Tracked(i)));
    a.RemoveAt(3);
    ASSERT_EQ(0, a.InsertAt(0, Tracked(99)));
    ASSERT_EQ(0, a.SetSize(5, false));
    EXPECT_EQ(99, a[0].value);
    EXPECT_EQ(static_cast<int>(a.GetCapacity()), Tracked::live);
  }
  EXPECT_EQ(0, Tracked::live);
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
