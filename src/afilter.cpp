#include "afilter.h"

#include "common/astrace.h"

namespace {
const char16_t kAllParentalFiltersEnabled[] = u"/http/global/AllParentalFiltersEnabled";
}

CAFilter::~CAFilter() = default;

void CAFilter::ProcessCommand(std::uint32_t, std::uint32_t, ascommon::CBlackBox*) {
  AS_THROW(0, ASException, "The filter [%S] does not support command processing!",
           m_moduleName.c_str());
}

bool CAFilter::AcceptItem(std::uint32_t sessionId, const AItem* pItem, const char* tag) const {
  if (sessionId >= kMaxSessions) {
    AS_TRACE(1, "invalid session ID (%d)", static_cast<int>(sessionId));
    return false;
  }
  if (m_sessionActive[sessionId] == 0) return false;
  if (pItem == nullptr) {
    AS_THROW(0, ASBadPtrException, "%s invalid item received for processing", tag);
  }
  return true;
}

bool CAFilter::IsEnabledBy(std::uint32_t sessionId, const char16_t* ownKey,
                           std::uint32_t ownDefault) const {
  if (m_settings == nullptr) return false;
  if (m_settings->GetIntValue(sessionId, ownKey, ownDefault) == 1) return true;
  return m_settings->GetIntValue(sessionId, kAllParentalFiltersEnabled, 0) == 1;
}
