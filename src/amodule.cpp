#include "amodule.h"

CAModule::CAModule(const ascommon::usstring& name) : m_moduleName(name) {}

CAModule::~CAModule() = default;

ascommon::usstring CAModule::ReadStringSetting(const char16_t* key) const {
  ascommon::usstring value;
  const char16_t* text = m_settings != nullptr ? m_settings->GetStringValue(key) : nullptr;
  value.assign(text != nullptr ? text : u"");
  return value;
}
