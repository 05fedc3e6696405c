// The Bayes dictionary: the file format byte for byte, occurrence limits, the probability
// rules, categories, malformed files, interrupted writes and conversion from a text list. The
// printed summary, truncated files and allocation failures run through the module (tests/host/).
#include "engines/bayesclassifier/bdictionary.h"

#include <gtest/gtest.h>


#include "bayes_files.h"
#include "engines/bayesclassifier/ebayes.h"

namespace {

using nsEngineBayesClassifier::CBayesDictionary;
using zztest::DictModel;
using Counts = std::vector<std::uint32_t>;
using Stage = CBayesDictionary::EWriteStage;

class BayesDictionaryTest : public ::testing::Test {
 protected:
  void TearDown() override { CBayesDictionary::SetWriteFaultHookForTesting(nullptr); }

  std::int32_t Load(const DictModel& model) {
    zztest::WriteBytes(path, model.Bytes());
    return dict.Open(path.c_str());
  }
  std::int32_t Train(const std::u16string& word, std::uint32_t category) {
    return dict.InsertWord(word.data(), word.size(), category);
  }
  std::vector<double> Probabilities(const std::u16string& word) {
    std::vector<double> out(dict.GetCategoryCount(), -1.0);
    EXPECT_EQ(dict.GetWordProbabilities(word.data(), word.size(), out.data()), 0);
    return out;
  }
  static DictModel ThreeCategories() {
    DictModel model;
    model.categories = {{u"white", 0, 10}, {u"adult", 3, 20}, {u"teens", 2, 30}};
    return model;
  }

