// CParentalBWListAdvancedFilter: sorts a page into seventeen content categories and a white
// list by its address, host and domain, with per-session category switches.
//
// Shared data: an array of 18 list pointers (null = not loaded), guarded by the filter's
// locker. Session data: the 18-byte switch block of categories.h, written by
// ReloadSessionSettings under the exclusive lock and read by Process under the read-only
// lock.
#pragma once

#include "afilter.h"
#include "parentalbwlistadvancedfilter/categories.h"

class CURLCategoryDB;

namespace nsHttpModules {

struct BWListAdvancedSharedData : ascommon::CASAllocated {
  CURLCategoryDB* lists[kListCount] = {};  // Owned.
};

class CParentalBWListAdvancedFilter : public CAFilter {
 public:
  explicit CParentalBWListAdvancedFilter(const ascommon::usstring& name);
  ~CParentalBWListAdvancedFilter() override;

  void ReloadSessionSettings(std::uint32_t sessionId) override;
  void* CreateSessionData() override;
  void DestroySessionData(void* pData) override;
  bool IsEnabled(std::uint32_t sessionId) override;
  void* CreateSharedData() override;
  void DestroySharedData(void* pData) override;
  void ReloadSharedData() override;
  void HostReservedOp1() override {}
  void HostReservedOp2() override {}
  std::uint8_t GetFilterCode() override { return 102; }
  void Process(std::uint32_t sessionId, AItem* pItem, std::uint32_t command) override;
  void ProcessCommand(std::uint32_t, std::uint32_t, ascommon::CBlackBox*) override {}
};

}  // namespace nsHttpModules
