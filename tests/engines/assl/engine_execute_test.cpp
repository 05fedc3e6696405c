// Executing rules on contexts: one evaluation and one run of each action per context,
// meta-rules reaching rules without priority, cycles, disabled rules, the three-action
// limit, failing actions, hit rules, and one engine shared by threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <thread>

#include "engine_fixture.h"
#include "support/trace_capture.h"
#include "support/what_of.h"

namespace {

constexpr char kRules[] = R"(
  rule Hit { condition: none; actions: increase_score(SCORE, 10); metadata: priority = 5; }
  rule Helper { condition: none; actions: increase_score(helper, 1); metadata: none; }
  metarule UsesHelper { condition: Helper && true; actions: set_category("meta"); metadata: priority = 4; }
  metarule Never { condition: !Hit; actions: mark("never", 99); metadata: priority = 3; }
  metarule Self { condition: Self || true; actions: none; metadata: priority = 1; }
  rule Off { condition: none; actions: mark("off", 1); metadata: enabled = false; priority = 2; }
  rule Four { condition: none; actions: set_category("x"); increase_score(n, 1); mark("m", 3); exec(h); metadata: none; }
  rule Failing { condition: none; actions: increase_score(before, 1); exec(no_such); set_category("after"); metadata: none; })";

class EngineExecuteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rules.Write("pc_sign.slf", kRules);
    rules.LoadFolder();
  }
  // The hit rules, sorted (the engine lists them in index order).
  static std::string Sorted(const ascommon::sstring& hits) {
    std::vector<std::string> names;
    std::stringstream in(hits.c_str());
    for (std::string name; std::getline(in, name, ';');) names.push_back(name.substr(name[0] == ' '));
    std::sort(names.begin(), names.end());
    std::string out;
    for (const auto& name : names) out += name + " ";
    return out;
  }
  zztest::RuleEngine rules;
};

TEST_F(EngineExecuteTest, EachRuleEvaluatesAndActsOncePerContext) {
  auto context = rules.NewContext();
  EXPECT_EQ(rules.Run(*context, "Hit"), 1.0);
  EXPECT_EQ(rules.Run(*context, "Hit"), 1.0);
  EXPECT_EQ(context->Int("SCORE"), 10);
  EXPECT_EQ(rules.Run(*context, "UsesHelper"), 1.0);  // Helper has no priority
  EXPECT_EQ(rules.Run(*context, "Helper"), 1.0);
  EXPECT_EQ(context->Int("helper"), 1);
  EXPECT_EQ(context->Text("CATEGORY"), "meta");
  assl::CStructsInterface structs{context.get(), &rules.handle};
  ascommon::sstring hits;
  assl::GetHitRules(&structs, hits);
  EXPECT_EQ(Sorted(hits), "Helper Hit UsesHelper ");
  EXPECT_EQ(context->GetCurrentRuleName(), nullptr);
  auto fresh = rules.NewContext();
  EXPECT_EQ(rules.Engine().EvaluateExpressionText("Off || !Helper || Hit", &rules.handle, fresh.get()), 1.0);
  EXPECT_EQ(fresh->Int("SCORE") * 10 + fresh->Int("helper"), 101);
  EXPECT_NE(zztest::WhatOf([&] { rules.Engine().EvaluateExpressionText("Hit &&", &rules.handle, fresh.get()); })
                .find("invalid expression"), std::string::npos);
}

TEST_F(EngineExecuteTest, CyclesDisabledRulesActionLimitAndFailingActions) {
  auto context = rules.NewContext();
  EXPECT_NE(zztest::WhatOf([&] { rules.Run(*context, "Self"); })
                .find("cycled execution of rule Self on the same context"),
            std::string::npos);
  zztest::TraceCapture trace;
  EXPECT_EQ(rules.Run(*context, "Off"), 0.0);
  EXPECT_EQ(trace.Count("rule state for Off is disabled - returning zero"), 1);
  EXPECT_EQ(rules.Run(*context, "Four"), 1.0);  // exec(h) was dropped: no heuristics engine
  EXPECT_EQ(context->Text("CATEGORY") + std::to_string(context->Int("n")) + std::to_string(context->Int("SCORE")), "m13");
  EXPECT_NE(zztest::WhatOf([&] { rules.Run(*context, "Failing"); }).find("one or more actions failed to execute"),
            std::string::npos);
  EXPECT_EQ(trace.Count("Rule Failing action 1 failed to execute"), 1);
  EXPECT_EQ(context->Text("CATEGORY") + std::to_string(context->Int("before")), "after1");
  EXPECT_EQ(context->GetCurrentRuleName(), nullptr);
}

TEST(EngineCreateTest, FourActionsKeepThreeWithOneCaution) {
  zztest::RuleEngine rules;
  rules.Write("pc_sign.slf", kRules);
  zztest::TraceCapture trace;
  rules.LoadFolder();
  EXPECT_EQ(trace.Count("CAUTION: actions count for rule Four limited to 3!"), 1);
  const assl::CRule* four = rules.Engine().FindRule(assl::CRule::ComputeUid("Four"));
  ASSERT_NE(four, nullptr);
  EXPECT_EQ(four->ActionCount(), 3u);
}

TEST_F(EngineExecuteTest, ThreadsShareOneEngineOnTheirOwnContexts) {
  auto runAll = [&](std::string& out) {
    auto context = rules.NewContext();
    assl::CStructsInterface structs{context.get(), &rules.handle};
    const auto& signatures = assl::GetSignatures(&structs);
    for (std::uint64_t i = 0; i < signatures.GetSize(); ++i) {
      try {
        assl::ExecuteRule(&structs, signatures[i].uid);
      } catch (const ASException&) {
      }
    }
    ascommon::sstring hits;
    assl::GetHitRules(&structs, hits);
    out = Sorted(hits) + context->Text("CATEGORY") + std::to_string(assl::GetIntVariable(context.get(), "SCORE"));
  };
  std::string expected;
  runAll(expected);
  EXPECT_EQ(expected, "Helper Hit UsesHelper meta10");
  std::vector<std::string> results(8);
  std::vector<std::thread> threads;
  for (auto& result : results) {
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) runAll(result);
    });
  }
  for (auto& thread : threads) thread.join();
  for (const auto& result : results) EXPECT_EQ(result, expected);
}

}  // namespace
