// The URL database: the site key of a URL is located as a range inside the caller's text
// (scheme, "*...//", "www.", user information and port stripped, then the domain rule with
// this database's double extensions) and looked up in a packed hash-partitioned key set.
// A load first reads the main file's records once without applying them, to lay the key
// set out at its final size. Lookup O(URL length) with no allocation; load O(records);
// unload O(n log n) for the sorted order. Tested by tests/engines/urldb/urldb_test.cpp and
// aupdater_test.cpp.
#include "engines/urldb/urldb.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <optional>

#include "common/asfile.h"
#include "common/astrace.h"
#include "common/binstreamer.h"
#include "common/bytes16.h"
#include "common/streamer_format.h"
#include "common/swar.h"

namespace ascommon {

namespace {

// This database's multi-label suffixes, ascending byte order (generated data).
const char* const kURLDBDoubleExtensions[] = {
#include "engines/urldb/urldb_double_extensions.inc"
};

// The key text of one record, read from a list file: the length first, then the bytes in
// one read into a stack buffer, or a heap one for keys longer than it holds.
class CKeyText {
 public:
  CKeyText() noexcept = default;
  ~CKeyText() {
    if (m_pText != m_stack) as_free(m_pText);
  }
  CKeyText(const CKeyText&) = delete;
  CKeyText& operator=(const CKeyText&) = delete;

  // False when a heap buffer cannot be allocated. A length no file can hold (0xFFFFFFFF
  // among them, read back sign-extended) throws as reading that many bytes would, before
  // anything is allocated for it; so does a short file.
  bool Read(IStreamer& streamer, std::uint64_t& nBytesRead) {
    m_length = streamer.ReadSizeT(true);
    if (m_length > kURLDBMaxKeyLength) AS_THROW(0, ASException, "cannot read from file");
    if (m_length > sizeof m_stack) {
      m_pText = static_cast<char*>(as_alloc_nt(m_length));
      if (m_pText == nullptr) {
        m_pText = m_stack;
        return false;
      }
    }
    if (m_length != 0) streamer.ReadString(m_pText, m_length);
    nBytesRead += 4 + m_length;
    return true;
  }
  const char* Text() const noexcept { return m_pText; }
  std::size_t Length() const noexcept { return m_length; }

