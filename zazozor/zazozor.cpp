// The module's three entry points. The host calls GetClassFactory and ReleaseClassFactory
// once each from one thread, so the factory pointer needs no lock.
#include <cstdint>
#include <new>

#include "common/asexport.h"
#include "common/astrace.h"
#include "httpfclassfactory.h"

namespace {
nsHttpModules::CHTTPFClassFactory* g_factory = nullptr;
}

AS_EXPORT void GetASVersion(std::uint32_t* pMajor, std::uint32_t* pMinor,
                            std::uint32_t* pBuild) {
  if (pMajor != nullptr) *pMajor = 2;
  if (pMinor != nullptr) *pMinor = 8;
  if (pBuild != nullptr) *pBuild = 32;
}

AS_EXPORT CAClassFactory* GetClassFactory() {
  if (g_factory == nullptr) {
    g_factory = new (std::nothrow) nsHttpModules::CHTTPFClassFactory();
  }
  return g_factory;
}

AS_EXPORT std::int32_t ReleaseClassFactory() {
  if (g_factory != nullptr) {
    delete g_factory;
    g_factory = nullptr;
    // The factory started tracing; nothing of this module traces once it is gone, so the
    // tracing library is released with it.
    ascommon::StopTracing();
  }
  return 0;
}
