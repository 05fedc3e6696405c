// Each filter of the module reloads its shared data and processes the sample traffic while
// the 1st, 2nd, ... allocation of the host allocator fails in turn, until a run needs no
// more allocations than were let through. Every run must end normally or with the filter's
// exception, leave no block of the allocator behind, and the filter must give its usual
// verdicts again once allocations succeed. The Bayes filter's dictionary moves between
// "pcdic.dat" and its fallback "bayescsf.dat" before each run, so each reload really reads
// the dictionary.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "asfn/asfn.h"
#include "sample_filters.h"

namespace {

namespace fs = std::filesystem;

std::string ShortName(const ::testing::TestParamInfo<std::u16string_view>& info) {
  static const char* const kNames[] = {"BWList", "Advanced", "Bayes", "Signatures"};
  return kNames[info.index];
}

class FilterAllocationSweepTest : public ::testing::TestWithParam<std::u16string_view> {};

TEST_P(FilterAllocationSweepTest, EveryFailurePointEndsCleanlyAndTheFilterRecovers) {
  zztest::SampleFilters sample({GetParam()});
  const fs::path preferred = sample.DataDir() / "pcdic.dat";
  const fs::path fallback = sample.DataDir() / "bayescsf.dat";
  const std::string dictionary = zztest::ReadBytes(preferred);
  const bool bayes = GetParam() == zztest::kBayesFilter;
  bool onFallback = false;
  const auto moveDictionary = [&] {
    if (!bayes) return;
    onFallback = !onFallback;
    zztest::WriteBytes(preferred, onFallback ? "" : dictionary);
    zztest::WriteBytes(fallback, onFallback ? dictionary : "");
  };

  const std::vector<std::string> reference = sample.Verdicts();
  for (const std::string& line : reference) ASSERT_EQ(line.find("error"), std::string::npos);
  moveDictionary();
  ASSERT_EQ(sample.Reload(0), "");
  ASSERT_EQ(sample.Verdicts(), reference);
  const std::int64_t live = asfn_live_blocks();

  std::uint64_t n = 1;
  std::uint64_t failedRuns = 0;
  for (;; ++n) {
    std::vector<std::unique_ptr<zzhost::CPageItem>> items;
    for (const zztest::Traffic& traffic : zztest::SampleTraffic()) {
      items.push_back(zztest::SampleFilters::MakeItem(traffic));
    }
    moveDictionary();
    const std::uint64_t before = asfn_allocation_count();
    asfn_fail_at(n, ASFN_FAIL_ONCE);
    const bool reloadFailed = !sample.Reload(0).empty();
    bool failed = reloadFailed;
    std::vector<std::string> verdicts;
    for (auto& item : items) {
      verdicts.push_back(sample.Verdict(*item));
      failed |= verdicts.back().rfind("error", 0) == 0;
    }
    // The one failure spent in the reload, the BW list filter serves its lists as they were.
    if (reloadFailed && GetParam() == zztest::kBWListFilter) {
      ASSERT_EQ(verdicts, reference) << "after a failed reload at allocation " << n;
    }
    asfn_fail_at(0, ASFN_FAIL_OFF);
    const bool reached = asfn_allocation_count() - before >= n;
    items.clear();
    failedRuns += failed ? 1 : 0;

    ASSERT_EQ(sample.Reload(0), "") << "after a failure at allocation " << n;
    ASSERT_EQ(sample.Verdicts(), reference) << "after a failure at allocation " << n;
    ASSERT_EQ(asfn_live_blocks(), live) << "after a failure at allocation " << n;
    if (!reached) break;
  }
  const std::uint64_t points = n - 1;
  // The signatures filter has no engine yet: its reload and Process allocate nothing.
  if (GetParam() != zztest::kSignaturesFilter) {
    EXPECT_GT(points, 10u);
    EXPECT_GT(failedRuns, 0u);
  }
  RecordProperty("allocation_points", static_cast<int>(points));
  RecordProperty("runs_raising", static_cast<int>(failedRuns));
  std::printf("allocation points: %llu, runs that raised: %llu\n",
              static_cast<unsigned long long>(points),
              static_cast<unsigned long long>(failedRuns));
}

INSTANTIATE_TEST_SUITE_P(Filters, FilterAllocationSweepTest,
                         ::testing::Values(zztest::kBWListFilter, zztest::kAdvancedFilter,
                                           zztest::kBayesFilter, zztest::kSignaturesFilter),
                         ShortName);

}  // namespace
