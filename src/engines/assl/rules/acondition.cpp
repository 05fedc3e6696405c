// The condition factory: checks the generic and specific type, then the value keys each
// condition needs, in the order their messages are documented, and builds the object.
// Every failure traces its reason and returns null (the rule is then not created).
// Tested by the tests/engines/assl/conditions_*_test.cpp files.
#include "engines/assl/rules/acondition.h"

#include <new>

#include "common/astrace.h"
#include "engines/assl/rules/exprcondition.h"
#include "engines/assl/rules/nocondition.h"
#include "engines/assl/rules/scoregreatercondition.h"

namespace assl {

namespace {

ACondition* Fail(const char* message) {
  AS_TRACE(0, "%s", message);
  return nullptr;
}

bool HasNumber(const CParsedItem& item, std::uint32_t key) {
  const CItemValue* value = item.Find(key);
  return value != nullptr && value->kind == CItemValue::kNumber;
}

// Takes a freshly built condition and the status of filling it.
ACondition* Built(ACondition* condition, std::int32_t status) {
  if (condition != nullptr && status == 0) return condition;
  delete condition;
  return Fail("could not alloc memory");
}

ACondition* CreateExpression(const CParsedItem& item) {
  const CExprNode* root = item.Node(kKeyExpression);
  if (root == nullptr) return Fail("missing expression root");
  CExprTree* tree = CExprTree::Copy(root);
  if (tree == nullptr) return Fail("could not alloc memory");
  auto* condition = new (std::nothrow) ExprCondition(tree);
  if (condition == nullptr) delete tree;
  return Built(condition, 0);
}

ACondition* CreateScoreGreater(const CParsedItem& item) {
  const char* variable = item.Text(kKeyScoreVariable);
  if (variable == nullptr) return Fail("missing variable name to compare");
  const bool constant = HasNumber(item, kKeyScoreCompareConstant);
  const char* other = item.Text(kKeyScoreCompareName);
  if (!constant && other == nullptr) {
    return Fail("invalid container to construct a ScoreGreaterCondition");
  }
  auto* condition = new (std::nothrow) ScoreGreaterCondition();
  if (condition == nullptr) return Fail("could not alloc memory");
  const std::int32_t status =
      constant ? condition->SetConstantForm(variable, item.Number(kKeyScoreCompareConstant))
               : condition->SetVariableForm(variable, other);
  return Built(condition, status);
}

}  // namespace

void ACondition::CheckHandles(const CEnginesHandle* engines, const ContextInterface* context) {
  if (context == nullptr) AS_THROW(0, ASException, "invalid context handle");
  if (engines == nullptr) AS_THROW(0, ASException, "invalid engines handle");
}

ACondition* CreateCondition(const CParsedItem& item) {
  if (item.GenericType() == 0) return Fail("blackbox missing generic item type");
  if (item.SpecificType() == 0) return Fail("blackbox missing specific item type");
  if (item.GenericType() != kGenericCondition) {
    return Fail("the container does not represent a condition");
  }
  switch (item.SpecificType()) {
    case kCondNone:
      return Built(new (std::nothrow) NoCondition(), 0);
    case kCondExpression:
      return CreateExpression(item);
    case kCondScoreGreater:
      return CreateScoreGreater(item);
    default:
      return Fail("unknown condition type");
  }
}

}  // namespace assl
