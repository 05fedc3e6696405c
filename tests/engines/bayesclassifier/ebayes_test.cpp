// The classifier: word extraction, training, opening and closing, and the whole engine
// against the simple reference classifier (reference_bayes.h) on random dictionaries, texts
// and training, which checks the window (order, tie rule, 0.5 values, unknown words filling
// free places), the combination and the choice of best and runner-up.
#include "engines/bayesclassifier/ebayes.h"

#include <gtest/gtest.h>

#include <random>

#include "bayes_files.h"
#include "reference_bayes.h"
#include "support/locale_scope.h"

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

// Letters are told by Unicode whatever the process locale (the tests run in "C"): pages in
// Cyrillic, Greek, Chinese and Arabic give words.
TEST(BayesWordsTest, SplitsAtSeparatorsAndKeepsWordsWithALetter) {
  const struct { std::u16string text; const char16_t* label; List words; } cases[] = {
      {u"Hi to the World!!", nullptr, {u"the", u"World"}},
      {u"abc 123 a1b 12345 x_yz 1-2-3", nullptr, {u"abc", u"a1b"}},
      {u"\t\r\n mail@host.com \"quoted\"<tag>", nullptr, {u"mail@host", u"com", u"quoted", u"tag"}},
      {std::u16string(u"cut here") + u'\0' + u"never", nullptr, {u"cut", u"here"}},
      {std::u16string(300, u'x'), nullptr, {std::u16string(128, u'x')}},
      {std::u16string(200, u'y'), u"L:", {u"L:" + std::u16string(126, u'y')}},
      {u"Жук, книга. Σοφία καλή", nullptr, {u"Жук", u"книга", u"Σοφία", u"καλή"}},
      {u"漢字文化 中文 كتاب جميل", nullptr, {u"漢字文化", u"كتاب", u"جميل"}},  // two units: no word
      // Digits and symbols of any script are no letters; a pair is tested as its code point.
      {u"١٢٣ ×÷× 123 \U00020000\U00020001 \U0001F600\U0001F600", nullptr, {u"\U00020000\U00020001"}},
  };
  for (const auto& c : cases) EXPECT_EQ(Words(c.text, c.label), c.words);
}

class BayesFilterTest : public ::testing::Test {
 protected:
  // Categories white and spam; "tell01" seen once in spam.
  void OpenDictionary() {
    DictModel model;
    model.categories = {{u"white", 0, 0}, {u"spam", 3, 0}};
    model.words[u"tell01"] = {0, 1};
    zztest::WriteBytes(path, model.Bytes());
    ASSERT_EQ(filter.OpenDictionary(path.c_str()), 0);
  }

  zztest::BayesDir dir;
  std::u16string path = dir / "pcdic.dat";
  CBFilter filter{zztest::PageSeparators()};
};

TEST_F(BayesFilterTest, TrainingCountsEveryWordAndTraces) {
  Item item;
  item.Text(u"hello hello tell01 ab").Text(u"subject", u"S:");
  EXPECT_EQ(filter.InsertItem(item.Array(), u"spam"), -352);  // closed
  OpenDictionary();
  auto& dictionary = filter.GetDictionary();
  ASSERT_EQ(filter.InsertItem(item.Array(), u"SPAM"), 0);  // counts: the reference comparison
  ASSERT_EQ(filter.InsertItem(item.Array(), u"ham"), 0);  // unknown: changes nothing
  EXPECT_EQ(zztest::CountsOf(dictionary, u"hello"), (Counts{0, 2}));
  EXPECT_EQ(dictionary.GetCategoryTotal(0) + dictionary.GetCategoryTotal(1), 1u);
  // Reopening writes the training back first; an open dictionary is not opened again.
  EXPECT_EQ(filter.OpenDictionary((dir / "other.dat").c_str()), 0);
  ASSERT_EQ(filter.ReopenDictionary(path.c_str()), 0);
  EXPECT_EQ(zztest::CountsOf(filter.GetDictionary(), u"S:subject"), (Counts{0, 1}));
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
