#include "engines/assl/rules/addheaderaction.h"

#include <new>

#include "common/astrace.h"
#include "engines/assl/acontextif.h"
#include "engines/emlcomponents/emlheaders.h"

namespace assl {

std::int32_t AddHeaderAction::Set(std::uint32_t nameKind, const char* name, const char* value) {
  m_nameKind = nameKind;
  std::int32_t status = m_name.assign(name);
  if (status == 0) status = m_key.assign(name);
  if (status == 0) status = m_value.assign(value);
  if (status == 0) status = m_wideValue.fill(m_value.length(), u' ');
  if (status != 0) return status;
  for (std::size_t i = 0; i < m_key.length(); ++i) {
    const char c = m_key.c_str()[i];
    if (c >= 'a' && c <= 'z') m_key.data()[i] = static_cast<char>(c - 'a' + 'A');
  }
  // The value is 7-bit ASCII, so each byte is its own UTF-16 unit.
  for (std::size_t i = 0; i < m_value.length(); ++i) {
    m_wideValue.data()[i] = static_cast<char16_t>(m_value.c_str()[i]);
  }
  return 0;
}

std::int32_t AddHeaderAction::Change(nsEmlComponents::CModifiableHeader& header) const {
  return header.SetValue(m_wideValue);
}

void AddHeaderAction::Execute(CEnginesHandle* engines, ContextInterface* context) const {
  (void)engines;
  CheckContext(context);
  if (m_nameKind != kKeyHeaderText && m_nameKind != kKeyHeaderNameName) {
    AS_THROW(0, ASException, "invalid header name type");
  }
  nsEmlComponents::CHeadersMap* headers = context->GetHeaders();
  if (headers == nullptr) AS_THROW(0, ASException, "invalid handle to headers map");

  if (nsEmlComponents::CHeader** found = headers->Lookup(m_key)) {
    auto* plain = (*found)->GetKind() == nsEmlComponents::kHeaderOther
                      ? dynamic_cast<nsEmlComponents::CHeaderOther*>(*found)
                      : nullptr;
    if (plain == nullptr) AS_THROW(0, ASException, "invalid header type");
    if (Change(*plain) != 0) AS_THROW(0, ASMemException, "memory problems");
  } else {
    auto* header = new (std::nothrow) nsEmlComponents::CHeaderOther();
    if (header == nullptr) AS_THROW(0, ASMemException, "could not allocate memory for header");
    if (header->SetName(m_name.c_str()) != 0 || header->SetValue(m_wideValue) != 0 ||
        header->SetRaw(m_value.c_str()) != 0) {
      delete header;
      AS_THROW(0, ASException, "invalid header received");
    }
    if (headers->SetAt(m_key, header) != 0) {
      delete header;
      AS_THROW(0, ASException, "problems adding header in headers map");
    }
  }
  context->SetDirty();
}

}  // namespace assl
