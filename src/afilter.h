// CAFilter: a filter module, the unit the host hands every page to.
//
// Adds the filter operations to CAModule and the common start of Process that every filter
// shares: session checks, item check, read-only lock, shared data check. Process runs on
// many host threads at once; the helpers here only read the object.
#pragma once

#include <cstdint>

#include "aitem.h"
#include "amodule.h"
#include "common/astrace.h"

class AS_VISIBLE CAFilter : public CAModule {
 public:
  using CAModule::CAModule;
  ~CAFilter() override;

  virtual std::uint8_t GetFilterCode() = 0;
  virtual void Process(std::uint32_t sessionId, AItem* pItem, std::uint32_t command) = 0;
  // Default: raises ASException "The filter [<name>] does not support command processing!".
  virtual void ProcessCommand(std::uint32_t sessionId, std::uint32_t command,
                              ascommon::CBlackBox* pParams);

 protected:
  // Steps of the common start of Process for the list and signature filters: false (after
  // the trace line for a bad ID) when the session ID is 1000 or above or the session is not
  // active; raises ASBadPtrException "<tag> invalid item received for processing" for a
  // null item on an active session.
  bool AcceptItem(std::uint32_t sessionId, const AItem* pItem, const char* tag) const;

  // The shared data block, or ASBadPtrException "<message>" when there is none. Call with
  // the locker held.
  template <class T>
  T* RequireSharedData(const char* message) const {
    if (m_sharedData == nullptr) AS_THROW(0, ASBadPtrException, "%s", message);
    return static_cast<T*>(m_sharedData);
  }

  // The enable rule: the filter's own key (with its default), else the key shared by all
  // parental filters; a flag is on exactly when its value is 1.
  bool IsEnabledBy(std::uint32_t sessionId, const char16_t* ownKey,
                   std::uint32_t ownDefault) const;
};
