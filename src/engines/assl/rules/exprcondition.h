// ExprCondition: a meta-rule's condition, an expression over other rules' results
// (`R1 || !R2`, `R1 ? R2 : true`, ...). CExprTree is the condition's own copy of the parsed
// expression (the parsed rule dies after loading): each node an operator with up to three
// children, a boolean constant, or a rule reference by UID.
//
// The engine's expression entry points (ASSL::EvaluateExpression over a parsed tree and
// ASSL::EvaluateExpressionText) evaluate through EvaluateParsedExpression below, so there is
// one evaluation table. Values are doubles, non-zero (NaN included) means true:
//   operand: the boolean as 1.0 / 0.0, or the referenced rule executed on the context;
//   ||  left if non-zero, else right (right skipped);  |||  the same, both always run;
//   &&  left if zero, else right (right skipped);      &&&  the same, both always run;
//   ==  1.0 when both or neither are non-zero;  !=  1.0 when exactly one is;  !  negation;
//   conditional: second operand when the first is non-zero, else the third.
// Each level passes depth + 1 from 0; reaching kMaxDepth throws "reached the maximum
// expression depth".
// Ownership: a tree owns its children; the condition owns its tree. Immutable after Init:
// any number of threads may evaluate one tree on their own contexts.
#pragma once

#include <cstdint>

#include "common/asmemory.h"
#include "engines/assl/rules/acondition.h"

namespace assl {

struct CExprNode;

class CExprTree : public ascommon::CASAllocated {
 public:
  static constexpr std::uint32_t kMaxDepth = 100;
  enum Kind : std::int32_t {
    kBoolean,        // boolean constant
    kRuleName,       // a rule's UID, not yet resolved through the engine (Init)
    kRuleReference,  // a resolved rule
    kOperator,
    kTooDeep,        // stands for a subtree at kMaxDepth, never reached: evaluation stops first
    kInvalid,        // a parsed leaf of unknown kind
  };

  // Copies the parsed tree (rule names become kRuleName leaves with their UID); subtrees
  // at kMaxDepth are not copied. Null when memory runs out.
  static CExprTree* Copy(const CExprNode* node) noexcept;
  ~CExprTree();
  CExprTree(const CExprTree&) = delete;
  CExprTree& operator=(const CExprTree&) = delete;

  // Turns every kRuleName leaf into a kRuleReference.
  void Resolve() noexcept;
  // The table above; ASException "invalid operands", "invalid operator", "invalid value type
  // for a leaf node", "reached the maximum expression depth", and whatever a rule throws.
  double Evaluate(CEnginesHandle* engines, ContextInterface* context,
                  std::uint32_t depth = 0) const;

  std::int32_t GetKind() const noexcept { return m_kind; }
  std::int32_t GetOperator() const noexcept { return m_op; }
  bool GetBoolean() const noexcept { return m_boolean; }
  std::uint32_t GetUid() const noexcept { return m_uid; }
  const CExprTree* GetChild(std::uint32_t index) const noexcept { return m_children[index]; }

 private:
  CExprTree() noexcept = default;
  static CExprTree* CopyAt(const CExprNode* node, std::uint32_t depth) noexcept;

  std::int32_t m_kind = kInvalid;
  std::int32_t m_op = 0;
  bool m_boolean = false;
  std::uint32_t m_uid = 0;
  CExprTree* m_children[3] = {nullptr, nullptr, nullptr};  // Owned.
};

// Evaluates a parsed tree in place (rule names resolved as they are reached), with the
// same table and depth counting as CExprTree::Evaluate.
double EvaluateParsedExpression(const CExprNode* node, CEnginesHandle* engines,
                                ContextInterface* context, std::uint32_t depth = 0);

class ExprCondition : public ACondition {
 public:
  // Takes ownership of root (not null).
  explicit ExprCondition(CExprTree* root) noexcept : ACondition(kCondExpression), m_root(root) {}
  ~ExprCondition() override;

  // Resolves the rule names; "obtained an invalid handle to the ASSL engine" when the
  // engines hold no engine.
  void Init(CEnginesHandle* engines) override;
  double Evaluate(CEnginesHandle* engines, ContextInterface* context) const override;

 private:
  CExprTree* m_root;  // Owned.
};

}  // namespace assl
