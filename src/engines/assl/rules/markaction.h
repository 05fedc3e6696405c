// MarkAction: `mark("category", N)` sets CATEGORY to the text and SCORE to N (replacing,
// not adding). Either part given as a variable name is accepted and changes nothing.
// Owns its text; immutable after construction, safe for concurrent executions.
#pragma once

#include <cstdint>

#include "common/ustring.h"
#include "engines/assl/rules/aaction.h"

namespace assl {

class MarkAction : public AAction {
 public:
  MarkAction() noexcept : AAction(kActMark) {}
  // categoryKind: kKeyMarkCategoryText or kKeyMarkCategoryName; scoreKind:
  // kKeyMarkScoreConstant or kKeyMarkScoreName. 0, or -2 when the text cannot be copied.
  std::int32_t Set(std::uint32_t categoryKind, const char* category, std::uint32_t scoreKind,
                   std::int32_t score) {
    m_categoryKind = categoryKind;
    m_scoreKind = scoreKind;
    m_score = score;
    return m_category.assign(category == nullptr ? "" : category);
  }
  void Execute(CEnginesHandle* engines, ContextInterface* context) const override;

 private:
  std::uint32_t m_categoryKind = kKeyMarkCategoryText;
  ascommon::sstring m_category;
  std::uint32_t m_scoreKind = kKeyMarkScoreConstant;
  std::int32_t m_score = 0;
};

}  // namespace assl
