// CParentalSignFilter: runs the parental signature rules against every page; the first rule
// that hits sets the page's category and score.
//
// Shared data: the engines handle (null until the rules are loaded), guarded by the filter's
// locker: a reload replaces the engine under the exclusive lock; Process reads it under the
// read-only lock, each call on its own context, so pages run on many threads at once.
#pragma once

#include "afilter.h"
#include "common/blackbox.h"

namespace assl {
class CEnginesHandle;
struct CStructsInterface;
}

namespace nsHttpModules {

struct SignSharedData : ascommon::CASAllocated {
  assl::CEnginesHandle* engines = nullptr;  // Owned; null until the first reload.
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

 private:
  // Executes the signatures in order until one hits; writes its results into bb.
  void RunSignatures(const assl::CStructsInterface& run, ascommon::CBlackBox& bb);
};

}  // namespace nsHttpModules
