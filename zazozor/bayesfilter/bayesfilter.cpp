#include "bayesfilter/bayesfilter.h"

#include "config_keys.h"

namespace nsHttpModules {

CBayesFilter::CBayesFilter(const ascommon::usstring& name) : CAFilter(name) { m_moduleKind = 1; }

CBayesFilter::~CBayesFilter() = default;

// The Bayes filter's session block is made with the throwing allocation.
void* CBayesFilter::CreateSessionData() { return ascommon::as_alloc(1); }

void CBayesFilter::DestroySessionData(void* pData) { ascommon::as_free(pData); }

bool CBayesFilter::IsEnabled(std::uint32_t sessionId) {
  return IsEnabledBy(sessionId, kKeyBayesEnabled, 1);
}

void* CBayesFilter::CreateSharedData() { return new (std::nothrow) BayesSharedData(); }

void CBayesFilter::DestroySharedData(void* pData) { delete static_cast<BayesSharedData*>(pData); }

void CBayesFilter::ReloadSharedData() {
  ascommon::auto_locker lock(&m_locker, ascommon::auto_locker::kExclusive, true);
  if (m_sharedData == nullptr) {
    AS_THROW(0, ASBadPtrException, "[Parental Bayes] Invalid shared data retreived");
  }
}

void CBayesFilter::Process(std::uint32_t, AItem* pItem, std::uint32_t) {
  if (pItem == nullptr) AS_THROW(0, ASBadPtrException, "[Parental Bayes] Invalid item to process");
  ascommon::auto_locker lock(&m_locker, ascommon::auto_locker::kReadOnly, true);
  RequireSharedData<BayesSharedData>("[Parental Bayes] Invalid session data struct");
}

void CBayesFilter::ProcessCommand(std::uint32_t, std::uint32_t, ascommon::CBlackBox*) {
  ascommon::auto_locker lock(&m_locker, ascommon::auto_locker::kExclusive, true);
  RequireSharedData<BayesSharedData>("[Parental Bayes] Invalid session data struct");
}

}  // namespace nsHttpModules
