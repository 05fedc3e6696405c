// CBayesDictionary: reading, writing and answering the word statistics.
//
// Open streams the file through a 64 KB block into the word index: O(file size), one
// hash insert per word record. Close counts the words the occurrence limit removes,
// writes a temporary file beside the target in ascending word order and renames it over
// the target. Probabilities: one hash lookup and K divisions per word.
// Tested by tests/engines/bayesclassifier/bdictionary_test.cpp.
#include "engines/bayesclassifier/bdictionary.h"

#include <atomic>
#include <ostream>

#include "common/asfile.h"
#include "common/asformat.h"
#include "common/astrace.h"
#include "common/convert.h"
#include "common/strutils.h"
#include "engines/bayesclassifier/bdictfile.h"

namespace nsEngineBayesClassifier {

using ascommon::CArray;
using ascommon::usstring;

namespace {

std::atomic<CBayesDictionary::WriteFaultHook> g_writeFaultHook{nullptr};

bool FaultAt(CBayesDictionary::EWriteStage stage, std::uint64_t wordsWritten) {
  const CBayesDictionary::WriteFaultHook hook = g_writeFaultHook.load(std::memory_order_acquire);
  return hook != nullptr && !hook(stage, wordsWritten);
}

// A word or name cut to the file's limit and zero-terminated, for the %S of trace lines.
struct CTraceWord {
  char16_t units[kMaxNameUnits + 1];
  CTraceWord(const char16_t* pWord, std::size_t length) noexcept {
    if (length > kMaxNameUnits) length = kMaxNameUnits;
    for (std::size_t i = 0; i < length; ++i) units[i] = pWord[i];
    units[length] = 0;
  }
};

// Buckets of the two category maps: categories are few, and a map never grows by itself.
std::uint32_t CategoryBuckets(std::uint32_t categories) noexcept {
  return categories < 8 ? 17 : (categories > 0x3FFFFFFF ? 0x7FFFFFFF : categories * 2 + 1);
}

// The folder part of a path ("\" and "/" separate), zero-terminated in pOut (kMaxPathUnits
// units); empty for a bare file name. False when it does not fit.
bool FolderOf(const char16_t* pPath, char16_t* pOut) noexcept {
  std::size_t length = 0;
  std::size_t cut = 0;
  for (; pPath[length] != 0; ++length) {
    if (pPath[length] == u'\\' || pPath[length] == u'/') cut = length == 0 ? 1 : length;
  }
  if (cut >= ascommon::kMaxPathUnits) return false;
  for (std::size_t i = 0; i < cut; ++i) pOut[i] = pPath[i];
  pOut[cut] = 0;
  return true;
}

// Whether two lower-cased names are one name once cut to the file's limit.
bool SameInFile(const usstring& a, const usstring& b) noexcept {
  const std::size_t la = a.length() < kMaxNameUnits ? a.length() : kMaxNameUnits;
  const std::size_t lb = b.length() < kMaxNameUnits ? b.length() : kMaxNameUnits;
  if (la != lb) return false;
  for (std::size_t i = 0; i < la; ++i) {
    if (a.c_str()[i] != b.c_str()[i]) return false;
  }
  return true;
}

// atoi of one field: blanks, an optional sign, decimal digits; anything else ends it.
std::uint32_t ParseCount(const char* pField) noexcept {
  if (pField == nullptr) return 0;
  while (*pField == ' ' || *pField == '\t') ++pField;
  bool negative = false;
  if (*pField == '-' || *pField == '+') negative = *pField++ == '-';
  std::uint32_t value = 0;
  for (; *pField >= '0' && *pField <= '9'; ++pField) value = value * 10 + (*pField - '0');
  return negative ? 0u - value : value;
}

}  // namespace

CBayesDictionary::CBayesDictionary() = default;

CBayesDictionary::~CBayesDictionary() { Reset(); }

void CBayesDictionary::SetWriteFaultHookForTesting(WriteFaultHook hook) noexcept {
  g_writeFaultHook.store(hook, std::memory_order_release);
}

void CBayesDictionary::Reset() noexcept {
  m_words.Clear();
  m_words.SetColumns(0);
  m_byName.RemoveAll();
  m_byIndex.RemoveAll();
  ascommon::as_free(m_pTotals);
  m_pTotals = nullptr;
  m_wordCount = 0;
  m_categoryCount = 0;
  m_isOpen = false;
  m_isLoaded = false;
  m_modified = false;
}

// ---- Open -------------------------------------------------------------------------------

std::int32_t CBayesDictionary::Open(const char16_t* pPath) {
  if (pPath == nullptr) return kDictNullPath;
  if (m_isOpen) return kDictAlreadyOpen;
  AS_TRACE(3, "open dictionary file");
  CDictReader reader;
  if (reader.Open(pPath, u"rb") != 0) {
    CDictWriter writer;
    if (writer.Open(pPath, u"wb") != 0) return kDictCannotOpen;
    AS_TRACE(3, "%S created", pPath);
    writer.WriteU32(0);
    writer.WriteU32(0);
    writer.Finish();
    if (reader.Open(pPath, u"r+b") != 0) return kDictCannotOpen;
  }
  const std::int64_t size = reader.Size();
  // An unknown size turns off the plausibility bounds, not the reading.
  const std::uint64_t fileSize = size < 0 ? static_cast<std::uint64_t>(-1) : size;

  m_isOpen = true;
  AS_TRACE(3, "begin reading dictionary header data");
  std::int32_t status = ReadHeader(reader, fileSize);
  if (status == kDictOk) {
    AS_TRACE(3, "Dictionary header: ( Words: %d) ( Categories: %d)", static_cast<int>(m_wordCount),
             static_cast<int>(m_categoryCount));
    AS_TRACE(3, "read words tree");
    status = ReadWords(reader, fileSize);
  }
  reader.Close();
  if (status != kDictOk) {
    Reset();
    return status;
  }
  m_isLoaded = true;
  m_modified = false;
  AS_TRACE(3, "done");
  return kDictOk;
}

std::int32_t CBayesDictionary::ReadHeader(CDictReader& reader, std::uint64_t fileSize) {
  std::uint32_t header[2];
  if (!reader.Read(header, sizeof header)) {
    AS_TRACE(3, "Error Reading from file!");
    return kDictReadError;
  }
  m_wordCount = header[0];
  const std::uint32_t categories = header[1];
  // Each category takes at least 12 bytes (level, length, total): a count the file cannot
  // hold is a truncated file, found before anything is allocated for it.
  if (static_cast<std::uint64_t>(categories) * 12 > fileSize - sizeof header) {
    AS_TRACE(3, "Error Reading from file!");
    return kDictReadError;
  }
  if (categories != 0) {
    m_pTotals = ascommon::as_alloc_array_nt<std::uint32_t>(categories);
    if (m_pTotals == nullptr) {
      AS_TRACE(3, "Unable to alloc memmory!");
      return kDictNoMemory;
    }
  }
  if (m_byName.InitHashTable(CategoryBuckets(categories)) != 0 ||
      m_byIndex.InitHashTable(CategoryBuckets(categories)) != 0) {
    AS_TRACE(3, "Memmory problems!");
    return kDictNoMemory;
  }

  char16_t name[kMaxNameUnits];
  for (std::uint32_t i = 0; i < categories; ++i) {
    std::uint32_t fields[2];  // level, name length
    if (!reader.Read(fields, sizeof fields) || fields[1] > kMaxNameUnits ||
        !reader.Read(name, fields[1] * sizeof(char16_t))) {
      AS_TRACE(3, "Error Reading from file!");
      return kDictReadError;
    }
    CCategoryInfo info;
    info.name.assign(name, fields[1]);
    if (info.name.status() == 0 && info.name.is_null()) info.name.assign(u"");
    if (info.name.status() != 0) {
      AS_TRACE(3, "Memmory problems!");
      return kDictNoMemory;
    }
    ascommon::WideLowerInPlace(info.name.data(), info.name.length());
    info.index = i;
    info.level = fields[0];
    std::int32_t added = m_byName.SetAt(info.name, info);
    if (added == 0) {
      added = m_byIndex.SetAt(i, info);
      if (added != 0) m_byName.RemoveKey(info.name);
    }
    if (added == -451) {
      AS_TRACE(3, "Internal Error!");
      return kDictBadCategory;
    }
    if (added != 0) {
      AS_TRACE(3, "Memmory problems!");
      return kDictNoMemory;
    }
    m_categoryCount = i + 1;
  }
  if (categories != 0 && !reader.Read(m_pTotals, categories * sizeof(std::uint32_t))) {
    AS_TRACE(3, "Error Reading from file!");
    return kDictReadError;
  }
  return kDictOk;
}

std::int32_t CBayesDictionary::ReadWords(CDictReader& reader, std::uint64_t fileSize) {
  const std::uint32_t columns = m_categoryCount;
  m_words.Clear();
  m_words.SetColumns(columns);
  // Room for the announced words, but never for more than the file can hold.
  const std::uint64_t record = 4 + 4ull * columns;
  std::uint64_t expected = fileSize / record;
  if (expected > m_wordCount) expected = m_wordCount;
  m_words.Reserve(static_cast<std::size_t>(expected), static_cast<std::size_t>(expected) * 8);

  char16_t word[kMaxNameUnits];
  std::uint32_t read = 0;
  while (read < m_wordCount) {
    std::uint32_t length = 0;
    const std::size_t got = reader.ReadSome(&length, sizeof length);
    if (got == 0) break;  // the file ends before the announced count: that is all
    if (got != sizeof length || length > kMaxNameUnits ||
        !reader.Read(word, length * sizeof(char16_t))) {
      AS_TRACE(3, "Error Reading from file!");
      return kDictReadError;
    }
    bool created = false;
    const std::int64_t node = m_words.InsertOrFind(word, length, &created);
    if (node < 0) {
      AS_TRACE(3, "Unable to alloc memmory!");
      return kDictNoMemory;
    }
    // A repeated word takes the counts of its last record.
    std::uint32_t* counts = m_words.Counts(static_cast<std::uint32_t>(node));
    if (columns != 0 && !reader.Read(counts, columns * sizeof(std::uint32_t))) {
      AS_TRACE(3, "Error Reading from file!");
      return kDictReadError;
    }
    std::uint64_t total = 0;
    for (std::uint32_t c = 0; c < columns; ++c) total += counts[c];
    m_words.Total(static_cast<std::uint32_t>(node)) = static_cast<std::uint32_t>(total);
    if (total == 0) {
      AS_TRACE(3, "Have read word '%S' with 0 occurences!", CTraceWord(word, length).units);
    }
    ++read;
  }
  m_wordCount = read;
  return kDictOk;
}

// ---- Close ------------------------------------------------------------------------------

std::int32_t CBayesDictionary::Close(const char16_t* pPath, std::int32_t limit, std::int32_t mode) {
  if (!m_isOpen) return kDictOk;
  std::int32_t status = kDictOk;
  if (m_modified || limit > 0) {
    status = pPath == nullptr ? kDictNullPath : Write(pPath, limit, mode);
    if (status == kDictOk) m_modified = false;
  }
  Reset();
  return status;
}

bool CBayesDictionary::IsRemoved(std::uint32_t node, std::int32_t limit,
                                 std::int32_t mode) const noexcept {
  if (mode == kLimitBySingleCategory) {
    const std::uint32_t* counts = m_words.Counts(node);
    std::uint32_t seen = 0;
    std::uint32_t only = 0;
    for (std::uint32_t c = 0; c < m_categoryCount; ++c) {
      if (counts[c] == 0) continue;
      ++seen;
      only = counts[c];
    }
    return seen == 1 && static_cast<std::int64_t>(only) <= limit;
  }
  if (mode == kLimitByTotal) {
    const std::uint32_t* counts = m_words.Counts(node);
    std::uint64_t total = 0;
    for (std::uint32_t c = 0; c < m_categoryCount; ++c) total += counts[c];
    return static_cast<std::int64_t>(total) <= static_cast<std::int64_t>(limit);
  }
  return false;
}

std::int32_t CBayesDictionary::Write(const char16_t* pPath, std::int32_t limit, std::int32_t mode) {
  std::uint32_t removed = 0;
  m_words.ForEachNode([&](std::uint32_t node) { removed += IsRemoved(node, limit, mode); });

  char16_t folder[ascommon::kMaxPathUnits];
  char16_t temporary[ascommon::kMaxPathUnits];
  if (!FolderOf(pPath, folder) ||
      ascommon::GetTempFileName(folder, u"bdc", temporary, ascommon::kMaxPathUnits) != 1) {
    return kDictCannotOpen;
  }
  CDictWriter writer;
  if (writer.Open(temporary, u"wb") != 0) {
    ascommon::DeleteFile(temporary);
    return kDictCannotOpen;
  }
  std::int32_t status = WriteTo(writer, removed, limit, mode);
  if (status == kDictOk && !writer.Finish()) {
    AS_TRACE(3, "Error writing to file!");
    status = kDictWriteError;
  }
  if (status == kDictOk && (FaultAt(EWriteStage::Replace, m_words.GetSize() - removed) ||
                            ascommon::MoveFile(temporary, pPath) != 1)) {
    AS_TRACE(3, "Error writing to file!");
    status = kDictWriteError;
  }
  if (status != kDictOk) {
    writer.Finish();
    ascommon::DeleteFile(temporary);
  }
  return status;
}

std::int32_t CBayesDictionary::WriteTo(CDictWriter& writer, std::uint32_t removed,
                                       std::int32_t limit, std::int32_t mode) {
  bool ok = writer.WriteU32(m_wordCount - removed) && writer.WriteU32(m_categoryCount);
  for (std::uint32_t i = 0; ok && i < m_categoryCount; ++i) {
    const CCategoryInfo* info = m_byIndex.Lookup(i);
    const std::size_t length = info == nullptr ? 0 : info->name.length();
    const std::uint32_t units =
        length > kMaxNameUnits ? kMaxNameUnits : static_cast<std::uint32_t>(length);
    ok = writer.WriteU32(info == nullptr ? 0 : info->level) && writer.WriteU32(units) &&
         writer.Write(units == 0 ? nullptr : info->name.c_str(), units * sizeof(char16_t));
  }
  if (ok && m_categoryCount != 0) {
    ok = writer.Write(m_pTotals, m_categoryCount * sizeof(std::uint32_t));
  }
  if (!ok || FaultAt(EWriteStage::Header, 0)) {
    AS_TRACE(3, "Error writing to file!");
    return kDictWriteError;
  }

  std::uint64_t written = 0;
  ok = true;
  m_words.ForEachInOrder([&](std::uint32_t node) {
    if (!ok || IsRemoved(node, limit, mode)) return;
    std::size_t length = 0;
    const char16_t* word = m_words.Word(node, &length);
    ok = writer.WriteU32(static_cast<std::uint32_t>(length)) &&
         writer.Write(word, length * sizeof(char16_t)) &&
         writer.Write(m_words.Counts(node), m_categoryCount * sizeof(std::uint32_t));
    ++written;
    if (ok && FaultAt(EWriteStage::Word, written)) ok = false;
  });
  if (!ok) {
    AS_TRACE(3, "Error writing to file!");
    return kDictReadError;  // a short word write reports -14
  }
  return kDictOk;
}

// ---- Words and categories ---------------------------------------------------------------

void CBayesDictionary::StartLookup(CWordProbe& probe) const noexcept {
  probe.node = CWordIndex::kNotFound;
  if (m_wordCount > kMinWordsForProbabilities) {
    probe.hash = m_words.PrefetchSlot(probe.word, probe.length);
  }
}

void CBayesDictionary::ContinueLookup(CWordProbe& probe) const noexcept {
  if (m_wordCount <= kMinWordsForProbabilities) return;
  probe.node = m_words.Find(probe.word, probe.length, probe.hash);
  if (probe.node >= 0) m_words.PrefetchNode(static_cast<std::uint32_t>(probe.node));
}

std::int32_t CBayesDictionary::FinishLookup(const CWordProbe& probe, double* pOut) const noexcept {
  if (!m_isOpen || !m_isLoaded) return kDictNotOpen;
  const std::uint32_t columns = m_categoryCount;
  if (m_wordCount <= kMinWordsForProbabilities) {
    for (std::uint32_t c = 0; c < columns; ++c) pOut[c] = kSmallDictionaryProbability;
    return kDictOk;
  }
  if (probe.node < 0) {
    for (std::uint32_t c = 0; c < columns; ++c) pOut[c] = kUnknownProbability;
    return kDictOk;
  }
  const std::uint32_t* counts = m_words.Counts(static_cast<std::uint32_t>(probe.node));
  double total = 0;
  for (std::uint32_t c = 0; c < columns; ++c) total += counts[c];
  for (std::uint32_t c = 0; c < columns; ++c) {
    if (counts[c] == 0) {
      pOut[c] = kUnknownProbability;
      continue;
    }
    const double n = counts[c];
    double rest = total - n;
    if (rest <= kMinRest) rest = kRestReplacement;
    pOut[c] = n / (n + rest);
  }
  return kDictOk;
}

std::int32_t CBayesDictionary::GetWordProbabilities(const char16_t* pWord, std::size_t length,
                                                    double* pOut) const noexcept {
  CWordProbe probe{pWord, length, 0, CWordIndex::kNotFound};
  StartLookup(probe);
  ContinueLookup(probe);
  return FinishLookup(probe, pOut);
}

const std::uint32_t* CBayesDictionary::GetWordCounts(const char16_t* pWord,
                                                     std::size_t length) const noexcept {
  const std::int64_t node = m_words.Find(pWord, length);
  return node < 0 ? nullptr : m_words.Counts(static_cast<std::uint32_t>(node));
}

std::int32_t CBayesDictionary::InsertWord(const char16_t* pWord, std::size_t length,
                                          std::uint32_t c, std::uint32_t hash) {
  if (!m_isOpen || !m_isLoaded) return kDictNotOpen;
  if (c >= m_categoryCount) return kDictBadCategory;
  bool created = false;
  const std::int64_t node = m_words.InsertOrFind(pWord, length, hash, &created);
  if (node < 0) return kDictNoMemory;
  const auto n = static_cast<std::uint32_t>(node);
  ++m_words.Counts(n)[c];
  // The total sits beside the counts (it wraps only past 2^32 occurrences). A word read
  // with all-zero counts counts as new again on its first occurrence.
  if (++m_words.Total(n) == 1) ++m_wordCount;
  m_modified = true;
  return kDictOk;
}

std::int32_t CBayesDictionary::AddCategoryItems(std::uint32_t c, std::uint32_t n) {
  if (c >= m_categoryCount) return kDictBadCategory;
  m_pTotals[c] += n;
  return kDictOk;
}

std::int64_t CBayesDictionary::GetCategoryIndex(const char16_t* pName) const {
  if (pName == nullptr) return -1;
  usstring key(pName);
  if (key.status() != 0) return -1;
  ascommon::WideLowerInPlace(key.data(), key.length());
  const CCategoryInfo* info = m_byName.Lookup(key);
  return info == nullptr ? -1 : static_cast<std::int64_t>(info->index);
}

const CBayesDictionary::CCategoryInfo* CBayesDictionary::GetCategoryInfo(
    std::uint64_t index, std::uint32_t* pLevel) const {
  const CCategoryInfo* info = m_byIndex.Lookup(index);
  if (info != nullptr && pLevel != nullptr) *pLevel = info->level;
  return info;
}

std::int32_t CBayesDictionary::InsertCategories(const CArray<usstring>& names,
                                                const CArray<std::int32_t>& levels) {
  if (!m_isOpen || !m_isLoaded) return kDictNotOpen;
  const std::uint64_t added = names.GetSize();
  if (added == 0) return kDictOk;
  if (levels.GetSize() < added) return -1;
  if (added > 0xFFFFFFFFull - m_categoryCount) return kDictNoMemory;
  const auto count = static_cast<std::uint32_t>(added);

  // Lower-cased names, checked against the dictionary and each other before any change.
  CArray<usstring> lowered;
  for (std::uint32_t i = 0; i < count; ++i) {
    usstring name(names[i]);
    if (name.status() == 0 && name.is_null()) name.assign(u"");
    if (name.status() != 0 || lowered.Add(name) != 0) return kDictNoMemory;
    usstring& stored = lowered[i];
    ascommon::WideLowerInPlace(stored.data(), stored.length());
    bool repeated = m_byName.Lookup(stored) != nullptr;
    for (std::uint32_t j = 0; j < i && !repeated; ++j) repeated = lowered[j] == stored;
    if (repeated) {
      AS_TRACE(3, "Internal Error!");
      return kDictBadCategory;
    }
    // The file keeps the first kMaxNameUnits units of a name: two names that agree there
    // would be one name when read back, and the file could never be opened again.
    const usstring* clash = nullptr;
    for (std::uint32_t c = 0; c < m_categoryCount && clash == nullptr; ++c) {
      const CCategoryInfo* other = m_byIndex.Lookup(c);
      if (other != nullptr && SameInFile(other->name, stored)) clash = &other->name;
    }
    for (std::uint32_t j = 0; j < i && clash == nullptr; ++j) {
      if (SameInFile(lowered[j], stored)) clash = &lowered[j];
    }
    if (clash != nullptr) {
      AS_TRACE(0, "Category name '%S' agrees with '%S' in its first %u characters, all the "
               "dictionary file keeps", CTraceWord(stored.c_str(), stored.length()).units,
               CTraceWord(clash->c_str(), clash->length()).units, kMaxNameUnits);
      return kDictBadCategory;
    }
  }
  auto* totals = ascommon::as_alloc_array_nt<std::uint32_t>(m_categoryCount + count);
  if (totals == nullptr) {
    AS_TRACE(3, "Unable to alloc memmory!");
    return kDictNoMemory;
  }
  for (std::uint32_t c = 0; c < m_categoryCount; ++c) totals[c] = m_pTotals[c];
  for (std::uint32_t c = 0; c < count; ++c) totals[m_categoryCount + c] = 0;

  std::uint32_t inserted = 0;
  bool ok = true;
  for (; ok && inserted < count; ++inserted) {
    CCategoryInfo info;
    info.name = lowered[inserted];
    info.index = m_categoryCount + inserted;
    info.level = static_cast<std::uint32_t>(levels[inserted]);
    ok = info.status() == 0 && m_byName.SetAt(info.name, info) == 0;
    if (ok && m_byIndex.SetAt(info.index, info) != 0) {
      m_byName.RemoveKey(info.name);
      ok = false;
    }
  }
  if (ok) ok = m_words.WidenColumns(count);
  if (!ok) {
    for (std::uint32_t i = 0; i < count; ++i) {
      m_byName.RemoveKey(lowered[i]);
      m_byIndex.RemoveKey(m_categoryCount + i);
    }
    ascommon::as_free(totals);
    AS_TRACE(3, "Memmory problems!");
    return kDictNoMemory;
  }
  ascommon::as_free(m_pTotals);
  m_pTotals = totals;
  m_categoryCount += count;
  m_modified = true;
  return kDictOk;
}

// ---- Print ------------------------------------------------------------------------------

bool CBayesDictionary::PrintLines(Emit emit, void* context, bool bFull) {
  char line[4096];
  auto put = [&](std::size_t length) { return emit(context, line, length); };
  if (!put(ascommon::Format(line, sizeof line, "Total words : %d\n",
                            static_cast<int>(m_wordCount))) ||
      !put(ascommon::Format(line, sizeof line, "Category No : %d\n",
                            static_cast<int>(m_categoryCount))) ||
      !put(ascommon::Format(line, sizeof line,
                            "Categories and total items trained for each one : \n"))) {
    return false;
  }
  for (std::uint32_t i = 0; i < m_categoryCount; ++i) {
    const CCategoryInfo* info = m_byIndex.Lookup(i);
    if (info == nullptr) continue;
    if (!put(ascommon::Format(line, sizeof line, "\t%S-%d(%ld)\t%d\n", info->name.c_str(),
                              static_cast<int>(info->level), static_cast<long>(info->index),
                              static_cast<int>(m_pTotals[i])))) {
      return false;
    }
  }
  if (!put(ascommon::Format(line, sizeof line, "\n"))) return false;
  if (!bFull) return true;

  bool ok = true;
  m_words.ForEachInOrder([&](std::uint32_t node) {
    if (!ok) return;
    std::size_t length = 0;
    const char16_t* word = m_words.Word(node, &length);
    std::size_t used = ascommon::Format(line, sizeof line, "%S", CTraceWord(word, length).units);
    const std::uint32_t* counts = m_words.Counts(node);
    for (std::uint32_t c = 0; c < m_categoryCount && ok; ++c) {
      if (used + 16 > sizeof line) {
        ok = put(used);
        used = 0;
      }
      used += ascommon::Format(line + used, sizeof line - used, "\t%u", counts[c]);
    }
    if (ok) {
      line[used++] = '\n';
      ok = put(used);
    }
  });
  return ok;
}

std::int32_t CBayesDictionary::Print(CDictWriter& file, bool bFull) {
  auto emit = [](void* context, const char* text, std::size_t length) {
    return static_cast<CDictWriter*>(context)->Write(text, length);
  };
  return PrintLines(emit, &file, bFull) ? kDictOk : kDictWriteError;
}

std::int32_t CBayesDictionary::Print(std::ostream& stream, bool bFull) {
  auto emit = [](void* context, const char* text, std::size_t length) {
    auto* out = static_cast<std::ostream*>(context);
    out->write(text, static_cast<std::streamsize>(length));
    return static_cast<bool>(*out);
  };
  return PrintLines(emit, &stream, bFull) ? kDictOk : kDictWriteError;
}

// ---- Convert ----------------------------------------------------------------------------

std::int32_t CBayesDictionary::Convert(const char16_t* pTextPath, const char16_t* pDictionaryPath) {
  if (pTextPath == nullptr || pDictionaryPath == nullptr) return kDictNullPath;
  CDictReader text;
  if (text.Open(pTextPath, u"r") != 0) return kDictCannotOpen;
  CDictWriter out;
  if (out.Open(pDictionaryPath, u"wb") != 0) return kDictCannotOpen;

  struct Fixed {
    std::uint32_t level;
    const char16_t* name;
    std::uint32_t length;
  };
  static constexpr Fixed kCategories[] = {{2, u"teens", 5}, {3, u"adult", 5}, {1, u"kidz", 4}};
  bool ok = out.WriteU32(kConvertWordCount) && out.WriteU32(3);
  for (const Fixed& category : kCategories) {
    ok = ok && out.WriteU32(category.level) && out.WriteU32(category.length) &&
         out.Write(category.name, category.length * sizeof(char16_t));
  }
  for (int i = 0; i < 3; ++i) ok = ok && out.WriteU32(kConvertItemTotal);

  char line[kConvertLineBytes];
  char16_t word[kConvertLineBytes];
  while (ok && text.Gets(line, sizeof line) != nullptr) {
    // The line's end is not part of any field.
    std::size_t length = 0;
    while (line[length] != 0) ++length;
    while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r')) --length;
    line[length] = 0;
    // Fields split at ';' or ',' (runs of them count as one, as strtok sees them).
    char* context = nullptr;
    char* fields[4] = {nullptr, nullptr, nullptr, nullptr};
    fields[0] = ascommon::Tokenize(line, ";,", &context);
    if (fields[0] == nullptr) continue;
    for (int f = 1; f < 4; ++f) fields[f] = ascommon::Tokenize(nullptr, ";,", &context);

    std::size_t bytes = 0;
    while (fields[0][bytes] != 0) ++bytes;
    std::size_t units = 0;
    if (ascommon::Utf8ToUtf16(fields[0], bytes, word, kConvertLineBytes, units) != 0) {
      // Not UTF-8: the bytes stand for themselves (Latin-1).
      for (units = 0; units < bytes; ++units) {
        word[units] = static_cast<unsigned char>(fields[0][units]);
      }
    }
    // A longer word would make a file no reader takes back; its first units stand for it.
    if (units > kMaxNameUnits) units = kMaxNameUnits;
    ok = out.WriteU32(static_cast<std::uint32_t>(units)) &&
         out.Write(word, units * sizeof(char16_t));
    for (int f = 1; f < 4; ++f) ok = ok && out.WriteU32(ParseCount(fields[f]));
  }
  if (!out.Finish()) ok = false;
  return ok ? kDictOk : kDictWriteError;
}

}  // namespace nsEngineBayesClassifier
