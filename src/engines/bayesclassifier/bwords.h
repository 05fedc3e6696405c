// CBayesText, one piece of an item's input, and CWordSplitter, the word extraction that
// classification and training share.
//
// A text is cut at every unit of the separator set (runs of separators make no empty
// words); a token is a word when it has at least 3 units and at least one alphabetic
// character (a Unicode letter, ascommon::IsLetter; a surrogate pair is tested as its code
// point, whatever the process locale). A labelled text's words
// are the label followed directly by the token. Words are not lower-cased; they are
// handed out cut to CWordIndex::kMaxWordUnits, the longest word the dictionary keeps.
// Cost: O(text length), one bit test per unit; nothing is allocated (a token is handed
// out in place, a labelled word is assembled in a 128-unit buffer on the stack).
// Ownership: CBayesText points at the caller's texts (not owned; they must outlive the
// call that reads them). The splitter keeps a copy of its separator set as a bit map.
// Threads: a splitter is immutable after construction and safe for any number of threads.
// Tested by tests/engines/bayesclassifier/ebayes_test.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/strutils.h"
#include "engines/bayesclassifier/bwordindex.h"

namespace nsEngineBayesClassifier {

struct CBayesText {
  const char16_t* text = nullptr;   // Not owned; zero-terminated; null texts are skipped.
  const char16_t* label = nullptr;  // Not owned; zero-terminated; null = no label.
};

class CWordSplitter {
 public:
  static constexpr std::size_t kMinWordUnits = 3;
  static constexpr std::size_t kMaxWordUnits = CWordIndex::kMaxWordUnits;

  // pSeparators: zero-terminated set of separator units; null is an empty set.
  explicit CWordSplitter(const char16_t* pSeparators) noexcept {
    for (std::uint64_t& bits : m_separators) bits = 0;
    for (const char16_t* p = pSeparators; p != nullptr && *p != 0; ++p) {
      m_separators[*p >> 6] |= std::uint64_t{1} << (*p & 63);
    }
  }

  bool IsSeparator(char16_t unit) const noexcept {
    return (m_separators[unit >> 6] >> (unit & 63)) & 1;
  }
  // Whether the character at p (a zero-terminated text) is a letter.
  static bool IsAlphabetic(const char16_t* p) noexcept {
    if (p[0] >= 0xD800 && p[0] <= 0xDBFF && p[1] >= 0xDC00 && p[1] <= 0xDFFF) {
      return ascommon::IsLetter(0x10000 + ((char32_t{p[0]} - 0xD800) << 10) + (p[1] - 0xDC00));
    }
    return ascommon::IsLetter(p[0]);
  }

  // Calls visit(const char16_t* word, std::size_t length) for every word of the text, in
  // order. The word's units are valid only during the call.
  template <class Visitor>
  void ForEachWord(const CBayesText& input, Visitor&& visit) const {
    const char16_t* p = input.text;
    if (p == nullptr) return;
    std::size_t labelLength = 0;
    if (input.label != nullptr) {
      while (input.label[labelLength] != 0) ++labelLength;
      if (labelLength > kMaxWordUnits) labelLength = kMaxWordUnits;
    }
    char16_t labelled[kMaxWordUnits];
    for (std::size_t i = 0; i < labelLength; ++i) labelled[i] = input.label[i];

    for (;;) {
      while (*p != 0 && IsSeparator(*p)) ++p;
      if (*p == 0) return;
      const char16_t* start = p;
      bool alphabetic = false;
      for (; *p != 0 && !IsSeparator(*p); ++p) alphabetic = alphabetic || IsAlphabetic(p);
      const std::size_t length = static_cast<std::size_t>(p - start);
      if (length < kMinWordUnits || !alphabetic) continue;
      if (input.label == nullptr) {
        visit(start, length < kMaxWordUnits ? length : kMaxWordUnits);
        continue;
      }
      std::size_t total = labelLength;
      for (std::size_t i = 0; i < length && total < kMaxWordUnits; ++i)
        labelled[total++] = start[i];
      visit(static_cast<const char16_t*>(labelled), total);
    }
  }

 private:
  std::uint64_t m_separators[65536 / 64];  // one bit per UTF-16 unit
};

}  // namespace nsEngineBayesClassifier
