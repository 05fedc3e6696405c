// Every filter of the module driven from eight threads with pages and URLs of known
// verdicts while another thread reloads each filter's shared data in a loop, the data files
// rewritten with the same content before every round: each verdict must be the one a
// single thread gets. The dictionary moves between "pcdic.dat" and its fallback
// "bayescsf.dat" from round to round, so each of the Bayes filter's reloads really closes
// and reopens it. Runs under ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sample_filters.h"

namespace {

namespace fs = std::filesystem;

TEST(ReloadUnderLoadThreadTest, EveryVerdictIsTheSingleThreadedOne) {
  zztest::SampleFilters sample;
  ASSERT_EQ(sample.Host().FilterCount(), 4u);
  const auto& traffic = zztest::SampleTraffic();
  const std::vector<std::string> reference = sample.Verdicts();
  // The traffic reaches every kind of verdict, so a wrong one cannot hide.
  std::string all;
  for (const std::string& line : reference) all += line + "\n";
  for (const char* expected : {"\"list\": \"white\"", "\"list\": \"black\"", "\"Gambling\"", "\"flag\": 1", "\"bayes\": {\"category\""})
    EXPECT_NE(all.find(expected), std::string::npos) << expected << " in\n" << all;
  const std::string dictionary = sample.Read("pcdic.dat");

  constexpr int kThreads = 8;
  std::atomic<bool> stop{false};
  std::atomic<int> verdicts{0};
  std::mutex mismatchLock;
  std::vector<std::string> mismatches;
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.emplace_back([&, t] {
      do {
        for (std::size_t i = 0; i < traffic.size(); ++i) {
          const std::size_t k = (i + t) % traffic.size();  // threads start on different items
          const std::string line = sample.Verdict(*sample.MakeItem(traffic[k]));
          verdicts.fetch_add(1, std::memory_order_relaxed);
          if (line == reference[k]) continue;
          std::lock_guard<std::mutex> guard(mismatchLock);
          mismatches.push_back(traffic[k].url + ": " + line);
        }
      } while (!stop.load(std::memory_order_relaxed));
    });
  }

  int rounds = 0;
  std::vector<std::string> reloadErrors;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
  for (; std::chrono::steady_clock::now() < deadline || rounds < 4; ++rounds) {
    fs::copy(zztest::BinDir() / "data", sample.DataDir(),  // the same files, rewritten
             fs::copy_options::overwrite_existing | fs::copy_options::recursive);
    if (rounds % 2 == 1) sample.PutDictionary(dictionary, true);
    for (std::size_t f = 0; f < sample.Host().FilterCount(); ++f) {
      const std::string error = sample.Reload(f);
      if (!error.empty()) reloadErrors.push_back(error);
    }
  }
  stop = true;
  for (std::thread& worker : workers) worker.join();

  EXPECT_TRUE(reloadErrors.empty()) << reloadErrors.front();
  EXPECT_TRUE(mismatches.empty()) << mismatches.size() << " wrong verdicts, first " << mismatches.front();
  EXPECT_GE(verdicts.load(), kThreads * static_cast<int>(traffic.size()));
  RecordProperty("reload_rounds", rounds);
}

}  // namespace