  zztest::BayesDir dir;
  std::u16string path = dir / "pcdic.dat";
  CBayesDictionary dict;
};

TEST_F(BayesDictionaryTest, RoundTripIsByteExactInWordOrder) {
  DictModel model = ThreeCategories();
  model.words = {{u"Zeta", {1, 0, 0}},       {u"alpha", {0, 2, 1}},     {u"alphabet", {5, 5, 5}},
                 {u"\u00e9t\u00e9", {0, 0, 7}}, {u"\uffefmax", {1, 1, 1}}};
  ASSERT_EQ(Load(model), 0);
  CBayesDictionary::SetWriteFaultHookForTesting([](Stage, std::uint64_t) { return false; });
  EXPECT_EQ(dict.Close(path.c_str(), 0, 0), 0) << "unchanged, no limit: nothing written";
  CBayesDictionary::SetWriteFaultHookForTesting(nullptr);
  ASSERT_EQ(Load(model), 0);
  for (const char16_t* word : {u"mid", u"Alpha", u"alpha", u"zz", u"alpha", u"a"}) {
    ASSERT_EQ(Train(word, 2), 0);
    model.words[word].resize(3);
    ++model.words[word][2];
  }
  ASSERT_EQ(dict.AddCategoryItems(0, 4), 0);
  model.categories[0].total += 4;
  ASSERT_EQ(dict.Close(path.c_str(), 0, 0), 0);
  EXPECT_EQ(zztest::ReadBytes(path), model.Bytes());
  EXPECT_EQ(dir.FileCount(), 1u);  // no temporary left
  ASSERT_EQ(dict.Open(path.c_str()), 0);
  EXPECT_EQ(zztest::CountsOf(dict, u"alpha"), (Counts{0, 2, 3}));
}

TEST_F(BayesDictionaryTest, OccurrenceLimitsApplyOnlyWhenWriting) {
  const struct { std::int32_t limit, mode; std::vector<std::u16string> kept; } cases[] = {
      {0, 0, {u"one", u"pair", u"spread", u"three", u"two"}},  // only the all-zero word goes
      {2, 0, {u"spread", u"three"}},
      {2, 1, {u"pair", u"spread", u"three", u"zero"}},  // (1,1,0) stays, (0,2,0) goes
  };
  DictModel model = ThreeCategories();
  model.words = {{u"zero", {0, 0, 0}}, {u"one", {0, 1, 0}},   {u"two", {0, 2, 0}},
                 {u"pair", {1, 1, 0}}, {u"three", {0, 0, 2}}, {u"spread", {4, 0, 9}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.limit * 10 + c.mode);
    ASSERT_EQ(Load(model), 0);
    ASSERT_EQ(Train(u"three", 2), 0);  // a change, so even limit 0 writes
    EXPECT_EQ(zztest::CountsOf(dict, u"zero"), (Counts{0, 0, 0}));  // still in memory
    ASSERT_EQ(dict.Close(path.c_str(), c.limit, c.mode), 0);
    ASSERT_EQ(dict.Open(path.c_str()), 0);
    std::vector<std::u16string> kept;
    for (const auto& entry : model.words)
      if (!zztest::CountsOf(dict, entry.first).empty()) kept.push_back(entry.first);
    EXPECT_EQ(kept, c.kept);
    EXPECT_EQ(dict.GetWordCount(), c.kept.size());
    dict.Close(path.c_str(), 0, 0);
  }
}

TEST_F(BayesDictionaryTest, ProbabilitiesNeedMoreThan3000Words) {
  DictModel model = ThreeCategories();
  model.words = {{u"only1", {0, 5, 0}}, {u"mixed", {3, 1, 0}}};
  zztest::AddNumberedWords(model, 2998, {1, 1, 1});
  ASSERT_EQ(Load(model), 0);
  EXPECT_EQ(Probabilities(u"unknown"), std::vector<double>(3, 0.005));
  ASSERT_EQ(Train(u"fresh", 0), 0);  // the 3001st word
  EXPECT_EQ(Probabilities(u"only1"), (std::vector<double>{2.0, 5 / (5 + 0.02), 2.0}));
  EXPECT_EQ(Probabilities(u"mixed"), (std::vector<double>{0.75, 0.25, 2.0}));
  EXPECT_EQ(Probabilities(u"MIXED"), std::vector<double>(3, 2.0));  // case-sensitive, unknown
}

TEST_F(BayesDictionaryTest, CategoriesByNameAndIndex) {
  DictModel model = ThreeCategories();
  model.categories[1].name = u"AduLT";
  model.words[u"word"] = {1, 2, 3};
  ASSERT_EQ(Load(model), 0);
  EXPECT_EQ(dict.GetCategoryIndex(u"ADULT"), 1);
  EXPECT_EQ(dict.GetCategoryIndex(u"nope"), -1);
  EXPECT_EQ(Train(u"word", 3), -12);
  // Repeated names are refused and change nothing (names cut to the same 128 units, and
  // present names: tests/host/bayes_commands_test.cpp).
  EXPECT_EQ(zztest::AddCategories(dict, {{u"kidz", 1}, {u"KIDZ", 0}}), -12);
  const std::u16string longName(200, u'n');
  ASSERT_EQ(zztest::AddCategories(dict, {{u"Kidz", 1}, {longName, 7}}), 0);
  EXPECT_EQ(zztest::AddCategories(dict, {{std::u16string(128, u'N') + u"other", 1}}), -12);
  ASSERT_EQ(dict.Close(path.c_str(), 0, 0), 0);
  model.categories[1].name = u"adult";
  model.categories.push_back({u"kidz", 1, 0});
  model.categories.push_back({longName.substr(0, 128), 7, 0});  // cut when written
  model.words[u"word"] = {1, 2, 3, 0, 0};
  EXPECT_EQ(zztest::ReadBytes(path), model.Bytes());
  EXPECT_EQ(zztest::AddCategories(dict, {{u"x", 1}}), -352) << "closed";
}

TEST_F(BayesDictionaryTest, MalformedFilesAreRejected) {
  auto patched = [](std::string bytes, std::size_t at, std::uint32_t value) {
    std::string field;
    zztest::PutU32(field, value);
    return bytes.replace(at, 4, field);
  };
  DictModel model = ThreeCategories();
  model.words[u"abc"] = {1, 2, 3};
  const std::string bytes = model.Bytes();
  DictModel twins = ThreeCategories();
  twins.categories[2].name = u"WHITE";
  const std::pair<std::string, std::int32_t> cases[] = {
      {patched(bytes, 4, 0xFFFFFFFF), -14},           // more categories than bytes
      {patched(bytes, 12, 129), -14},                 // name longer than 128
      {patched(bytes, bytes.size() - 22, 129), -14},  // word longer than 128
      {twins.Bytes(), -12},                           // two categories of one name
      {patched(bytes, 0, 0xFFFFFFFF), 0},             // more words announced than held
  };
  for (const auto& [file, status] : cases) {
    zztest::WriteBytes(path, file);
    EXPECT_EQ(dict.Open(path.c_str()), status);
    dict.Close(path.c_str(), 0, 0);
  }
  EXPECT_EQ(dict.Open(nullptr), -13);
  EXPECT_EQ(dict.Open((dir / "no/such/folder/x.dat").c_str()), -16);
}

// A write that stops anywhere leaves the previous dictionary as it was (the new file is
// written aside and renamed over the old one).
TEST_F(BayesDictionaryTest, FailedWriteKeepsThePreviousFile) {
  DictModel model = ThreeCategories();
  zztest::AddNumberedWords(model, 300, {1, 2, 3});
  static std::pair<Stage, std::uint64_t> s_failAt;
  CBayesDictionary::SetWriteFaultHookForTesting([](Stage stage, std::uint64_t written) {
    return std::make_pair(stage, written) != s_failAt;
  });
  for (const auto& [stage, at, status] :
       {std::tuple{Stage::Header, 0, -15}, std::tuple{Stage::Word, 150, -14},
        std::tuple{Stage::Replace, 301, -15}}) {
    s_failAt = {stage, at};
    ASSERT_EQ(Load(model), 0);
    ASSERT_EQ(Train(u"brandnew", 0), 0);
    EXPECT_EQ(dict.Close(path.c_str(), 0, 0), status);
    EXPECT_EQ(zztest::ReadBytes(path), model.Bytes());
    EXPECT_EQ(dir.FileCount(), 1u);
  }
}


// The fixed header of a converted list: tests/host/bayes_commands_test.cpp.
TEST_F(BayesDictionaryTest, ConvertReadsEveryLineForm) {
  const std::u16string text = dir / "words.txt", out = dir / "bayescsf.dat";
  zztest::WriteBytes(text, "school,40,2,70\r\n\ncaf\xc3\xa9;3;4\nlat\xe9;1;1;1\n" +
                               std::string(130, 'w') + ";0;0;1\n");
  ASSERT_EQ(CBayesDictionary::Convert(text.c_str(), out.c_str()), 0);
  ASSERT_EQ(dict.Open(out.c_str()), 0);  // 10000 announced, 4 read
  EXPECT_EQ(dict.GetWordCount(), 4u);
  for (const auto& [word, counts] :
       {std::pair<std::u16string, Counts>{u"school", {40, 2, 70}}, {u"caf\u00e9", {3, 4, 0}},
        {u"lat\u00e9", {1, 1, 1}}, {std::u16string(128, u'w'), {0, 0, 1}}})
    EXPECT_EQ(zztest::CountsOf(dict, word), counts);
  EXPECT_EQ(CBayesDictionary::Convert((dir / "missing.txt").c_str(), out.c_str()), -16);
}

}  // namespace
