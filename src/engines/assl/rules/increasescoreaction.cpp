#include "engines/assl/rules/increasescoreaction.h"

#include "common/astrace.h"
#include "engines/assl/acontextif.h"

namespace assl {

void IncreaseScoreAction::Execute(CEnginesHandle* engines, ContextInterface* context) const {
  (void)engines;
  CheckContext(context);
  if (m_kind != kKeyIncreaseConstant) return;
  const char* variable = m_variable.c_str();
  if (const std::int32_t* current = context->FindIntVariable(variable)) {
    // Wraps like the 32-bit addition of the score counters, without overflow traps.
    context->SetIntVariable(variable, static_cast<std::int32_t>(
                                          static_cast<std::uint32_t>(*current) +
                                          static_cast<std::uint32_t>(m_constant)));
    return;
  }
  AS_TRACE(2, "variable %s does not exist. It will be added", variable);
  context->SetIntVariable(variable, m_constant);
}

}  // namespace assl
