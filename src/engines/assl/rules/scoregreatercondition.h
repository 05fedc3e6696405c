// ScoreGreaterCondition: `score_greater_than(NAME, CONSTANT)`: holds when the context's
// integer variable NAME is at least CONSTANT (equality hits). The form comparing two
// variables, `score_greater_than(NAME, NAME)`, is accepted and never holds.
// Owns copies of the names; immutable once built: safe for concurrent readers.
#pragma once

#include <cstdint>

#include "common/ustring.h"
#include "engines/assl/rules/acondition.h"

namespace assl {

class ScoreGreaterCondition : public ACondition {
 public:
  ScoreGreaterCondition() noexcept : ACondition(kCondScoreGreater) {}
  // Each returns 0, or -2 when the copy cannot be allocated.
  std::int32_t SetConstantForm(const char* variable, std::int32_t constant);
  std::int32_t SetVariableForm(const char* variable, const char* other);

  // 1.0 / 0.0; an absent variable traces "variable with name %s does not exist" and gives 0.0.
  double Evaluate(CEnginesHandle* engines, ContextInterface* context) const override;

 private:
  ascommon::sstring m_variable;
  std::uint32_t m_compareKind = kKeyScoreCompareConstant;  // 172 constant, 171 variable
  std::int32_t m_constant = 0;
  ascommon::sstring m_other;
};

}  // namespace assl
