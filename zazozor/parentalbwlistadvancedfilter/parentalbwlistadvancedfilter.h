// CParentalBWListAdvancedFilter: sorts a page into seventeen content categories and a white
// list by its address, host and domain, with per-session category switches.
//
// Shared data: an array of 18 category databases in the order of categories.h (null = not
// loaded), guarded by the filter's locker: ReloadSharedData fills the missing entries under
// the exclusive lock, Process reads them under the read-only lock from many threads.
// Session data: the 18-byte switch block of categories.h, written by ReloadSessionSettings
// under the exclusive lock and read by Process under the read-only lock.
//
// Cost of Process: at most three digests per item (one per distinct piece text, whatever
// the number of lists) and one index probe per piece saying which lists hold it
// (engines/urldb2/categoryindex.h); no allocation of its own (the blackboxes allocate
// their entries).
#pragma once

#include "afilter.h"
#include "engines/urldb2/categoryindex.h"
#include "engines/urldb2/categorykeyfilter.h"
#include "engines/urldb2/urlcategorydb.h"
#include "parentalbwlistadvancedfilter/categories.h"

namespace nsHttpModules {

struct BWListAdvancedSharedData : ascommon::CASAllocated {
  BWListAdvancedSharedData() noexcept = default;
  ~BWListAdvancedSharedData();
  BWListAdvancedSharedData(const BWListAdvancedSharedData&) = delete;
  BWListAdvancedSharedData& operator=(const BWListAdvancedSharedData&) = delete;

  ascommon::CURLCategoryDB* lists[kListCount] = {};  // Owned; null = not loaded.
  std::uint32_t loaded = 0;  // bit i: lists[i] is loaded (a loaded list never changes)
  // Which lists hold a key, built over the lists loaded at the last load that added one
  // (bit i of indexed: list i is covered); a list it does not cover is looked up itself.
  // Null when it could not be built.
  ascommon::CCategoryIndex* index = nullptr;  // Owned.
  std::uint32_t indexed = 0;
  // The white list's keys, built when it loads: most pages are told off the white list
  // without its sets. Null when it could not be built (the sets then answer every page).
  ascommon::CCategoryKeyFilter* whiteFilter = nullptr;  // Owned.
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
