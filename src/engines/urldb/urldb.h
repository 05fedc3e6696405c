// CURLDB: a black or white list of sites for the parental filters. It answers whether the
// site of a URL is listed; entries are registrable domains (or IPv4 addresses), so one
// entry covers every page and subdomain of its site. Lists are loaded from ".cas" list
// files (engines/urldb/urldb_format.h) through the AUpdater mechanism and written back by
// UnloadURLsToFile. CURL is one record's item: a site key.
//
// Cost: IsListed and HasEntry are expected O(1 + URL length) at any list size and allocate
// nothing: the site key is located as a range inside the caller's text and looked up by
// range in a packed hash-partitioned set (engines/urldb/keyset.h). Loading costs
// O(records); writing O(n log n) (keys are written in ascending byte order).
//
// Ownership: the database owns its entries, its pending additions, its suffix table and
// its update streamer. Keys returned by GetKey are copies the caller owns.
// Threads: IsListed, HasEntry, GetKey, FindKey, GetCount and the key visits are const and
// safe for any number of concurrent readers while nothing modifies the database; Load,
// ApplyItem, AddItem and OpenUpdateFile need exclusive access (the filter's
// shared_locker provides both).
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/aupdater.h"
#include "common/ustring.h"
#include "common/urlutils.h"
#include "engines/urldb/keyset.h"
#include "engines/urldb/urldb_format.h"

namespace ascommon {

// One record item: the site key.
class CURL : public CSerializableItem {
 public:
  CURL() noexcept = default;
  ~CURL() override = default;

  // Replaces the key with length bytes of pText (cut at a zero byte, as sstring does).
  // Returns 0 or -2.
  std::int32_t SetKey(const char* pText, std::size_t length);
  const sstring& GetKey() const noexcept { return m_strKey; }

  // Writes 0xFFFFFFFF, the key length (4 bytes) and the key bytes. Returns 0.
  std::int32_t Serialize(IStreamer* pStreamer) override;
  // Reads the key length (4 bytes) and the key bytes; nBytesRead grows by 4 + length.
  // Returns 0; -50 for a null streamer; -2 when the key cannot be stored. A short file, or a
  // length above kURLDBMaxKeyLength that no file can satisfy, throws as a short read.
  std::int32_t Deserialize(IStreamer* pStreamer, std::uint64_t& nBytesRead) override;

 private:
  sstring m_strKey;
};

class CURLDB : public AUpdater {
 public:
  // Status of GetKey/FindKey when the URL has no site key.
  static constexpr std::int32_t kNoKey = -450;

  // Builds the database's suffix table (traces "loading double extensions..." and "done
  // loading %d double extensions" at level 3). Throws ASMemException "could not
  // instantiate map" when memory runs out.
  CURLDB();
  // Traces "Emptying the URL DB and destructing object"; releases every entry.
  ~CURLDB() override;

  // True when the site key of the URL is an entry. The caller passes lower-case text.
  bool IsListed(const sstring& strURL) const noexcept;
  bool IsListed(const char* pURL, std::size_t length) const noexcept;
  // True when the text itself is an entry, byte for byte (no reduction to a site key).
  bool HasEntry(const sstring& strText) const noexcept;
  bool HasEntry(const char* pText, std::size_t length) const noexcept;

  // A text hashed once for HasEntry in several databases (the filters look one URL piece
  // up in a white and a black list); packed only by a lookup whose bucket may hold it.
  // The text must outlive the probe.
  using KeyProbe = CKeySet::Probe;
  static KeyProbe MakeProbe(const char* pText, std::size_t length) noexcept {
    return CKeySet::MakeLookupProbe(pText, length);
  }
  bool HasEntry(const KeyProbe& probe) const noexcept { return m_entries.Contains(probe); }
  // HasEntry for a text that is not its own site key (FindKey of the text gives another
  // range, or none). Only an entry that is not its own site key can equal it, and lists
  // built from sites hold none: such a list answers without touching its table.
  bool HasOtherEntry(const KeyProbe& probe) const noexcept {
    return m_otherKeys != 0 && m_entries.Contains(probe);
  }
  // Whether HasOtherEntry can answer true at all (a probe is worth making).
  bool HoldsOtherEntries() const noexcept { return m_otherKeys != 0; }

