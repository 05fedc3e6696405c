// The action factory: checks the generic and specific type keys in order, then the value
// keys each kind requires, and builds the action. Every refusal is traced and gives null,
// so the rule that carried the item is not created.
// Tested by tests/engines/assl/actions_*_test.cpp.
#include "engines/assl/rules/aaction.h"

#include <new>

#include "common/astrace.h"
#include "engines/assl/rules/addheaderaction.h"
#include "engines/assl/rules/addtoheaderaction.h"
#include "engines/assl/rules/execaction.h"
#include "engines/assl/rules/increasescoreaction.h"
#include "engines/assl/rules/markaction.h"
#include "engines/assl/rules/setcategoryaction.h"

namespace assl {

void AAction::CheckContext(const ContextInterface* context) {
  if (context == nullptr) AS_THROW(0, ASException, "invalid context handle");
}

namespace {

AAction* Fail(const char* message) {
  AS_TRACE(0, "%s", message);
  return nullptr;
}

// The new action, or null ("could not alloc memory") when it or a copy cannot be made.
template <class T, class Setter>
AAction* Make(Setter&& set) {
  T* action = new (std::nothrow) T();
  if (action == nullptr || set(*action) != 0) {
    delete action;
    return Fail("could not alloc memory");
  }
  return action;
}

bool IsAscii(const char* text) {
  for (; *text != '\0'; ++text) {
    if (static_cast<unsigned char>(*text) > 0x7F) return false;
  }
  return true;
}

// The key of the first of the two that the item holds, or 0.
std::uint32_t EitherKey(const CParsedItem& item, std::uint32_t first, std::uint32_t second) {
  return item.Has(first) ? first : item.Has(second) ? second : 0;
}

template <class T>
AAction* MakeHeaderAction(const CParsedItem& item, const char* invalid) {
  const std::uint32_t nameKind = EitherKey(item, kKeyHeaderText, kKeyHeaderNameName);
  const char* name = nameKind == 0 ? nullptr : item.Text(nameKind);
  const char* value = item.Text(kKeyHeaderValue);
  if (name == nullptr || value == nullptr) return Fail(invalid);
  if (!IsAscii(name)) return Fail("specific header name not ASCII");
  if (!IsAscii(value)) return Fail("specific header value not ASCII");
  return Make<T>([&](T& action) { return action.Set(nameKind, name, value); });
}

}  // namespace

AAction* CreateAction(const CParsedItem& item) {
  if (item.GenericType() == 0) return Fail("blackbox missing generic item type");
  if (item.SpecificType() == 0) return Fail("blackbox missing specific item type");
  if (item.GenericType() != kGenericAction) {
    return Fail("the container does not represent an action");
  }
  switch (item.SpecificType()) {
    case kActSetCategory: {
      const std::uint32_t kind = EitherKey(item, kKeySetCategoryText, kKeySetCategoryName);
      if (kind == 0) return Fail("invalid container to construct a SetCategoryAction");
      const char* text = item.Text(kind);
      return Make<SetCategoryAction>([&](SetCategoryAction& action) {
        return action.Set(kind, text == nullptr ? "" : text);
      });
    }
    case kActIncreaseScore: {
      const char* variable = item.Text(kKeyIncreaseVariable);
      if (variable == nullptr) return Fail("missing IncreaseScore::OfWhat");
      const std::uint32_t kind = EitherKey(item, kKeyIncreaseConstant, kKeyIncreaseName);
      if (kind == 0) return Fail("invalid container to construct a IncreaseScoreAction");
      return Make<IncreaseScoreAction>([&](IncreaseScoreAction& action) {
        return action.Set(variable, kind, item.Number(kKeyIncreaseConstant),
                          item.Text(kKeyIncreaseName));
      });
    }
    case kActMark: {
      const std::uint32_t category = EitherKey(item, kKeyMarkCategoryText, kKeyMarkCategoryName);
      const std::uint32_t score = EitherKey(item, kKeyMarkScoreConstant, kKeyMarkScoreName);
      if (category == 0 || score == 0) return Fail("invalid container to construct a MarkAction");
      return Make<MarkAction>([&](MarkAction& action) {
        return action.Set(category, item.Text(category), score,
                          item.Number(kKeyMarkScoreConstant));
      });
    }
    case kActExec: {
      const char* name = item.Text(kKeyActExecName);
      if (name == nullptr) return Fail("missing execution identifier string");
      return Make<ExecAction>([&](ExecAction& action) { return action.SetName(name); });
    }
    case kActAddHeader:
      return MakeHeaderAction<AddHeaderAction>(item,
                                               "invalid container to construct an AddHeaderAction");
    case kActAddToHeader:
      return MakeHeaderAction<AddToHeaderAction>(
          item, "invalid container to construct an AddToHeaderAction");
    default:
      return Fail("unknown action type");
  }
}

}  // namespace assl
