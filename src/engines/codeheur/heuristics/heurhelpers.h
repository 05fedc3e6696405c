// Helpers shared by the heuristics of CCodeHeurEngine: handle checks, header lookup and
// storing a result into the caller's feature. Stateless; safe from any thread.
#pragma once

#include <cstdint>

#include "common/astrace.h"
#include "common/ustring.h"
#include "engines/assl/acontextif.h"
#include "engines/emlcomponents/emlheaders.h"
#include "engines/feature/intfeature.h"
#include "engines/feature/ustringfeature.h"

namespace codeheur_detail {

// The entry line every heuristic writes, then the context check of the message heuristics.
#define ZZ_HEUR_ENTER_MAIL(context)                                                  \
  do {                                                                              \
    AS_TRACE(3, "");                                                                \
    if ((context) == nullptr) AS_THROW(0, ASException, "invalid context handle");   \
  } while (0)

// The header of that upper-case name in the context's headers map; null when the context
// has no map or the map no such header. O(1) hash probe.
inline const nsEmlComponents::CHeader* FindHeader(assl::ContextInterface* context,
                                                  const char* upperName) {
  const nsEmlComponents::CHeadersMap* headers = context->GetHeaders();
  if (headers == nullptr) return nullptr;
  nsEmlComponents::CHeader* const* found = headers->Lookup(ascommon::sstring(upperName));
  return found != nullptr ? *found : nullptr;
}

// The header's decoded value, or null when the header is absent.
inline const ascommon::usstring* FindValue(assl::ContextInterface* context,
                                           const char* upperName) {
  const nsEmlComponents::CHeader* header = FindHeader(context, upperName);
  return header != nullptr ? &header->GetValue() : nullptr;
}

// Whether value (may be null) contains text.
inline bool Contains(const ascommon::usstring* value, const char16_t* text) {
  std::size_t at = 0;
  return value != nullptr && !value->is_null() && value->find(text, at);
}

// Stores value into feature when one is given. castMessage when it is not a CIntFeature.
// Counts beyond the 32-bit range are stored as its largest value.
inline void StoreInt(CAFeature* feature, std::int64_t value,
                     const char* castMessage = "CAFeature cast failed") {
  if (feature == nullptr) return;
  auto* number = dynamic_cast<CIntFeature*>(feature);
  if (number == nullptr) AS_THROW(0, ASException, "%s", castMessage);
  if (value > INT32_MAX) value = INT32_MAX;
  if (value < INT32_MIN) value = INT32_MIN;
  number->SetInfo(static_cast<std::int32_t>(value));
}

// Stores text into a string or summary feature when one is given.
inline void StoreString(CAFeature* feature, const ascommon::usstring& text,
                        const char* castMessage) {
  if (feature == nullptr) return;
  auto* string = dynamic_cast<CUStringFeature*>(feature);
  if (string == nullptr) AS_THROW(0, ASException, "%s", castMessage);
  try {
    string->SetString(text);
  } catch (const AException&) {
    AS_THROW(0, ASException, "CAFeature setinfo failed");
  }
}

}  // namespace codeheur_detail
