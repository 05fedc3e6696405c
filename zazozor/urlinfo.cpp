// UrlInfoOf: see urlinfo.h. Tested by tests/zazozor/filters_test.cpp.
#include "urlinfo.h"

#include <atomic>
#include <typeinfo>

namespace nsHttpModules {

namespace {

// The type information of CParsedURL objects as this module receives them (the host's
// copy), once one has converted; null before.
std::atomic<const std::type_info*> g_convertedType{nullptr};

}  // namespace

const ascommon::CParsedURL* UrlInfoOf(const ascommon::CBlackBoxObject* object) noexcept {
  if (object == nullptr) return nullptr;
  const std::type_info* type = &typeid(*object);
  if (type == g_convertedType.load(std::memory_order_relaxed)) {
    // The object is a CParsedURL, which holds one CBlackBoxObject: the static conversion
    // lands where dynamic_cast would.
    return static_cast<const ascommon::CParsedURL*>(object);
  }
  const auto* url = dynamic_cast<const ascommon::CParsedURL*>(object);
  // Only the record type itself is remembered: an object of a type derived from it may hold
  // more than one CBlackBoxObject, and from the other one only dynamic_cast finds the record.
  if (url != nullptr && *type == typeid(ascommon::CParsedURL)) {
    g_convertedType.store(type, std::memory_order_relaxed);
  }
  return url;
}

}  // namespace nsHttpModules
