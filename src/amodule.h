// CAModule: a module of the host framework: a notifiable object with a kind, a display name
// and the host's settings interface.
//
// The settings object is the host's (not owned) and must outlive the module. The name is
// copied at construction. Thread-safety as CNotifiableObject.
#pragma once

#include <cstdint>

#include "asettings.h"
#include "common/ustring.h"
#include "notifobj.h"

class AS_VISIBLE CAModule : public CNotifiableObject {
 public:
  explicit CAModule(const ascommon::usstring& name);
  ~CAModule() override;

  // Two operations reserved by the host framework; modules give them empty bodies.
  virtual void HostReservedOp1() = 0;
  virtual void HostReservedOp2() = 0;

  const ascommon::usstring& GetModuleName() const { return m_moduleName; }
  std::int32_t GetModuleKind() const { return m_moduleKind; }
  CASettings* GetSettings() const { return m_settings; }
  void SetSettings(CASettings* pSettings) { m_settings = pSettings; }

 protected:
  // The key's value as text ("" when the host answers null or there are no settings).
  ascommon::usstring ReadStringSetting(const char16_t* key) const;

  std::int32_t m_moduleKind = 0;
  ascommon::usstring m_moduleName;
  std::uint8_t m_hostByte = 0;            // host-owned
  std::uint32_t m_hostWord32 = 0;         // host-owned
  CASettings* m_settings = nullptr;       // Not owned.
  void* m_hostPointer = nullptr;          // host-owned
};
