#include "parentalbwlistadvancedfilter/parentalbwlistadvancedfilter.h"

#include <cstring>

#include "config_keys.h"

namespace nsHttpModules {

namespace {
const char kTag[] = "[Parental BW List Advanced]";
}

CParentalBWListAdvancedFilter::CParentalBWListAdvancedFilter(const ascommon::usstring& name)
    : CAFilter(name) {
  m_moduleKind = 1;
  AS_TRACE(0, "Constructing Parental BWList Advanced Filter with name %S", m_moduleName.c_str());
}

CParentalBWListAdvancedFilter::~CParentalBWListAdvancedFilter() {
  AS_TRACE(0, "The Parental BW List Advanced Filter with name %S is about to be destructed",
           m_moduleName.c_str());
}

void* CParentalBWListAdvancedFilter::CreateSessionData() {
  void* block = ascommon::as_alloc_nt(kSessionBlockSize);
  if (block != nullptr) std::memset(block, 0, kSessionBlockSize);
  return block;
}

void CParentalBWListAdvancedFilter::DestroySessionData(void* pData) { ascommon::as_free(pData); }

bool CParentalBWListAdvancedFilter::IsEnabled(std::uint32_t sessionId) {
  return IsEnabledBy(sessionId, kKeyParentalBWListAdvancedEnabled, 0);
}

void CParentalBWListAdvancedFilter::ReloadSessionSettings(std::uint32_t sessionId) {
  ascommon::auto_locker lock(&m_locker, ascommon::auto_locker::kExclusive, true);
  auto* switches = static_cast<std::uint8_t*>(GetSessionData(sessionId));
  if (switches == nullptr) AS_THROW(0, ASBadPtrException, "%s invalid data struct", kTag);
  switches[kWhiteListIndex] = 1;
  // Keys are built in a fixed buffer: prefix plus the longest ending fits easily.
  char16_t key[96];
  const std::size_t prefixLength = std::char_traits<char16_t>::length(kKeyCategoryPrefix);
  std::char_traits<char16_t>::copy(key, kKeyCategoryPrefix, prefixLength);
  for (int i = 0; i < kCategoryCount; ++i) {
    const char16_t* ending = kCategoryLists[i].enableKeyEnding;
    const std::size_t endingLength = std::char_traits<char16_t>::length(ending);
    std::char_traits<char16_t>::copy(key + prefixLength, ending, endingLength + 1);
    switches[i] = m_settings != nullptr && m_settings->GetIntValue(sessionId, key, 1) == 1;
  }
}

void* CParentalBWListAdvancedFilter::CreateSharedData() {
  return new (std::nothrow) BWListAdvancedSharedData();
}

void CParentalBWListAdvancedFilter::DestroySharedData(void* pData) {
  delete static_cast<BWListAdvancedSharedData*>(pData);
}

void CParentalBWListAdvancedFilter::ReloadSharedData() {
  ascommon::auto_locker lock(&m_locker, ascommon::auto_locker::kExclusive, true);
  if (m_sharedData == nullptr) {
    AS_THROW(0, ASBadPtrException, "%s invalid pointer to shared data struct", kTag);
  }
}

void CParentalBWListAdvancedFilter::Process(std::uint32_t sessionId, AItem* pItem,
                                            std::uint32_t command) {
  if (!AcceptItem(sessionId, pItem, kTag)) return;
  ascommon::auto_locker lock(&m_locker, ascommon::auto_locker::kReadOnly, true);
  RequireSharedData<BWListAdvancedSharedData>("[Parental BW List Advanced] invalid shared data struct");
  if (GetSessionData(sessionId) == nullptr) {
    AS_THROW(0, ASBadPtrException, "%s invalid data struct", kTag);
  }
  if (command != 0) {
    AS_TRACE(0, "%s this command is not supported", kTag);
    return;
  }
}

}  // namespace nsHttpModules
