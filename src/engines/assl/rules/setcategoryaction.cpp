#include "engines/assl/rules/setcategoryaction.h"

#include "engines/assl/acontextif.h"

namespace assl {

void SetCategoryAction::Execute(CEnginesHandle* engines, ContextInterface* context) const {
  (void)engines;
  CheckContext(context);
  if (m_kind == kKeySetCategoryText) context->SetStringVariable("CATEGORY", m_text.c_str());
}

}  // namespace assl
