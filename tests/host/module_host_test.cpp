// CModuleHost in process: build-up (every filter, two sessions) and teardown, first whole,
// then with an allocation failure at every step along the way; each run must leave no block
// of the host allocator behind.
#include "module_host.h"

#include <gtest/gtest.h>

#include "asfn/asfn.h"
#include "errors.h"
#include "sample_filters.h"
#include "settings.h"

namespace zzhost {
namespace {

TEST(ModuleHostTest, AllocationFailureAnywhereTearsDownWhatWasBuilt) {
  const zztest::ScratchDir scratch;
  CHostSettings settings;
  settings.LoadDefaults(zztest::BinDir().string(), scratch.Path().string());
  const std::int64_t live = asfn_live_blocks();
  bool reached = true;
  for (std::uint64_t n = 0; reached; ++n) {
    {
      CModuleHost host((zztest::BinDir() / "zazozor.mdl").string());
      reached = zztest::RunFailingAt(n, [&] {
        try {
          host.AddAllFilters(settings);
          host.OpenSession(0);
          host.OpenSession(999);
        } catch (const HostError&) {
          // Out of memory, or the module's own exception (a failed conversion).
        }
      });
      if (n == 0) {  // the whole run
        std::size_t active = 0;
        host.ForEachActiveFilter(999, [&](HostedFilter&) { ++active; });
        EXPECT_EQ(active, 4u);
        host.CloseSession(999);
        host.ForEachActiveFilter(999, [](HostedFilter& hosted) { ADD_FAILURE() << hosted.name; });
        EXPECT_THROW(host.AddFilter(u"Http Breaker", settings), HostError);
      }
    }
    ASSERT_EQ(asfn_live_blocks(), live) << "failure at allocation " << n;
  }
}

}  // namespace
}  // namespace zzhost
