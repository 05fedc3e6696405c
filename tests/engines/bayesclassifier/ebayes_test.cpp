// The classifier: word extraction, ProcessCat's choice, training, opening and closing, and
// the whole engine against the simple reference classifier (reference_bayes.h) on random
// dictionaries, texts and training, which checks the window (order, tie rule, 0.5 values,
// unknown words filling free places) and the combination.
#include "engines/bayesclassifier/ebayes.h"

#include <gtest/gtest.h>

#include <random>

#include "asfn/asfn.h"
#include "bayes_files.h"
#include "reference_bayes.h"
#include "support/locale_scope.h"
#include "support/trace_capture.h"

namespace {

using nsEngineBayesClassifier::CBFilter;
using zztest::DictModel;
using zztest::Item;
using Counts = std::vector<std::uint32_t>;
using List = std::vector<std::u16string>;

List Words(const std::u16string& text, const char16_t* label = nullptr) {
  nsEngineBayesClassifier::CWordSplitter splitter(zztest::PageSeparators());
  List words;
  splitter.ForEachWord({text.c_str(), label},
                       [&](const char16_t* p, std::size_t n) { words.emplace_back(p, n); });
  return words;
}

TEST(BayesWordsTest, SplitsAtSeparatorsAndKeepsWordsWithALetter) {
  EXPECT_EQ(Words(u"Hi to the World!!"), (List{u"the", u"World"}));
  EXPECT_EQ(Words(u"abc 123 a1b 12345 x_yz 1-2-3"), (List{u"abc", u"a1b"}));
  EXPECT_EQ(Words(u"\t\r\n mail@host.com \"quoted\"<tag>"),
            (List{u"mail@host", u"com", u"quoted", u"tag"}));
  EXPECT_EQ(Words(u"two words no", u"T:"), (List{u"T:two", u"T:words"}));
  EXPECT_EQ(Words(std::u16string(u"cut here") + u'\0' + u"never"), (List{u"cut", u"here"}));
  EXPECT_EQ(Words(std::u16string(300, u'x')), List{std::u16string(128, u'x')});
  EXPECT_EQ(Words(std::u16string(200, u'y'), u"L:"), List{u"L:" + std::u16string(126, u'y')});
}

TEST(BayesProcessCatTest, PicksTheLastMaximumAndItsPredecessor) {
  struct Case {
    std::vector<double> p;
    std::uint32_t best, second;
    std::int32_t score;
  };
  const Case cases[] = {
      {{0.2, 0.9, 0.4}, 1, 0, 77},
      {{0.9, 0.1, 0.5}, 0, 0, 100},      // max2 stays 0.0
      {{0.0, 0.0, 0.0}, 2, 1, 0},        // ties go to the later category
      {{0.1, 0.5, 0.2, 0.8}, 3, 1, 37},  // max2 0.5 is the replaced maximum
  };
  for (const Case& c : cases) {
    ascommon::CArray<std::uint32_t> indexes;
    EXPECT_EQ(CBFilter::ProcessCat(c.p.data(), static_cast<std::uint32_t>(c.p.size()), indexes),
              c.score);
    EXPECT_EQ(indexes[0], c.best);
    EXPECT_EQ(indexes[1], c.second);
  }
}

class BayesFilterTest : public ::testing::Test {
 protected:
  // Categories white and spam; "tell00".."tell44" seen only in spam, "even00".. in both
  // alike; padded above 3000 words unless small.
  void OpenDictionary(bool small = false) {
    DictModel model;
    model.categories = {{u"white", 0, 0}, {u"spam", 3, 0}};
    for (int i = 0; i < 45; ++i)
      model.words[Numbered(u"tell", i)] = {0, 1}, model.words[Numbered(u"even", i)] = {4, 4};
    if (!small) zztest::AddNumberedWords(model, 3000, {1, 1});
    zztest::WriteBytes(path, model.Bytes());
    ASSERT_EQ(filter.OpenDictionary(path.c_str()), 0);
  }
  static std::u16string Numbered(const std::u16string& prefix, int i) {
    return prefix + char16_t(u'0' + i / 10) + char16_t(u'0' + i % 10);
  }
  static std::u16string Run(const std::u16string& prefix, int count) {
    std::u16string text;
    for (int i = 0; i < count; ++i) text += Numbered(prefix, i) + u' ';
    return text;
  }
  std::int32_t Classify(const std::u16string& text, List& names) {
    Item item;
    ascommon::CArray<CBFilter::CCategoryInfo> categories;
    ascommon::CArray<std::uint32_t> levels;
    std::int32_t score = -1;
    EXPECT_EQ(filter.GetPRobability(item.Text(text).Array(), score, categories, levels), 0);
    for (std::uint64_t i = 0; i < categories.GetSize(); ++i)
      names.push_back(categories[i].name.c_str());
    return score;
  }

