// CNotifiableObject: the root of every filter, as the host sees it.
//
// Holds the per-session tables (1000 sessions), the shared data pointer and the resource
// locker that guards that data. The host writes the tables and the shared data pointer
// (through the setters below) and must not change a session's entries while that session
// has a Process call running; filters only read them. The object owns neither the session
// blocks nor the shared block: the host hands them back to DestroySessionData and
// DestroySharedData.
#pragma once

#include <cstdint>

#include "common/asexport.h"
#include "common/asmemory.h"
#include "common/shared_locker.h"

class AS_VISIBLE CNotifiableObject : public ascommon::CASAllocated {
 public:
  static constexpr std::uint32_t kMaxSessions = 1000;

  CNotifiableObject();
  virtual ~CNotifiableObject();
  CNotifiableObject(const CNotifiableObject&) = delete;
  CNotifiableObject& operator=(const CNotifiableObject&) = delete;

  virtual void ReloadSessionSettings(std::uint32_t sessionId) = 0;
  virtual void* CreateSessionData() = 0;
  virtual void DestroySessionData(void* pData) = 0;
  virtual bool IsEnabled(std::uint32_t sessionId) = 0;
  virtual void* CreateSharedData() = 0;
  virtual void DestroySharedData(void* pData) = 0;
  virtual void ReloadSharedData() = 0;

  // Host side: session and shared data tables. Out-of-range session IDs are ignored.
  void SetSessionData(std::uint32_t sessionId, void* pData) {
    if (sessionId < kMaxSessions) m_sessionData[sessionId] = pData;
  }
  void SetSessionActive(std::uint32_t sessionId, std::uint8_t active) {
    if (sessionId < kMaxSessions) m_sessionActive[sessionId] = active;
  }
  void SetSharedData(void* pData) { m_sharedData = pData; }

  // Filter side. The active byte of a session (0 and an "invalid session ID" trace line for
  // an ID of 1000 or above).
  std::uint8_t GetSessionActive(std::uint32_t sessionId) const;
  // The session's block, or null (with a trace line) for a bad ID or an unopened session.
  void* GetSessionData(std::uint32_t sessionId) const;
  void* GetSharedData() const { return m_sharedData; }
  ascommon::shared_locker* GetLocker() { return &m_locker; }

 protected:
  void* m_sessionData[kMaxSessions];           // Not owned.
  std::uint8_t m_sessionActive[kMaxSessions];
  std::uint64_t m_hostWord = 0;                // host-owned
  void* m_sharedData = nullptr;                // Not owned.
  ascommon::shared_locker m_locker;
};
