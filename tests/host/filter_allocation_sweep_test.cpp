// Each filter of the module reloads its shared data and processes the sample traffic while
// the 1st, 2nd, ... allocation of the host allocator fails in turn, until a run needs no
// more allocations than were let through. Every run must end normally or with the filter's
// exception, leave no block of the allocator behind, and the filter must give its usual
// verdicts again once allocations succeed. The dictionary moves between "pcdic.dat" and its
// fallback "bayescsf.dat" before each run, so each reload of the Bayes filter really reads it.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "asfn/asfn.h"
#include "sample_filters.h"

namespace {

class FilterAllocationSweepTest : public ::testing::TestWithParam<std::u16string_view> {};

TEST_P(FilterAllocationSweepTest, EveryFailurePointEndsCleanlyAndTheFilterRecovers) {
  zztest::SampleFilters sample({GetParam()});
  const std::string dictionary = sample.Read("pcdic.dat");
  bool onFallback = false;
  const auto moveDictionary = [&] { sample.PutDictionary(dictionary, onFallback = !onFallback); };

  const std::vector<std::string> reference = sample.Verdicts();
  for (const std::string& line : reference) ASSERT_EQ(line.find("error"), std::string::npos);
  moveDictionary();
  ASSERT_EQ(sample.Reload(), "");
  ASSERT_EQ(sample.Verdicts(), reference);
  const std::int64_t live = asfn_live_blocks();

  std::uint64_t n = 0, failedRuns = 0;
  for (bool reached = true; reached;) {
    std::vector<std::unique_ptr<zzhost::CPageItem>> items;
    for (const auto& traffic : zztest::SampleTraffic()) items.push_back(sample.MakeItem(traffic));
    moveDictionary();
    bool reloadFailed = false, failed = false;
    std::vector<std::string> verdicts;
    reached = zztest::RunFailingAt(++n, [&] {
      failed = reloadFailed = !sample.Reload().empty();
      for (auto& item : items) {
        verdicts.push_back(sample.Verdict(*item));
        failed |= verdicts.back().rfind("error", 0) == 0;
      }
    });
    items.clear();
    failedRuns += failed ? 1 : 0;
    // The one failure spent in the reload, the BW list filter serves its lists as they were.
    if (reloadFailed && GetParam() == zztest::kBWListFilter) {
      ASSERT_EQ(verdicts, reference) << "after a failed reload at allocation " << n;
    }
    ASSERT_EQ(sample.Reload(), "") << "after a failure at allocation " << n;
    ASSERT_EQ(sample.Verdicts(), reference) << "after a failure at allocation " << n;
    ASSERT_EQ(asfn_live_blocks(), live) << "after a failure at allocation " << n;
  }
  // The signatures filter has no engine yet: its reload and Process allocate nothing.
  if (GetParam() != zztest::kSignaturesFilter) {
    EXPECT_GT(n - 1, 10u);
    EXPECT_GT(failedRuns, 0u);
  }
  RecordProperty("allocation_points", std::to_string(n - 1));
  RecordProperty("runs_that_raised", std::to_string(failedRuns));
}

INSTANTIATE_TEST_SUITE_P(
    Filters, FilterAllocationSweepTest,
    ::testing::Values(zztest::kBWListFilter, zztest::kAdvancedFilter, zztest::kBayesFilter,
                      zztest::kSignaturesFilter),
    [](const auto& info) {
      return std::string(std::array{"BWList", "Advanced", "Bayes", "Signatures"}[info.index]);
    });

}  // namespace
