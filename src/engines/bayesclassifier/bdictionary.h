// CBayesDictionary: the word statistics of the Bayesian page classifier. Categories (name,
// level, item total) and, for every known word, how often it was seen in items of each
// category. The whole dictionary file is read into memory by Open, changed in memory by
// training and category commands, and written back by Close.
//
// File format: bdictionary_format.h and docs/bayes_dictionary_format.md. Close writes the
// new file beside the old one under a temporary name and renames it over the old one, so
// a failed or interrupted write leaves the previous dictionary whole (a stale "bdc*.tmp"
// may then remain beside it).
// Words are kept in a CWordIndex (bwordindex.h): O(1) expected lookups, ascending order on
// writing. Words and names compare case-sensitively as UTF-16 units; words are cut to 128
// units on the way in, names when written.
//
// Status codes (bdictionary_format.h): 0; -10 no memory; -12 bad category index or
// internal map error; -13 null path; -14 read error, truncated or malformed file (also on
// a short word write); -15 write error; -16 file cannot be opened; -351 already open;
// -352 not open or not loaded.
// Ownership: the dictionary owns everything it holds; GetCategoryInfo returns a pointer
// into its map, valid until Close or InsertCategories.
// Threads: no locking inside. The const operations (GetWordProbabilities,
// GetCategoryCount, GetCategoryIndex, GetCategoryInfo, GetWordCounts) are safe for
// concurrent readers; every other operation needs exclusive access (CBFilter, ebayes.h,
// holds a reader-writer lock for that). Convert touches only files and is safe anywhere.
// Tested by tests/engines/bayesclassifier/bdictionary_test.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>

#include "common/array.h"
#include "common/asmemory.h"
#include "common/map.h"
#include "common/ustring.h"
#include "engines/bayesclassifier/bdictionary_format.h"
#include "engines/bayesclassifier/bwordindex.h"

namespace nsEngineBayesClassifier {

class CDictReader;
class CDictWriter;

class CBayesDictionary : public ascommon::CASAllocated {
 public:
  class CCategoryInfo {
   public:
    ascommon::usstring name;  // lower-case
    std::uint32_t index = 0;  // the category's count column
    std::uint32_t level = 0;  // 0 = "white", higher = stricter
    // For the containers: a failed copy of the name shows here (-2).
    std::int32_t status() const noexcept { return name.status(); }
  };

  // Points of Close where a test can make the write fail (see SetWriteFaultHookForTesting).
  enum class EWriteStage { Header, Word, Replace };
  // Called at each stage (wordsWritten counts the word records written so far); returning
  // false makes that step fail as a write error would.
  using WriteFaultHook = bool (*)(EWriteStage stage, std::uint64_t wordsWritten);

  CBayesDictionary();
  ~CBayesDictionary();
  CBayesDictionary(const CBayesDictionary&) = delete;
  CBayesDictionary& operator=(const CBayesDictionary&) = delete;

  // Reads the file at pPath whole; a missing file is first created empty (8 bytes).
  // 0, -10, -12, -13, -14, -16, -351. A failure leaves the dictionary closed and empty.
  // O(file size).
  std::int32_t Open(const char16_t* pPath);
  // When the dictionary changed since it was read or limit > 0: writes it to pPath,
  // leaving out the words the limit removes (mode kLimitByTotal or
  // kLimitBySingleCategory). Then, always, empties it and marks it closed. 0 when not
  // open; else 0, -13, -14, -15, -16. O(words log words) at worst, O(words) when no word
  // was added since Open.
  std::int32_t Close(const char16_t* pPath, std::int32_t limit, std::int32_t mode);
  bool IsOpen() const noexcept { return m_isOpen; }
  bool IsLoaded() const noexcept { return m_isLoaded; }
  bool IsModified() const noexcept { return m_modified; }

  // One probability per category into pOut (GetCategoryCount() values): 0.005 everywhere
  // for a dictionary of at most 3000 words; 2.0 everywhere for an unknown word; else per
  // category n_c / (n_c + rest) with rest = total - n_c (0.02 when rest <= 1e-7), or 2.0
  // when n_c is 0. 0 or -352. Expected O(length + categories); allocates nothing.
  std::int32_t GetWordProbabilities(const char16_t* pWord, std::size_t length,
                                    double* pOut) const noexcept;
  // GetWordProbabilities in three steps for pipelined lookups (several words in flight,
  // their memory loads overlapping): StartLookup, later ContinueLookup, later
  // FinishLookup, each on the same probe, whose word must stay valid until the end.
  struct CWordProbe {
    const char16_t* word;
    std::size_t length;
    std::uint32_t hash;
    std::int64_t node;
  };
  void StartLookup(CWordProbe& probe) const noexcept;
  void ContinueLookup(CWordProbe& probe) const noexcept;
  std::int32_t FinishLookup(const CWordProbe& probe, double* pOut) const noexcept;
  // Adds one occurrence of the word to category c. 0, -10, -12, -352.
  std::int32_t InsertWord(const char16_t* pWord, std::size_t length, std::uint32_t c) {
    return InsertWord(pWord, length, c, m_words.PrefetchSlot(pWord, length));
  }
  // The same with the hash PrefetchWord returned (which started loading the word's slot).
  std::int32_t InsertWord(const char16_t* pWord, std::size_t length, std::uint32_t c,
                          std::uint32_t hash);
  std::uint32_t PrefetchWord(const char16_t* pWord, std::size_t length) const noexcept {
    return m_words.PrefetchSlot(pWord, length);
  }
  // Adds n to the item total of category c (not counted as a change). 0 or -12.
  std::int32_t AddCategoryItems(std::uint32_t c, std::uint32_t n);

