// CBayesFilter: classifies page text into the categories of a trained word dictionary, and
// trains and maintains that dictionary on command.
//
// Shared data (BayesSharedData) is guarded by the filter's locker: Process holds it
// read-only, ReloadSharedData and ProcessCommand exclusively. Unlike the list filters it
// processes every item it is given, whatever the session tables say.
#pragma once

#include <cstdint>

#include "afilter.h"

namespace nsEngineBayesClassifier {
class CBFilter;
}

namespace nsHttpModules {

struct BayesSharedData : ascommon::CASAllocated {
  nsEngineBayesClassifier::CBFilter* classifier = nullptr;  // Owned.
  ascommon::usstring dictionary_path;
  std::uint8_t dictionary_loaded = 0;
  std::int64_t last_size = -1;
};

class CBayesFilter : public CAFilter {
 public:
  explicit CBayesFilter(const ascommon::usstring& name);
  ~CBayesFilter() override;

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
  void ProcessCommand(std::uint32_t sessionId, std::uint32_t command,
                      ascommon::CBlackBox* pParams) override;
};

}  // namespace nsHttpModules