 private:
  char m_stack[512];
  char* m_pText = m_stack;
  std::size_t m_length = 0;
};

CURL* AsURL(CSerializableItem* pItem) noexcept { return dynamic_cast<CURL*>(pItem); }

// The length of a key read from a file as an item holds it: up to its first zero byte
// (sstring's assign).
std::size_t ItemKeyLength(const char* pKey, std::size_t length) noexcept {
  const void* zero = length == 0 ? nullptr : std::memchr(pKey, 0, length);
  return zero == nullptr ? length : static_cast<std::size_t>(static_cast<const char*>(zero) - pKey);
}

// First occurrence of the n bytes of text in [begin, end), or null. memchr looks for the
// pattern's byte at index anchor, so a rare byte (the ":" of a scheme) makes one vectorised
// pass over a text without it; candidates are met in order of their start either way.
// O((end - begin) * n) worst case.
const char* FindText(const char* begin, const char* end, const char* text, std::size_t n,
                     std::size_t anchor = 0) noexcept {
  if (static_cast<std::size_t>(end - begin) < n) return nullptr;
  const char* from = begin + anchor;
  const char* const last = end - n + anchor;  // the last place the anchor byte can match
  while (from <= last) {
    const void* found = std::memchr(from, text[anchor], static_cast<std::size_t>(last - from) + 1);
    if (found == nullptr) return nullptr;
    const char* candidate = static_cast<const char*>(found) - anchor;
    if (std::memcmp(candidate, text, n) == 0) return candidate;
    from = static_cast<const char*>(found) + 1;
  }
  return nullptr;
}

// The first "?", "/" or "@" in [p, end), or end: eight bytes at a time, then byte by byte.
const char* FindHostStop(const char* p, const char* end) noexcept {
  for (; end - p >= 8; p += 8) {
    const std::uint64_t word = swar::LoadWord(p);
    if (swar::HasByte(word, '?') || swar::HasByte(word, '/') || swar::HasByte(word, '@')) break;
  }
  while (p != end && *p != '?' && *p != '/' && *p != '@') ++p;
  return p;
}

// Whether the text starts with "www." ("w" in any case).
bool StartsWithWww(const char* p, std::size_t length) noexcept {
  return length >= 4 && (p[0] | 0x20) == 'w' && (p[1] | 0x20) == 'w' && (p[2] | 0x20) == 'w' &&
         p[3] == '.';
}

// What FindKey needs to know of a text without a scheme, wildcard or port: where its host
// ends (its first '/', '?' or '@', or its end) and the dots before that. One pass over the
// text; nullopt when it holds a ':' or a '*' anywhere (FindKey then searches for schemes,
// wildcards and ports) or when its first stop is an '@' (user information).
struct PlainHost {
  std::size_t end;
  int dots;
};
std::optional<PlainHost> FindPlainHost(const char* pText, std::size_t length) noexcept {
  PlainHost host{length, 0};
  bool ended = false;
  const bool refused = bytes16::ForEachBlock(
      pText, length, [&](const char* block, unsigned keep, std::size_t base) {
        if ((bytes16::EqualAny<':', '*'>(block) & keep) != 0) return true;
        if (ended) return false;
        const unsigned stops = bytes16::EqualAny<'/', '?', '@'>(block) & keep;
        const unsigned before = stops == 0 ? keep : keep & ((stops & (0u - stops)) - 1);
        host.dots += static_cast<int>(bytes16::CountBits(bytes16::EqualAny<'.'>(block) & before));
        if (stops == 0) return false;
        host.end = base + static_cast<std::size_t>(std::countr_zero(stops));
        ended = true;
        return pText[host.end] == '@';
      });
  if (refused) return std::nullopt;
  return host;
}

}  // namespace

// --- CURL ---

std::int32_t CURL::SetKey(const char* pText, std::size_t length) {
  if (length == 0) return m_strKey.assign("");
  return m_strKey.assign(pText, length);
}

std::int32_t CURL::Serialize(IStreamer* pStreamer) {
  if (pStreamer == nullptr) return -50;
  pStreamer->WriteUInt(kURLDBOpSkip);
  pStreamer->WriteSizeT(m_strKey.length(), true);
  if (m_strKey.length() != 0) pStreamer->WriteString(m_strKey.c_str(), m_strKey.length());
  return 0;
}

std::int32_t CURL::Deserialize(IStreamer* pStreamer, std::uint64_t& nBytesRead) {
  if (pStreamer == nullptr) return -50;
  CKeyText key;
  if (!key.Read(*pStreamer, nBytesRead)) return -2;
  return SetKey(key.Text(), key.Length()) == 0 ? 0 : -2;
}

// --- CURLDB ---

CURLDB::CURLDB() {
  AS_TRACE(3, "loading double extensions...");
  const std::size_t count = sizeof kURLDBDoubleExtensions / sizeof kURLDBDoubleExtensions[0];
  if (m_doubleExtensions.Build(kURLDBDoubleExtensions, count) != 0) {
    AS_THROW(0, ASMemException, "could not instantiate map");
  }
  AS_TRACE(3, "done loading %d double extensions",
           static_cast<int>(m_doubleExtensions.GetCount()));
}

CURLDB::~CURLDB() { AS_TRACE(3, "Emptying the URL DB and destructing object"); }

std::int32_t CURLDB::FindKey(const char* pURL, std::size_t length, const char*& pKey,
                             std::size_t& keyLength) const noexcept {
  pKey = nullptr;
  keyLength = 0;
  if (pURL == nullptr || length == 0) return kNoKey;
  // A text without ':' or '*' (a host name, as every domain piece is, and most paths) has
  // no scheme, wildcard or port: unless user information comes first, its host runs from
  // after "www." to the first '/' or '?', and the pass that found that counted the dots
  // that the domain rule needs.
  if (const std::optional<PlainHost> plain = FindPlainHost(pURL, length)) {
    const char* host = pURL;
    std::size_t hostLength = plain->end;
    int dots = plain->dots;
    if (StartsWithWww(host, hostLength)) {
      host += 4;
      hostLength -= 4;
      --dots;
    }
    // At most one dot: the domain rule keeps the whole host (and it is no IPv4 address).
    return SiteOfHost(host, hostLength, dots >= 2, pKey, keyLength);
  }
  const char* begin = pURL;
  const char* const end = pURL + length;
  // A scheme anywhere in the text: what follows its first occurrence is the address.
  // Both schemes hold a ":", which host names and most paths lack: without one, neither
  // search runs.
  const bool anyColon = std::memchr(begin, ':', length) != nullptr;
  if (anyColon) {
    if (const char* scheme = FindText(begin, end, "https://", 8, 5)) begin = scheme + 8;
    if (const char* scheme = FindText(begin, end, "http://", 7, 4)) begin = scheme + 7;
  }
  // Wildcard entries such as "*.example//host": the address follows the "//".
  if (const void* star = std::memchr(begin, '*', end - begin)) {
    const char* slashes = FindText(static_cast<const char*>(star) + 1, end, "//", 2);
    if (slashes != nullptr) begin = slashes + 2;
  }
  if (begin == end) return kNoKey;
  if (StartsWithWww(begin, static_cast<std::size_t>(end - begin))) begin += 4;
  if (begin == end) return kNoKey;
  // The host: up to "?" or "/", after the first "@", before the first ":" behind that.
  const char* hostEnd = begin;
  const char* at = nullptr;
  for (;; ++hostEnd) {
    hostEnd = FindHostStop(hostEnd, end);
    if (hostEnd == end || *hostEnd != '@') break;
    if (at == nullptr) at = hostEnd;
  }
  const char* host = at != nullptr ? at + 1 : begin;
  if (anyColon) {
    if (const void* colon = std::memchr(host, ':', static_cast<std::size_t>(hostEnd - host))) {
      hostEnd = static_cast<const char*>(colon);
    }
  }
  return SiteOfHost(host, static_cast<std::size_t>(hostEnd - host), true, pKey, keyLength);
}

std::int32_t CURLDB::SiteOfHost(const char* host, std::size_t hostLength, bool applyRule,
                                const char*& pKey, std::size_t& keyLength) const noexcept {
  if (hostLength == 0) return kNoKey;
  if (applyRule && !IsIPv4Literal(host, hostLength)) {
    const std::size_t domainStart = FindDomainStart(host, hostLength, m_doubleExtensions);
    host += domainStart;
    hostLength -= domainStart;
    if (hostLength == 0) return kNoKey;
  }
  pKey = host;
  keyLength = hostLength;
  return 0;
}

std::int32_t CURLDB::GetKey(const sstring& strURL, sstring& strKey) const {
  const char* pKey = nullptr;
  std::size_t keyLength = 0;
  const std::int32_t status = FindKey(strURL.c_str(), strURL.length(), pKey, keyLength);
  if (status != 0) return status;
  return strKey.assign(pKey, keyLength) == 0 ? 0 : -10;
}

// Reads a record's key as CURL::Deserialize does and applies it as ApplyItem does, with
// the key in a stack buffer instead of an item. While the keys come in hash order into an
// empty database, the appender writes each into place. Otherwise packed keys are applied
// kDepth records late: each key's directory and then its records are prefetched while the
// keys before it are inserted, so the inserts find them in the cache.
class CURLDB::CKeyReader final : public AUpdater::IRecordReader {
 public:
  // appender, when not null, takes the keys as long as they come in hash order.
  CKeyReader(CURLDB& db, CKeySet::Appender* appender) noexcept
      : m_db(db), m_appender(appender) {}

