// The parental Bayes filter on real dictionary files: which file it loads and when it
// reloads, the threshold rule and the names it stores, training through Process and the
// write-back at DestroySharedData, the commands' failures (their successes run end to end in
// tests/host/bayes_commands_test.cpp), memory failures, and (suite BayesFilterThreadTest,
// run under ThreadSanitizer) classifications side by side.
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
  for (const char16_t* word : {u"sigone", u"sigtwo", u"sigthree", u"sigfour", u"sigfive"}) {
    model.words[word] = signal;
  }
  return model;
}

struct Verdict {
  std::string category;  // "" when nothing was written
  int score = -1;
  bool operator==(const Verdict&) const = default;
};

void PrintTo(const Verdict& v, std::ostream* os) { *os << v.category << "/" << v.score; }

class BayesFilterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_settings.SetString(u"/http/global/SharedDataPath", Wide(m_dir.string()));
    m_filter.SetSettings(&m_settings);
    m_filter.SetSharedData(m_filter.CreateSharedData());
  }
  void TearDown() override { EXPECT_EQ(DestroyShared(false), "(no exception)"); }
  // Destroys the shared data, which writes the dictionary back; returns what that threw.
  std::string DestroyShared(bool recreate) {
    void* shared = m_filter.GetSharedData();
    m_filter.SetSharedData(nullptr);
    const std::string what = WhatOf([&] { m_filter.DestroySharedData(shared); });
    if (recreate) m_filter.SetSharedData(m_filter.CreateSharedData());
    return what;
  }

  static std::u16string Wide(const std::string& text) { return zzplat::Utf8ToUtf16Lenient(text); }
  std::u16string Path(const std::string& name) const { return Wide((m_dir / name).string()); }
  void Write(const std::string& name, const zztest::DictModel& model) {
    zztest::WriteBytes(Path(name), model.Bytes());
  }
  std::uintmax_t SizeOf(const std::string& name) const { return fs::file_size(m_dir / name); }
  BayesSharedData& Shared() { return *static_cast<BayesSharedData*>(m_filter.GetSharedData()); }

  // Classifies the text (with label texts) at the threshold.
  Verdict Classify(const std::u16string& text, int threshold = 50,
                   const std::vector<const char16_t*>& labels = {}) {
    ascommon::CBlackBox ext;
    AItem item(&ext);
    ascommon::CBlackBox& bb = item.GetBlackBox();
    bb.SetUCharBuf(text.c_str(), field::kPageText, true);
    bb.SetInt(threshold, field::kBayesThreshold, true);
    if (!labels.empty()) bb.SetUCharBufArray(labels.data(), labels.size(), field::kLabelTexts, true);
    m_filter.Process(0, &item, 0);
    Verdict verdict;
    if (bb.GetKind(field::kBayesCategory) != 0) {
      verdict.category = zzplat::Utf16ToUtf8Lenient(bb.GetUCharBuf(field::kBayesCategory));
    }
    if (bb.GetKind(field::kBayesScore) != 0) verdict.score = bb.GetInt(field::kBayesScore);
    return verdict;
  }
  void Train(const std::u16string& text, const char16_t* category) {
    ascommon::CBlackBox ext;
    AItem item(&ext);
    item.GetBlackBox().SetUCharBuf(text.c_str(), field::kPageText, true);
    ext.SetUCharBuf(category, field::kTrainCategory, true);
    m_filter.Process(0, &item, 35);
    EXPECT_EQ(item.GetBlackBox().GetKind(field::kBayesCategory), 0u) << "training writes nothing";
  }
  // Runs ProcessCommand with the parameters set up by fill.
  std::string Command(std::uint32_t command,
                      const std::function<void(ascommon::CBlackBox&)>& fill = {}) {
    ascommon::CBlackBox params;
    if (fill) fill(params);
    return WhatOf([&] { m_filter.ProcessCommand(0, command, &params); });
  }
  // The dictionary file as a fresh dictionary reads it: the counts of a word.
  Counts CountsInFile(const std::string& name, const std::u16string& word) {
    CBayesDictionary dictionary;
    EXPECT_EQ(dictionary.Open(Path(name).c_str()), 0);
    Counts counts = zztest::CountsOf(dictionary, word);
    dictionary.Close(Path(name).c_str(), 0, 0);
    return counts;
  }

  zztest::ScratchDir m_scratch;
  fs::path m_dir = m_scratch.Path();
  zztest::FakeSettings m_settings;
  CBayesFilter m_filter{nsHttpModules::g_strHttpParentalBayesianFilter};
};

