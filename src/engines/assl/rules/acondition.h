// ACondition: the test of a rule. Built once by CreateCondition from a parsed rule's
// condition item, initialised once with the engines (regexes compiled, rule names resolved),
// then evaluated on any number of contexts at once: Evaluate must not change the condition.
// Evaluate returns a double; non-zero means the rule hits.
#pragma once

#include <cstdint>

#include "engines/assl/parser/item_codes.h"
#include "engines/assl/parser/rule.h"
#include "engines/assl/rules/aitem.h"

namespace assl {

class CEnginesHandle;
class ContextInterface;

class ACondition : public AItem {
 public:
  explicit ACondition(std::int32_t specific) noexcept : AItem(kGenericCondition, specific) {}
  // Throws ASException with the condition's message when it cannot be used.
  virtual void Init(CEnginesHandle* engines) { (void)engines; }
  // Throws "invalid context handle" / "invalid engines handle" for null handles.
  virtual double Evaluate(CEnginesHandle* engines, ContextInterface* context) const = 0;

 protected:
  // The check every Evaluate makes first: ASException "invalid context handle" for a null
  // context, "invalid engines handle" for null engines.
  static void CheckHandles(const CEnginesHandle* engines, const ContextInterface* context);
};

// Builds the condition a parsed item describes; traces the reason and returns null on
// failure ("blackbox missing generic item type", ..., "unknown condition type").
ACondition* CreateCondition(const CParsedItem& item);

}  // namespace assl
