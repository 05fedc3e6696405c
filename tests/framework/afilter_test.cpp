// The framework's own default: a filter that keeps CAFilter's ProcessCommand refuses commands
// by its module name, traced. The class factory runs on the real module in
// tests/zazozor/module_test.cpp.
#include "afilter.h"

#include <gtest/gtest.h>

#include "support/trace_capture.h"
#include "support/what_of.h"

namespace {

// A minimal filter keeping every framework default it can.
class PlainFilter : public CAFilter {
 public:
  explicit PlainFilter(const ascommon::usstring& name) : CAFilter(name) {}
  void ReloadSessionSettings(std::uint32_t) override {}
  void* CreateSessionData() override { return nullptr; }
  void DestroySessionData(void*) override {}
  bool IsEnabled(std::uint32_t id) override { return IsEnabledBy(id, u"/x/Enabled", 1); }
  void* CreateSharedData() override { return nullptr; }
  void DestroySharedData(void*) override {}
  void ReloadSharedData() override {}
  void HostReservedOp1() override {}
  void HostReservedOp2() override {}
  std::uint8_t GetFilterCode() override { return 7; }
  void Process(std::uint32_t, AItem*, std::uint32_t) override {}
};

TEST(CAFilterDefaults, ProcessCommandRefusesWithModuleNameAndNothingIsEnabled) {
  PlainFilter filter(ascommon::usstring(u"Some \u00e9 Filter"));
  zztest::TraceCapture trace;
  EXPECT_EQ(zztest::WhatOf([&] { filter.ProcessCommand(0, 34, nullptr); }),
            "ASException - MESSAGE: The filter [Some \xc3\xa9 Filter] does not support command "
            "processing!");
  EXPECT_EQ(trace.Count("[VEVOZOVI EXCEPTION] afilter.cpp:"), 1);
  EXPECT_FALSE(filter.IsEnabled(0)) << "no settings: nothing is enabled";
}

}  // namespace