  std::int32_t ReadRecord(std::uint32_t nOperation, IStreamer& streamer,
                          std::uint64_t& nBytesRead) override {
    CKeyText key;
    if (!key.Read(streamer, nBytesRead)) return -14;
    const char* const pBuffer = key.Text();
    const std::size_t length = key.Length();
    if (nOperation != kURLDBOpAdd) return 0;
    const std::size_t keyLength = ItemKeyLength(pBuffer, length);
    if (m_appender == nullptr || !m_appender->Active()) {
      return Queue(CKeySet::MakeProbe(pBuffer, keyLength), pBuffer, keyLength);
    }
    const CKeySet::Probe probe = CKeySet::MakeProbe(pBuffer, keyLength);
    const std::int32_t added = m_appender->Append(probe);
    if (added == CKeySet::Appender::kNotInOrder) return Queue(probe, pBuffer, keyLength);
    if (added < 0) return -3;
    m_db.CountAdded(added, pBuffer, keyLength);
    return 0;
  }

  std::int32_t Finish() override {
    while (m_applied != m_read) {
      if (ApplyOne() != 0) return -3;
    }
    return 0;
  }

 private:
  static constexpr std::uint32_t kDepth = 16;
  struct Pending {
    CKeySet::Probe probe;
    bool siteKey;
  };

