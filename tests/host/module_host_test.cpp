// CModuleHost in process: build-up and teardown with an allocation failure at every step
// along the way; each run must leave no block of the host allocator behind.
#include "module_host.h"

#include <gtest/gtest.h>

#include "support/bin_dir.h"
#include "support/scratch_dir.h"

#include <cstdlib>
#include <filesystem>

#include "asfn/asfn.h"
#include "errors.h"
#include "settings.h"

namespace zzhost {
namespace {

namespace fs = std::filesystem;

TEST(ModuleHostTest, AllocationFailureAnywhereTearsDownWhatWasBuilt) {
  const fs::path binDir = zztest::BinDir();
  const std::string modulePath = (binDir / "zazozor.mdl").string();
  ASSERT_TRUE(fs::exists(modulePath)) << "build the 'zazozor_module' target";
  const zztest::ScratchDir scratch;
  const std::string traceDir = scratch.Path().string();
  setenv("ZAZOZOR_TRACE_DIR", traceDir.c_str(), 1);  // keep the module's trace log out of bin/
  CHostSettings settings;
  settings.LoadDefaults(binDir.string(), traceDir);

  // One full run: every filter, two sessions; then count its allocations.
  const std::int64_t before = asfn_live_blocks();
  std::uint64_t allocations = asfn_allocation_count();
  const auto buildUp = [&](CModuleHost& host) {
    host.AddAllFilters(settings);
    host.OpenSession(0);
    host.OpenSession(999);
  };
  {
    CModuleHost host(modulePath);
    buildUp(host);
    std::size_t active = 0;
    host.ForEachActiveFilter(999, [&](HostedFilter& hosted) {
      EXPECT_EQ(hosted.filter->GetSharedData(), hosted.sharedData);
      ++active;
    });
    EXPECT_EQ(active, 4u);
    host.CloseSession(999);
    host.ForEachActiveFilter(999, [](HostedFilter& hosted) { ADD_FAILURE() << hosted.name; });
    EXPECT_THROW(host.AddFilter(u"Http Breaker", settings), HostError);
  }
  allocations = asfn_allocation_count() - allocations;
  ASSERT_EQ(asfn_live_blocks(), before);

  for (std::uint64_t n = 1; n <= allocations; ++n) {
    {
      CModuleHost host(modulePath);
      asfn_fail_at(n, ASFN_FAIL_ONCE);
      try {
        buildUp(host);  // the module absorbs some failures; then this succeeds
      } catch (const HostError&) {
        // Out of memory, or the module's own exception (a failed conversion).
      }
      asfn_fail_at(0, ASFN_FAIL_OFF);
    }
    ASSERT_EQ(asfn_live_blocks(), before) << "failure at allocation " << n;
  }
}

}  // namespace
}  // namespace zzhost
