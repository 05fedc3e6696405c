// CBFilter: the Bayesian page classifier. It owns one CBayesDictionary, splits an item's
// texts into words (bwords.h), combines the words' category probabilities through a
// 40-value window per category (bwindow.h) into one probability per category, and picks
// the best category with a confidence score from 0 to 100. It also trains the dictionary
// with the words of an item of known category.
//
// Threads: one reader-writer lock inside (ascommon::shared_locker) in place of a plain
// critical section around training. GetPRobability holds it read-only, so any number of
// classifications run in parallel; InsertItem holds it exclusively (this is the training
// critical section: trainings never interleave, so no count is lost, and no
// classification sees a half-made word), as do opening, closing, category changes and
// printing. ConvertDictionary and ProcessCat touch no shared state. The lock order is
// the filter's own locker first, then this one; nothing here calls out while holding it.
// Ownership: the dictionary is owned; input texts and output arrays are the caller's.
// Tested by tests/engines/bayesclassifier/ebayes_test.cpp and ebayes_thread_test.cpp.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "common/array.h"
#include "common/asmemory.h"
#include "common/shared_locker.h"
#include "common/ustring.h"
#include "engines/bayesclassifier/bdictionary.h"
#include "engines/bayesclassifier/bwords.h"

namespace nsEngineBayesClassifier {

class CBFilter : public ascommon::CASAllocated {
 public:
  using CCategoryInfo = CBayesDictionary::CCategoryInfo;

  // pSeparators: the separator set (zero-terminated; copied, so it need not outlive the
  // classifier). Throws ASMemException "Memory allocation creating the dictionary" when
  // the dictionary cannot be made.
  explicit CBFilter(const char16_t* pSeparators);
  ~CBFilter();
  CBFilter(const CBFilter&) = delete;
  CBFilter& operator=(const CBFilter&) = delete;

  // 0 at once when open; else the dictionary's Open status (flag set on success).
  std::int32_t OpenDictionary(const char16_t* pPath);
  // When open: the dictionary's Close status (flag cleared on success). 0 when closed.
  std::int32_t CloseDictionary(const char16_t* pPath, std::int32_t limit, std::int32_t mode);
  // Closes an open dictionary to pPath with limit 0, mode 0 (a failure is returned and
  // nothing is opened), then opens pPath.
  std::int32_t ReopenDictionary(const char16_t* pPath);
  bool IsDictionaryOpen() const noexcept {
    return m_dictionaryOpen.load(std::memory_order_acquire);
  }

  std::int32_t InsertCategories(const ascommon::CArray<ascommon::usstring>& names,
                                const ascommon::CArray<std::int32_t>& levels);
  // The dictionary's summary with every word. bPlainFile: a plain file opened "w" (-16
  // when it cannot be opened, -12 when printing fails); otherwise a standard output stream
  // on the path (-16 when it cannot be opened or written). 8-bit paths are read as UTF-8,
  // or through the C locale when they are not valid UTF-8.
  std::int32_t PrintDictionary(const char16_t* pPath, bool bPlainFile);
  std::int32_t PrintDictionary(const char* pPath, bool bPlainFile);
  // CBayesDictionary::Convert on the two paths.
  static std::int32_t ConvertDictionary(const char16_t* pTextPath, const char16_t* pDictionaryPath);
  static std::int32_t ConvertDictionary(const char* pTextPath, const char* pDictionaryPath);

  // Classifies the texts: the score into score, the best category then the runner-up
  // appended (when they exist) to categories and their levels to levels. 0, or -10 when
  // the work buffers cannot be allocated (outputs untouched). A closed dictionary makes
  // every word unknown and has no categories (score 0, nothing appended).
  // O(words * (length + categories * log 40)); one allocation per call.
  std::int32_t GetPRobability(const ascommon::CArray<CBayesText>& texts, std::int32_t& score,
                              ascommon::CArray<CCategoryInfo>& categories,
                              ascommon::CArray<std::uint32_t>& levels);

  // The combined probability of every category for the texts (the values GetPRobability
  // chooses from) into pOut. Returns the number of categories, -1 when capacity is
  // smaller, or -10.
  std::int32_t GetCategoryProbabilities(const ascommon::CArray<CBayesText>& texts, double* pOut,
                                        std::uint32_t capacity);

  // Picks the category among count probabilities: appends best, then "second" (the index
  // the best replaced last, 0 when p[0] stays the maximum) and returns the score
  // trunc((max - max2) * 100 / max), 0 when max equals max2. Ties go to the later index.
  static std::int32_t ProcessCat(const double* pProbabilities, std::uint32_t count,
                                 ascommon::CArray<std::uint32_t>& indexes);

  // Trains: one occurrence per word (repeats count each time) for the category of that
  // name (case-insensitive) and one item for that category. Returns the dictionary's lock
  // or unlock status; failed words are traced and skipped (an unknown name fails them all).
  std::int32_t InsertItem(const ascommon::CArray<CBayesText>& texts, const char16_t* pCategory);

  // The dictionary, for tools and tests that run without concurrent callers.
  CBayesDictionary& GetDictionary() noexcept { return *m_pDictionary; }

 private:
  struct CCatChoice {
    std::int32_t score;
    std::uint32_t best;
    std::uint32_t second;
  };
  static CCatChoice ChooseCategory(const double* pProbabilities, std::uint32_t count);
  // Work block of Combine for count categories (null on failure; as_free it).
  static double* NewWorkBlock(std::uint32_t count) noexcept;
  // Fills the windows from the texts' words and returns the count combined probabilities
  // (inside pBlock). The caller holds the lock at least read-only.
  const double* Combine(const ascommon::CArray<CBayesText>& texts, std::uint32_t count,
                        double* pBlock) const;
  std::int32_t OpenLocked(const char16_t* pPath);

  CBayesDictionary* m_pDictionary = nullptr;  // Owned.
  CWordSplitter m_splitter;
  std::atomic<bool> m_dictionaryOpen{false};
  ascommon::shared_locker m_lock;  // read-only: classification; exclusive: everything else
};

}  // namespace nsEngineBayesClassifier
