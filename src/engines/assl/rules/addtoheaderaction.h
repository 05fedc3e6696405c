// AddToHeaderAction: `add_to_header(NAME_OR_TEXT, "value")`: as AddHeaderAction, except that
// an existing plain header gets the value appended to its own. Immutable after
// construction, safe for concurrent executions on separate contexts.
#pragma once

#include "engines/assl/rules/addheaderaction.h"

namespace assl {

class AddToHeaderAction : public AddHeaderAction {
 public:
  AddToHeaderAction() noexcept : AddHeaderAction(kActAddToHeader) {}

 protected:
  std::int32_t Change(nsEmlComponents::CModifiableHeader& header) const override;
};

}  // namespace assl
