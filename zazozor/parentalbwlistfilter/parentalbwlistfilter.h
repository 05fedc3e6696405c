// CParentalBWListFilter: marks a page white or black by looking its domain and address up
// in the parental white and black URL lists.
//
// All state lives in the shared data block (BWListSharedData), guarded by the filter's
// locker: Process reads it under the read-only lock from many threads, ReloadSharedData
// adds the files' keys to it under the exclusive lock.
#pragma once

#include "afilter.h"
#include "engines/urldb/urldb.h"

namespace nsHttpModules {

struct BWListSharedData : ascommon::CASAllocated {
  BWListSharedData() noexcept = default;
  ~BWListSharedData();
  BWListSharedData(const BWListSharedData&) = delete;
  BWListSharedData& operator=(const BWListSharedData&) = delete;

  ascommon::CURLDB* black = nullptr;  // Owned.
  ascommon::CURLDB* white = nullptr;  // Owned.
  ascommon::usstring black_path;
  ascommon::usstring white_path;
  ascommon::usstring temp_path;
};

class CParentalBWListFilter : public CAFilter {
 public:
  explicit CParentalBWListFilter(const ascommon::usstring& name);
  ~CParentalBWListFilter() override;

  void ReloadSessionSettings(std::uint32_t) override {}
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

 private:
  // Adds one file's keys to a list; on failure ASException carries the load status.
  static void LoadList(ascommon::CURLDB& list, const ascommon::usstring& path,
                       const ascommon::usstring& tempPath, const char* name,
                       const char* message);
};

}  // namespace nsHttpModules