  // Inserts the key of the probe made of the keyLength bytes at pBuffer, kDepth keys late.
  std::int32_t Queue(const CKeySet::Probe& probe, const char* pBuffer, std::size_t keyLength) {
    Pending& next = m_pending[m_read % kDepth];
    next.probe = probe;
    if (!next.probe.packed) {  // the probe refers to the buffer: applied now
      if (Finish() != 0) return -3;
      return m_db.AddEntry(next.probe, pBuffer, keyLength) == 0 ? 0 : -3;
    }
    next.siteKey = m_db.IsSiteKey(pBuffer, keyLength);
    m_db.m_entries.Prefetch(next.probe, false);
    ++m_read;
    if (m_read - m_applied > kDepth / 2) {
      m_db.m_entries.Prefetch(m_pending[(m_read - 1 - kDepth / 2) % kDepth].probe, true);
    }
    return m_read - m_applied == kDepth ? ApplyOne() : 0;
  }

  // Applies the oldest pending key; when that fails, the later ones are dropped.
  std::int32_t ApplyOne() noexcept {
    const Pending& oldest = m_pending[m_applied++ % kDepth];
    const std::int32_t added = m_db.m_entries.Insert(oldest.probe);
    if (added < 0) {
      m_applied = m_read;
      return -3;
    }
    if (added == 0 && !oldest.siteKey) ++m_db.m_otherKeys;
    return 0;
  }

