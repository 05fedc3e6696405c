// The rule parser below the host: trace lines and their levels, the parser stack bound,
// allocation failures, and two files parsed on two threads. What a rule writer sees
// (messages, dumps, the merge of repeated item types) is tested through the host in
// tests/host/rules_test.cpp.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "asfn/asfn.h"
#include "common/asexception.h"
#include "engines/assl/parser/parser_utils.h"
#include "engines/assl/parser/rule_writer.h"
#include "support/trace_capture.h"

namespace {

struct Parsed {
  std::string text;         // every committed rule written back, in commit order
  std::string diagnostics;  // LINE: message lines
  assl::CParserState::ParseStatus status;
};

struct Collect : assl::IParserDiagnostics {
  explicit Collect(std::string& out) : out(out) {}
  void Report(const char*, int line, const char* message) override {
    out += std::to_string(line) + ": " + message + "\n";
  }
  std::string& out;
};

Parsed Parse(const std::string& source) {
  Parsed parsed;
  Collect collect(parsed.diagnostics);
  assl::CParserState state("t.slf", &collect);
  parsed.status = state.Parse(source.data(), source.size());
  state.ForEachRule(
      [&](const assl::CParsedRule& rule) { parsed.text += assl::WriteRuleText(rule); });
  return parsed;
}

TEST(AsslParserTest, TraceLinesAndTheirLevels) {
  zztest::TraceCapture trace;
  Parse("rule A { condition: none; actions: none; metadata: none; }\n"
        "rule A { condition: bad; actions: set_category(\"x\"); metadata: none; }\n"
        "rule A { condition: none; actions: none; metadata: none; }\n"
        "rule");
  std::string levels;
  for (const auto& line : trace.Lines()) {
    const std::size_t dash = line.text.find(" -[");
    levels += std::to_string(line.level) + " " + line.text.substr(dash + 2);
  }
  EXPECT_EQ(levels,
            "3 [parser] committing simple rule A\n"
            "0 [parser] - t.slf:2: syntax error: syntax error, unexpected NAME\n"
            "0 [parser] invalid condition\n"
            "3 [parser] - error recovery: skipping until error flag is reset\n"
            "0 [parser] discarding simple rule A because it contains errors\n"
            "3 [parser] committing simple rule A\n"
            "2 [parser] - warning: A - a rule with the same name already exists\n"
            "2 [parser] - warning: previous rule will be discarded and replaced with the new one\n"
            "0 [parser] - t.slf:4: syntax error: syntax error, unexpected $end, expecting NAME\n"
            "0 [parser] input error: text outside rules?\n");
}

// A NUL inside a string ends its value; a value that then ends in a backslash is written
// back so that it reads back the same (a fuzzing find: the text did not parse again).
TEST(AsslParserTest, StringCutByNulIsWrittenBackAsRead) {
  const std::string source = std::string("rule P { condition: match(\"open\\") + '\0' +
                             "\\(\", HTML::Script, REGEX); actions: none; metadata: none; }";
  const Parsed first = Parse(source);
  ASSERT_NE(first.text.find("open\\"), std::string::npos) << first.text;
  const Parsed again = Parse(first.text);
  EXPECT_EQ(again.diagnostics, "");
  EXPECT_EQ(again.text, first.text);
}

// Nesting is bounded by the parser stack: 200 entries growing to 10,000.
TEST(AsslParserTest, DeepNestingStopsAtTheStackBound) {
  auto nested = [](int depth) {
    return "metarule M { condition: " + std::string(depth, '(') + "A" + std::string(depth, ')') +
           "; actions: none; metadata: none; }";
  };
  const Parsed deep = Parse(nested(9000));
  EXPECT_EQ(deep.status, assl::CParserState::kParsed);
  EXPECT_EQ(deep.text, "metarule M {\n  condition: A;\n  actions:\n  metadata:\n}\n");
  const Parsed tooDeep = Parse(nested(11000));
  EXPECT_EQ(tooDeep.status, assl::CParserState::kStackExhausted);
  EXPECT_EQ(tooDeep.diagnostics, "1: memory exhausted\n");
  EXPECT_EQ(tooDeep.text, "");
}

// Memory running out at any allocation of a parse that grows the parser stack and builds
// rules: the parse ends normally or with the engine's exception, and nothing is left held.
TEST(AsslParserTest, EveryAllocationFailureLeavesNothingHeld) {
  const std::string source =
      "rule A { condition: match(\"w\", HTML::Body, EXACT); actions: set_category(kids);"
      " metadata: priority = 1; }\nmetarule M { condition: " + std::string(300, '(') + "A" +
      std::string(300, ')') + "; actions: none; metadata: none; }";
  Parse(source);  // anything made once per process is made here
  const std::int64_t live = asfn_live_blocks();
  for (std::uint64_t n = 1;; ++n) {
    SCOPED_TRACE(n);
    const std::uint64_t before = asfn_allocation_count();
    asfn_fail_at(n, ASFN_FAIL_ONCE);
    try {
      Parse(source);
    } catch (const AException&) {
    }
    asfn_fail_at(0, ASFN_FAIL_OFF);
    EXPECT_EQ(asfn_live_blocks(), live);
    if (asfn_allocation_count() - before < n) break;  // the run needed fewer allocations
  }
}

// Two files parsed at once on two threads give what they give one after the other.
TEST(AsslParserThreadTest, TwoFilesAtOnceMatchSequential) {
  std::string first, second;
  for (int i = 0; i < 400; ++i) {
    const std::string n = std::to_string(i);
    first += "rule R" + n + " { condition: match(\"w" + n + "\", HTML::Body, EXACT); actions:"
             " increase_score(score, " + n + "); metadata: priority = " + n + "; }\n";
    second += "metarule M" + n + " { condition: R" + n + " && !(R1 || " +
              (i % 7 == 0 ? "@@" : "true") + "); actions: set_category(\"c\"); metadata: none; }\n";
  }
  const Parsed expected[2] = {Parse(first), Parse(second)};
  ASSERT_NE(expected[1].diagnostics, "");
  for (int round = 0; round < 5; ++round) {
    Parsed got[2];
    std::thread a([&] { got[0] = Parse(first); });
    std::thread b([&] { got[1] = Parse(second); });
    a.join();
    b.join();
    for (int f = 0; f < 2; ++f) {
      EXPECT_EQ(got[f].text, expected[f].text);
      EXPECT_EQ(got[f].diagnostics, expected[f].diagnostics);
    }
  }
}

}  // namespace
