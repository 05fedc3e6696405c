// The changeable plain header: value replaced or extended in place.
#include "engines/emlcomponents/emlheaders.h"

namespace nsEmlComponents {

std::int32_t CHeaderOther::SetValue(const ascommon::usstring& value) {
  return m_value.assign(value);
}

std::int32_t CHeaderOther::AppendValue(const ascommon::usstring& value) {
  return m_value.append(value);
}

}  // namespace nsEmlComponents