  // The site key of a URL as a copy: 0, kNoKey (-450) when no key can be formed, -10 when
  // the key cannot be stored.
  std::int32_t GetKey(const sstring& strURL, sstring& strKey) const;
  // The site key as a range inside pURL (no copy, no allocation): 0 or kNoKey. Steps:
  // continue after the first "https://", then after the first "http://"; after a "*", skip
  // to behind the next "//"; drop a leading "www." (any case); the host runs to "?", "/" or
  // the end, starts after an "@" and ends at a ":"; an IPv4 host is its own key, otherwise
  // the last two labels, or three when the last two form a listed double extension.
  std::int32_t FindKey(const char* pURL, std::size_t length, const char*& pKey,
                       std::size_t& keyLength) const noexcept;

  // Writes every entry as an add record into a new list file at pszPath (temporary files
  // in pszTempFolder), in ascending order of the keys' hashes (CKeySet::ForEachInHashOrder):
  // the same set always gives the same bytes, and a load into an empty database takes the
  // keys straight into place. Returns 0; -50 for a null argument;
  // -2 out of memory; -3 when the file cannot be written (traced).
  std::int32_t UnloadURLsToFile(const char16_t* pszPath, const char16_t* pszTempFolder) const;

  // AUpdater's Load (same statuses and traces), with the entry table laid out once: into
  // an empty database, a main file whose keys come in hash order (as UnloadURLsToFile
  // writes them) is appended partition by partition; otherwise a quick pass over the main
  // file's records sizes every partition of the table for the keys it brings, so that
  // loading them moves and reallocates nothing. The records are read without item
  // objects. The files' keys are added to the entries already held (nothing is emptied
  // first).
  std::int32_t Load(const char16_t* pszMainFile, const char16_t* pszUpdateFile,
                    const char16_t* pszTempFolder) override;

  // The AUpdater slots.
  // Code 1 adds the item's key (a duplicate is not an error); other codes do nothing.
  // Destroys pItem. 0; -10 when memory runs out; -20 when pItem is no CURL; -50 for null.
  std::int32_t ApplyItem(std::uint32_t nOperation, CSerializableItem* pItem) override;
  // A new empty CURL, or null when memory runs out.
  CSerializableItem* CreateItem() override;
  // A key that is an entry is removed (0). Otherwise, with an update file open, an add
  // record is written for a key not already pending and the key becomes pending (0).
  // -3 without an update file or when the write fails; -20 no CURL; -50 null.
  std::int32_t AddItem(CSerializableItem* pItem) override;
  // Whether the item's key is an entry (false for null or a non-CURL item).
  bool ContainsItem(CSerializableItem* pItem) override;
  // Opens the update file (AUpdater) and forgets the keys pending in the previous one.
  std::int32_t OpenUpdateFile(const char16_t* pszPath) override;

  // Number of entries.
  std::uint32_t GetCount() const noexcept { return m_entries.GetCount(); }

  // Calls visit(const char* key, std::size_t length) for each entry in ascending byte
  // order. 0, or -2 when the sort buffer cannot be allocated.
  template <class Visitor>
  std::int32_t VisitKeysInOrder(Visitor&& visit) const {
    return m_entries.ForEachSorted(static_cast<Visitor&&>(visit));
  }

 private:
  class CKeyReader;  // reads the records of a load straight into the entries

  // Adds a key read from a list file, given with its probe (a duplicate is not an error).
  // 0, or -10 when memory runs out.
  std::int32_t AddEntry(const CKeySet::Probe& probe, const char* pKey,
                        std::size_t length) noexcept;
  // The first pass of Load over the main file (see Load). Failures only leave the table
  // to grow as the keys come. Into an empty database, a file whose first keys come in
  // hash order ends the pass early: then the table is left as it was, expected holds the
  // estimated key count, payload the file's bytes after its header, and the result is true.
  bool PlanLoad(const char16_t* pszMainFile, std::uint32_t& expected,
                std::uint64_t& payload) noexcept;
  // The end of FindKey: the site key of a host (kNoKey when empty): itself when it is an
  // IPv4 address or applyRule is false, else what the domain rule keeps of it.
  std::int32_t SiteOfHost(const char* host, std::size_t hostLength, bool applyRule,
                          const char*& pKey, std::size_t& keyLength) const noexcept;
  // Counts a key just added (added: the insert's result, 0 when new) that is not its own
  // site key (HoldsOtherEntries).
  void CountAdded(std::int32_t added, const char* pKey, std::size_t length) noexcept;
  // Whether the key is its own site key (FindKey of it gives the whole text).
  bool IsSiteKey(const char* pKey, std::size_t length) const noexcept;

  CKeySet m_entries;          // the list's keys
  std::uint32_t m_otherKeys = 0;  // entries that are not their own site key
  CKeySet m_pending;          // keys written to the update file since it was opened
  CSuffixTable m_doubleExtensions;
};

}  // namespace ascommon
