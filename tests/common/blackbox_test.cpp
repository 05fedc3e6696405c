#include "common/blackbox.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
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
      {"int of object", [&] { bag.GetInt(kIdObject); },
       "ASException - CODE: -501 MESSAGE: there is no object with id = 7 or is of other type", 2},
      {"bool of int (other width)", [&] { bag.GetBool(kIdInt); },
       "ASException - CODE: -501 MESSAGE: there is no object with id = 1 or is of other type", 2},
      {"text of wide text", [&] { bag.GetCharBuf(kIdWide); },
       "ASException - CODE: -501 MESSAGE: there is no object with id = 3 or is of other type", 2},
      {"ints absent", [&] { bag.GetArray(static_cast<std::int32_t*>(nullptr), 42); },
       "ASException - CODE: -501 MESSAGE: No object with that id", 0},
      {"doubles of ints", [&] { bag.GetArray(static_cast<double*>(nullptr), kIdInts); },
       "ASException - CODE: -501 MESSAGE: Object with the id is of other type", 0},
      {"longs of ints", [&] { bag.GetLongArray(nullptr, kIdInts); },
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

TEST_F(BlackBoxTest, ScalarsAndTextsRoundTrip) {
  bag.SetUInt(0xFFFFFFF0u, 20, false);
  bag.SetDouble(0.125, 22, false);
  bag.SetCharBuf(nullptr, 23, false);
  EXPECT_EQ(0xFFFFFFF0u, bag.GetUInt(20));
  EXPECT_EQ(0.125, bag.GetDouble(22));
  EXPECT_EQ(nullptr, bag.GetCharBuf(23));  // A null text is stored as a null string.
  EXPECT_EQ(std::u16string(kLongWide), bag.GetUCharBuf(kIdWide));
  EXPECT_EQ(nullptr, bag.GetGenericObject(kIdInt));
}

TEST_F(BlackBoxTest, GenericObjectsStayWithTheCaller) {
  const int before = CCounted::live;
  auto* object = new CCounted();
  {
    CBlackBox local;
    ASSERT_EQ(0, local.SetGenericObject(9, object));
    EXPECT_EQ(object, local.GetGenericObject(9));
    EXPECT_EQ(object, local.GetGenericObjectRW(9));
    EXPECT_EQ(-502, local.SetGenericObject(9, object));  // Never replaced, never thrown.
    EXPECT_EQ(-500, CodeOf([&] { local.SetInt(1, 9, true); }));
    local.RemoveObject(9);
    EXPECT_EQ(before + 1, CCounted::live);
    EXPECT_EQ(nullptr, local.GetGenericObject(9));
    ASSERT_EQ(0, local.SetGenericObject(9, object));
    local.RemoveObject(1234);  // Absent: ignored.
    EXPECT_EQ(1u, local.GetCount());
    // The bag goes out of scope holding the object.
  }
  EXPECT_EQ(before + 1, CCounted::live);
  delete object;
}

// Emptying a bag releases what it owns, leaves generic objects alone and keeps it usable.
TEST_F(BlackBoxTest, RemoveAllReleasesOwnedPayloadsOnly) {
  auto* object = new CCounted();
  const int live = CCounted::live;
  CBlackBox local;
  const std::int64_t emptyBag = asfn_live_blocks();
  local.SetCharBuf("a text long enough to need its own block", 1, false);
  local.SetUCharBuf(u"wide", 2, false);
  const double values[] = {1.0, 2.0};
  local.SetArray(values, 2, 3, false);
  local.SetInt(4, 4, false);
  ASSERT_EQ(0, local.SetGenericObject(5, object));
  local.RemoveAll();
  EXPECT_EQ(0u, local.GetCount());
  // Every payload is released; the bag keeps its five node blocks for the next item.
  EXPECT_EQ(emptyBag + 5, asfn_live_blocks());
  EXPECT_EQ(live, CCounted::live);
  local.SetInt(7, 4, false);  // no -502: the id is gone
  EXPECT_EQ(7, local.GetInt(4u));
  delete object;
}

// The walk sees every id once with its kind and, for scalars, the width they were stored
// with; a replaced or removed id shows its current state.
TEST_F(BlackBoxTest, ForEachIdVisitsEveryIdWithKindAndScalarWidth) {
  bag.SetSizeT(9, kIdNew, false);
  bag.SetDouble(0.5, 200, false);
  bag.SetUInt(3, 201, false);
  bag.RemoveObject(kIdText);
  bag.SetCharBuf("again", kIdInt + 1000, false);
  std::map<std::uint32_t, std::pair<std::uint32_t, std::uint32_t>> seen;
  bag.ForEachId([&](std::uint32_t id, std::uint32_t kind, std::uint32_t width) {
    EXPECT_TRUE(seen.emplace(id, std::make_pair(kind, width)).second) << id;
  });
  const std::map<std::uint32_t, std::pair<std::uint32_t, std::uint32_t>> expected = {
      {kIdInt, {CBlackBox::kScalar, 4}},         {kIdWide, {CBlackBox::kWideText, 0}},
      {kIdInts, {CBlackBox::kContainer, 0}},     {kIdTexts, {CBlackBox::kContainer, 0}},
      {kIdBool, {CBlackBox::kScalar, 1}},        {kIdObject, {CBlackBox::kGenericObject, 0}},
      {kIdNew, {CBlackBox::kScalar, 8}},         {200, {CBlackBox::kScalar, 8}},
      {201, {CBlackBox::kScalar, 4}},            {kIdInt + 1000, {CBlackBox::kText, 0}},
  };
  EXPECT_EQ(expected, seen);
  bag.RemoveAll();
  bag.ForEachId([](std::uint32_t id, std::uint32_t, std::uint32_t) { ADD_FAILURE() << id; });
}

TEST_F(BlackBoxTest, NumberArrays) {
  std::vector<double> doubles(65);
  for (std::size_t i = 0; i < doubles.size(); ++i) doubles[i] = static_cast<double>(i) / 2;
  bag.SetArray(doubles.data(), doubles.size(), 30, false);
  EXPECT_EQ(65u, bag.GetArray(static_cast<double*>(nullptr), 30));
  const auto* container = dynamic_cast<const CBlackBox::DoubleArray*>(bag.GetContainer(30));
  ASSERT_NE(nullptr, container);
  EXPECT_EQ(128u, container->GetCapacity());
  std::vector<double> out(65, -1);
  EXPECT_EQ(65u, bag.GetArray(out.data(), 30));
  EXPECT_EQ(doubles, out);

  const std::uint64_t big[] = {1ull << 63, 5};
  const std::int32_t longs[] = {-1, 2};
  bag.SetArray(big, 2, 31, false);
  bag.SetLongArray(longs, 2, 32, false);
  bag.SetArray(static_cast<const std::int32_t*>(nullptr), 0, 33, false);
  std::uint64_t bigOut[2] = {};
  std::int32_t longOut[2] = {};
  EXPECT_EQ(2u, bag.GetArray(bigOut, 31));
  EXPECT_EQ(1ull << 63, bigOut[0]);
  EXPECT_EQ(2u, bag.GetLongArray(longOut, 32));
  EXPECT_EQ(-1, longOut[0]);
  EXPECT_EQ(0u, bag.GetArray(static_cast<std::int32_t*>(nullptr), 33));
  EXPECT_EQ(nullptr, bag.GetContainer(kIdInt));
}

TEST_F(BlackBoxTest, TextArraysPointIntoTheCopies) {
  std::string source = "short";
  const char* const texts[] = {source.c_str(), nullptr, kLongText};
  bag.SetCharBufArray(texts, 3, 40, false);
  source[0] = 'X';  // The bag holds its own copy.
  const char* out[3] = {};
  ASSERT_EQ(3u, bag.GetCharBufArray(out, 40));
  EXPECT_STREQ("short", out[0]);
  EXPECT_EQ(nullptr, out[1]);
  EXPECT_STREQ(kLongText, out[2]);

  const char16_t* const wide[] = {u"alpha", u"beta"};
  bag.SetUCharBufArray(wide, 2, 41, false);
  const char16_t* wideOut[2] = {};
  ASSERT_EQ(2u, bag.GetUCharBufArray(wideOut, 41));
  EXPECT_EQ(std::u16string(u"beta"), wideOut[1]);
}

TEST_F(BlackBoxTest, StringIdFlavoursChangeNothing) {
  CCounted object;
  const std::string before = Snapshot(bag);
  trace.Clear();          // Snapshot's failed probes trace too.
  CABlackBox& api = bag;  // Through the interface, as the filters call it.
  std::vector<std::string> notices;
  auto expect = [&](const char* op, std::initializer_list<const char*> params) {
    for (const char* param : params) {
      notices.push_back(std::string("Unused param ascommon::CBlackBox::") + op + " :: " + param);
    }
  };
  api.RemoveObject("1");
  expect("RemoveObject", {"strId"});
  EXPECT_EQ(-1, api.SetGenericObject("1", &object));
  expect("SetGenericObject", {"strId", "pObject"});
  EXPECT_EQ(nullptr, api.GetGenericObject("7"));
  expect("GetGenericObject", {"strId"});
  EXPECT_EQ(nullptr, api.GetGenericObjectRW("7"));
  expect("GetGenericObjectRW", {"strId"});
  api.SetBool(true, "1", true);
  expect("SetBool", {"value", "strId", "bForceReplace"});
  EXPECT_FALSE(api.GetBool("6"));
  expect("GetBool", {"strId"});
  api.SetInt(9, "1", true);
  expect("SetInt", {"value", "strId", "bForceReplace"});
  EXPECT_EQ(0, api.GetInt("1"));
  expect("GetInt", {"strId"});
  api.SetSizeT(9, "1", true);
  expect("SetSizeT", {"value", "strId", "bForceReplace"});
  EXPECT_EQ(0u, api.GetSizeT("1"));
  expect("GetSizeT", {"strId"});
  api.SetCharBuf("x", "2", true);
  expect("SetCharBuf", {"strId", "bForceReplace"});
  EXPECT_EQ(nullptr, api.GetCharBuf("2"));
  expect("GetCharBuf", {"strId"});
  api.SetUCharBuf(u"x", "3", true);
  expect("SetUCharBuf", {"strId", "bForceReplace"});
  EXPECT_EQ(nullptr, api.GetUCharBuf("3"));
  expect("GetUCharBuf", {"strId"});
  api.Reserved();

  const auto lines = trace.Lines();
  EXPECT_EQ(before, Snapshot(bag));
  ASSERT_EQ(notices.size(), lines.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(3u, lines[i].level);
    EXPECT_EQ(0u, lines[i].text.rfind("[VEVOZOVI]           blackbox.cpp:", 0)) << lines[i].text;
    EXPECT_NE(std::string::npos, lines[i].text.find(" -" + notices[i] + "\n")) << lines[i].text;
  }
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
  const double doubles[] = {1.5};
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
      {"SetBool new", 1, [](CBlackBox& b) { return b.SetBool(true, kIdNew, false); }},
      {"SetDouble new", 1, [](CBlackBox& b) { return b.SetDouble(2, kIdNew, false); }},
      {"SetCharBuf new", 3, [](CBlackBox& b) { return b.SetCharBuf(kLongText, kIdNew, false); }},
      {"SetCharBuf forced", 2,
       [](CBlackBox& b) {
         return b.SetCharBuf("a replacement beyond the inline size", kIdText, true);
       }},
      {"SetUCharBuf new", 3, [](CBlackBox& b) { return b.SetUCharBuf(kLongWide, kIdNew, false); }},
      {"SetUCharBuf forced", 2, [](CBlackBox& b) { return b.SetUCharBuf(u"w", kIdWide, true); }},
      {"SetCharBufArray new", 5,
       [&](CBlackBox& b) { return b.SetCharBufArray(texts, 3, kIdNew, false); }},
      {"SetCharBufArray forced", 4,
       [&](CBlackBox& b) { return b.SetCharBufArray(texts, 3, kIdTexts, true); }},
      {"SetUCharBufArray new", 5,
       [&](CBlackBox& b) { return b.SetUCharBufArray(wide, 2, kIdNew, false); }},
      {"SetArray forced", 2, [&](CBlackBox& b) { return b.SetArray(ints, 2, kIdInts, true); }},
      {"SetArray double new", 3,
       [&](CBlackBox& b) { return b.SetArray(doubles, 1, kIdNew, false); }},
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
