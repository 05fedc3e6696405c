// The word finder: cost lines against a fresh finder's tables, the study's limits and start
// positions, matching (thresholds, ranking, the hit cap, wide texts, star words) and the
// engines handle creating one finder for many threads.
#include "engines/levenshtein/word_finder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "engines/assl/exec_structs.h"
#include "support/scratch_dir.h"

namespace zztest {
namespace {

using Finder = std::unique_ptr<CWordFinder>;
Finder NewFinder() { return Finder(new CWordFinder()); }

// The entries where two finders' tables differ, as "t65=500" / "p108,49=100".
std::vector<std::string> Changes(const CWordFinder& finder) {
  const Finder fresh = NewFinder();
  std::vector<std::string> out;
  auto note = [&out](int was, int now, const char* kind, int a, int b) {
    if (was == now) return;
    out.push_back(kind + std::to_string(a) + (b < 0 ? "" : "," + std::to_string(b)) + "=" +
                  std::to_string(now));
  };
  for (int a = 0; a < 256; ++a) {
    note(fresh->ThinCost(a), finder.ThinCost(a), "t", a, -1);
    for (int b = 0; b < 256; ++b) note(fresh->PairCost(a, b), finder.PairCost(a, b), "p", a, b);
  }
  return out;
}

TEST(WordFinderTest, CostLinesChangeOnlyTheirEntries) {
  const Finder fresh = NewFinder();
  EXPECT_EQ(fresh->PairCost('A', 'a') + fresh->PairCost('q', 'Q') + fresh->PairCost('7', '7'), 0);
  EXPECT_EQ(fresh->PairCost('a', 'b') + fresh->ThinCost('a') + fresh->PairCost(0xE9, 0xC9), 3000);
  const struct {
    const char* line;
    std::vector<std::string> changes;
  } rows[] = {
      {";l 1 0.1", {"p49,76=100", "p49,108=100", "p76,49=100", "p108,49=100"}},
      {".- 0.25\r\n", {"t45=250"}},
      {".  0.7 ## a blank", {"t32=700"}},
      {"*65 +.5", {"t65=500"}},
      {":233 101 0.1", {"p101,201=100", "p101,233=100", "p201,101=100", "p233,101=100"}},
      {":300 1 0.1", {}}, {"*256 0.1", {}}, {";l", {}}, {".x abc", {}}, {"*z 1", {}},
      {". -1", {}}, {".x -0.5", {}}, {".x 1e9", {}}, {".x nan", {}}, {"x 1 0.1", {}},
      {"##.x 0.1", {}},
  };
  for (const auto& row : rows) {
    const Finder finder = NewFinder();
    finder->ApplyCostLine(row.line);
    EXPECT_EQ(Changes(*finder), row.changes) << row.line;
  }
}

TEST(WordFinderTest, CostFileDropsTheRestOfOverlongLines) {
  ScratchDir dir;
  // The second line's tail would set "x"; the third line is 2,000 characters with its end.
  WriteBytes(dir / "aswfconf.dat", ";o 0 0.2\r\n## " + std::string(1997, 'x') + ".x 0.3\n" +
                                       std::string(1997, ' ') + "##\n.y 0.4");
  const Finder finder = NewFinder();
  finder->LoadCosts(dir.Wide().c_str());
  EXPECT_EQ(Changes(*finder), (std::vector<std::string>{"p48,79=200", "p48,111=200", "p79,48=200",
                                                       "p111,48=200", "t121=400"}));
}

TEST(WordFinderTest, StudyLimitsStartsAndSkipCosts) {
  const Finder finder = NewFinder();
  finder->ApplyCostLine(".  0.1");
  const std::u16string text = u"aBc de1f\u0416";
  const auto study = finder->Study(text.data(), text.size());
  ASSERT_TRUE(study->IsComplete());
  const auto& starts = study->StartPositions();
  EXPECT_EQ(std::vector<std::uint32_t>(starts.GetData(), starts.GetData() + starts.GetSize()),
            (std::vector<std::uint32_t>{1, 2, 3, 4, 6, 7, 8}));
  EXPECT_EQ(study->SkipCosts()[3] + study->SkipCosts()[4] + study->SkipCosts()[8], 1900);
  const std::u16string limit(CWordFinder::kMaxTextLength, u'a');
  EXPECT_TRUE(finder->Study(limit.data(), limit.size())->IsComplete());
  const std::u16string over = limit + u"a";
  const auto empty = finder->Study(over.data(), over.size());
  EXPECT_FALSE(empty->IsComplete());
  EXPECT_EQ(finder->Match(u"aaaaa", over.size(), empty.get()), nullptr);
  EXPECT_EQ(finder->Match(u"*aa", over.size(), empty.get()), nullptr);
}

TEST(WordFinderTest, MatchRanksCountsAndRefuses) {
  std::u16string many;
  for (int i = 0; i < 300; ++i) many += u"abcde.......";
  const std::u16string wide = u"abcde\u0416", tooLong(127, u'a');
  const struct {
    const char16_t* word;
    std::u16string text;
    float tolerance;
    std::int32_t detail;
    std::string expected;  // found hits best worst, positions / starts, or "null"
  } rows[] = {
      {u"ABCDE", u"zzabcde", 0.1f, 1, "1 1 500 500"},  // inside a word: 100 per letter
      {u"abcde", u"zzabcde", 0.099f, 1, "0 0 0 0"},
      {u"abcd", u"zabcd", 0.2f, 1, "1 1 400 400"},  // under 5 letters: tolerance halved
      {u"abcd", u"zabcd", 0.19f, 1, "0 0 0 0"},
      {u"abcde", u"abcde........abXde", 0.2f, 2, "1 2 0 1000 5 18 / 0 13"},
      {u"abcde", u"abcde..abcde", 0.2f, 2, "1 1 0 0 5 / 0"},  // suppressed within 7
      {u"abcde", u"abcde........abXde", 0.2f, 0, "1 0 0 0"},
      {u"abcde", many, 0.0f, 1, "1 269 0 0"},
      {u"abcde", wide, 1.0f, 1, "1 1 5000 5000"},  // wide text: every word letter costs 1.0
      {u"*CD", u"abcd", 0, 1, "1 0 0 0 2 /"},
      {u"*CD", u"abcd\u0416", 0, 1, "null"},  // wide text: case counts
      {u"*\u0416", wide, 0, 1, "1 0 0 0 5 /"},
      {u"*", u"abcd", 0, 1, "null"}, {nullptr, u"abcd", 1, 1, "null"},
      {tooLong.c_str(), tooLong, 1, 1, "null"},
  };
  const Finder finder = NewFinder();
  for (const auto& row : rows) {
    const auto study = finder->Study(row.text.data(), row.text.size());
    study->tolerance = row.tolerance;
    study->detail = row.detail;
    const auto info = finder->Match(row.word, row.text.size(), study.get());
    auto list = [](const ascommon::CArray<std::uint32_t>& values) {
      std::string text;
      for (std::uint64_t i = 0; i < values.GetSize(); ++i) text += " " + std::to_string(values[i]);
      return text;
    };
    std::string got = "null";
    if (info != nullptr) {
      got = std::to_string(info->found) + " " + std::to_string(info->hitCount) + " " +
            std::to_string(info->bestScore) + " " + std::to_string(info->worstScore);
      if (info->positions.GetSize() > 0) got += list(info->positions) + " /" + list(info->starts);
    }
    EXPECT_EQ(got, row.expected) << row.expected;
  }
}

TEST(WordFinderThreadTest, HandleCreatesOneFinderForAllThreads) {
  ScratchDir dir;
  WriteBytes(dir / "aswfconf.dat", ";l 1 0.1\n");
  for (int round = 0; round < 20; ++round) {  // each round races the first request anew
    assl::CEnginesHandle handle;
    handle.SetDataFolder(dir.Wide().c_str());
    std::atomic<int> waiting{4};
    std::vector<CWordFinder*> seen(4, nullptr);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < seen.size(); ++t) {
      threads.emplace_back([&, t] {
        for (--waiting; waiting.load() > 0;) {
        }
        seen[t] = handle.GetWordFinder();
      });
    }
    for (std::thread& thread : threads) thread.join();
    ASSERT_NE(seen[0], nullptr);
    ASSERT_EQ(std::count(seen.begin(), seen.end(), seen[0]), 4) << round;
    EXPECT_EQ(seen[0]->PairCost('L', '1'), 100);
  }
}

}  // namespace
}  // namespace zztest
