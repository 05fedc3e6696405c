// The condition factory: checks the generic and specific type, then the value keys each
// condition needs, in the order their messages are documented, and builds the object.
// Every failure traces its reason and returns null (the rule is then not created).
// Tested by the tests/engines/assl/conditions_*_test.cpp files.
#include "engines/assl/rules/acondition.h"

#include <new>

#include "common/astrace.h"
#include "engines/assl/rules/execcondition.h"
#include "engines/assl/rules/existscondition.h"
#include "engines/assl/rules/exprcondition.h"
#include "engines/assl/rules/isemptycondition.h"
#include "engines/assl/rules/knncategcondition.h"
#include "engines/assl/rules/matchcondition.h"
#include "engines/assl/rules/nocondition.h"
#include "engines/assl/rules/scoregreatercondition.h"
#include "engines/assl/rules/sizegreatercondition.h"
#include "engines/assl/rules/tokenmatchcondition.h"

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

bool IsAscii(const char* text) {
  for (; *text != '\0'; ++text) {
    if (static_cast<unsigned char>(*text) > 0x7F) return false;
  }
  return true;
}

// Reads the header name a where code needs (201: key 202, 261: key 262) into *name, null
// for the other codes. Returns the failure message, or null.
const char* ReadHeaderName(const CParsedItem& item, std::int32_t where, const char** name) {
  *name = nullptr;
  if (where == kHeadersNamed) {
    *name = item.Text(kKeyHeaderName);
    if (*name == nullptr) return "specific header name not present";
    if (!IsAscii(*name)) return "specific header name not ASCII";
  } else if (where == kPartHeadersNamed) {
    *name = item.Text(kKeyPartHeaderName);
    if (*name == nullptr) return "specific part header name not present";
    if (!IsAscii(*name)) return "specific part header name not ASCII";
  }
  return nullptr;
}

ACondition* CreatePhraseMatch(std::int32_t where, const char* text) {
  auto* condition = new (std::nothrow) TokenMatchCondition(where);
  if (condition == nullptr) return Fail("could not alloc memory");
  try {
    condition->SetPhrases(text);
  } catch (const ASException&) {  // traced where thrown
    delete condition;
    return nullptr;
  }
  return condition;
}

ACondition* CreateMatch(const CParsedItem& item) {
  const char* text = item.Text(kKeyMatchText);
  if (text == nullptr) return Fail("missing what to match");
  if (!HasNumber(item, kKeyMatchWhere)) return Fail("missing where to match");
  if (!HasNumber(item, kKeyMatchHow)) return Fail("missing match type");
  const std::int32_t where = item.Number(kKeyMatchWhere);
  const std::int32_t how = item.Number(kKeyMatchHow);
  if (TokenMatchCondition::IsPhraseText(text) && where >= kPartsAll && where <= kPartsTextHtml) {
    return CreatePhraseMatch(where, text);
  }
  const char* header = nullptr;
  if (const char* problem = ReadHeaderName(item, where, &header)) return Fail(problem);
  std::int32_t mode = kPartRaw;
  const bool readsMode = where == kPartsAll || where == kPartsText || where == kPartsTextHtml ||
                         (where >= kHtmlBody && where <= kHtmlScript);
  if (readsMode && HasNumber(item, kKeyMatchPartMode)) mode = item.Number(kKeyMatchPartMode);
  auto* condition = new (std::nothrow) MatchCondition(where, how, mode);
  return Built(condition, condition != nullptr ? condition->SetTexts(text, header) : 0);
}

ACondition* CreateExists(const CParsedItem& item) {
  if (!HasNumber(item, kKeyExistsWhat)) return Fail("missing what to check for existence");
  const std::int32_t what = item.Number(kKeyExistsWhat);
  const char* header = nullptr;
  if (const char* problem = ReadHeaderName(item, what, &header)) return Fail(problem);
  auto* condition = new (std::nothrow) ExistsCondition(what);
  return Built(condition, condition != nullptr
                              ? condition->SetTexts(header, item.Text(kKeyExistsCollection))
                              : 0);
}

ACondition* CreateIsEmpty(const CParsedItem& item) {
  if (!HasNumber(item, kKeyIsEmptyWhat)) return Fail("missing what to check for emptiness");
  const std::int32_t what = item.Number(kKeyIsEmptyWhat);
  const char* header = nullptr;
  if (const char* problem = ReadHeaderName(item, what, &header)) return Fail(problem);
  auto* condition = new (std::nothrow) IsEmptyCondition(what);
  return Built(condition, condition != nullptr ? condition->SetHeader(header) : 0);
}

ACondition* CreateExec(const CParsedItem& item) {
  const char* name = item.Text(kKeyCondExecName);
  if (name == nullptr) return Fail("missing execution identifier string");
  auto* condition = new (std::nothrow) ExecCondition();
  return Built(condition, condition != nullptr ? condition->SetName(name) : 0);
}

ACondition* CreateKnnCateg(const CParsedItem& item) {
  const char* category = item.Text(kKeyKnnCategory);
  if (category == nullptr || !HasNumber(item, kKeyKnnConstant)) {
    return Fail("missing KNN category or probability");
  }
  auto* condition = new (std::nothrow) KNNCategCondition(item.Number(kKeyKnnConstant));
  return Built(condition, condition != nullptr ? condition->SetCategory(category) : 0);
}

ACondition* CreateSizeGreater(const CParsedItem& item) {
  if (!HasNumber(item, kKeySizeItem) || !HasNumber(item, kKeySizeConstant)) {
    return Fail("missing item which size to compare");
  }
  return Built(new (std::nothrow) SizeGreaterCondition(item.Number(kKeySizeItem),
                                                       item.Number(kKeySizeConstant)),
               0);
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
    case kCondMatch:
      return CreateMatch(item);
    case kCondExists:
      return CreateExists(item);
    case kCondIsEmpty:
      return CreateIsEmpty(item);
    case kCondExec:
      return CreateExec(item);
    case kCondKnnCateg:
      return CreateKnnCateg(item);
    case kCondScoreGreater:
      return CreateScoreGreater(item);
    case kCondSizeGreater:
      return CreateSizeGreater(item);
    default:
      return Fail("unknown condition type");
  }
}

}  // namespace assl
