// The parental Bayes filter on real dictionary files: which file it loads and when, the
// threshold rule, a failed write-back at DestroySharedData, the commands' failures (their
// successes: tests/host/bayes_commands_test.cpp), and classifications side by side (BayesFilterThreadTest, run under ThreadSanitizer).
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "asfn/asfn.h"
#include "bayesfilter/bayesfilter.h"
#include "engines/bayesclassifier/bayes_files.h"
#include "itemfields.h"
#include "modnames.h"
#include "support/fake_settings.h"
#include "support/scratch_dir.h"
#include "support/trace_capture.h"
#include "support/what_of.h"

using nsEngineBayesClassifier::CBayesDictionary;
using nsHttpModules::BayesSharedData;
using nsHttpModules::CBayesFilter;
namespace field = nsHttpModules::ItemField;
namespace fs = std::filesystem;

namespace {

using zztest::WhatOf;
using Counts = std::vector<std::uint32_t>;
using Categories = std::vector<zztest::DictModel::Category>;

// Five words that carry the signal of the classification tests (a window needs five values
// before its category gets a probability).
const std::u16string kSignal = u"sigone sigtwo sigthree sigfour sigfive";

// A dictionary of more than 3000 words (so probabilities are real) whose five signal words
// have these counts; the filler words are seen once in every category.
zztest::DictModel SignalModel(Categories categories, Counts signal) {
  zztest::DictModel model;
  model.categories = std::move(categories);
  zztest::AddNumberedWords(model, 3001, Counts(model.categories.size(), 1));
  for (const char16_t* word : {u"sigone", u"sigtwo", u"sigthree", u"sigfour", u"sigfive"})
    model.words[word] = signal;
  return model;
}

class BayesFilterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_settings.SetString(u"/http/global/SharedDataPath", Wide(m_dir.string()));
    m_filter.SetSettings(&m_settings);
    m_filter.SetSharedData(m_filter.CreateSharedData());
  }
  void TearDown() override { EXPECT_EQ(DestroyShared(), "(no exception)"); }
  // Destroys the shared data, which writes the dictionary back; returns what that threw.
  std::string DestroyShared() {
    void* shared = m_filter.GetSharedData();
    m_filter.SetSharedData(nullptr);
    return WhatOf([&] { m_filter.DestroySharedData(shared); });
  }

  static std::u16string Wide(const std::string& text) { return zzplat::Utf8ToUtf16Lenient(text); }
  std::u16string Path(const std::string& name) const { return Wide((m_dir / name).string()); }
  void Write(const std::string& name, const zztest::DictModel& model) {
    zztest::WriteBytes(Path(name), model.Bytes());
  }

  // Classifies the text (with label texts) at the threshold: "category/score", "/-1" when
  // nothing was written.
  std::string Classify(const std::u16string& text, int threshold = 50,
                   const std::vector<const char16_t*>& labels = {}) {
    ascommon::CBlackBox ext;
    AItem item(&ext);
    ascommon::CBlackBox& bb = item.GetBlackBox();
    bb.SetUCharBuf(text.c_str(), field::kPageText, true);
    bb.SetInt(threshold, field::kBayesThreshold, true);
    if (!labels.empty()) bb.SetUCharBufArray(labels.data(), labels.size(), field::kLabelTexts, true);
    m_filter.Process(0, &item, 0);
    std::string verdict;
    if (bb.GetKind(field::kBayesCategory) != 0)
      verdict = zzplat::Utf16ToUtf8Lenient(bb.GetUCharBuf(field::kBayesCategory));
    const bool scored = bb.GetKind(field::kBayesScore) != 0;
    return verdict + "/" + std::to_string(scored ? bb.GetInt(field::kBayesScore) : -1);
  }
  std::string Loaded() { return Classify(u"alpha beta gamma delta epsilon"); }
  void LoadFresh() {
    static_cast<BayesSharedData*>(m_filter.GetSharedData())->dictionary_loaded = 0;  // a first load
    m_filter.ReloadSharedData();
  }
  void Train(const std::u16string& text, const char16_t* category) {
    ascommon::CBlackBox ext;
    AItem item(&ext);
    item.GetBlackBox().SetUCharBuf(text.c_str(), field::kPageText, true);
    ext.SetUCharBuf(category, field::kTrainCategory, true);
    m_filter.Process(0, &item, 35);
    EXPECT_EQ(item.GetBlackBox().GetKind(field::kBayesCategory), 0u) << "training writes nothing";
  }
  std::string Prune(std::int32_t limit) {
    return Command(37, [=](auto& p) { p.SetInt(limit, field::kParamOccurrenceLimit, true); });
  }
  // Runs ProcessCommand with the parameters set up by fill.
  std::string Command(std::uint32_t command,
                      const std::function<void(ascommon::CBlackBox&)>& fill = {}) {
    ascommon::CBlackBox params;
    if (fill) fill(params);
    return WhatOf([&] { m_filter.ProcessCommand(0, command, &params); });
  }

  zztest::ScratchDir m_scratch;
  fs::path m_dir = m_scratch.Path();
  zztest::FakeSettings m_settings;
  CBayesFilter m_filter{nsHttpModules::g_strHttpParentalBayesianFilter};
};

