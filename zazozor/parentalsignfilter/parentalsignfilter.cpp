#include "parentalsignfilter/parentalsignfilter.h"

#include "config_keys.h"

namespace nsHttpModules {

namespace {
const char kTag[] = "[Parental Sign]";
}

CParentalSignFilter::CParentalSignFilter(const ascommon::usstring& name) : CAFilter(name) {
  m_moduleKind = 1;
  AS_TRACE(0, "Constructing Parental Signatures Filter with name %S", m_moduleName.c_str());
}

CParentalSignFilter::~CParentalSignFilter() {
  AS_TRACE(0, "The Parental Signatures Filter with name %S is about to be destructed",
           m_moduleName.c_str());
}

void* CParentalSignFilter::CreateSessionData() { return ascommon::as_alloc_nt(1); }

void CParentalSignFilter::DestroySessionData(void* pData) { ascommon::as_free(pData); }

// The signatures filter shares its switch with the BW list filter.
bool CParentalSignFilter::IsEnabled(std::uint32_t sessionId) {
  return IsEnabledBy(sessionId, kKeyParentalBWListEnabled, 1);
}

void* CParentalSignFilter::CreateSharedData() { return new (std::nothrow) SignSharedData(); }

void CParentalSignFilter::DestroySharedData(void* pData) {
  delete static_cast<SignSharedData*>(pData);
}

void CParentalSignFilter::ReloadSharedData() {
  ascommon::auto_locker lock(&m_locker, ascommon::auto_locker::kExclusive, true);
  if (m_sharedData == nullptr) {
    AS_THROW(0, ASBadPtrException, "%s invalid shared data struct", kTag);
  }
}

void CParentalSignFilter::Process(std::uint32_t sessionId, AItem* pItem, std::uint32_t command) {
  if (!AcceptItem(sessionId, pItem, kTag)) return;
  ascommon::auto_locker lock(&m_locker, ascommon::auto_locker::kReadOnly, true);
  RequireSharedData<SignSharedData>("[Parental Sign] invalid shared data struct");
  if (command != 0) {
    AS_TRACE(0, "%s this command is not supported", kTag);
    return;
  }
}

}  // namespace nsHttpModules
