// The Bayes dictionary: the file format byte for byte, occurrence limits, the probability
// rules, categories, damaged files, interrupted writes and conversion from a text list. The
// printed summary and allocation failures run through the module (tests/host/).
#include "engines/bayesclassifier/bdictionary.h"

#include <gtest/gtest.h>

#include <sstream>

#include "bayes_files.h"
#include "engines/bayesclassifier/ebayes.h"
#include "support/trace_capture.h"

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

TEST_F(BayesDictionaryTest, MissingFileIsCreatedEmptyAndUsable) {
  ASSERT_EQ(dict.Open(path.c_str()), 0);
  EXPECT_EQ(zztest::ReadBytes(path), std::string(8, '\0'));
  EXPECT_EQ(dict.Open(path.c_str()), -351) << "already open";
  ASSERT_EQ(zztest::AddCategories(dict, {{u"White", 0}, {u"Adult", 3}}), 0);
  ASSERT_EQ(Train(u"hello", 1), 0);
  ASSERT_EQ(dict.Close(path.c_str(), 0, 0), 0);
  DictModel expected;
  expected.categories = {{u"white", 0, 0}, {u"adult", 3, 0}};
  expected.words[u"hello"] = {0, 1};
  EXPECT_EQ(zztest::ReadBytes(path), expected.Bytes());
}

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
  EXPECT_EQ(dict.GetWordCount(), 9u);
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
      {0, 1, {u"one", u"pair", u"spread", u"three", u"two", u"zero"}},
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
  EXPECT_EQ(Probabilities(u"only1"), std::vector<double>(3, 0.005));
  EXPECT_EQ(Probabilities(u"unknown"), std::vector<double>(3, 0.005));
  ASSERT_EQ(Train(u"fresh", 0), 0);  // the 3001st word
  EXPECT_EQ(Probabilities(u"only1"), (std::vector<double>{2.0, 5 / (5 + 0.02), 2.0}));
  EXPECT_EQ(Probabilities(u"mixed"), (std::vector<double>{0.75, 0.25, 2.0}));
  EXPECT_EQ(Probabilities(u"unknown"), std::vector<double>(3, 2.0));
  EXPECT_EQ(Probabilities(u"MIXED"), std::vector<double>(3, 2.0));  // case-sensitive
}

TEST_F(BayesDictionaryTest, CategoriesByNameAndIndex) {
  DictModel model = ThreeCategories();
  model.categories[1].name = u"AduLT";
  model.words[u"word"] = {1, 2, 3};
  ASSERT_EQ(Load(model), 0);
  EXPECT_EQ(dict.GetCategoryIndex(u"ADULT"), 1);
  EXPECT_EQ(dict.GetCategoryIndex(u"nope"), -1);
  EXPECT_EQ(Train(u"word", 3), -12);
  // Present or repeated names are refused and change nothing.
  EXPECT_EQ(zztest::AddCategories(dict, {{u"kidz", 1}, {u"White", 0}}), -12);
  EXPECT_EQ(zztest::AddCategories(dict, {{u"kidz", 1}, {u"KIDZ", 0}}), -12);
  const std::u16string longName(200, u'n');
  ASSERT_EQ(zztest::AddCategories(dict, {{u"Kidz", 1}, {longName, 7}}), 0);
  // The file keeps 128 units of a name: names agreeing there are refused, against the
  // dictionary's and against each other, since the file could not be read back.
  zztest::TraceCapture trace;
  EXPECT_EQ(zztest::AddCategories(dict, {{std::u16string(128, u'N') + u"other", 1}}), -12);
  EXPECT_EQ(zztest::AddCategories(dict, {{std::u16string(128, u'm') + u"1", 1},
                                         {std::u16string(128, u'm') + u"2", 1}}), -12);
  EXPECT_EQ(trace.Count("in its first 128 characters"), 2);
  ASSERT_EQ(dict.Close(path.c_str(), 0, 0), 0);
  model.categories[1].name = u"adult";
  model.categories.push_back({u"kidz", 1, 0});
  model.categories.push_back({longName.substr(0, 128), 7, 0});  // cut when written
  model.words[u"word"] = {1, 2, 3, 0, 0};
  EXPECT_EQ(zztest::ReadBytes(path), model.Bytes());
  EXPECT_EQ(zztest::AddCategories(dict, {{u"x", 1}}), -352) << "closed";
}

// Every prefix of a valid file: inside the header, a category or the totals it is -14;
// at the end of a word record it is a shorter dictionary; inside a record it is -14.
TEST_F(BayesDictionaryTest, TruncatedFilesFailOrEndAtARecord) {
  DictModel model = ThreeCategories();
  model.words = {{u"abc", {1, 0, 0}}, {u"de", {0, 1, 0}}};
  const std::string bytes = model.Bytes();
  const std::size_t header = 8 + 3 * 8 + 15 * 2 + 3 * 4, first = header + 4 + 6 + 12;
  for (std::size_t size = 0; size <= bytes.size(); ++size) {
    zztest::WriteBytes(path, bytes.substr(0, size));
    const bool whole = size == header || size == first || size == bytes.size();
    ASSERT_EQ(dict.Open(path.c_str()), whole ? 0 : -14) << size;
    EXPECT_EQ(dict.GetWordCount(), !whole || size == header ? 0u : size == first ? 1u : 2u);
    dict.Close(path.c_str(), 0, 0);
  }
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

TEST_F(BayesDictionaryTest, ConvertBuildsTheFixedHeaderFromATextList) {
  const std::u16string text = dir / "words.txt", out = dir / "bayescsf.dat";
  const std::string longWord(130, 'w');  // written as its first 128 units: readable
  zztest::WriteBytes(text, "sex;1;900;0\nschool,40,2,70\r\n\ncaf\xc3\xa9;3;4\nlat\xe9;1;1;1\n" +
                               longWord + ";0;0;1\n");
  ASSERT_EQ(CBayesDictionary::Convert(text.c_str(), out.c_str()), 0);
  DictModel expected;
  expected.categories = {{u"teens", 2, 250000}, {u"adult", 3, 250000}, {u"kidz", 1, 250000}};
  expected.headerWords = 10000;
  std::string bytes = expected.Bytes();  // then the records in line order
  for (const auto& [word, counts] :
       {std::pair<std::u16string, Counts>{u"sex", {1, 900, 0}}, {u"school", {40, 2, 70}},
        {u"caf\u00e9", {3, 4, 0}}, {u"lat\u00e9", {1, 1, 1}}, {std::u16string(128, u'w'), {0, 0, 1}}}) {
    zztest::PutText(bytes, word);
    for (std::uint32_t n : counts) zztest::PutU32(bytes, n);
  }
  EXPECT_EQ(zztest::ReadBytes(out), bytes);
  ASSERT_EQ(dict.Open(out.c_str()), 0);  // 10000 announced, 5 read
  EXPECT_EQ(dict.GetWordCount(), 5u);
  EXPECT_EQ(CBayesDictionary::Convert((dir / "missing.txt").c_str(), out.c_str()), -16);
}

}  // namespace
