// CParentalSignFilter: runs the parental signature rules against every page; the first rule
// that hits sets the page's category and score.
//
// Shared data: the engines handle (null until the rules are loaded), guarded by the filter's
// locker; Process reads it under the read-only lock.
#pragma once

#include "afilter.h"

class CEnginesHandle;

namespace nsHttpModules {

struct SignSharedData : ascommon::CASAllocated {
  CEnginesHandle* engines = nullptr;  // Owned.
};

class CParentalSignFilter : public CAFilter {
 public:
  explicit CParentalSignFilter(const ascommon::usstring& name);
  ~CParentalSignFilter() override;

  void ReloadSessionSettings(std::uint32_t) override {}
  void* CreateSessionData() override;
  void DestroySessionData(void* pData) override;
  bool IsEnabled(std::uint32_t sessionId) override;
  void* CreateSharedData() override;
  void DestroySharedData(void* pData) override;
  void ReloadSharedData() override;
  void HostReservedOp1() override {}
  void HostReservedOp2() override {}
  std::uint8_t GetFilterCode() override { return 100; }
  void Process(std::uint32_t sessionId, AItem* pItem, std::uint32_t command) override;
  void ProcessCommand(std::uint32_t, std::uint32_t, ascommon::CBlackBox*) override {}
};

}  // namespace nsHttpModules
