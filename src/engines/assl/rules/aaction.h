// AAction: what a rule does when its condition hits. Built once by CreateAction from a
// parsed rule's action item, initialised once, then executed at most once per context; like
// conditions, actions are shared by every context, so Execute must not change the action.
#pragma once

#include <cstdint>

#include "engines/assl/parser/item_codes.h"
#include "engines/assl/parser/rule.h"
#include "engines/assl/rules/aitem.h"

namespace assl {

class CEnginesHandle;
class ContextInterface;

class AAction : public AItem {
 public:
  explicit AAction(std::int32_t specific) noexcept : AItem(kGenericAction, specific) {}
  virtual void Init(CEnginesHandle* engines) { (void)engines; }
  // Throws ASException "invalid context handle" for a null context.
  virtual void Execute(CEnginesHandle* engines, ContextInterface* context) const = 0;

 protected:
  // The check every Execute makes first: ASException "invalid context handle" for null.
  static void CheckContext(const ContextInterface* context);
};

// Builds the action a parsed item describes; traces the reason and returns null on failure.
AAction* CreateAction(const CParsedItem& item);

}  // namespace assl
