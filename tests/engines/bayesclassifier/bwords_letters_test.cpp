// Word splitting tells letters by Unicode: pages in Cyrillic, Greek, Chinese and Arabic give
// words whatever the process locale (the tests run in "C").
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engines/bayesclassifier/bwords.h"

namespace {

using List = std::vector<std::u16string>;

TEST(BayesWordsTest, UnicodeLettersMakeWordsInAnyLocale) {
  const nsEngineBayesClassifier::CWordSplitter splitter(u" ,.");
  const struct {
    std::u16string text;
    List words;
  } cases[] = {
      {u"Жук, книга. Σοφία καλή", {u"Жук", u"книга", u"Σοφία", u"καλή"}},
      {u"漢字文化 中文 كتاب جميل", {u"漢字文化", u"كتاب", u"جميل"}},  // Two units are no word.
      // Digits and symbols of any script are no letters; a pair is tested as its code point.
      {u"١٢٣ ×÷× 123 \U00020000\U00020001 \U0001F600\U0001F600", {u"\U00020000\U00020001"}},
  };
  for (const auto& c : cases) {
    List words;
    splitter.ForEachWord({c.text.c_str(), nullptr},
                         [&](const char16_t* p, std::size_t n) { words.emplace_back(p, n); });
    EXPECT_EQ(words, c.words);
  }
}

}  // namespace
