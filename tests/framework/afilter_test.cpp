// The framework's own defaults: a filter that keeps CAFilter's ProcessCommand refuses
// commands by name, and the factory base destroys what its lists hold. The factory's
// construction under allocation failures runs on the real factory in
// tests/zazozor/module_test.cpp.
#include "afilter.h"

#include <gtest/gtest.h>

#include <string>

#include "class_factory.h"
#include "support/trace_capture.h"

namespace {

int g_liveFilters = 0;

// A minimal filter keeping every framework default it can.
class PlainFilter : public CAFilter {
 public:
  explicit PlainFilter(const ascommon::usstring& name) : CAFilter(name) { ++g_liveFilters; }
  ~PlainFilter() override { --g_liveFilters; }
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

// Names beyond a string's inline buffer, so copying one allocates.
const ascommon::usstring kNames[] = {ascommon::usstring(u"Plain Filter Number One"),
                                     ascommon::usstring(u"Plain Filter Number Two")};

class TestFactory : public CAClassFactory {
 public:
  TestFactory() {
    AddAllocator(new TAllocator<PlainFilter>(kNames[0]));
    AddAllocator(new TAllocator<PlainFilter>(kNames[1]));
  }
};

TEST(CAFilterDefaults, ProcessCommandRefusesWithModuleNameAndNothingIsEnabled) {
  PlainFilter filter(ascommon::usstring(u"Some \u00e9 Filter"));
  zztest::TraceCapture trace;
  try {
    filter.ProcessCommand(0, 34, nullptr);
    FAIL() << "no exception";
  } catch (const ASException& e) {
    EXPECT_STREQ(e.what(),
                 "ASException - MESSAGE: The filter [Some \xc3\xa9 Filter] does not support "
                 "command processing!");
  }
  EXPECT_EQ(trace.Count("[VEVOZOVI EXCEPTION] afilter.cpp:"), 1);
  EXPECT_FALSE(filter.IsEnabled(0)) << "no settings: nothing is enabled";
  EXPECT_EQ(filter.GetSessionActive(999), 0);
}

TEST(ClassFactory, DestroysAllocatorsAndListedModules) {
  const std::int64_t baseline = asfn_live_blocks();
  {
    zztest::TraceCapture trace;
    TestFactory factory;
    ASSERT_EQ(factory.GetAllocatorCount(), 2u);
    CBasicAllocator* two = factory.FindAllocator(u"Plain Filter Number Two");
    ASSERT_NE(two, nullptr);
    CAModule* module = two->CreateModule();
    EXPECT_EQ(std::u16string(module->GetModuleName().c_str()), u"Plain Filter Number Two");
    EXPECT_EQ(trace.Count(" -VI2FW: Creating new module: [Plain Filter Number Two]\n"), 1);
    ASSERT_EQ(factory.GetModuleList().Add(module), 0);
    ASSERT_EQ(factory.GetModuleList().Add(nullptr), 0);  // null entries are skipped
    EXPECT_EQ(g_liveFilters, 1);
  }
  EXPECT_EQ(g_liveFilters, 0);
  EXPECT_EQ(asfn_live_blocks(), baseline);
}

}  // namespace
