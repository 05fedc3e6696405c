// Meta-rule expressions through the real engine (which operands run, the depth bound) and
// the conditional over a hand-built tree.
#include "conditions_fixture.h"
#include "engines/assl/parser/rule.h"
#include "engines/assl/rules/exprcondition.h"
#include "support/what_of.h"

namespace zztest {
namespace {

using ExprConditionTest = RulesFixture;

TEST_F(ExprConditionTest, OperatorsGiveTheirValueAndRunOnlyTheOperandsTheyNeed) {
  const struct {
    const char* expression;
    double value;
    const char* ran;  // the operand rules evaluated, each followed by a blank
  } rows[] = {
      {"T || F", 1, "T "},        {"T ||| F", 1, "T F "},     {"F || T", 1, "T F "},
      {"F && T", 0, "F "},        {"F &&& T", 0, "T F "},     {"T && F", 0, "T F "},
      {"T == T2", 1, "T T2 "},    {"F == F2", 1, "F F2 "},    {"T == F", 0, "T F "},
      {"T != F", 1, "T F "},      {"F != F2", 0, "F F2 "},    {"!F", 1, "F "},
      {"!T", 0, "T "},            {"(F || true) && !false", 1, "F "},
  };
  for (const auto& row : rows) {
    Load(kLeaves + Rule("M", row.expression, "metarule"));
    FakeContext context;
    EXPECT_EQ(Run("M", context), row.value) << row.expression;
    std::string ran;
    for (const char* leaf : {"T", "T2", "F", "F2"}) {
      if (Evaluated(leaf, context)) ran += std::string(leaf) + " ";
    }
    EXPECT_EQ(ran, row.ran) << row.expression;
  }
}

TEST_F(ExprConditionTest, NestingStopsAtDepthOneHundred) {
  for (int operators : {99, 100}) {
    std::string chain = "F";
    for (int i = 0; i < operators; ++i) chain += " || T";
    Load(kLeaves + Rule("M", chain, "metarule"));
    FakeContext context;
    const std::string what = WhatOf([&] { Run("M", context); });
    EXPECT_EQ(what.find("reached the maximum expression depth") != std::string::npos,
              operators == 100)
        << operators << ": " << what;
  }
}

TEST_F(ExprConditionTest, ConditionalTakesTheSecondOrThirdOperand) {
  Load(kLeaves);
  assl::CParsedRule arena;
  assl::CExprNode* node[4];  // the conditional, then its three rule operands
  for (assl::CExprNode*& n : node) n = arena.NewExprNode();
  node[0]->kind = assl::CExprNode::kOperator;
  node[0]->op = assl::kOpConditional;
  for (const char* test : {"T", "F"}) {
    const char* names[] = {test, "T2", "F2"};
    for (int i = 0; i < 3; ++i) {
      node[i + 1]->subtype = assl::CExprNode::kRuleName;
      node[i + 1]->name = names[i];
      node[0]->operands[i] = node[i + 1];
    }
    FakeContext context;
    context.CopyStateRecords(Engine().GetStateTemplate());
    EXPECT_EQ(assl::EvaluateParsedExpression(node[0], &m_rules.handle, &context),
              *test == 'T' ? 1.0 : 0.0);
    EXPECT_NE(Evaluated("T2", context), Evaluated("F2", context));
    node[0]->operands[2] = nullptr;
    EXPECT_NE(WhatOf([&] { assl::EvaluateParsedExpression(node[0], &m_rules.handle, &context); })
                  .find("invalid operands"), std::string::npos);
  }
}

}  // namespace
}  // namespace zztest