  std::uint32_t GetCategoryCount() const noexcept { return m_categoryCount; }
  // The header's word count: words read plus words made by training.
  std::uint32_t GetWordCount() const noexcept { return m_wordCount; }
  // Index of the category whose lower-case name equals the lower-cased pName, or -1.
  std::int64_t GetCategoryIndex(const char16_t* pName) const;
  // The category of that index and its level in *pLevel (when pLevel is given), or null.
  const CCategoryInfo* GetCategoryInfo(std::uint64_t index, std::uint32_t* pLevel) const;
  // Items trained for category c (0 for an unknown index).
  std::uint32_t GetCategoryTotal(std::uint32_t c) const noexcept {
    return c < m_categoryCount ? m_pTotals[c] : 0;
  }
  // The word's counts (GetCategoryCount() values), or null when the word is unknown.
  const std::uint32_t* GetWordCounts(const char16_t* pWord, std::size_t length) const noexcept;

  // Appends categories: names[i] (lower-cased) with level levels[i], in order, each with
  // item total 0 and a zero column for every word. 0; -352 when not open; -1 when levels
  // has fewer entries than names; -12 when a name is present already or repeated, or
  // agrees with another in the first kMaxNameUnits units, all the file keeps (traced at
  // level 0, since such a dictionary could not be read back); -10. Nothing changes on
  // failure.
  std::int32_t InsertCategories(const ascommon::CArray<ascommon::usstring>& names,
                                const ascommon::CArray<std::int32_t>& levels);

  // Hooks of the training protocol; file access is not locked. Lock: 0 or -352.
  std::int32_t Lock() const noexcept { return m_isOpen && m_isLoaded ? 0 : kDictNotOpen; }
  std::int32_t Unlock() const noexcept { return 0; }

  // The readable summary: totals, one line per category, an empty line and, with bFull,
  // one line per word in ascending order ("word<TAB>count<TAB>count...").
  // Plain-file form: 0 or -15. Stream form: 0 or -15 when the stream fails.
  std::int32_t Print(CDictWriter& file, bool bFull);
  std::int32_t Print(std::ostream& stream, bool bFull);

  // Builds a dictionary file from a text list "word;teens;adult;kidz" (',' works as well)
  // under the fixed header of kConvertWordCount words and the categories teens (level 2),
  // adult (3) and kidz (1); a word is written with at most kMaxNameUnits units, so the
  // file reads back. 0, -13, -15, -16.
  static std::int32_t Convert(const char16_t* pTextPath, const char16_t* pDictionaryPath);

  // Test seam for interrupted writes; null restores normal writing. Process-wide.
  static void SetWriteFaultHookForTesting(WriteFaultHook hook) noexcept;

 private:
  std::int32_t ReadHeader(CDictReader& reader, std::uint64_t fileSize);
  std::int32_t ReadWords(CDictReader& reader, std::uint64_t fileSize);
  std::int32_t Write(const char16_t* pPath, std::int32_t limit, std::int32_t mode);
  std::int32_t WriteTo(CDictWriter& writer, std::uint32_t removed, std::int32_t limit,
                       std::int32_t mode);
  bool IsRemoved(std::uint32_t node, std::int32_t limit, std::int32_t mode) const noexcept;
  // The summary through emit(context, text, length); false stops it.
  using Emit = bool (*)(void* context, const char* text, std::size_t length);
  bool PrintLines(Emit emit, void* context, bool bFull);
  void Reset() noexcept;

  bool m_isOpen = false;
  bool m_isLoaded = false;
  bool m_modified = false;
  std::uint32_t m_wordCount = 0;
  std::uint32_t m_categoryCount = 0;
  std::uint32_t* m_pTotals = nullptr;  // Owned; m_categoryCount values.
  CWordIndex m_words;
  ascommon::CMap<ascommon::usstring, CCategoryInfo> m_byName;
  ascommon::CMap<std::uint64_t, CCategoryInfo> m_byIndex;
};

}  // namespace nsEngineBayesClassifier
