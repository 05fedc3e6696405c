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
// Built once, so passing it allocates nothing besides the copy under test.
const sstring& LongText() {
  static const sstring text(kLong);
  return text;
}

struct AllocFailOff {
  ~AllocFailOff() { asfn_fail_at(0, ASFN_FAIL_OFF); }
};

TEST(CArrayTest, CapacityFollowsGrowStep) {
  struct Case {
    std::uint64_t adds;
    std::uint64_t capacity64;
    std::uint64_t capacity1;
    std::uint64_t capacity8;
  };
  // Add grows when count + 1 reaches the capacity, to (n / step + 1) * step.
  const Case cases[] = {
      {1, 64, 2, 8}, {63, 64, 64, 64}, {64, 128, 65, 72}, {65, 128, 66, 72}, {127, 128, 128, 128},
  };
  for (const Case& c : cases) {
    CArray<int, 64> a64;
    CArray<int, 1> a1;
    CArray<int, 8> a8;
    for (std::uint64_t i = 0; i < c.adds; ++i) {
      ASSERT_EQ(0, a64.Add(static_cast<int>(i)));
      ASSERT_EQ(0, a1.Add(static_cast<int>(i)));
      ASSERT_EQ(0, a8.Add(static_cast<int>(i)));
    }
    EXPECT_EQ(c.capacity64, a64.GetCapacity()) << c.adds << " adds";
    EXPECT_EQ(c.capacity1, a1.GetCapacity()) << c.adds << " adds";
    EXPECT_EQ(c.capacity8, a8.GetCapacity()) << c.adds << " adds";
    EXPECT_EQ(c.adds, a64.GetSize());
    for (std::uint64_t i = 0; i < c.adds; ++i) EXPECT_EQ(static_cast<int>(i), a64[i]);
  }
}

TEST(CArrayTest, SetSizeRules) {
  CArray<int, 64> a;
  ASSERT_EQ(0, a.SetSize(10, true));
  EXPECT_EQ(10u, a.GetSize());
  EXPECT_EQ(64u, a.GetCapacity());
  for (std::uint64_t i = 0; i < 10; ++i) EXPECT_EQ(0, a[i]);
  for (std::uint64_t i = 0; i < 10; ++i) a[i] = static_cast<int>(i + 1);

  ASSERT_EQ(0, a.SetSize(64, false));  // Exactly a step: the next multiple above.
  EXPECT_EQ(128u, a.GetCapacity());
  EXPECT_EQ(10u, a.GetSize());

  ASSERT_EQ(0, a.SetSize(4, true));  // Shrinking keeps the first elements.
  EXPECT_EQ(4u, a.GetSize());
  EXPECT_EQ(64u, a.GetCapacity());
  EXPECT_EQ(4, a[3]);

  ASSERT_EQ(0, a.SetSize(0, false));
  EXPECT_EQ(0u, a.GetSize());
  EXPECT_EQ(0u, a.GetCapacity());
  EXPECT_EQ(nullptr, a.GetData());
}

TEST(CArrayTest, IndexOutOfRangeThrows) {
  CArray<int, 64> a;
  EXPECT_THROW(a.GetAt(0), InvalidIndexException);
  ASSERT_EQ(0, a.Add(7));
  EXPECT_EQ(7, a.GetAt(0));
  try {
    a[1];
    FAIL() << "no exception";
  } catch (const InvalidIndexException& e) {
    EXPECT_EQ(-301, e.GetCode());
  }
  EXPECT_THROW(a.SetAt(1, 3), InvalidIndexException);
  EXPECT_THROW(a.RemoveAt(1), InvalidIndexException);
  EXPECT_THROW(a.InsertAt(2, 3), InvalidIndexException);
}

