#include "common/blackbox.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "asfn/asfn.h"
#include "support/trace_capture.h"

namespace ascommon {
namespace {

const char kLongText[] = "a page text well beyond the inline buffer";
const char16_t kLongWide[] = u"a wide page text of some length";

// A generic object that counts its live instances.
struct CCounted : CBlackBoxObject {
  static int live;
  CCounted() { ++live; }
  ~CCounted() override { --live; }
};
int CCounted::live = 0;

std::string Narrow(const char16_t* text) {
  std::string out;
  for (; text != nullptr && *text != 0; ++text) out += static_cast<char>(*text);
  return out;
}

// Runs op and returns the code of the ASException it throws ("no throw" gives 1).
int CodeOf(const std::function<void()>& op, std::string* what = nullptr) {
  try {
    op();
  } catch (const ASException& e) {
    if (what != nullptr) *what = e.what();
    return e.GetCode();
  }
  return 1;
}

// The stored value of id as text, whatever its kind: the fixture's "what is in the bag".
std::string Describe(const CBlackBox& bag, std::uint32_t id) {
  auto attempt = [](const std::function<std::string()>& read) -> std::string {
    try {
      return read();
    } catch (const ASException&) {
      return "";
    }
  };
  std::string out = std::to_string(bag.GetKind(id)) + ":";
  switch (bag.GetKind(id)) {
    case CBlackBox::kScalar:
      out += attempt([&] { return "b" + std::to_string(bag.GetBool(id)); });
      out += attempt([&] { return "i" + std::to_string(bag.GetInt(id)); });
      out += attempt([&] { return "z" + std::to_string(bag.GetSizeT(id)); });
      break;
    case CBlackBox::kText:
      out += bag.GetCharBuf(id) == nullptr ? "(null)" : bag.GetCharBuf(id);
      break;
    case CBlackBox::kWideText:
      out += Narrow(bag.GetUCharBuf(id));
      break;
    case CBlackBox::kContainer:
      out += attempt([&] {
        std::vector<std::int32_t> v(bag.GetArray(static_cast<std::int32_t*>(nullptr), id));
        bag.GetArray(v.data(), id);
        std::string s = "ints";
        for (std::int32_t x : v) s += " " + std::to_string(x);
        return s;
      });
      out += attempt([&] {
        std::vector<const char*> v(bag.GetCharBufArray(nullptr, id));
        bag.GetCharBufArray(v.data(), id);
        std::string s = "texts";
        for (const char* x : v) s += std::string(" ") + x;
        return s;
      });
      out += attempt([&] { return "n" + std::to_string(bag.GetUCharBufArray(nullptr, id)); });
      out += attempt(
          [&] { return "d" + std::to_string(bag.GetArray(static_cast<double*>(nullptr), id)); });
      break;
    case CBlackBox::kGenericObject:
      out += bag.GetGenericObject(id) != nullptr ? "object" : "null";
      break;
  }
  return out;
}

enum : std::uint32_t {
  kIdInt = 1,
  kIdText,
  kIdWide,
  kIdInts,
  kIdTexts,
  kIdBool,
  kIdObject,
  kIdNew = 100
};

CCounted g_object;

void Fill(CBlackBox& bag) {
  const std::int32_t ints[] = {1, 2, 3};
  const char* const texts[] = {kLongText, "two"};
  bag.SetInt(5, kIdInt, false);
  bag.SetCharBuf(kLongText, kIdText, false);
  bag.SetUCharBuf(kLongWide, kIdWide, false);
  bag.SetArray(ints, 3, kIdInts, false);
  bag.SetCharBufArray(texts, 2, kIdTexts, false);
  bag.SetBool(true, kIdBool, false);
  bag.SetGenericObject(kIdObject, &g_object);
}

std::string Snapshot(const CBlackBox& bag) {
  std::string out;
  for (std::uint32_t id :
       {kIdInt, kIdText, kIdWide, kIdInts, kIdTexts, kIdBool, kIdObject, kIdNew}) {
    out += Describe(bag, id) + "|";
  }
  return out + std::to_string(bag.GetCount());
}

class BlackBoxTest : public ::testing::Test {
 protected:
  void SetUp() override { Fill(bag); }
  zztest::TraceCapture trace;
  CBlackBox bag;
};

TEST_F(BlackBoxTest, ReplacementRules) {
  struct Case {
    const char* name;
    std::function<void(CBlackBox&)> set;
    int code;             // 1: no exception.
    const char* message;  // The exception text, and the text of its trace line.
    unsigned level;
    std::uint32_t id;
    const char* after;  // Describe(id) afterwards.
  };
  const char16_t* const wide[] = {u"x"};
  const std::uint64_t big[] = {7};
  const Case cases[] = {
      {"int without force", [](CBlackBox& b) { b.SetInt(6, kIdInt, false); }, -502,
       "ASException - CODE: -502 MESSAGE: Problems adding the value", 2, kIdInt, "1:i5"},
      {"int forced", [](CBlackBox& b) { b.SetInt(6, kIdInt, true); }, 1, "", 0, kIdInt, "1:i6"},
      {"int over text", [](CBlackBox& b) { b.SetInt(6, kIdText, true); }, -500,
       "ASException - CODE: -500 MESSAGE: Problems adding the value", 2, kIdText,
       "5:a page text well beyond the inline buffer"},
      {"bool without force", [](CBlackBox& b) { b.SetBool(false, kIdBool, false); }, -502,
       "ASException - CODE: -502 MESSAGE: Problems adding the value", 0, kIdBool, "1:b1"},
      {"int replaces bool", [](CBlackBox& b) { b.SetInt(-7, kIdBool, true); }, 1, "", 0, kIdBool,
       "1:i-7"},
      {"size over int", [](CBlackBox& b) { b.SetSizeT(1ull << 40, kIdInt, true); }, 1, "", 0,
       kIdInt, "1:z1099511627776"},
      {"text over wide text", [](CBlackBox& b) { b.SetCharBuf("t", kIdWide, true); }, -500,
       "ASException - CODE: -500 MESSAGE: Problmes adding the buffer", 2, kIdWide,
       "4:a wide page text of some length"},
      {"text forced", [](CBlackBox& b) { b.SetCharBuf("t", kIdText, true); }, 1, "", 0, kIdText,
       "5:t"},
      {"wide text without force", [](CBlackBox& b) { b.SetUCharBuf(u"w", kIdWide, false); }, -502,
       "ASException - CODE: -502 MESSAGE: Problems adding the buffer", 2, kIdWide,
       "4:a wide page text of some length"},
      {"wide texts over ints (both containers)",
       [&wide](CBlackBox& b) { b.SetUCharBufArray(wide, 1, kIdInts, true); }, 1, "", 0, kIdInts,
       "3:n1"},
      {"texts over int",
       [](CBlackBox& b) {
         const char* const t[] = {"x"};
         b.SetCharBufArray(t, 1, kIdInt, true);
       },
       -500, "ASException - CODE: -500 MESSAGE: Problems adding the array", 0, kIdInt, "1:i5"},
      {"numbers without force", [&big](CBlackBox& b) { b.SetArray(big, 1, kIdInts, false); }, -502,
       "ASException - CODE: -502 MESSAGE: Could not add to bb", 0, kIdInts, "3:ints 1 2 3"},
      {"null numbers",
       [](CBlackBox& b) { b.SetArray(static_cast<double*>(nullptr), 2, kIdNew, false); }, -1,
       "ASException - CODE: -1 MESSAGE: Could not add to bb", 0, kIdNew, "0:"},
  };
  for (const Case& c : cases) {
    CBlackBox fresh;
    Fill(fresh);
    trace.Clear();
    std::string what;
    EXPECT_EQ(c.code, CodeOf([&] { c.set(fresh); }, &what)) << c.name;
    const auto lines = trace.Lines();
    EXPECT_EQ(Describe(fresh, c.id), c.after) << c.name;
    if (c.code == 1) continue;
    EXPECT_EQ(c.message, what) << c.name;
    ASSERT_EQ(1u, lines.size()) << c.name;
    EXPECT_EQ(c.level, lines[0].level) << c.name;
    EXPECT_EQ(0u, lines[0].text.rfind("[VEVOZOVI EXCEPTION] blackbox.cpp:", 0)) << lines[0].text;
    EXPECT_NE(std::string::npos, lines[0].text.find(std::string(" -") + c.message + "\n"))
        << lines[0].text;
  }
}

TEST_F(BlackBoxTest, GettersOfAbsentIdOrOtherKind) {
  struct Case {
    const char* name;
    std::function<void()> get;
    const char* message;
    unsigned level;
  };
  const char* const kMissing42 =
      "ASException - CODE: -501 MESSAGE: there is no object with id = 42 or is of other type";
  const Case cases[] = {
      {"int absent", [&] { bag.GetInt(42); }, kMissing42, 2},
      {"bool of int (other width)", [&] { bag.GetBool(kIdInt); },
       "ASException - CODE: -501 MESSAGE: there is no object with id = 1 or is of other type", 2},
      {"text of wide text", [&] { bag.GetCharBuf(kIdWide); },
       "ASException - CODE: -501 MESSAGE: there is no object with id = 3 or is of other type", 2},
      {"ints absent", [&] { bag.GetArray(static_cast<std::int32_t*>(nullptr), 42); },
       "ASException - CODE: -501 MESSAGE: No object with that id", 0},
      {"doubles of ints", [&] { bag.GetArray(static_cast<double*>(nullptr), kIdInts); },
       "ASException - CODE: -501 MESSAGE: Object with the id is of other type", 0},
      {"texts of ints", [&] { bag.GetCharBufArray(nullptr, kIdInts); },
       "ASException - CODE: -501 MESSAGE: Object with that id is of other type", 0},
      {"wide texts of texts", [&] { bag.GetUCharBufArray(nullptr, kIdTexts); },
       "ASException - CODE: -501 MESSAGE: Object with that id is of other type", 0},
  };
  for (const Case& c : cases) {
    trace.Clear();
    std::string what;
    EXPECT_EQ(-501, CodeOf(c.get, &what)) << c.name;
    EXPECT_EQ(c.message, what) << c.name;
    const auto lines = trace.Lines();
    ASSERT_EQ(1u, lines.size()) << c.name;
    EXPECT_EQ(c.level, lines[0].level) << c.name;
  }
  // An object slot holding null has no payload for the array getters.
  ASSERT_EQ(0, bag.SetGenericObject(50, nullptr));
  std::string what;
  EXPECT_EQ(-501, CodeOf([&] { bag.GetArray(static_cast<double*>(nullptr), 50); }, &what));
  EXPECT_EQ("ASException - CODE: -501 MESSAGE: No object with that id", what);
}

// Scalars of each width and a null text come back as stored (arrays are filled by Fill and
// read through Describe above; the filters' command tests read them too).
TEST_F(BlackBoxTest, ScalarsRoundTrip) {
  bag.SetUInt(0xFFFFFFF0u, 20, false);
  bag.SetDouble(0.125, 22, false);
  bag.SetCharBuf(nullptr, 23, false);
  EXPECT_EQ(0xFFFFFFF0u, bag.GetUInt(20));
  EXPECT_EQ(0.125, bag.GetDouble(22));
  EXPECT_EQ(nullptr, bag.GetCharBuf(23));  // A null text is stored as a null string.
  EXPECT_EQ(nullptr, bag.GetGenericObject(kIdInt));
  EXPECT_EQ(nullptr, bag.GetContainer(kIdInt));
}

// Generic objects stay the caller's: removing them, emptying or destroying the bag leaves
// them alive. Emptying releases every owned payload and keeps the bag usable.
TEST_F(BlackBoxTest, GenericObjectsStayWithTheCallerAndRemoveAllFreesTheRest) {
  auto* object = new CCounted();
  const int live = CCounted::live;
  {
    CBlackBox local;
    const std::int64_t emptyBag = asfn_live_blocks();
    ASSERT_EQ(0, local.SetGenericObject(9, object));
    EXPECT_EQ(object, local.GetGenericObjectRW(9));
    EXPECT_EQ(-502, local.SetGenericObject(9, object));  // Never replaced, never thrown.
    EXPECT_EQ(-500, CodeOf([&] { local.SetInt(1, 9, true); }));
    local.RemoveObject(9);
    local.RemoveObject(1234);  // Absent: ignored.
    EXPECT_EQ(nullptr, local.GetGenericObject(9));
    local.SetCharBuf("a text long enough to need its own block", 1, false);
    local.SetUCharBuf(u"wide", 2, false);
    const double values[] = {1.0, 2.0};
    local.SetArray(values, 2, 3, false);
    ASSERT_EQ(0, local.SetGenericObject(5, object));
    local.RemoveAll();
    EXPECT_EQ(0u, local.GetCount());
    EXPECT_EQ(emptyBag + 4, asfn_live_blocks()) << "only the node blocks stay, for reuse";
    local.SetInt(7, 1, false);  // no -502: the id is gone
    ASSERT_EQ(0, local.SetGenericObject(9, object));
  }
  EXPECT_EQ(live, CCounted::live);
  delete object;
}

TEST(BlackBoxMemoryTest, ConstructionFailureThrowsBadAlloc) {
  const std::int64_t baseline = asfn_live_blocks();
  for (std::uint64_t step = 1; step <= 2; ++step) {  // Bucket heads, then tails.
    asfn_fail_at(step, ASFN_FAIL_ONCE);
    EXPECT_THROW(CBlackBox bag, std::bad_alloc) << step;
    asfn_fail_at(0, ASFN_FAIL_OFF);
    EXPECT_EQ(baseline, asfn_live_blocks());
  }
}

// Every allocation of every operation is made to fail in turn: the call reports it (-2 or
// an exception), the bag keeps its old content, and nothing leaks.
TEST(BlackBoxMemoryTest, AllocationFailureSweep) {
  const std::int32_t ints[] = {4, 5};
  const char* const texts[] = {kLongText, "b", kLongText};
  const char16_t* const wide[] = {kLongWide, u"b"};
  CCounted object;
  struct Op {
    const char* name;
    int allocations;  // Scalars live in the element: only the map node is allocated.
    std::function<std::int32_t(CBlackBox&)> run;
  };
  const Op ops[] = {
      {"SetInt new", 1, [](CBlackBox& b) { return b.SetInt(1, kIdNew, false); }},
      {"SetCharBuf new", 3, [](CBlackBox& b) { return b.SetCharBuf(kLongText, kIdNew, false); }},
      {"SetCharBuf forced", 2,
       [](CBlackBox& b) {
         return b.SetCharBuf("a replacement beyond the inline size", kIdText, true);
       }},
      {"SetUCharBuf new", 3, [](CBlackBox& b) { return b.SetUCharBuf(kLongWide, kIdNew, false); }},
      {"SetCharBufArray forced", 4,
       [&](CBlackBox& b) { return b.SetCharBufArray(texts, 3, kIdTexts, true); }},
      {"SetUCharBufArray new", 5,
       [&](CBlackBox& b) { return b.SetUCharBufArray(wide, 2, kIdNew, false); }},
      {"SetArray forced", 2, [&](CBlackBox& b) { return b.SetArray(ints, 2, kIdInts, true); }},
      {"SetLongArray new", 3, [&](CBlackBox& b) { return b.SetLongArray(ints, 2, kIdNew, false); }},
      {"SetGenericObject new", 1,
       [&](CBlackBox& b) { return b.SetGenericObject(kIdNew, &object); }},
      {"InitHashTable", 2, [](CBlackBox& b) { return b.InitHashTable(128); }},
  };
  for (const Op& op : ops) {
    int failures = 0;
    for (std::uint64_t step = 1; step < 100; ++step) {
      const std::int64_t baseline = asfn_live_blocks();
      {
        CBlackBox bag;
        Fill(bag);
        const std::string before = Snapshot(bag);
        const std::uint64_t allocationsBefore = asfn_allocation_count();
        asfn_fail_at(step, ASFN_FAIL_ONCE);
        std::int32_t status = 0;
        bool thrown = false;
        try {
          status = op.run(bag);
        } catch (const ASMemException&) {
          thrown = true;
        } catch (const ASException& e) {
          EXPECT_EQ(-2, e.GetCode()) << op.name << " step " << step;
          thrown = true;
        }
        asfn_fail_at(0, ASFN_FAIL_OFF);
        const std::uint64_t made = asfn_allocation_count() - allocationsBefore;
        if (!thrown && status == 0) {
          // Success is only allowed when the scheduled failure lay beyond the operation.
          EXPECT_LT(made, step) << op.name << " swallowed a failed allocation";
          break;
        }
        ++failures;
        if (!thrown) {
          EXPECT_EQ(-2, status) << op.name << " step " << step;
        }
        EXPECT_EQ(before, Snapshot(bag)) << op.name << " step " << step;
      }
      EXPECT_EQ(baseline, asfn_live_blocks()) << op.name << " step " << step;
    }
    EXPECT_EQ(op.allocations, failures) << op.name;
  }
}

}  // namespace
}  // namespace ascommon
