// CBFilter: classification and training over the dictionary.
//
// Classification: every word's K probabilities go into K 40-value windows (unknown words
// are only counted), then the unknown-word count tops up windows that did not fill, each
// window's values combine into P / (P + Q), and ProcessCat picks the category. Time is
// linear in the text; memory is one block of K * 43 values per call. Word lookups run
// through a small ring so that the cache misses of 16 words overlap (at 100,000 words
// the dictionary does not fit a core's cache; this halves the time of a mail).
// Training: one exclusive section per item, one hash insert per word (slots prefetched).
// Tested by tests/engines/bayesclassifier/ebayes_test.cpp and ebayes_thread_test.cpp.
#include "engines/bayesclassifier/ebayes.h"

#include <cstring>
#include <fstream>
#include <string>

#include "common/astrace.h"
#include "common/convert.h"
#include "engines/bayesclassifier/bdictfile.h"
#include "engines/bayesclassifier/bwindow.h"
#include "zzplat/paths.h"

namespace nsEngineBayesClassifier {

using ascommon::auto_locker;
using ascommon::CArray;

namespace {

// An 8-bit path as UTF-16: UTF-8 when valid, else the C locale's reading. Owned block
// (as_free), or null.
char16_t* WidePath(const char* pPath) {
  if (pPath == nullptr) return nullptr;
  std::size_t bytes = 0;
  while (pPath[bytes] != 0) ++bytes;
  auto* wide = ascommon::as_alloc_array_nt<char16_t>(bytes + 1);
  if (wide == nullptr) return nullptr;
  std::size_t units = 0;
  if (ascommon::Utf8ToUtf16(pPath, bytes, wide, bytes + 1, units) == 0) {
    wide[units] = 0;
    return wide;
  }
  ascommon::as_free(wide);
  std::size_t length = 0;
  return ascommon::AnsiToWideAlloc(pPath, length);
}

struct CTraceUnits {
  char16_t units[CWordSplitter::kMaxWordUnits + 1];
  CTraceUnits(const char16_t* pWord, std::size_t length) noexcept {
    for (std::size_t i = 0; i < length; ++i) units[i] = pWord[i];
    units[length] = 0;
  }
};

}  // namespace

CBFilter::CBFilter(const char16_t* pSeparators) : m_splitter(pSeparators) {
  m_pDictionary = new (std::nothrow) CBayesDictionary();
  if (m_pDictionary == nullptr) {
    AS_THROW(0, ASMemException, "Memory allocation creating the dictionary");
  }
}

CBFilter::~CBFilter() { delete m_pDictionary; }

// ---- Opening and closing ----------------------------------------------------------------

std::int32_t CBFilter::OpenLocked(const char16_t* pPath) {
  if (m_dictionaryOpen.load(std::memory_order_relaxed)) return 0;
  AS_TRACE(3, ": Open dictionary");
  const std::int32_t status = m_pDictionary->Open(pPath);
  if (status == 0) m_dictionaryOpen.store(true, std::memory_order_release);
  return status;
}

std::int32_t CBFilter::OpenDictionary(const char16_t* pPath) {
  auto_locker guard(&m_lock, auto_locker::kExclusive, true);
  return OpenLocked(pPath);
}

std::int32_t CBFilter::CloseDictionary(const char16_t* pPath, std::int32_t limit,
                                       std::int32_t mode) {
  auto_locker guard(&m_lock, auto_locker::kExclusive, true);
  if (!m_dictionaryOpen.load(std::memory_order_relaxed)) return 0;
  const std::int32_t status = m_pDictionary->Close(pPath, limit, mode);
  if (status == 0) m_dictionaryOpen.store(false, std::memory_order_release);
  return status;
}

std::int32_t CBFilter::ReopenDictionary(const char16_t* pPath) {
  auto_locker guard(&m_lock, auto_locker::kExclusive, true);
  if (m_dictionaryOpen.load(std::memory_order_relaxed)) {
    const std::int32_t status = m_pDictionary->Close(pPath, 0, kLimitByTotal);
    if (status != 0) return status;
    m_dictionaryOpen.store(false, std::memory_order_release);
  }
  return OpenLocked(pPath);
}

// ---- Maintenance ------------------------------------------------------------------------

std::int32_t CBFilter::InsertCategories(const CArray<ascommon::usstring>& names,
                                        const CArray<std::int32_t>& levels) {
  auto_locker guard(&m_lock, auto_locker::kExclusive, true);
  return m_pDictionary->InsertCategories(names, levels);
}

std::int32_t CBFilter::PrintDictionary(const char16_t* pPath, bool bPlainFile) {
  if (pPath == nullptr) return kDictCannotOpen;
  auto_locker guard(&m_lock, auto_locker::kExclusive, true);
  if (bPlainFile) {
    CDictWriter file;
    if (file.Open(pPath, u"w") != 0) return kDictCannotOpen;
    const std::int32_t status = m_pDictionary->Print(file, true);
    return status == 0 && file.Finish() ? 0 : kDictBadCategory;
  }
  std::ofstream stream(zzplat::LocalPath(pPath), std::ios::out | std::ios::trunc);
  if (!stream) return kDictCannotOpen;
  const std::int32_t status = m_pDictionary->Print(stream, true);
  stream.close();
  return status == 0 && !stream.fail() ? 0 : kDictCannotOpen;
}

std::int32_t CBFilter::PrintDictionary(const char* pPath, bool bPlainFile) {
  char16_t* wide = WidePath(pPath);
  if (wide == nullptr) return kDictCannotOpen;
  const std::int32_t status = PrintDictionary(wide, bPlainFile);
  ascommon::as_free(wide);
  return status;
}

std::int32_t CBFilter::ConvertDictionary(const char16_t* pTextPath,
                                         const char16_t* pDictionaryPath) {
  return CBayesDictionary::Convert(pTextPath, pDictionaryPath);
}

std::int32_t CBFilter::ConvertDictionary(const char* pTextPath, const char* pDictionaryPath) {
  char16_t* text = WidePath(pTextPath);
  char16_t* dictionary = WidePath(pDictionaryPath);
  std::int32_t status = kDictCannotOpen;
  if (text != nullptr && dictionary != nullptr) {
    status = CBayesDictionary::Convert(text, dictionary);
  } else if (pTextPath == nullptr || pDictionaryPath == nullptr) {
    status = kDictNullPath;
  }
  ascommon::as_free(text);
  ascommon::as_free(dictionary);
  return status;
}

// ---- Classification ---------------------------------------------------------------------

CBFilter::CCatChoice CBFilter::ChooseCategory(const double* pProbabilities, std::uint32_t count) {
  double max = count == 0 ? 0.0 : pProbabilities[0];
  double max2 = 0.0;
  double sum = max;
  CCatChoice choice{0, 0, 0};
  for (std::uint32_t i = 1; i < count; ++i) {
    if (pProbabilities[i] >= max) {
      max2 = max;
      max = pProbabilities[i];
      choice.second = choice.best;
      choice.best = i;
    }
    sum += pProbabilities[i];
  }
  const double average = count == 0 ? 0.0 : sum / count;
  choice.score = max == max2 ? 0 : static_cast<std::int32_t>((max - max2) * 100 / max);
  AS_TRACE(3, "[ProcessCat] MAX=%le MAX2=%le AVG= %le SCORE=%d CLASS=%d", max, max2, average,
           choice.score, static_cast<int>(choice.best));
  return choice;
}

std::int32_t CBFilter::ProcessCat(const double* pProbabilities, std::uint32_t count,
                                  CArray<std::uint32_t>& indexes) {
  const CCatChoice choice = ChooseCategory(pProbabilities, count);
  indexes.Add(choice.best);
  indexes.Add(choice.second);
  return choice.score;
}

double* CBFilter::NewWorkBlock(std::uint32_t count) noexcept {
  // count windows, the word's probabilities, the inserted and unknown counters.
  return ascommon::as_alloc_array_nt<double>(static_cast<std::size_t>(count) * (kWindowSize + 3) +
                                             1);
}

const double* CBFilter::Combine(const CArray<CBayesText>& texts, std::uint32_t count,
                                double* pBlock) const {
  const CBayesDictionary& dictionary = *m_pDictionary;
  double* windows = pBlock;
  double* probabilities = pBlock + static_cast<std::size_t>(count) * kWindowSize;
  auto* inserted = reinterpret_cast<std::uint32_t*>(probabilities + count);
  std::uint32_t* unknown = inserted + count;
  for (std::uint32_t c = 0; c < count; ++c) {
    WindowReset(windows + c * kWindowSize);
    inserted[c] = unknown[c] = 0;
  }

  // Words go through a ring of lookups: a word's table slot is fetched when it enters,
  // its record kAhead words later, its probabilities used kRing words later, so the
  // memory loads of many words overlap instead of following one another.
  constexpr std::size_t kRing = 16;
  constexpr std::size_t kAhead = 8;
  CBayesDictionary::CWordProbe ring[kRing];
  char16_t words[kRing][CWordSplitter::kMaxWordUnits];
  std::size_t pushed = 0, continued = 0, finished = 0;
  auto finishOne = [&] {
    // A closed dictionary knows no word.
    if (dictionary.FinishLookup(ring[finished++ % kRing], probabilities) != 0) {
      for (std::uint32_t c = 0; c < count; ++c) probabilities[c] = kUnknownProbability;
    }
    for (std::uint32_t c = 0; c < count; ++c) {
      if (probabilities[c] == kUnknownProbability) {
        ++unknown[c];
      } else if (WindowInsert(windows + c * kWindowSize, probabilities[c])) {
        ++inserted[c];
      }
    }
  };
  for (std::uint64_t t = 0; t < texts.GetSize() && count != 0; ++t) {
    m_splitter.ForEachWord(texts[t], [&](const char16_t* pWord, std::size_t length) {
      if (pushed - finished == kRing) finishOne();
      const std::size_t slot = pushed++ % kRing;
      std::memcpy(words[slot], pWord, length * sizeof(char16_t));
      ring[slot] = {words[slot], length, 0, 0};
      dictionary.StartLookup(ring[slot]);
      if (pushed - continued > kAhead) dictionary.ContinueLookup(ring[continued++ % kRing]);
    });
  }
  while (continued < pushed) dictionary.ContinueLookup(ring[continued++ % kRing]);
  while (finished < pushed) finishOne();

  // Unknown words stand in as 0.005 only for the places known words left free.
  for (std::uint32_t c = 0; c < count; ++c) {
    double* window = windows + c * kWindowSize;
    if (inserted[c] < kWindowSize) {
      std::uint32_t fill = kWindowSize - inserted[c];
      if (unknown[c] < fill) fill = unknown[c];
      for (std::uint32_t i = 0; i < fill; ++i) {
        if (WindowInsert(window, kSmallDictionaryProbability)) ++inserted[c];
      }
    } else {
      inserted[c] = kWindowSize;
    }
    probabilities[c] = WindowProbability(window, inserted[c]);
  }
  return probabilities;
}

std::int32_t CBFilter::GetCategoryProbabilities(const CArray<CBayesText>& texts, double* pOut,
                                                std::uint32_t capacity) {
  auto_locker guard(&m_lock, auto_locker::kReadOnly, true);
  const std::uint32_t count = m_pDictionary->GetCategoryCount();
  if (count > capacity) return -1;
  double* block = NewWorkBlock(count);
  if (block == nullptr) return kDictNoMemory;
  const double* probabilities = Combine(texts, count, block);
  for (std::uint32_t c = 0; c < count; ++c) pOut[c] = probabilities[c];
  ascommon::as_free(block);
  return static_cast<std::int32_t>(count);
}

std::int32_t CBFilter::GetPRobability(const CArray<CBayesText>& texts, std::int32_t& score,
                                      CArray<CCategoryInfo>& categories,
                                      CArray<std::uint32_t>& levels) {
  AS_TRACE(3, "Entering CBFilter::GetPRobability()");
  auto_locker guard(&m_lock, auto_locker::kReadOnly, true);
  const std::uint32_t count = m_pDictionary->GetCategoryCount();
  double* block = NewWorkBlock(count);
  if (block == nullptr) return kDictNoMemory;
  const CCatChoice choice = ChooseCategory(Combine(texts, count, block), count);
  ascommon::as_free(block);

  score = choice.score;
  for (const std::uint32_t index : {choice.best, choice.second}) {
    std::uint32_t level = 0;
    const CCategoryInfo* info = m_pDictionary->GetCategoryInfo(index, &level);
    if (info == nullptr) continue;
    // A failed growth leaves the result short rather than failing the call.
    if (categories.Add(*info) == 0) levels.Add(level);
  }
  return 0;
}

// ---- Training ---------------------------------------------------------------------------

std::int32_t CBFilter::InsertItem(const CArray<CBayesText>& texts, const char16_t* pCategory) {
  AS_TRACE(3, "BEGINF");
  auto_locker guard(&m_lock, auto_locker::kExclusive, true);
  CBayesDictionary& dictionary = *m_pDictionary;
  const auto category = static_cast<std::uint32_t>(dictionary.GetCategoryIndex(pCategory));
  std::int32_t status = dictionary.Lock();
  AS_TRACE(3, "LOCK dictionary: %d", status);
  if (status != 0) return status;

  // As in Combine, a word's table slot is fetched kRing words before it is counted.
  constexpr std::size_t kRing = 8;
  char16_t words[kRing][CWordSplitter::kMaxWordUnits];
  std::size_t lengths[kRing];
  std::uint32_t hashes[kRing];
  std::size_t pushed = 0, finished = 0;
  auto finishOne = [&] {
    const std::size_t slot = finished++ % kRing;
    const std::int32_t inserted =
        dictionary.InsertWord(words[slot], lengths[slot], category, hashes[slot]);
    if (inserted != 0) {
      AS_TRACE(3, "Error inserting word '%S' in dictionary: %d",
               CTraceUnits(words[slot], lengths[slot]).units, inserted);
    }
  };
  for (std::uint64_t t = 0; t < texts.GetSize(); ++t) {
    m_splitter.ForEachWord(texts[t], [&](const char16_t* pWord, std::size_t length) {
      if (pushed - finished == kRing) finishOne();
      const std::size_t slot = pushed++ % kRing;
      std::memcpy(words[slot], pWord, length * sizeof(char16_t));
      lengths[slot] = length;
      hashes[slot] = dictionary.PrefetchWord(pWord, length);
    });
  }
  while (finished < pushed) finishOne();
  dictionary.AddCategoryItems(category, 1);
  status = dictionary.Unlock();
  AS_TRACE(3, "UNLOCK dictionary: %d", status);
  return status;
}

}  // namespace nsEngineBayesClassifier
