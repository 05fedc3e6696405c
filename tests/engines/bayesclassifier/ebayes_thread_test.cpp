// Training while other threads classify: no training count is lost and classifications
// see a consistent dictionary (classifications side by side: tests/zazozor/bayesfilter_test.cpp).
// Runs under ThreadSanitizer in CI (the suite name holds "Thread").
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bayes_files.h"
#include "common/astrace.h"
#include "engines/bayesclassifier/ebayes.h"

namespace {

using nsEngineBayesClassifier::CBFilter;
using Counts = std::vector<std::uint32_t>;

TEST(BayesThreadTest, TrainingWhileClassifyingLosesNoCounts) {
  zztest::BayesDir dir;
  const std::u16string path = dir / "pcdic.dat";
  zztest::DictModel model;
  model.categories = {{u"white", 0, 0}, {u"spam", 3, 0}};
  zztest::AddNumberedWords(model, 3100, {2, 1});
  zztest::WriteBytes(path, model.Bytes());
  CBFilter filter(zztest::PageSeparators());
  ASSERT_EQ(filter.OpenDictionary(path.c_str()), 0);

  // Each trainer adds words of its own, a shared new word and a preloaded word, while
  // the classifiers read those words as the index grows under them.
  constexpr std::uint32_t kTrainers = 3, kItems = 60;
  std::atomic<std::uint32_t> trainersLeft{kTrainers}, classified{0};
  std::atomic<bool> failed{false};
  std::vector<std::thread> threads;
  for (std::uint32_t t = 0; t < kTrainers; ++t) {
    threads.emplace_back([&, t] {
      for (std::uint32_t i = 0; i < kItems; ++i) {
        zztest::Item item;
        std::u16string text = u"shared w1000001x";
        for (char16_t w = 0; w < 40; ++w) {  // 40 words of this trainer's own per item
          text += {u' ', u't', char16_t(u'a' + t), char16_t(u'a' + w % 26),
                   char16_t(u'a' + w / 26), char16_t(u'A' + i % 26), char16_t(u'A' + i / 26)};
        }
        item.Text(text);
        failed = failed || filter.InsertItem(item.Array(), t == 0 ? u"white" : u"SPAM") != 0;
      }
      --trainersLeft;
    });
  }
  for (int c = 0; c < 3; ++c) {
    threads.emplace_back([&] {
      zztest::Item item;
      item.Text(u"shared w1000001x w1000002x unknown taaaAA");
      do {
        ascommon::CArray<CBFilter::CCategoryInfo> categories;
        ascommon::CArray<std::uint32_t> levels;
        std::int32_t score = -1;
        failed = failed || filter.GetPRobability(item.Array(), score, categories, levels) != 0 ||
                 score < 0 || score > 100 || categories.GetSize() != 2;
      } while (++classified < 50 || trainersLeft > 0);
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_FALSE(failed);

  auto& dictionary = filter.GetDictionary();
  EXPECT_EQ(zztest::CountsOf(dictionary, u"shared"), (Counts{kItems, (kTrainers - 1) * kItems}));
  EXPECT_EQ(zztest::CountsOf(dictionary, u"w1000001x"),
            (Counts{2 + kItems, 1 + (kTrainers - 1) * kItems}));
  EXPECT_EQ(zztest::CountsOf(dictionary, u"tbnbCA"), (Counts{0, 1}));
  EXPECT_TRUE(dictionary.GetCategoryTotal(0) == kItems &&
              dictionary.GetCategoryTotal(1) == (kTrainers - 1) * kItems);
  EXPECT_EQ(dictionary.GetWordCount(), 3100u + 1 + kTrainers * kItems * 40);
}

}  // namespace