// ---- Which dictionary, and when it is read -----------------------------------------------

TEST_F(BayesFilterTest, ChoosesThePreferredFileOnlyWhenItHasContent) {
  enum Content { kMissing, kEmpty, kPc, kCsf };
  const struct {
    Content pcdic, bayescsf;
    const char* verdict;  // the only category of the file that was loaded
  } cases[] = {{kPc, kCsf, "pc"}, {kPc, kMissing, "pc"}, {kEmpty, kCsf, "csf"}, {kMissing, kCsf, "csf"}};
  for (const auto& c : cases) {
    fs::remove(m_dir / "pcdic.dat");
    fs::remove(m_dir / "bayescsf.dat");
    for (const auto& [file, content] : {std::pair{"pcdic.dat", c.pcdic}, {"bayescsf.dat", c.bayescsf}}) {
      zztest::DictModel model;
      model.categories = {{content == kPc ? u"pc" : u"csf", 3, 0}};
      if (content == kEmpty) zztest::WriteBytes(Path(file), "");
      if (content == kPc || content == kCsf) Write(file, model);
    }
    Shared().dictionary_loaded = 0;  // as if for the first time
    m_filter.ReloadSharedData();
    EXPECT_EQ(Classify(u"alpha beta gamma delta epsilon").category, c.verdict) << c.verdict;
    EXPECT_TRUE(fs::exists(m_dir / "pcdic.dat"));
  }
  // Nothing there: an empty "pcdic.dat" for an updater, the empty dictionary as the
  // fallback, and no category to name.
  fs::remove(m_dir / "pcdic.dat");
  fs::remove(m_dir / "bayescsf.dat");
  Shared().dictionary_loaded = 0;
  m_filter.ReloadSharedData();
  EXPECT_EQ(SizeOf("pcdic.dat"), 0u);
  EXPECT_EQ(SizeOf("bayescsf.dat"), 8u);
  try {
    Classify(u"alpha beta gamma delta epsilon");
    ADD_FAILURE() << "no exception";
  } catch (const InvalidIndexException& e) {
    EXPECT_EQ(e.GetCode(), -301);
  }
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
  model.categories = {{u"other", 3, 0}};  // same size, other content
  Write("pcdic.dat", model);
  m_filter.ReloadSharedData();
  EXPECT_EQ(opens(), 1);
  EXPECT_EQ(Classify(u"alpha beta gamma delta epsilon").category, "first");
  model.categories = {{u"longer", 3, 0}};
  Write("pcdic.dat", model);
  m_filter.ReloadSharedData();
  EXPECT_EQ(opens(), 2);
  EXPECT_EQ(Classify(u"alpha beta gamma delta epsilon").category, "longer");
  // A prune that left the size as it was leaves the dictionary closed.
  EXPECT_EQ(Command(37, [](auto& p) { p.SetInt(0, field::kParamOccurrenceLimit, true); }),
            "(no exception)");
  m_filter.ReloadSharedData();
  EXPECT_EQ(opens(), 2);
  // A damaged file fails to load; the good file of the old size is then read again.
  const std::string good = zztest::ReadBytes(Path("pcdic.dat"));
  zztest::WriteBytes(Path("pcdic.dat"), std::string("\x01\x00\x00\x00\x01\x00\x00\x00", 8));
  EXPECT_EQ(WhatOf([&] { m_filter.ReloadSharedData(); }),
            "ASException - MESSAGE: [Parental Bayes] Problems reloading the dictionary");
  zztest::WriteBytes(Path("pcdic.dat"), good);
  m_filter.ReloadSharedData();
  EXPECT_EQ(Classify(u"alpha beta gamma delta epsilon").category, "longer");

  void* shared = m_filter.GetSharedData();
  m_filter.SetSharedData(nullptr);
  EXPECT_EQ(WhatOf([&] { m_filter.ReloadSharedData(); }),
            "ASBadPtrException - MESSAGE: [Parental Bayes] Invalid shared data retreived");
  m_filter.SetSharedData(shared);
}