TEST_F(BayesFilterTest, ChoosesThePreferredFileOnlyWhenItHasContent) {
  // Each file missing (0), empty (1) or holding one category named after the file (2).
  const struct {
    int pcdic, bayescsf;
    const char* verdict;
  } cases[] = {{2, 2, "pc/100"}, {1, 2, "csf/100"}, {0, 2, "csf/100"}};
  for (const auto& c : cases) {
    for (const auto& [file, content] : {std::pair{"pcdic.dat", c.pcdic}, {"bayescsf.dat", c.bayescsf}}) {
      zztest::DictModel model;
      model.categories = {{file[0] == 'p' ? u"pc" : u"csf", 3, 0}};
      fs::remove(m_dir / file);
      if (content > 0) zztest::WriteBytes(Path(file), content == 1 ? "" : model.Bytes());
    }
    LoadFresh();
    EXPECT_EQ(Loaded(), c.verdict);
  }
  // Nothing there: an empty "pcdic.dat" for an updater, the empty dictionary as the
  // fallback, and no category to name.
  fs::remove(m_dir / "pcdic.dat");
  fs::remove(m_dir / "bayescsf.dat");
  LoadFresh();
  EXPECT_EQ(fs::file_size(m_dir / "pcdic.dat"), 0u);
  EXPECT_EQ(fs::file_size(m_dir / "bayescsf.dat"), 8u);
  EXPECT_THROW(Loaded(), InvalidIndexException) << "no category to name";
}

// A reload reads the file only when its size differs from the last load's: not after a
// prune closed the dictionary, but again after a failed load.
TEST_F(BayesFilterTest, ReloadsOnlyWhenTheSizeChanged) {
  zztest::DictModel model;
  model.categories = {{u"first", 3, 0}};
  Write("pcdic.dat", model);
  zztest::TraceCapture trace;
  const auto opens = [&] { return trace.Count("-open dictionary file\n"); };
  m_filter.ReloadSharedData();
  for (const char16_t* name : {u"other", u"longer"}) {  // same size, then another size
    model.categories = {{name, 3, 0}};
    Write("pcdic.dat", model);
    m_filter.ReloadSharedData();
  }
  EXPECT_EQ(opens(), 2);
  EXPECT_EQ(Loaded(), "longer/100");
  // A prune that left the size as it was leaves the dictionary closed.
  EXPECT_EQ(Prune(0), "(no exception)");
  m_filter.ReloadSharedData();
  EXPECT_EQ(opens(), 2);
  // A damaged file fails to load; the good file of the old size is then read again.
  const std::string good = zztest::ReadBytes(Path("pcdic.dat"));
  zztest::WriteBytes(Path("pcdic.dat"), std::string("\x01\x00\x00\x00\x01\x00\x00\x00", 8));
  EXPECT_EQ(WhatOf([&] { m_filter.ReloadSharedData(); }),
            "ASException - MESSAGE: [Parental Bayes] Problems reloading the dictionary");
  zztest::WriteBytes(Path("pcdic.dat"), good);
  m_filter.ReloadSharedData();
  EXPECT_EQ(Loaded(), "longer/100");
}

