#include "engines/assl/rules/markaction.h"

#include "engines/assl/acontextif.h"

namespace assl {

void MarkAction::Execute(CEnginesHandle* engines, ContextInterface* context) const {
  (void)engines;
  CheckContext(context);
  if (m_scoreKind == kKeyMarkScoreConstant) context->SetIntVariable("SCORE", m_score);
  if (m_categoryKind == kKeyMarkCategoryText) {
    context->SetStringVariable("CATEGORY", m_category.c_str());
  }
}

}  // namespace assl
