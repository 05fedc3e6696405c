#include "engines/assl/rules/execaction.h"

#include "common/astrace.h"
#include "engines/assl/exec_structs.h"
#include "engines/codeheur/codeheurengine.h"

namespace assl {

void ExecAction::Execute(CEnginesHandle* engines, ContextInterface* context) const {
  CheckContext(context);
  if (engines == nullptr) AS_THROW(0, ASException, "invalid engines handle");
  const CCodeHeurEngine* heuristics = engines->GetCodeHeurEngine();
  if (heuristics == nullptr) AS_THROW(0, ASException, "invalid handle to code heur engine");
  heuristics->Call(m_name.c_str(), engines, context, nullptr);
}

}  // namespace assl
