// NoCondition: the condition of a rule written `condition: none;`: it always holds, so the
// rule's actions run whenever the rule is executed. Stateless: safe for concurrent readers.
#pragma once

#include "engines/assl/rules/acondition.h"

namespace assl {

class NoCondition : public ACondition {
 public:
  NoCondition() noexcept : ACondition(kCondNone) {}
  // 1.0 after the handle checks.
  double Evaluate(CEnginesHandle* engines, ContextInterface* context) const override;
};

}  // namespace assl
