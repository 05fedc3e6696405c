#include "engines/assl/rules/scoregreatercondition.h"

#include "common/astrace.h"
#include "engines/assl/acontextif.h"

namespace assl {

std::int32_t ScoreGreaterCondition::SetConstantForm(const char* variable, std::int32_t constant) {
  m_compareKind = kKeyScoreCompareConstant;
  m_constant = constant;
  return m_variable.assign(variable);
}

std::int32_t ScoreGreaterCondition::SetVariableForm(const char* variable, const char* other) {
  m_compareKind = kKeyScoreCompareName;
  const std::int32_t status = m_variable.assign(variable);
  return status != 0 ? status : m_other.assign(other);
}

double ScoreGreaterCondition::Evaluate(CEnginesHandle* engines, ContextInterface* context) const {
  CheckHandles(engines, context);
  const std::int32_t* value = context->FindIntVariable(m_variable.c_str());
  if (value == nullptr) {
    AS_TRACE(2, "variable with name %s does not exist", m_variable.c_str());
    return 0.0;
  }
  if (m_compareKind != kKeyScoreCompareConstant) return 0.0;
  return *value >= m_constant ? 1.0 : 0.0;
}

}  // namespace assl