// ---- Classification ------------------------------------------------------------------------

TEST_F(BayesFilterTest, ThresholdRuleAndTheNameStored) {
  const Categories whiteAdultGames = {{u"white", 0, 0}, {u"Adult", 3, 0}, {u"games", 1, 0}};
  const Categories gamesAdultWhite = {{u"games", 1, 0}, {u"adult", 3, 0}, {u"white", 0, 0}};
  const Categories highLevels = {{u"low", 1000, 0}, {u"high", 2000, 0}};
  const struct {
    const char* label;
    Categories categories;
    Counts signal;
    int threshold;
    Verdict expected;
  } cases[] = {
      // Best adult (0.99998), runner-up white (the value adult replaced): score 99.
      {"above", whiteAdultGames, {1, 9, 0}, 98, {"adult", 99}},
      {"at", whiteAdultGames, {1, 9, 0}, 99, {"white", 99}},
      // With low confidence the less strict of best and runner-up wins.
      {"runner-up level 1", gamesAdultWhite, {1, 9, 0}, 99, {"games", 99}},
      // The first category stays best: no runner-up value, score 100, level 0 is "white".
      {"white best", whiteAdultGames, {9, 1, 0}, 50, {"white", 100}},
      // Levels of 1000 and above are never the low-confidence choice: nothing is stored.
      {"high levels above", highLevels, {1, 9}, 98, {"high", 99}},
      {"high levels at", highLevels, {1, 9}, 99, {"", -1}},
  };
  for (const auto& c : cases) {
    Write("pcdic.dat", SignalModel(c.categories, c.signal));
    Shared().dictionary_loaded = 0;
    m_filter.ReloadSharedData();
    EXPECT_EQ(Classify(kSignal + u" unknown", c.threshold), c.expected) << c.label;
  }
  // Label texts join the page text.
  EXPECT_EQ(Classify(u"nothing known here", 50, {u"sigone sigtwo", u"sigthree sigfour sigfive"}),
            (Verdict{"high", 99}));
}

TEST_F(BayesFilterTest, ProcessFailures) {
  Write("pcdic.dat", SignalModel({{u"white", 0, 0}, {u"adult", 3, 0}}, {1, 9}));
  m_filter.ReloadSharedData();
  ascommon::CBlackBox ext;
  AItem item(&ext);
  ascommon::CBlackBox& bb = item.GetBlackBox();
  // No page text at all: the blackbox's own exception.
  EXPECT_NE(WhatOf([&] { m_filter.Process(0, &item, 0); }).find("CODE: -501"), std::string::npos);
  // An empty page text: a trace line, nothing written, whatever the command.
  bb.SetUCharBuf(u"", field::kPageText, true);
  zztest::TraceCapture trace;
  for (std::uint32_t command : {0u, 35u, 7u}) {
    EXPECT_EQ(WhatOf([&] { m_filter.Process(0, &item, command); }), "(no exception)");
  }
  EXPECT_EQ(trace.Count("-[Parental Bayes] Bufferul html e NULL\n"), 3);
  EXPECT_EQ(bb.GetCount(), 1u);

  bb.SetUCharBuf(kSignal.c_str(), field::kPageText, true);
  EXPECT_EQ(WhatOf([&] { m_filter.Process(0, &item, 0); }),
            "ASException - MESSAGE: [Parental Bayes] Could not get threshold");
  EXPECT_EQ(WhatOf([&] { m_filter.Process(0, &item, 7); }),
            "ASException - MESSAGE: [Parental Bayes] Unknown command");
  // Training needs its category in bbext.
  EXPECT_NE(WhatOf([&] { m_filter.Process(0, &item, 35); }).find("CODE: -501"), std::string::npos);
  EXPECT_EQ(m_filter.GetLocker()->ReaderCount(), 0) << "the read-only lock leaked";
}

// ---- Training and the write-back -------------------------------------------------------------

