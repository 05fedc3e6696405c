#include "engines/assl/rules/execcondition.h"

#include "common/astrace.h"
#include "engines/assl/acontextif.h"
#include "engines/assl/exec_structs.h"
#include "engines/codeheur/codeheurengine.h"

namespace assl {

double ExecCondition::Evaluate(CEnginesHandle* engines, ContextInterface* context) const {
  CheckHandles(engines, context);
  const CCodeHeurEngine* heuristics = engines->GetCodeHeurEngine();
  if (heuristics == nullptr) AS_THROW(0, ASException, "invalid handle to code heur engine");
  const char* name = m_name.c_str() != nullptr ? m_name.c_str() : "";
  const double value = heuristics->Call(name, engines, context, nullptr);
  if (IMatchObserver* observer = context->GetObserver()) {
    observer->OnHeuristic(context->GetCurrentRuleName(), name, value);
  }
  return value;
}

}  // namespace assl
