// CBlackBox: the replacement rules and their codes, messages and trace levels, getters of an
// absent id or another kind, generic objects left to the caller, and every allocation failure.
#include "common/blackbox.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "asfn/asfn.h"
#include "support/trace_capture.h"
#include "support/what_of.h"

namespace ascommon {
namespace {

const char kLongText[] = "a page text well beyond the inline buffer";
const char16_t kLongWide[] = u"a wide page text of some length";

struct CCounted : CBlackBoxObject {
  static inline int live = 0;
  CCounted() { ++live; }
  ~CCounted() override { --live; }
};

// The stored value of id as text, whatever its kind.
std::string Describe(const CBlackBox& bag, std::uint32_t id) {
  std::string out = std::to_string(bag.GetKind(id)) + ":";
  auto add = [&](const std::function<std::string()>& read) {
    try {
      out += read();
    } catch (const ASException&) {
    }
  };
  switch (bag.GetKind(id)) {
    case CBlackBox::kScalar:
      add([&] { return "b" + std::to_string(bag.GetBool(id)); });
      add([&] { return "i" + std::to_string(bag.GetInt(id)); });
      break;
    case CBlackBox::kText:
      return out + bag.GetCharBuf(id);
    case CBlackBox::kWideText:
      for (const char16_t* p = bag.GetUCharBuf(id); *p != 0; ++p) out += static_cast<char>(*p);
      break;
    case CBlackBox::kContainer:
      add([&] {
        std::vector<std::int32_t> v(bag.GetArray(static_cast<std::int32_t*>(nullptr), id));
        bag.GetArray(v.data(), id);
        std::string s = "ints";
        for (std::int32_t x : v) s += " " + std::to_string(x);
        return s;
      });
      add([&] {
        std::vector<const char*> v(bag.GetCharBufArray(nullptr, id));
        bag.GetCharBufArray(v.data(), id);
        std::string s = "texts";
        for (const char* x : v) s += std::string(" ") + x;
        return s;
      });
      break;
    case CBlackBox::kGenericObject:
      return out + (bag.GetGenericObject(id) != nullptr ? "object" : "null");
  }
  return out;
}

enum : std::uint32_t {
  kIdInt = 1, kIdText, kIdWide, kIdInts, kIdTexts, kIdBool, kIdObject, kIdNull = 50, kIdNew = 100
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
  for (std::uint32_t id : {kIdInt, kIdText, kIdWide, kIdInts, kIdTexts, kIdBool, kIdObject, kIdNew})
    out += Describe(bag, id) + "|";
  return out + std::to_string(bag.GetCount());
}

// Each setter or getter: its exception's text (code included) and trace level, and the value
// of the id afterwards.
TEST(BlackBoxTest, ReplacementRulesAndGetters) {
  using B = CBlackBox;
  const std::string ex = "ASException - CODE: ", added = ex + "-502 MESSAGE: Problems adding the ";
  const std::string kind = ex + "-500 MESSAGE: ", code = ex + "-501 MESSAGE: ";
  const std::string other = code + "there is no object with id = ", none = "(no exception)";
  const char* const kText = "5:a page text well beyond the inline buffer";
  const char* const kWideText = "4:a wide page text of some length";
  const char16_t* const wide[] = {u"x"};
  const char* const texts[] = {"x"};
  const std::uint64_t big[] = {7};
  const struct {
    std::function<void(CBlackBox&)> set;
    std::string message;  // the exception's text and its trace line's
    unsigned level;
    std::uint32_t id;
    const char* after;    // Describe(id) afterwards
  } cases[] = {
      {[](B& b) { b.SetInt(6, kIdInt, false); }, added + "value", 2, kIdInt, "1:i5"},
      {[](B& b) { b.SetInt(6, kIdInt, true); }, none, 0, kIdInt, "1:i6"},
      {[](B& b) { b.SetInt(6, kIdText, true); }, kind + "Problems adding the value", 2, kIdText, kText},
      {[](B& b) { b.SetBool(false, kIdBool, false); }, added + "value", 0, kIdBool, "1:b1"},
      {[](B& b) { b.SetCharBuf("t", kIdWide, true); }, kind + "Problmes adding the buffer", 2, kIdWide, kWideText},
      {[](B& b) { b.SetCharBuf("t", kIdText, true); }, none, 0, kIdText, "5:t"},
      {[](B& b) { b.SetUCharBuf(u"w", kIdWide, false); }, added + "buffer", 2, kIdWide, kWideText},
      {[&](B& b) { b.SetUCharBufArray(wide, 1, kIdInts, true); }, none, 0, kIdInts, "3:"},
      {[&](B& b) { b.SetCharBufArray(texts, 1, kIdInt, true); }, kind + "Problems adding the array", 0, kIdInt, "1:i5"},
      {[&](B& b) { b.SetArray(big, 1, kIdInts, false); }, ex + "-502 MESSAGE: Could not add to bb", 0, kIdInts,
       "3:ints 1 2 3"},
      {[](B& b) { b.SetArray(static_cast<double*>(nullptr), 2, kIdNew, false); }, ex + "-1 MESSAGE: Could not add to bb",
       0, kIdNew, "0:"},
      {[](B& b) { b.GetInt(42); }, other + "42 or is of other type", 2, 42, "0:"},
      {[](B& b) { b.GetBool(kIdInt); }, other + "1 or is of other type", 2, kIdInt, "1:i5"},
      {[](B& b) { b.GetArray(static_cast<std::int32_t*>(nullptr), 42); }, code + "No object with that id", 0, 42, "0:"},
      {[](B& b) { b.GetArray(static_cast<double*>(nullptr), kIdInts); }, code + "Object with the id is of other type",
       0, 42, "0:"},
      {[](B& b) { b.GetCharBufArray(nullptr, kIdInts); }, code + "Object with that id is of other type", 0, 42, "0:"},
      {[](B& b) { b.GetArray(static_cast<double*>(nullptr), kIdNull); }, code + "No object with that id", 0, kIdNull,
       "6:null"},
  };
  zztest::TraceCapture trace;
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    CBlackBox bag;
    Fill(bag);
    bag.SetGenericObject(kIdNull, nullptr);
    trace.Clear();
    EXPECT_EQ(c.message, zztest::WhatOf([&] { c.set(bag); })) << i;
    const auto lines = trace.Lines();  // before Describe, whose getters trace too
    EXPECT_EQ(Describe(bag, c.id), c.after) << i;
    if (c.message == none) continue;
    ASSERT_EQ(1u, lines.size()) << i;
    EXPECT_TRUE(c.level == lines[0].level && lines[0].text.rfind("[VEVOZOVI EXCEPTION] blackbox.cpp:", 0) == 0 &&
                lines[0].text.find(" -" + c.message + "\n") != std::string::npos) << i << lines[0].text;
  }
  // PeekBool answers what GetBool would, and -1 where GetBool throws.
  CBlackBox bag;
  Fill(bag);
  EXPECT_EQ(bag.PeekBool(kIdBool), 1);
  bag.SetBool(false, kIdBool, true);
  EXPECT_EQ(bag.PeekBool(kIdBool), 0);
  const std::uint32_t notBools[] = {kIdInt, kIdText, kIdObject, 42};
  for (std::uint32_t id : notBools) {
    EXPECT_EQ(bag.PeekBool(id), -1) << id;
  }
}

// Generic objects stay the caller's: removing them, emptying or destroying the bag leaves
// them alive. Emptying releases every owned payload and keeps the bag usable.
TEST(BlackBoxTest, GenericObjectsStayWithTheCallerAndRemoveAllFreesTheRest) {
  auto* object = new CCounted();
  const int live = CCounted::live;
  {
    CBlackBox local;
    const std::int64_t emptyBag = asfn_live_blocks();
    ASSERT_EQ(0, local.SetGenericObject(9, object));
    EXPECT_EQ(-502, local.SetGenericObject(9, object));  // never replaced, never thrown
    EXPECT_EQ(0u, zztest::WhatOf([&] { local.SetInt(1, 9, true); }).rfind("ASException - CODE: -500 ", 0));
    local.RemoveObject(9);
    EXPECT_EQ(nullptr, local.GetGenericObject(9));
    Fill(local);  // payloads of every kind and a generic object
    local.RemoveAll();
    EXPECT_EQ(0u, local.GetCount());
    EXPECT_EQ(emptyBag + 7, asfn_live_blocks()) << "only the node blocks stay, for reuse";
    EXPECT_EQ(0, local.SetInt(7, kIdInt, false)) << "the id is gone";
  }
  EXPECT_EQ(live, CCounted::live);
  delete object;
}

// Ids stored, removed, re-stored and emptied in an order that makes many of them share a
// slot of the bag's table of recent ids: every lookup answers what a plain map would.
TEST(BlackBoxTest, LookupsFollowEveryStoreAndRemoval) {
  CBlackBox bag;
  std::map<std::uint32_t, std::uint32_t> expected;  // id -> stored value
  const auto check = [&](const char* when) {
    for (std::uint32_t id = 0; id < 400; ++id) {
      const auto it = expected.find(id);
      ASSERT_EQ(bag.GetKind(id), it == expected.end() ? 0u : 1u) << when << " " << id;
      if (it != expected.end()) {
        ASSERT_EQ(bag.GetUInt(id), it->second) << when << " " << id;
      }
    }
  };
  for (std::uint32_t id = 0; id < 400; id += 3) {
    ASSERT_EQ(0, bag.SetUInt(id + 1, id, false));
    expected[id] = id + 1;
  }
  check("stored");
  for (std::uint32_t id = 0; id < 400; id += 6) {
    bag.RemoveObject(id);
    bag.RemoveObject(id + 1);  // never stored
    expected.erase(id);
  }
  check("removed");
  for (std::uint32_t id = 0; id < 400; id += 4) {
    ASSERT_EQ(0, bag.SetUInt(id * 7, id, true));
    expected[id] = id * 7;
  }
  check("re-stored");
  bag.RemoveAll();
  expected.clear();
  check("emptied");
  for (std::uint32_t id = 0; id < 400; id += 4) {  // ids the table last saw before emptying
    ASSERT_EQ(0, bag.SetUInt(id + 9, id, id % 8 == 0));
    expected[id] = id + 9;
  }
  check("stored after emptying");
}

// Every allocation of every operation, and of the construction, fails in turn: the call
// reports it (-2 or an exception), the bag keeps its old content, and nothing leaks.
TEST(BlackBoxMemoryTest, AllocationFailureSweep) {
  const std::int64_t start = asfn_live_blocks();
  for (std::uint64_t step = 1; step <= 2; ++step) {  // bucket heads, then tails
    asfn_fail_at(step, ASFN_FAIL_ONCE);
    EXPECT_THROW(CBlackBox bag, std::bad_alloc) << step;
    asfn_fail_at(0, ASFN_FAIL_OFF);
    EXPECT_EQ(start, asfn_live_blocks());
  }
  const std::int32_t ints[] = {4, 5};
  const char* const texts[] = {kLongText, "b", kLongText};
  const char16_t* const wide[] = {kLongWide, u"b"};
  const struct {
    const char* name;
    int allocations;  // scalars live in the element: only the map node is allocated
    std::function<std::int32_t(CBlackBox&)> run;
  } ops[] = {
      {"SetInt new", 1, [](CBlackBox& b) { return b.SetInt(1, kIdNew, false); }},
      {"SetCharBuf forced", 2,
       [](CBlackBox& b) { return b.SetCharBuf("a replacement beyond the inline size", kIdText, true); }},
      {"SetCharBufArray forced", 4, [&](CBlackBox& b) { return b.SetCharBufArray(texts, 3, kIdTexts, true); }},
      {"SetUCharBufArray new", 5, [&](CBlackBox& b) { return b.SetUCharBufArray(wide, 2, kIdNew, false); }},
      {"SetArray forced", 2, [&](CBlackBox& b) { return b.SetArray(ints, 2, kIdInts, true); }},
      {"InitHashTable", 2, [](CBlackBox& b) { return b.InitHashTable(128); }},
  };
  for (const auto& op : ops) {
    int failures = 0;
    for (std::uint64_t step = 1; step < 100; ++step) {
      const std::int64_t baseline = asfn_live_blocks();
      {
        CBlackBox bag;
        Fill(bag);
        const std::string before = Snapshot(bag);
        const std::uint64_t allocationsBefore = asfn_allocation_count();
        asfn_fail_at(step, ASFN_FAIL_ONCE);
        std::int32_t status = -2;
        try {
          status = op.run(bag);
        } catch (const ASMemException&) {
        } catch (const ASException& e) {
          EXPECT_EQ(-2, e.GetCode()) << op.name << " step " << step;
        }
        asfn_fail_at(0, ASFN_FAIL_OFF);
        if (status == 0) {
          // Success only when the scheduled failure lay beyond the operation.
          EXPECT_LT(asfn_allocation_count() - allocationsBefore, step) << op.name << " swallowed a failure";
          break;
        }
        ++failures;
        EXPECT_EQ(-2, status) << op.name << " step " << step;
        EXPECT_EQ(before, Snapshot(bag)) << op.name << " step " << step;
      }
      EXPECT_EQ(baseline, asfn_live_blocks()) << op.name << " step " << step;
    }
    EXPECT_EQ(op.allocations, failures) << op.name;
  }
}

}  // namespace
}  // namespace ascommon
