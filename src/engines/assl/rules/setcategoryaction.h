// SetCategoryAction: `set_category("text")` sets the context's string variable CATEGORY;
// the form naming a variable (`set_category(NAME)`) is accepted and changes nothing.
// Owns its text; immutable after construction, safe for concurrent executions.
#pragma once

#include "common/ustring.h"
#include "engines/assl/rules/aaction.h"

namespace assl {

class SetCategoryAction : public AAction {
 public:
  // kind is kKeySetCategoryText or kKeySetCategoryName.
  SetCategoryAction() noexcept : AAction(kActSetCategory) {}
  // 0, or -2 when the text cannot be copied.
  std::int32_t Set(std::uint32_t kind, const char* text) {
    m_kind = kind;
    return m_text.assign(text);
  }
  void Execute(CEnginesHandle* engines, ContextInterface* context) const override;

 private:
  std::uint32_t m_kind = kKeySetCategoryText;
  ascommon::sstring m_text;
};

}  // namespace assl
