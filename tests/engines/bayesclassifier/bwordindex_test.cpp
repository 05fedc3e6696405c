// The word index against a std::map: lookups, counts and the ascending order after a
// sorted load, random inserts, inserts between listings (sort the tail, merge) and a
// widening that moves every record.
#include "engines/bayesclassifier/bwordindex.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using nsEngineBayesClassifier::CWordIndex;

TEST(BayesWordIndexTest, AgreesWithAMapUnderRandomInsertsAndListings) {
  std::mt19937 random(11);
  CWordIndex index;
  ASSERT_TRUE(index.SetColumns(2));
  std::map<std::u16string, std::uint32_t> model;
  auto insert = [&](const std::u16string& word) {
    bool created = false;
    const std::int64_t node = index.InsertOrFind(word.data(), word.size(), &created);
    ASSERT_GE(node, 0);
    EXPECT_EQ(created, model.count(word) == 0) << std::string(word.begin(), word.end());
    ++index.Counts(static_cast<std::uint32_t>(node))[1];
    ++model[word];
  };
  for (int i = 10000; i < 15000; ++i) {  // sorted first, as a file arrives
    const std::string digits = std::to_string(i);
    insert(u"a" + std::u16string(digits.begin(), digits.end()));
  }
  for (int round = 0; round < 6; ++round) {
    if (round == 3) {
      ASSERT_TRUE(index.WidenColumns(2));  // every record moves
    }
    for (int i = 0; i < 4000; ++i) {  // short words over a few units, some above 0xFF00
      std::u16string word(random() % 7, u'a');
      for (char16_t& unit : word)
        unit = char16_t(random() % 3 == 0 ? 0xFF00 + random() % 4 : u'a' + random() % 4);
      insert(word);
    }
    std::vector<std::u16string> listed;
    index.ForEachInOrder([&](std::uint32_t node) {
      std::size_t length = 0;
      const char16_t* word = index.Word(node, &length);
      listed.emplace_back(word, length);
      EXPECT_EQ(index.Find(word, length), node);
      EXPECT_EQ(index.Counts(node)[1], model[listed.back()]);
      EXPECT_EQ(index.GetColumns() == 4 ? index.Counts(node)[3] : 0u, 0u);
    });
    std::vector<std::u16string> expected;
    for (const auto& entry : model) expected.push_back(entry.first);
    ASSERT_EQ(listed, expected) << round;
  }
  EXPECT_EQ(index.Find(u"zzzz", 4), CWordIndex::kNotFound);
  EXPECT_EQ(index.GetSize(), model.size());
}

}  // namespace
