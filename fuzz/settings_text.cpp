// Fuzz target: the host's settings-file reader (CHostSettings::LoadText). Any text either
// loads or throws HostError with a "NAME:LINE: ..." message; a text that loads answers
// lookups for every session, and its path values come back absolute (they start
// with '/' or a backslash).
#include <cstdint>
#include <string>
#include <string_view>

#include "errors.h"
#include "fuzz_util.h"
#include "settings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kFuzzMaxInput) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  zzhost::CHostSettings settings;
  try {
    settings.LoadText(text, "fuzz.conf", "/base");
  } catch (const zzhost::HostError& error) {
    const std::string message = error.what();
    FUZZ_CHECK(message.rfind("fuzz.conf:", 0) == 0);
    return 0;
  }
  for (std::uint32_t session : {0u, 1u, 3u, 999u}) {
    (void)settings.GetIntValue(session, u"/http/global/AllParentalFiltersEnabled", 7);
    (void)settings.GetIntValue(session, u"/http/filter/parentalbwlist/Enabled", 7);
  }
  const char16_t* path = settings.GetStringValue(u"/http/global/SharedDataPath");
  if (path != nullptr && path[0] != 0) FUZZ_CHECK(path[0] == u'/' || path[0] == u'\\');
  return 0;
}