TEST_F(BayesFilterTest, TrainingReachesTheFileWhenSharedDataGoes) {
  zztest::DictModel model;
  model.categories = {{u"white", 0, 0}, {u"spam", 3, 0}};
  model.words[u"cheap"] = {1, 0};
  Write("pcdic.dat", model);
  m_filter.ReloadSharedData();
  Train(u"Cheap cheap pills, cheap!", u"SPAM");
  Train(u"cheap lunch", u"white");
  Train(u"pills pills", u"nobody");  // an unknown category trains nothing
  EXPECT_EQ(zztest::ReadBytes(Path("pcdic.dat")), model.Bytes()) << "written only at the end";
  EXPECT_EQ(DestroyShared(true), "(no exception)");
  EXPECT_EQ(CountsInFile("pcdic.dat", u"cheap"), (Counts{2, 2}));
  EXPECT_EQ(CountsInFile("pcdic.dat", u"Cheap"), (Counts{0, 1}));
  EXPECT_EQ(CountsInFile("pcdic.dat", u"pills"), (Counts{0, 1}));

  // A write-back that fails raises nothing (the dictionary traces it), releases everything
  // and leaves the old file whole.
  DestroyShared(false);
  const std::string before = zztest::ReadBytes(Path("pcdic.dat"));
  const std::int64_t baseline = asfn_live_blocks();
  m_filter.SetSharedData(m_filter.CreateSharedData());
  m_filter.ReloadSharedData();
  Train(u"some words", u"white");
  zztest::TraceCapture trace;
  CBayesDictionary::SetWriteFaultHookForTesting(
      [](CBayesDictionary::EWriteStage, std::uint64_t) { return false; });
  const std::string what = DestroyShared(false);
  CBayesDictionary::SetWriteFaultHookForTesting(nullptr);
  EXPECT_EQ(what, "(no exception)");
  EXPECT_EQ(trace.Count("-Error writing to file!\n"), 1);
  EXPECT_EQ(asfn_live_blocks(), baseline) << "the block and the classifier are released";
  EXPECT_EQ(zztest::ReadBytes(Path("pcdic.dat")), before);
  m_filter.SetSharedData(m_filter.CreateSharedData());
}

// Each allocation of CreateSharedData fails in turn: the block itself gives null, the
// classifier an exception; nothing leaks either way.
TEST_F(BayesFilterTest, CreateSharedDataReleasesEverythingWhenMemoryRunsOut) {
  const std::int64_t baseline = asfn_live_blocks();
  void* shared = nullptr;
  for (std::uint64_t n = 1; shared == nullptr && n < 50; ++n) {
    asfn_fail_at(n, ASFN_FAIL_ONCE);
    const std::string what = WhatOf([&] { shared = m_filter.CreateSharedData(); });
    asfn_fail_at(0, ASFN_FAIL_OFF);
    EXPECT_EQ(what == "(no exception)", n == 1 || shared != nullptr) << n;
    if (shared == nullptr) {
      EXPECT_EQ(asfn_live_blocks(), baseline) << n;
    }
  }
  ASSERT_NE(shared, nullptr);
  m_filter.DestroySharedData(shared);
  EXPECT_EQ(asfn_live_blocks(), baseline);
}

// ---- Commands --------------------------------------------------------------------------------

