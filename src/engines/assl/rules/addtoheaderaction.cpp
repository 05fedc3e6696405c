#include "engines/assl/rules/addtoheaderaction.h"

#include "engines/emlcomponents/emlheaders.h"

namespace assl {

std::int32_t AddToHeaderAction::Change(nsEmlComponents::CModifiableHeader& header) const {
  return header.AppendValue(WideValue());
}

}  // namespace assl
