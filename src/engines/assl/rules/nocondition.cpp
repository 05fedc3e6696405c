#include "engines/assl/rules/nocondition.h"

namespace assl {

double NoCondition::Evaluate(CEnginesHandle* engines, ContextInterface* context) const {
  CheckHandles(engines, context);
  return 1.0;
}

}  // namespace assl