TEST_F(BayesFilterTest, ThresholdRuleAndTheNameStored) {
  const Categories whiteAdultGames = {{u"white", 0, 0}, {u"Adult", 3, 0}, {u"games", 1, 0}};
  const Categories gamesAdultWhite = {{u"games", 1, 0}, {u"adult", 3, 0}, {u"white", 0, 0}};
  const Categories highLevels = {{u"low", 1000, 0}, {u"high", 2000, 0}};
  const struct {
    const char* label;
    Categories categories;
    Counts signal;
    int threshold;
    const char* expected;
  } cases[] = {
      // Best adult (0.99998), runner-up white (the value adult replaced): score 99.
      {"above", whiteAdultGames, {1, 9, 0}, 98, "adult/99"},
      {"at", whiteAdultGames, {1, 9, 0}, 99, "white/99"},
      // With low confidence the less strict of best and runner-up wins.
      {"runner-up level 1", gamesAdultWhite, {1, 9, 0}, 99, "games/99"},
      // The first category stays best: no runner-up value, score 100, level 0 is "white".
      {"white best", whiteAdultGames, {9, 1, 0}, 50, "white/100"},
      // Levels of 1000 and above are never the low-confidence choice: nothing is stored.
      {"high levels above", highLevels, {1, 9}, 98, "high/99"},
      {"high levels at", highLevels, {1, 9}, 99, "/-1"},
  };
  for (const auto& c : cases) {
    Write("pcdic.dat", SignalModel(c.categories, c.signal));
    LoadFresh();
    EXPECT_EQ(Classify(kSignal + u" unknown", c.threshold), c.expected) << c.label;
  }
  // Label texts join the page text.
  EXPECT_EQ(Classify(u"nothing known here", 50, {u"sigone sigtwo", u"sigthree sigfour sigfive"}),
            "high/99");
}

// Training reaches the file at DestroySharedData (end to end: tests/host/
// bayes_commands_test.cpp). A write-back that fails raises nothing (the dictionary traces
// it), releases everything and leaves the old file whole.
TEST_F(BayesFilterTest, FailedWriteBackRaisesNothingAndKeepsTheFile) {
  zztest::DictModel model;
  model.categories = {{u"white", 0, 0}, {u"spam", 3, 0}};
  Write("pcdic.dat", model);
  EXPECT_EQ(DestroyShared(), "(no exception)");
  const std::string before = model.Bytes();
  const std::int64_t baseline = asfn_live_blocks();
  m_filter.SetSharedData(m_filter.CreateSharedData());
  m_filter.ReloadSharedData();
  Train(u"some words", u"white");
  zztest::TraceCapture trace;
  CBayesDictionary::SetWriteFaultHookForTesting(
      [](CBayesDictionary::EWriteStage, std::uint64_t) { return false; });
  EXPECT_EQ(DestroyShared(), "(no exception)");
  CBayesDictionary::SetWriteFaultHookForTesting(nullptr);
  EXPECT_EQ(trace.Count("-Error writing to file!\n"), 1);
  EXPECT_EQ(asfn_live_blocks(), baseline) << "the block and the classifier are released";
  EXPECT_EQ(zztest::ReadBytes(Path("pcdic.dat")), before);
  m_filter.SetSharedData(m_filter.CreateSharedData());
}

