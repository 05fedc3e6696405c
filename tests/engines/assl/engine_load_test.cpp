// Loading rule files: the first rule of a name wins across files, the signature array in
// priority order, the rule map file read back, an empty folder refused.
#include <gtest/gtest.h>

#include <algorithm>

#include "common/binstreamer.h"
#include "engine_fixture.h"
#include "support/trace_capture.h"
#include "support/what_of.h"

namespace {

TEST(EngineLoadTest, FirstFileOfANameWins) {
  zztest::RuleEngine rules;
  rules.Write("a.slf", R"(rule R { condition: none; actions: set_category("a"); metadata: none; })");
  rules.Write("b.slf", R"(rule R { condition: none; actions: set_category("b"); metadata: none; }
                          rule Q { condition: none; actions: none; metadata: none; })");
  zztest::TraceCapture trace;
  rules.LoadFiles({"a.slf", "b.slf"});
  EXPECT_EQ(trace.Count("rule with name R already exists in the rules map - discarding"), 1);
  EXPECT_EQ(rules.Engine().GetRuleCount(), 2u);
  auto context = rules.NewContext();
  rules.Run(*context, "R");
  EXPECT_EQ(context->Text("CATEGORY"), "a");
}

TEST(EngineLoadTest, SignaturesByPriorityAndTheRuleMapOfEnabledRules) {
  zztest::RuleEngine rules;
  rules.Write("pc_sign.slf", R"(
    rule Low  { condition: none; actions: none; metadata: priority = 1; }
    rule High { condition: none; actions: none; metadata: priority = 9; relevance = 4; }
    rule Mid  { condition: none; actions: none; metadata: priority = 5; }
    rule Off  { condition: none; actions: none; metadata: priority = 3; enabled = false; }
    rule Free { condition: none; actions: none; metadata: none; }
    rule Rx   { condition: match("a+", HTML::Body, REGEX); actions: none; metadata: priority = 7; })");
  rules.Write("other.txt", "rule Skipped { condition: none; actions: none; metadata: none; }");
  struct : assl::IParserDiagnostics {
    std::string lines;
    void Report(const char* file, int line, const char* message) override {
      lines += std::string(file).substr(std::string(file).rfind('\\') + 1) + ":" + std::to_string(line) + ": " + message + "\n";
    }
  } diagnostics;
  rules.LoadFolder(true, &diagnostics);  // no regex library: Rx cannot initialise
  EXPECT_EQ(diagnostics.lines, "pc_sign.slf:0: Rx - error: rule failed to initialize\n");
  EXPECT_EQ(rules.Engine().FindRule(assl::CRule::ComputeUid("Rx")), nullptr);
  const assl::ASSL& engine = rules.Engine();
  std::string order;
  for (std::uint64_t i = 0; i < engine.GetSignatures().GetSize(); ++i) {
    order += std::string(engine.GetSignatures()[i].name) + " ";
  }
  EXPECT_EQ(order, "High Mid Off Low ");
  ASSERT_EQ(engine.GetNNetInfos().GetSize(), 1u);
  EXPECT_EQ(engine.GetNNetInfos()[0].relevance, 4);

  std::string expected, found;
  for (std::uint32_t i = 0, n = 0; i < engine.GetRuleCount(); ++i) {
    if (engine.RuleAt(i)->IsEnabled()) expected += std::to_string(n++) + engine.RuleAt(i)->Name().c_str() + " ";
  }
  ascommon::CBinaryStreamer map(ascommon::usstring(zztest::Wide(rules.dir / "vi2nnmap.dat").c_str()),
                                ascommon::EStreamMode::Read, ascommon::usstring(rules.dir.Wide().c_str()), 1);
  EXPECT_EQ(map.ReadInt(), 2);
  const int count = map.ReadInt();
  for (int i = 0; i < count; ++i) {
    found += std::to_string(map.ReadInt());
    ascommon::sstring name;
    map.ReadString(name, static_cast<std::size_t>(map.ReadInt()));
    found += std::string(name.c_str()) + " ";
  }
  EXPECT_EQ(count, 4);
  EXPECT_EQ(found, expected);
}

TEST(EngineLoadTest, AFolderWithoutRuleFilesOrRegexLibraryIsRefused) {
  zztest::RuleEngine rules;
  EXPECT_NE(zztest::WhatOf([&] { rules.LoadFolder(); })
                .find(assl::kNoRuleFilesMessage),
            std::string::npos);
  EXPECT_NE(zztest::WhatOf([&] { rules.handle.SetRegexLibrary(ascommon::usstring(rules.dir.Wide().c_str())); })
                .find("could not obtain handle to regular expressions library from /tmp/"),
            std::string::npos);
}

}  // namespace