  CURLDB& m_db;
  CKeySet::Appender* m_appender;
  Pending m_pending[kDepth];
  std::uint32_t m_read = 0;     // keys read (the ring index of the next one)
  std::uint32_t m_applied = 0;  // keys applied or dropped
};

std::int32_t CURLDB::Load(const char16_t* pszMainFile, const char16_t* pszUpdateFile,
                          const char16_t* pszTempFolder) {
  std::uint32_t expected = 0;
  std::uint64_t payload = 0;
  const bool ordered = pszMainFile != nullptr && pszUpdateFile != nullptr &&
                       pszTempFolder != nullptr && PlanLoad(pszMainFile, expected, payload);
  std::optional<CKeySet::Appender> appender;
  // A record in memory is never longer than in the file: the payload bounds their bytes.
  if (ordered) appender.emplace(m_entries, expected, payload);
  CKeyReader reader(*this, appender ? &*appender : nullptr);
  std::int32_t status = LoadFiles(pszMainFile, pszUpdateFile, pszTempFolder, &reader);
  if (appender && appender->Finish() != 0 && status == 0) status = -3;
  m_entries.Compact();  // whatever was applied, failed load or not
  return status;
}

bool CURLDB::PlanLoad(const char16_t* pszMainFile, std::uint32_t& expected,
                      std::uint64_t& payload) noexcept {
  std::uint64_t size = 0;
  if (FileExists(pszMainFile, &size) != 1 || size <= kStreamerHeaderSize ||
      size > kStreamerMaxFileSize) {
    return false;  // the load refuses it anyway
  }
  payload = size - kStreamerHeaderSize;
  // A record takes 8 bytes plus its key, and site keys mostly run to 8 bytes or more, so
  // payload / 16 is near the record count of a real list: the bins are sized for the
  // partitions of that many keys (finer bins only cost memory during this pass). A reload
  // mostly brings the keys already held: those are not counted.
  const std::uint64_t estimate = (size - kStreamerHeaderSize) / 16 + m_entries.GetCount();
  expected = static_cast<std::uint32_t>(std::min<std::uint64_t>(estimate, 0xFFFFFFFFu));
  // Into an empty database, this many keys in hash order (or a whole file of fewer) make
  // the load append instead of plan: a file in another order shows itself within a few
  // keys.
  constexpr std::uint32_t kOrderedKeys = 1024;
  const bool mayAppend = m_entries.GetCount() == 0;
  std::uint32_t lastBin = 0;
  bool ordered = mayAppend;
  const unsigned binBits = m_entries.PartitionBitsFor(expected) + CKeySet::kBucketBits;
  const std::size_t binCount = std::size_t{1} << binBits;
  // At most 2 MB of bins: enough for the largest file the streamer reads (6 million keys);
  // only a database already holding more goes without a plan.
  constexpr unsigned kMaxBinBits = 20;
  CKeySet::Bins bins{binBits <= kMaxBinBits ? as_alloc_array_nt<std::uint16_t>(binCount) : nullptr,
                     binBits, 0};
  if (bins.bytes == nullptr) {
    m_entries.Reserve(expected);
    return false;
  }
  std::memset(bins.bytes, 0, binCount * sizeof(std::uint16_t));
  // The records as the load reads them, up to the first one it would stop at; keys longer
  // than the buffer end the pass (the load takes them as they come).
  try {
    CPayloadReader file(pszMainFile);
    unsigned char buffer[16384];
    std::size_t at = 0, have = 0;
    auto available = [&](std::size_t n) {
      if (have - at >= n) return true;
      std::memmove(buffer, buffer + at, have - at);
      have -= at;
      at = 0;
      for (std::size_t got = 1; have < n && got != 0; have += got) {
        got = file.Read(buffer + have, sizeof buffer - have);
      }
      return have >= n;
    };
    while (available(kURLDBRecordHeaderSize)) {
      std::uint32_t operation, length;
      std::memcpy(&operation, buffer + at, 4);
      std::memcpy(&length, buffer + at + 4, 4);
      at += kURLDBRecordHeaderSize;
      if ((operation != kURLDBOpAdd && operation != kURLDBOpSkip) || length > sizeof buffer ||
          !available(length)) {
        break;
      }
      const char* pKey = reinterpret_cast<const char*>(buffer + at);
      at += length;
      if (operation != kURLDBOpAdd) continue;
      const CKeySet::Probe probe = CKeySet::MakeProbe(pKey, ItemKeyLength(pKey, length));
      if (probe.headerLength == 0 || m_entries.Contains(probe)) continue;
      const std::uint32_t binOf = CKeySet::Bins::Of(probe, binBits);
      if (ordered) {
        ordered = binOf >= lastBin;
        lastBin = binOf;
        if (ordered && bins.keys + 1 == kOrderedKeys) break;
      }
      std::uint16_t& bin = bins.bytes[binOf];
      bin = static_cast<std::uint16_t>(std::min<std::uint32_t>(bin + probe.RecordSize(), 0xFFFF));
      ++bins.keys;
    }
  } catch (...) {
    // The load reports the file's faults; what was counted still applies.
  }
  if (!ordered) m_entries.Plan(bins);
  as_free(bins.bytes);
  return ordered;
}

std::int32_t CURLDB::AddEntry(const CKeySet::Probe& probe, const char* pKey,
                              std::size_t length) noexcept {
  const std::int32_t added = m_entries.Insert(probe);
  if (added < 0) return -10;
  CountAdded(added, pKey, length);
  return 0;
}

void CURLDB::CountAdded(std::int32_t added, const char* pKey, std::size_t length) noexcept {
  if (added == 0 && !IsSiteKey(pKey, length)) ++m_otherKeys;
}

bool CURLDB::IsSiteKey(const char* pKey, std::size_t length) const noexcept {
  const char* pSite = nullptr;
  std::size_t siteLength = 0;
  return FindKey(pKey, length, pSite, siteLength) == 0 && pSite == pKey && siteLength == length;
}

bool CURLDB::IsListed(const char* pURL, std::size_t length) const noexcept {
  const char* pKey = nullptr;
  std::size_t keyLength = 0;
  if (FindKey(pURL, length, pKey, keyLength) != 0) return false;
  return m_entries.Contains(pKey, keyLength);
}

bool CURLDB::IsListed(const sstring& strURL) const noexcept {
  return IsListed(strURL.c_str(), strURL.length());
}

bool CURLDB::HasEntry(const char* pText, std::size_t length) const noexcept {
  if (pText == nullptr) return false;
  return m_entries.Contains(pText, length);
}

bool CURLDB::HasEntry(const sstring& strText) const noexcept {
  return HasEntry(strText.c_str(), strText.length());
}

std::int32_t CURLDB::ApplyItem(std::uint32_t nOperation, CSerializableItem* pItem) {
  if (pItem == nullptr) return -50;
  CURL* pURL = AsURL(pItem);
  std::int32_t result = 0;
  if (pURL == nullptr) {
    result = -20;
  } else if (nOperation == kURLDBOpAdd) {
    const sstring& key = pURL->GetKey();
    result = AddEntry(CKeySet::MakeProbe(key.c_str(), key.length()), key.c_str(), key.length());
  }
  delete pItem;
  return result;
}

CSerializableItem* CURLDB::CreateItem() { return new (std::nothrow) CURL(); }

bool CURLDB::ContainsItem(CSerializableItem* pItem) {
  const CURL* pURL = AsURL(pItem);
  if (pURL == nullptr) return false;
  return HasEntry(pURL->GetKey());
}

std::int32_t CURLDB::AddItem(CSerializableItem* pItem) {
  if (pItem == nullptr) return -50;
  const CURL* pURL = AsURL(pItem);
  if (pURL == nullptr) return -20;
  const sstring& key = pURL->GetKey();
  // Adding a listed key toggles it off.
  if (ContainsItem(pItem)) {
    if (m_entries.Remove(key.c_str(), key.length()) && !IsSiteKey(key.c_str(), key.length())) {
      --m_otherKeys;
    }
    return 0;
  }
  if (m_pUpdateStreamer == nullptr) return -3;
  if (m_pending.Contains(key.c_str(), key.length())) return 0;
  try {
    m_pUpdateStreamer->WriteUInt(kURLDBOpAdd);
    m_pUpdateStreamer->WriteSizeT(key.length(), true);
    if (key.length() != 0) m_pUpdateStreamer->WriteString(key.c_str(), key.length());
  } catch (...) {
    AS_TRACE(0, "could not write the item to the update file");
    return -3;
  }
  // A key that cannot be remembered is only written again by a later AddItem.
  m_pending.Insert(key.c_str(), key.length());
  return 0;
}

std::int32_t CURLDB::OpenUpdateFile(const char16_t* pszPath) {
  m_pending.Clear();
  return AUpdater::OpenUpdateFile(pszPath);
}

std::int32_t CURLDB::UnloadURLsToFile(const char16_t* pszPath,
                                      const char16_t* pszTempFolder) const {
  AS_TRACE(3, "Unloading URLs to file...");
  if (pszPath == nullptr || pszTempFolder == nullptr) {
    AS_TRACE(0, "failed to unload URLs to file");
    return -50;
  }
  std::int32_t status = 0;
  try {
    const usstring strPath(pszPath);
    const usstring strTemp(pszTempFolder);
    // The sort buffer comes first: when memory is short the target file stays untouched.
    // In hash order: the same set always gives the same file, and a load into an empty
    // database appends its keys straight into place.
    std::optional<CBinaryStreamer> streamer;
    status = m_entries.ForEachInHashOrder(
        [&] { streamer.emplace(strPath, EStreamMode::Write, strTemp, kURLDBFileVersion); },
        [&](const char* pKey, std::size_t length) {
          streamer->WriteUInt32Raw(kURLDBOpAdd);
          streamer->WriteSizeT(length, true);
          if (length != 0) streamer->WriteString(pKey, length);
        });
    if (streamer) streamer->Close();
  } catch (...) {
    status = -3;
  }
  if (status != 0) {
    AS_TRACE(0, "failed to unload URLs to '%S'", pszPath);
    return status;
  }
  AS_TRACE(3, "successfully unloaded URLs to file");
  return 0;
}

}  // namespace ascommon