TEST_F(BayesFilterTest, ProcessAndCommandFailures) {
  Write("pcdic.dat", SignalModel({{u"white", 0, 0}, {u"adult", 3, 0}}, {1, 9}));
  m_filter.ReloadSharedData();
  ascommon::CBlackBox ext;
  AItem item(&ext);
  ascommon::CBlackBox& bb = item.GetBlackBox();
  // An empty page text: a trace line, nothing written, whatever the command.
  bb.SetUCharBuf(u"", field::kPageText, true);
  zztest::TraceCapture trace;
  for (std::uint32_t command : {0u, 35u, 7u}) m_filter.Process(0, &item, command);
  EXPECT_EQ(trace.Count("-[Parental Bayes] Bufferul html e NULL\n"), 3);
  EXPECT_EQ(bb.GetCount(), 1u);
  bb.SetUCharBuf(kSignal.c_str(), field::kPageText, true);
  EXPECT_EQ(WhatOf([&] { m_filter.Process(0, &item, 0); }),
            "ASException - MESSAGE: [Parental Bayes] Could not get threshold");
  EXPECT_EQ(WhatOf([&] { m_filter.Process(0, &item, 7); }),
            "ASException - MESSAGE: [Parental Bayes] Unknown command");
  EXPECT_EQ(m_filter.GetLocker()->ReaderCount(), 0) << "the read-only lock leaked";

  // Refused category names end to end: tests/host/bayes_commands_test.cpp.
  const std::string missingFolder = (m_dir / "missing" / "out.txt").string();
  const struct {
    std::uint32_t command;
    std::function<void(ascommon::CBlackBox&)> fill;
    std::string message;
  } cases[] = {
      {34, {}, "Categories name not found in blackbox"},
      {36,
       [&](auto& p) { p.SetUCharBuf(Wide(missingFolder).c_str(), field::kParamPrintFile, true); },
       "Problems printing dictionary"},
      {40, {}, "Unknown command"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Command(c.command, c.fill), "ASException - MESSAGE: [Parental Bayes] " + c.message);
  // A negative limit for 37 is raised without its trace line, and the dictionary stays open.
  trace.Clear();
  EXPECT_EQ(Prune(-1), "ASException - MESSAGE: [Parental Bayes] Invalid occurence limit value");
  EXPECT_EQ(trace.Count("Invalid occurence limit value"), 0);
  // A prune whose write fails leaves no dictionary loaded.
  CBayesDictionary::SetWriteFaultHookForTesting(
      [](CBayesDictionary::EWriteStage, std::uint64_t) { return false; });
  EXPECT_EQ(Prune(1), "ASException - CODE: -15 MESSAGE: [Parental Bayes] Dictionary not loaded");
  CBayesDictionary::SetWriteFaultHookForTesting(nullptr);
  EXPECT_EQ(Prune(0), "(no exception)");
  EXPECT_EQ(Prune(0), "ASException - MESSAGE: [Parental Bayes] Dictionary not loaded");
}

class BayesFilterThreadTest : public BayesFilterTest {};

// Classifications of two threads meet inside the classifier: neither the filter's lock nor
// the classifier's serialises them. Training while classifying is driven from many threads
// in tests/engines/bayesclassifier/ebayes_thread_test.cpp, reloads under load in
// tests/host/reload_under_load_test.cpp.
TEST_F(BayesFilterThreadTest, ClassificationsRunSideBySide) {
  Write("pcdic.dat", SignalModel({{u"white", 0, 0}, {u"adult", 3, 0}}, {1, 9}));
  m_filter.ReloadSharedData();
  zztest::MeetingSink sink;
  CATrace* previous = ascommon::SetTracerForTesting(&sink);
  std::thread first([&] { EXPECT_EQ(Classify(kSignal), "adult/99"); });
  std::thread second([&] { EXPECT_EQ(Classify(u"other words here"), "white/0"); });
  first.join();
  second.join();
  ascommon::SetTracerForTesting(previous);
  EXPECT_FALSE(sink.TimedOut());
}

}  // namespace