TEST(CArrayTest, InsertAndRemoveKeepOrder) {
  CArray<sstring, 2> a;  // A small step makes inserts cross reallocations.
  for (const char* text : {"b", "d"}) ASSERT_EQ(0, a.Add(text));
  ASSERT_EQ(0, a.InsertAt(0, "a"));
  ASSERT_EQ(0, a.InsertAt(2, "c"));
  ASSERT_EQ(0, a.InsertAt(4, kLong));
  auto joined = [&a] {
    std::string out;
    for (std::uint64_t i = 0; i < a.GetSize(); ++i) out += std::string(a[i].c_str()) + ",";
    return out;
  };
  EXPECT_EQ(std::string("a,b,c,d,") + kLong + ",", joined());
  a.RemoveAt(0);
  a.RemoveAt(3);
  a.RemoveAt(1);
  EXPECT_EQ("b,d,", joined());
}

TEST(CArrayTest, AddOfOwnElementSurvivesGrowth) {
  CArray<sstring, 2> a;
  ASSERT_EQ(0, a.Add(kLong));
  ASSERT_EQ(2u, a.GetCapacity());
  ASSERT_EQ(0, a.Add(a[0]));  // Grows while value refers into the old buffer.
  ASSERT_EQ(0, a.InsertAt(0, a[1]));
  ASSERT_EQ(3u, a.GetSize());
  for (std::uint64_t i = 0; i < 3; ++i) EXPECT_STREQ(kLong, a[i].c_str());
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

TEST(CArrayTest, AllocationFailureLeavesArrayUnchanged) {
  AllocFailOff off;
  CArray<sstring, 4> a;
  LongText();
  ASSERT_EQ(0, a.Add("one"));
  ASSERT_EQ(0, a.Add(kLong));
  ASSERT_EQ(0, a.Add("three"));  // count 3, capacity 4: the next Add grows.
  const std::int64_t baseline = asfn_live_blocks();

  asfn_fail_at(1, ASFN_FAIL_ONCE);  // The new buffer.
  EXPECT_EQ(-2, a.Add("four"));
  asfn_fail_at(1, ASFN_FAIL_ONCE);  // SetSize directly.
  EXPECT_EQ(-2, a.SetSize(100, true));
  asfn_fail_at(1, ASFN_FAIL_ONCE);  // The heap block of the string's copy.
  EXPECT_EQ(-2, a.SetAt(0, LongText()));
  EXPECT_EQ(baseline, asfn_live_blocks());
  ASSERT_EQ(3u, a.GetSize());
  EXPECT_STREQ("one", a[0].c_str());
  EXPECT_STREQ(kLong, a[1].c_str());
  EXPECT_STREQ("three", a[2].c_str());

  // The buffer grows, then the copy of the long text fails: the count stays.
  asfn_fail_at(2, ASFN_FAIL_ONCE);
  EXPECT_EQ(-2, a.Add(LongText()));
  EXPECT_EQ(3u, a.GetSize());
  asfn_fail_at(0, ASFN_FAIL_OFF);
  ASSERT_EQ(0, a.Add("four"));
  EXPECT_STREQ("four", a[3].c_str());
}

TEST(CArrayTest, CopyIsAllOrNothing) {
  AllocFailOff off;
  CArray<sstring, 64> source;
  for (int i = 0; i < 3; ++i) ASSERT_EQ(0, source.Add(kLong));
  CArray<sstring, 64> target;
  ASSERT_EQ(0, target.Add("old"));
  const std::int64_t baseline = asfn_live_blocks();
  asfn_fail_at(3, ASFN_FAIL_ONCE);  // Buffer, first copy, then the second copy fails.
  EXPECT_EQ(-2, target.Copy(source));
  EXPECT_EQ(baseline, asfn_live_blocks());
  ASSERT_EQ(1u, target.GetSize());
  EXPECT_STREQ("old", target[0].c_str());
  ASSERT_EQ(0, target.Copy(source));
  ASSERT_EQ(3u, target.GetSize());
  EXPECT_STREQ(kLong, target[2].c_str());
}

}  // namespace
}  // namespace ascommon
