// CURLCategoryDB: one category list of the advanced parental filter ("pc_games.dat",
// "pc_white.dat", ...). It holds no text: every listed address, host and domain is kept as
// its category key (engines/urldb2/categorykey.h) in one of three sets, so a list can be
// shipped without revealing its entries and looked up in O(1). BuildFromText makes such a
// file from a text list of URLs. File layout: engines/urldb2/urldb2_format.h and
// docs/category_format.md.
//
// Cost: a lookup is one digest of the piece (HasURL and friends) or none (Lookup with the
// keys of a CCategoryProbe, computed once for any number of lists), then one probe of a
// set: a cache miss or two, no allocation (CCategoryIndex spares a caller with many lists
// all of them). LoadFile of n keys is O(n): each piece's keys are read into a block of 8n
// bytes that an empty set keeps as its sorted form when they are in order (as written);
// other sets are sized from the file's counts before any key goes in. Writing sorts the
// keys, O(n log n) (O(n) for a set still as loaded).
//
// Ownership: the database owns its three sets. Paths and texts passed in are the caller's.
// Threads: the lookups, GetCount and GetSet are const and safe for any number of
// concurrent readers while nothing modifies the database; LoadFile, LoadFiles, AddKey and
// BuildFromText need exclusive access (the filter's shared_locker provides both).
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/array.h"
#include "common/asmemory.h"
#include "common/ustring.h"
#include "engines/urldb2/categorykey.h"
#include "engines/urldb2/categorykeyset.h"
#include "engines/urldb2/urldb2_format.h"

namespace ascommon {

class CURLCategoryDB : public CASAllocated {
 public:
  CURLCategoryDB() noexcept = default;
  virtual ~CURLCategoryDB() = default;
  CURLCategoryDB(const CURLCategoryDB&) = delete;
  CURLCategoryDB& operator=(const CURLCategoryDB&) = delete;

  // Adds the keys of one category file to the three sets (temporary files of the streamer
  // go to pszTempFolder; null or empty: the current folder). Returns 0; -1 for a null
  // path; kCategoryWrongKeySize (-9) when the key-word count is not 2 (traced
  // "[URLDB2 Engine] The data file was created using another number of md5 bytes!" at
  // level 0); -2 when memory runs out. A missing, damaged or truncated file throws the
  // streamer's exception (ASException family). On any failure the sets are unchanged.
  std::int32_t LoadFile(const char16_t* pszPath, const char16_t* pszTempFolder = nullptr);
  // LoadFile for each path in turn; failures (returned or thrown) only skip that file.
  // 0 when at least one file loaded; kCategoryNoFileLoaded (-12) when none did or the
  // array is empty.
  std::int32_t LoadFiles(const CArray<usstring>& arrPaths,
                         const char16_t* pszTempFolder = nullptr) noexcept;

  // Membership of the key of length bytes at pText in the address, subdomain or domain set:
  // 1 listed, 0 not listed, -1 for a null text. The caller passes the lower-case piece.
  std::int32_t HasURL(const char* pText, std::size_t length) const noexcept;
  std::int32_t HasSubdomain(const char* pText, std::size_t length) const noexcept;
  std::int32_t HasDomain(const char* pText, std::size_t length) const noexcept;

  // The lookups of a probe's present pieces, one answer per piece (1 listed, 0 not, 0 for
  // an absent piece): what HasURL, HasSubdomain and HasDomain answer for the same texts,
  // without digesting anything. Virtual so that another store can stand in for the sets.
  virtual void Lookup(const CCategoryProbe& probe,
                      std::int32_t results[kCategoryPieceCount]) const noexcept;
  // Adds one key to a set: 0 added, 1 present, -2 out of memory.
  std::int32_t AddKey(ECategoryPiece piece, std::uint64_t key) noexcept {
    return m_sets[static_cast<std::size_t>(piece)].Insert(key);
  }
  std::uint64_t GetCount(ECategoryPiece piece) const noexcept {
    return m_sets[static_cast<std::size_t>(piece)].GetCount();
  }
  const CCategoryKeySet& GetSet(ECategoryPiece piece) const noexcept {
    return m_sets[static_cast<std::size_t>(piece)];
  }

  // Reads a text file of URLs, one per line (reads of at most kCategoryMaxLineRead
  // characters), adds the keys of each line's lower-case address, host and domain to the
  // sets and writes every key of the database into the category file pszDataPath. With a
  // log path, logs each line that does not parse ("errorconv\n<line>\n\n") and each key
  // ("u", "sd" or "d", the line, the piece, the digest's four 32-bit words).
  // Returns 0; -1 for a null path; kCategoryTextNotOpened (-13) when the text cannot be
  // opened (traced "[URLDB2 Engine] Error on opening the file for training."); -2 when
  // memory runs out. A log that cannot be created is traced ("[URLDB2 Engine] Error on
  // creating the log file.") and the build goes on without it. A failure to write the
  // data file throws the streamer's exception.
  std::int32_t BuildFromText(const char16_t* pszTextPath, const char16_t* pszDataPath,
                             const char16_t* pszLogPath = nullptr,
                             const char16_t* pszTempFolder = nullptr);
  // Writes every key of the three sets into a new category file, each set's keys in
  // ascending order. 0; -1 for a null path; -2 when memory runs out (nothing written).
  // Write failures throw the streamer's exception.
  std::int32_t WriteFile(const char16_t* pszPath, const char16_t* pszTempFolder = nullptr) const;

 private:
  std::int32_t Has(ECategoryPiece piece, const char* pText, std::size_t length) const noexcept;

  CCategoryKeySet m_sets[kCategoryPieceCount];  // indexed by ECategoryPiece
};

}  // namespace ascommon
