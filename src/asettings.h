// CASettings: the host's configuration interface, implemented by the host.
//
// The module calls only GetIntValue and GetStringValue; the first slots belong to the host.
// Keys and string values are zero-terminated UTF-16 texts in a path form
// ("/http/global/SharedDataPath"). A string returned by GetStringValue is owned by the host
// and stays valid while the settings object lives; callers copy it at once. An
// implementation must answer concurrent calls from many threads.
#pragma once

#include <cstdint>

#include "common/asexport.h"

class AS_VISIBLE CASettings {
 public:
  virtual ~CASettings() = default;
  // Host-side operations this module does not use.
  virtual void HostReserved1() {}
  virtual void HostReserved2() {}
  virtual void HostReserved3() {}
  virtual void HostReserved4() {}
  virtual void HostReserved5() {}
  // The key's value for the session as an unsigned number, or dwDefault when absent.
  virtual std::uint32_t GetIntValue(std::uint32_t sessionId, const char16_t* key,
                                    std::uint32_t dwDefault) = 0;
  // The key's text, or null when absent.
  virtual const char16_t* GetStringValue(const char16_t* key) = 0;
};
