#include "parentalbwlistfilter/parentalbwlistfilter.h"

#include "config_keys.h"
#include "datapath.h"

namespace nsHttpModules {

namespace {
const char kTag[] = "[Parental BW List]";
}

CParentalBWListFilter::CParentalBWListFilter(const ascommon::usstring& name) : CAFilter(name) {
  m_moduleKind = 1;
  AS_TRACE(0, "Constructing Parental BWList Filter with name %S", m_moduleName.c_str());
}

CParentalBWListFilter::~CParentalBWListFilter() {
  AS_TRACE(0, "The Parental BW List Filter with name %S is about to be destructed",
           m_moduleName.c_str());
}

void* CParentalBWListFilter::CreateSessionData() { return ascommon::as_alloc_nt(1); }

void CParentalBWListFilter::DestroySessionData(void* pData) { ascommon::as_free(pData); }

bool CParentalBWListFilter::IsEnabled(std::uint32_t sessionId) {
  return IsEnabledBy(sessionId, kKeyParentalBWListEnabled, 1);
}

void* CParentalBWListFilter::CreateSharedData() {
  return new (std::nothrow) BWListSharedData();
}

void CParentalBWListFilter::DestroySharedData(void* pData) {
  delete static_cast<BWListSharedData*>(pData);
}

void CParentalBWListFilter::ReloadSharedData() {
  ascommon::auto_locker lock(&m_locker, ascommon::auto_locker::kExclusive, true);
  auto* shared = static_cast<BWListSharedData*>(m_sharedData);
  if (shared == nullptr) {
    AS_THROW(0, ASBadPtrException, "%s invalid pointer to shared data struct", kTag);
  }
  const ascommon::usstring dataPath = ReadStringSetting(kKeySharedDataPath);
  shared->temp_path = ReadStringSetting(kKeyGlobalTempPath);
  JoinDataPath(dataPath, kFileBlackList, Separator::kUnlessPresent, shared->black_path);
  JoinDataPath(dataPath, kFileWhiteList, Separator::kUnlessPresent, shared->white_path);
}

void CParentalBWListFilter::Process(std::uint32_t sessionId, AItem* pItem,
                                    std::uint32_t command) {
  if (!AcceptItem(sessionId, pItem, kTag)) return;
  ascommon::auto_locker lock(&m_locker, ascommon::auto_locker::kReadOnly, true);
  RequireSharedData<BWListSharedData>("[Parental BW List] invalid shared data struct");
  if (command != 0) {
    AS_TRACE(0, "%s this command is not supported", kTag);
    return;
  }
}

}  // namespace nsHttpModules