  zztest::BayesDir dir;
  std::u16string path = dir / "pcdic.dat";
  CBFilter filter{zztest::PageSeparators()};
};

TEST_F(BayesFilterTest, NoWordsSmallOrClosedDictionaryAndNoMemory) {
  for (bool small : {false, true}) {
    OpenDictionary(small);
    List names;
    EXPECT_EQ(Classify(small ? Run(u"tell", 20) : u"a an 12 345 ?? x-y", names), 0);
    EXPECT_EQ(names, (List{u"spam", u"white"}));
    ASSERT_EQ(filter.CloseDictionary(path.c_str(), 0, 0), 0);
  }
  List names;  // closed: every word unknown, no categories
  EXPECT_EQ(Classify(u"some words here", names), 0);
  EXPECT_TRUE(names.empty());
  // The work buffers cannot be had: -10 and nothing written.
  OpenDictionary();
  Item item;
  const auto& texts = item.Text(u"some words").Array();
  ascommon::CArray<CBFilter::CCategoryInfo> categories;
  ascommon::CArray<std::uint32_t> levels;
  std::int32_t score = -1;
  asfn_fail_at(1, ASFN_FAIL_ONCE);
  EXPECT_EQ(filter.GetPRobability(texts, score, categories, levels), -10);
  asfn_fail_at(0, ASFN_FAIL_OFF);
  EXPECT_TRUE(score == -1 && categories.IsEmpty());
}

TEST_F(BayesFilterTest, TrainingCountsEveryWordAndTraces) {
  Item item;
  item.Text(u"hello hello tell01 ab").Text(u"subject", u"S:");
  EXPECT_EQ(filter.InsertItem(item.Array(), u"spam"), -352);  // closed
  OpenDictionary();
  auto& dictionary = filter.GetDictionary();
  {
    zztest::TraceCapture trace;
    ASSERT_EQ(filter.InsertItem(item.Array(), u"SPAM"), 0);
    std::vector<std::string> texts;
    for (const auto& line : trace.Lines())
      texts.push_back(line.text.substr(line.text.find(" -") + 2));
    EXPECT_EQ(texts, (std::vector<std::string>{"BEGINF\n", "LOCK dictionary: 0\n",
                                               "UNLOCK dictionary: 0\n"}));
  }
  EXPECT_EQ(zztest::CountsOf(dictionary, u"hello"), (Counts{0, 2}));
  EXPECT_EQ(zztest::CountsOf(dictionary, u"tell01"), (Counts{0, 2}));
  EXPECT_EQ(zztest::CountsOf(dictionary, u"S:subject"), (Counts{0, 1}));
  EXPECT_EQ(dictionary.GetCategoryTotal(1), 1u);
  // An unknown category fails every word (each traced) and changes nothing.
  zztest::TraceCapture trace;
  ASSERT_EQ(filter.InsertItem(item.Array(), u"ham"), 0);
  EXPECT_TRUE(
      trace.Lines().at(2).text.ends_with("Error inserting word 'hello' in dictionary: -12\n"));
  EXPECT_EQ(trace.Lines().size(), 7u);  // BEGINF, LOCK, 4 words, UNLOCK
  EXPECT_EQ(zztest::CountsOf(dictionary, u"hello"), (Counts{0, 2}));
  EXPECT_EQ(dictionary.GetCategoryTotal(0) + dictionary.GetCategoryTotal(1), 1u);
  // Reopening writes the training back first; an open dictionary is not opened again.
  EXPECT_EQ(filter.OpenDictionary((dir / "other.dat").c_str()), 0);
  ASSERT_EQ(filter.ReopenDictionary(path.c_str()), 0);
  EXPECT_EQ(zztest::CountsOf(filter.GetDictionary(), u"S:subject"), (Counts{0, 1}));
  EXPECT_EQ(dir.FileCount(), 1u);
}

// The engine and the reference agree on random dictionaries, texts and training, and the
// trained dictionary file is the reference's, byte for byte.
TEST_F(BayesFilterTest, MatchesTheReferenceOnRandomData) {
  // The reference tells letters by the C library's Unicode tables (iswalpha of C.UTF-8).
  zztest::LocaleScope locale("C.UTF-8");
  ASSERT_TRUE(locale.ok());
  std::mt19937 random(7);
  const std::u16string alphabet = u"abcdeXYZ019\u00e9\u0434";
  auto randomWord = [&](std::size_t minLength) {
    std::u16string word(minLength + random() % 6, u'a');
    for (char16_t& unit : word) unit = alphabet[random() % alphabet.size()];
    return word;
  };
  for (std::uint32_t k : {2u, 3u, 5u}) {
    zztest::ReferenceBayes reference;
    reference.separators = u" .,;\t";
    DictModel model;
    for (std::uint32_t c = 0; c < k; ++c) {
      reference.names.push_back(u"cat" + std::u16string(1, char16_t(u'a' + c)));
      reference.totals.push_back(c);
      model.categories.push_back({reference.names.back(), c, c});
    }
    while (reference.words.size() < 3200) {
      Counts counts(k);
      for (auto& n : counts) n = random() % 3 == 0 ? random() % 6 : 0;
      counts[random() % k] += 1 + random() % 3;
      reference.words[randomWord(1)] = counts;
    }
    model.words = reference.words;
    zztest::WriteBytes(path, model.Bytes());
    CBFilter engine(reference.separators.c_str());
    ASSERT_EQ(engine.OpenDictionary(path.c_str()), 0);
    List vocabulary;
    for (const auto& entry : reference.words) vocabulary.push_back(entry.first);

    for (int round = 0; round < 300; ++round) {
      std::vector<zztest::ReferenceBayes::Piece> pieces(1 + random() % 2);
      Item item;
      for (auto& piece : pieces) {
        for (int w = random() % 70; w > 0; --w) {
          piece.text +=
              random() % 4 == 0 ? randomWord(0) : vocabulary[random() % vocabulary.size()];
          piece.text += reference.separators[random() % 5];
        }
        piece.label = random() % 4 == 0 ? u"L" : u"";
        item.Text(piece.text, piece.label.empty() ? nullptr : piece.label.c_str());
      }
      if (round % 3 == 0) {  // a training round, the name in another case
        const std::size_t category = random() % k;
        std::u16string name = reference.names[category];
        name[0] = u'C';
        ASSERT_EQ(engine.InsertItem(item.Array(), name.c_str()), 0);
        reference.Train(pieces, category);
        continue;
      }
      const std::vector<double> expected = reference.Classify(pieces);
      std::vector<double> actual(k);
      ASSERT_EQ(engine.GetCategoryProbabilities(item.Array(), actual.data(), k),
                static_cast<std::int32_t>(k));
      for (std::uint32_t c = 0; c < k; ++c) EXPECT_DOUBLE_EQ(actual[c], expected[c]) << round;
      const auto choice = zztest::ReferenceBayes::Choose(expected);
      ascommon::CArray<CBFilter::CCategoryInfo> categories;
      ascommon::CArray<std::uint32_t> levels;
      std::int32_t score = -1;
      ASSERT_EQ(engine.GetPRobability(item.Array(), score, categories, levels), 0);
      EXPECT_EQ(score, choice.score) << round;
      EXPECT_EQ(categories[0].index, choice.best) << round;
      EXPECT_EQ(categories[1].index, choice.second) << round;
      EXPECT_EQ(levels[0], choice.best);  // levels equal indexes here
    }
    ASSERT_EQ(engine.CloseDictionary(path.c_str(), 0, 0), 0);
    model.words = reference.words;
    for (std::uint32_t c = 0; c < k; ++c) model.categories[c].total = reference.totals[c];
    EXPECT_EQ(zztest::ReadBytes(path), model.Bytes()) << k;
  }
}

}  // namespace
