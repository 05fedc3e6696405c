// IncreaseScoreAction: `increase_score(VAR, N)` adds N to the integer variable VAR, creating
// it with N when it does not exist ("variable %s does not exist. It will be added", level 2).
// The form with a variable instead of N is accepted and changes nothing.
// Owns its names; immutable after construction, safe for concurrent executions.
#pragma once

#include <cstdint>

#include "common/ustring.h"
#include "engines/assl/rules/aaction.h"

namespace assl {

class IncreaseScoreAction : public AAction {
 public:
  IncreaseScoreAction() noexcept : AAction(kActIncreaseScore) {}
  // kind is kKeyIncreaseConstant (constant used) or kKeyIncreaseName (name used). 0, or -2
  // when a text cannot be copied.
  std::int32_t Set(const char* variable, std::uint32_t kind, std::int32_t constant,
                   const char* name) {
    m_kind = kind;
    m_constant = constant;
    const std::int32_t status = m_variable.assign(variable);
    return status != 0 ? status : m_name.assign(name == nullptr ? "" : name);
  }
  void Execute(CEnginesHandle* engines, ContextInterface* context) const override;

 private:
  ascommon::sstring m_variable;
  std::uint32_t m_kind = kKeyIncreaseConstant;
  std::int32_t m_constant = 0;
  ascommon::sstring m_name;
};

}  // namespace assl