TEST_F(BayesFilterTest, CommandFailures) {
  zztest::DictModel model;
  model.categories = {{u"white", 0, 0}};
  Write("pcdic.dat", model);
  m_filter.ReloadSharedData();
  const char16_t* names[] = {u"adult", u"games"};
  const char16_t* existing[] = {u"WHITE"};
  // Names that agree in the 128 units the file keeps would make a file that never loads.
  const std::u16string longA = std::u16string(128, u'x') + u"a", longB = std::u16string(128, u'X') + u"b";
  const char16_t* clashing[] = {longA.c_str(), longB.c_str()};
  const std::int32_t levels[] = {3, 1};
  const std::string missingFolder = (m_dir / "missing" / "out.txt").string();
  const auto categories = [&](const char16_t** list, std::size_t n) {
    return [=](ascommon::CBlackBox& p) {
      p.SetUCharBufArray(list, n, field::kParamCategoryNames, true);
      p.SetArray(levels, n, field::kParamCategoryLevels, true);
    };
  };
  const struct {
    std::uint32_t command;
    std::function<void(ascommon::CBlackBox&)> fill;
    std::string message;
  } cases[] = {
      {34, {}, "Categories name not found in blackbox"},
      {34, [&](auto& p) { p.SetArray(levels, 2, field::kParamCategoryNames, true); },
       "Wrong categories name object in bb"},
      {34, [&](auto& p) { p.SetUCharBufArray(names, 2, field::kParamCategoryNames, true); },
       "Categories level not found in blackbox"},
      {34, categories(existing, 1), "Problems inserting categories"},
      {34, categories(clashing, 2), "Problems inserting categories"},
      {36,
       [&](auto& p) { p.SetUCharBuf(Wide(missingFolder).c_str(), field::kParamPrintFile, true); },
       "Problems printing dictionary"},
      {38,
       [&](auto& p) {
         p.SetCharBuf(missingFolder.c_str(), field::kParamTextList, true);
         p.SetCharBuf((m_dir / "out.dat").string().c_str(), field::kParamDictionaryFile, true);
       },
       "Problems printing dictionary"},
      {39, [](auto& p) { p.SetInt(-1, field::kParamOccurrenceLimit, true); },
       "Invalid occurence limit value"},
      {40, {}, "Unknown command"},
  };
  zztest::TraceCapture trace;
  for (const auto& c : cases) {
    EXPECT_EQ(Command(c.command, c.fill), "ASException - MESSAGE: [Parental Bayes] " + c.message)
        << c.command << " " << c.message;
  }
  EXPECT_EQ(trace.Count("agrees with"), 1) << "the clash is named in the trace";
  EXPECT_EQ(Command(34, categories(clashing, 1)), "(no exception)") << "one long name is fine";
  EXPECT_EQ(Command(34, categories(clashing + 1, 1)),
            "ASException - MESSAGE: [Parental Bayes] Problems inserting categories");
  EXPECT_EQ(DestroyShared(true), "(no exception)");
  m_filter.ReloadSharedData();  // the file written reads back
  // A negative limit for 37 is raised without its trace line, and the dictionary stays open.
  trace.Clear();
  EXPECT_EQ(Command(37, [](auto& p) { p.SetInt(-1, field::kParamOccurrenceLimit, true); }),
            "ASException - MESSAGE: [Parental Bayes] Invalid occurence limit value");
  EXPECT_EQ(trace.Count("Invalid occurence limit value"), 0);
  // A prune whose write fails leaves no dictionary loaded.
  CBayesDictionary::SetWriteFaultHookForTesting(
      [](CBayesDictionary::EWriteStage, std::uint64_t) { return false; });
  EXPECT_EQ(Command(37, [](auto& p) { p.SetInt(1, field::kParamOccurrenceLimit, true); }),
            "ASException - CODE: -15 MESSAGE: [Parental Bayes] Dictionary not loaded");
  CBayesDictionary::SetWriteFaultHookForTesting(nullptr);
  EXPECT_EQ(Command(37, [](auto& p) { p.SetInt(0, field::kParamOccurrenceLimit, true); }),
            "(no exception)");
  EXPECT_EQ(Command(37, [](auto& p) { p.SetInt(0, field::kParamOccurrenceLimit, true); }),
            "ASException - MESSAGE: [Parental Bayes] Dictionary not loaded");
  // A null parameter bag reads as an empty one.
  EXPECT_EQ(WhatOf([&] { m_filter.ProcessCommand(0, 34, nullptr); }),
            "ASException - MESSAGE: [Parental Bayes] Categories name not found in blackbox");
}

// ---- Threads ---------------------------------------------------------------------------------

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
  std::thread first([&] { EXPECT_EQ(Classify(kSignal).category, "adult"); });
  std::thread second([&] { EXPECT_EQ(Classify(u"other words here").category, "white"); });
  first.join();
  second.join();
  ascommon::SetTracerForTesting(previous);
  EXPECT_FALSE(sink.TimedOut());
}

}  // namespace
