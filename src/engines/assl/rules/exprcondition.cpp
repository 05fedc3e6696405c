// Expression evaluation: one recursive walk, shared by the condition's own tree and the
// parsed tree (EvaluateNode over an accessor per node type). A node costs O(1) plus the
// rules it executes; recursion is bounded by CExprTree::kMaxDepth frames.
// Tested by tests/engines/assl/conditions_expr_test.cpp.
#include "engines/assl/rules/exprcondition.h"

#include <new>

#include "common/astrace.h"
#include "engines/assl/acontextif.h"
#include "engines/assl/assl.h"
#include "engines/assl/exec_structs.h"
#include "engines/assl/parser/rule.h"
#include "engines/assl/rules/crule.h"

namespace assl {

namespace {

double RunRule(std::uint32_t uid, CEnginesHandle* engines, ContextInterface* context) {
  ASSL* engine = engines->GetAssl();
  if (engine == nullptr) {
    AS_THROW(0, ASException, "obtained an invalid handle to the ASSL engine");
  }
  return engine->ExecuteRule(uid, engines, context);
}

[[noreturn]] void ThrowBadLeaf() {
  AS_THROW(0, ASException, "invalid value type for a leaf node");
}

// The condition's own tree.
struct TreeAccess {
  static bool IsOperator(const CExprTree* n) { return n->GetKind() == CExprTree::kOperator; }
  static std::int32_t Operator(const CExprTree* n) { return n->GetOperator(); }
  static const CExprTree* Child(const CExprTree* n, std::uint32_t i) { return n->GetChild(i); }
  static double Leaf(const CExprTree* n, CEnginesHandle* engines, ContextInterface* context) {
    switch (n->GetKind()) {
      case CExprTree::kBoolean:
        return n->GetBoolean() ? 1.0 : 0.0;
      case CExprTree::kRuleReference:
        return RunRule(n->GetUid(), engines, context);
      default:
        ThrowBadLeaf();
    }
  }
};

// A parsed tree: rule names are hashed to their UID when reached.
struct ParsedAccess {
  static bool IsOperator(const CExprNode* n) { return n->kind == CExprNode::kOperator; }
  static std::int32_t Operator(const CExprNode* n) { return n->op; }
  static const CExprNode* Child(const CExprNode* n, std::uint32_t i) { return n->operands[i]; }
  static double Leaf(const CExprNode* n, CEnginesHandle* engines, ContextInterface* context) {
    if (n->subtype == CExprNode::kBooleanConstant) return n->boolean ? 1.0 : 0.0;
    if (n->subtype == CExprNode::kRuleName && n->name != nullptr) {
      return RunRule(CRule::ComputeUid(n->name), engines, context);
    }
    ThrowBadLeaf();
  }
};

// Non-zero, NaN included (NaN != 0.0 holds).
bool IsTrue(double value) { return value != 0.0; }

template <class Access, class Node>
double EvaluateNode(const Node* node, CEnginesHandle* engines, ContextInterface* context,
                    std::uint32_t depth) {
  if (depth >= CExprTree::kMaxDepth) {
    AS_THROW(0, ASException, "reached the maximum expression depth");
  }
  if (node == nullptr) AS_THROW(2, ASException, "invalid operands");
  if (!Access::IsOperator(node)) return Access::Leaf(node, engines, context);

  const std::int32_t op = Access::Operator(node);
  std::uint32_t arity = 2;
  if (op == kOpNot) {
    arity = 1;
  } else if (op == kOpConditional) {
    arity = 3;
  } else if (op < kOpOr || op > kOpConditional) {
    AS_THROW(0, ASException, "invalid operator");
  }
  for (std::uint32_t i = 0; i < arity; ++i) {
    if (Access::Child(node, i) == nullptr) AS_THROW(2, ASException, "invalid operands");
  }
  auto value = [&](std::uint32_t i) {
    return EvaluateNode<Access>(Access::Child(node, i), engines, context, depth + 1);
  };

  switch (op) {
    case kOpNot:
      return IsTrue(value(0)) ? 0.0 : 1.0;
    case kOpConditional:
      return IsTrue(value(0)) ? value(1) : value(2);
    case kOpOr: {
      const double left = value(0);
      return IsTrue(left) ? left : value(1);
    }
    case kOpAnd: {
      const double left = value(0);
      return IsTrue(left) ? value(1) : left;
    }
    default:
      break;
  }
  const double left = value(0);
  const double right = value(1);
  switch (op) {
    case kOpAllOr:
      return IsTrue(left) ? left : right;
    case kOpAllAnd:
      return IsTrue(left) ? right : left;
    case kOpEq:
      return IsTrue(left) == IsTrue(right) ? 1.0 : 0.0;
    default:  // kOpNe
      return IsTrue(left) != IsTrue(right) ? 1.0 : 0.0;
  }
}

}  // namespace

CExprTree* CExprTree::Copy(const CExprNode* node) noexcept { return CopyAt(node, 0); }

CExprTree* CExprTree::CopyAt(const CExprNode* node, std::uint32_t depth) noexcept {
  auto* copy = new (std::nothrow) CExprTree();
  if (copy == nullptr) return nullptr;
  if (depth >= kMaxDepth) {
    copy->m_kind = kTooDeep;
  } else if (node->kind == CExprNode::kOperator) {
    copy->m_kind = kOperator;
    copy->m_op = node->op;
    for (std::uint32_t i = 0; i < 3; ++i) {
      if (node->operands[i] == nullptr) continue;
      copy->m_children[i] = CopyAt(node->operands[i], depth + 1);
      if (copy->m_children[i] == nullptr) {
        delete copy;
        return nullptr;
      }
    }
  } else if (node->subtype == CExprNode::kBooleanConstant) {
    copy->m_kind = kBoolean;
    copy->m_boolean = node->boolean;
  } else if (node->subtype == CExprNode::kRuleName && node->name != nullptr) {
    copy->m_kind = kRuleName;
    copy->m_uid = CRule::ComputeUid(node->name);
  }
  return copy;
}

CExprTree::~CExprTree() {
  for (CExprTree* child : m_children) delete child;
}

void CExprTree::Resolve() noexcept {
  if (m_kind == kRuleName) m_kind = kRuleReference;
  for (CExprTree* child : m_children) {
    if (child != nullptr) child->Resolve();
  }
}

double CExprTree::Evaluate(CEnginesHandle* engines, ContextInterface* context,
                           std::uint32_t depth) const {
  return EvaluateNode<TreeAccess>(this, engines, context, depth);
}

double EvaluateParsedExpression(const CExprNode* node, CEnginesHandle* engines,
                                ContextInterface* context, std::uint32_t depth) {
  if (engines == nullptr) AS_THROW(0, ASException, "invalid engines handle");
  if (context == nullptr) AS_THROW(0, ASException, "invalid context handle");
  return EvaluateNode<ParsedAccess>(node, engines, context, depth);
}

ExprCondition::~ExprCondition() { delete m_root; }

void ExprCondition::Init(CEnginesHandle* engines) {
  if (engines == nullptr || engines->GetAssl() == nullptr) {
    AS_THROW(0, ASException, "obtained an invalid handle to the ASSL engine");
  }
  m_root->Resolve();
}

double ExprCondition::Evaluate(CEnginesHandle* engines, ContextInterface* context) const {
  CheckHandles(engines, context);
  return m_root->Evaluate(engines, context);
}

}  // namespace assl
