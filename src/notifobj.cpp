#include "notifobj.h"

#include <cstring>

#include "common/astrace.h"

CNotifiableObject::CNotifiableObject() {
  std::memset(m_sessionData, 0, sizeof(m_sessionData));
  std::memset(m_sessionActive, 0, sizeof(m_sessionActive));
}

CNotifiableObject::~CNotifiableObject() = default;

std::uint8_t CNotifiableObject::GetSessionActive(std::uint32_t sessionId) const {
  if (sessionId < kMaxSessions) return m_sessionActive[sessionId];
  AS_TRACE(1, "invalid session ID (%d)", static_cast<int>(sessionId));
  return 0;
}

void* CNotifiableObject::GetSessionData(std::uint32_t sessionId) const {
  if (sessionId < kMaxSessions && m_sessionData[sessionId] != nullptr) {
    return m_sessionData[sessionId];
  }
  AS_TRACE(1, "invalid session or session not initialized for ID (%d)",
           static_cast<int>(sessionId));
  return nullptr;
}
