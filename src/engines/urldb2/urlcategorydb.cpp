// The category database: three CCategoryKeySet of digest keys (addresses, subdomains,
// domains). LoadFile reads each piece's keys into a block that an empty set keeps when they
// are in order; other sets are sized from the counts, then inserted into: O(n) and
// all-or-nothing. BuildFromText parses each text line (O(line)), digests its pieces and
// writes the sets sorted, O(n log n).
// Tested by tests/engines/urldb2/urlcategorydb_test.cpp.
#include "engines/urldb2/urlcategorydb.h"

#include <bit>
#include <cstdio>
#include <cstring>
#include <optional>

#include "common/asfile.h"
#include "common/astrace.h"
#include "common/binstreamer.h"
#include "common/md5.h"
#include "common/urlutils.h"

namespace ascommon {

static_assert(std::endian::native == std::endian::little,
              "a key's two 32-bit words are its 8 bytes in little-endian order");

namespace {

// A block from the host allocator, released at scope exit.
struct KeyBuffer {
  explicit KeyBuffer(std::uint64_t count) noexcept
      : keys(as_alloc_array_nt<std::uint64_t>(count == 0 ? 1 : count)) {}
  ~KeyBuffer() { as_free(keys); }
  KeyBuffer(const KeyBuffer&) = delete;
  KeyBuffer& operator=(const KeyBuffer&) = delete;
  std::uint64_t* keys;
};

const char16_t* OrEmpty(const char16_t* text) noexcept { return text != nullptr ? text : u""; }

// The build log: raw bytes and a few formatted numbers, written through CASFile. A write
// that fails is dropped (the log is a diagnostic, the data file is what counts).
class BuildLog {
 public:
  explicit BuildLog(CASFile* file) noexcept : m_file(file) {}
  void Put(const char* text, std::size_t length) noexcept {
    if (m_file != nullptr && length != 0) m_file->write(text, 1, length);
  }
  void Put(const char* text) noexcept { Put(text, std::strlen(text)); }
  void Digest(const std::uint8_t digest[CMD5::kDigestSize]) noexcept {
    std::uint32_t words[4];
    std::memcpy(words, digest, sizeof words);
    char numbers[64];
    const int n = std::snprintf(numbers, sizeof numbers, "%u %u %u %u\n\n", words[0], words[1],
                                words[2], words[3]);
    if (n > 0) Put(numbers, static_cast<std::size_t>(n));
  }
  bool Active() const noexcept { return m_file != nullptr; }

 private:
  CASFile* m_file;  // Not owned; null: no log.
};

}  // namespace

std::int32_t CURLCategoryDB::Has(ECategoryPiece piece, const char* pText,
                                 std::size_t length) const noexcept {
  if (pText == nullptr) return -1;
  return m_sets[static_cast<std::size_t>(piece)].Contains(CategoryKeyOf(pText, length)) ? 1 : 0;
}

std::int32_t CURLCategoryDB::HasURL(const char* pText, std::size_t length) const noexcept {
  return Has(ECategoryPiece::kAddress, pText, length);
}

std::int32_t CURLCategoryDB::HasSubdomain(const char* pText, std::size_t length) const noexcept {
  return Has(ECategoryPiece::kSubdomain, pText, length);
}

std::int32_t CURLCategoryDB::HasDomain(const char* pText, std::size_t length) const noexcept {
  return Has(ECategoryPiece::kDomain, pText, length);
}

void CURLCategoryDB::Lookup(const CCategoryProbe& probe,
                            std::int32_t results[kCategoryPieceCount]) const noexcept {
  for (std::size_t p = 0; p < kCategoryPieceCount; ++p) {
    results[p] = probe.present[p] && m_sets[p].Contains(probe.keys[p]) ? 1 : 0;
  }
}

std::int32_t CURLCategoryDB::LoadFile(const char16_t* pszPath, const char16_t* pszTempFolder) {
  if (pszPath == nullptr) return -1;
  CBinaryStreamer streamer(usstring(pszPath), EStreamMode::Read, usstring(OrEmpty(pszTempFolder)),
                           kCategoryFileVersion);
  if (streamer.ReadUInt() != kCategoryKeyWords) {
    AS_TRACE(0, "[URLDB2 Engine] The data file was created using another number of md5 bytes!");
    return kCategoryWrongKeySize;
  }
  std::uint64_t counts[kCategoryPieceCount];
  std::uint64_t total = 0;
  for (std::uint64_t& count : counts) {
    count = streamer.ReadUInt();
    total += count;
  }
  // Counts that promise more keys than the file holds fail like the short read they would
  // end in, before anything is allocated for them.
  const std::uint64_t payload = streamer.GetFileSize() - kStreamerHeaderSize;
  if (total * kCategoryKeySize > payload - kCategoryPayloadHeaderSize) {
    AS_THROW(0, ASException, "cannot read from file");
  }
  // Each piece's keys in a block of its own, which an empty set takes over as it is when
  // they are in order (as written).
  KeyBuffer buffers[kCategoryPieceCount] = {KeyBuffer(counts[0]), KeyBuffer(counts[1]),
                                            KeyBuffer(counts[2])};
  for (std::size_t p = 0; p < kCategoryPieceCount; ++p) {
    if (buffers[p].keys == nullptr) return -2;
    if (counts[p] != 0) {
      streamer.ReadString(reinterpret_cast<char*>(buffers[p].keys),
                          static_cast<std::size_t>(counts[p] * kCategoryKeySize));
    }
  }
  streamer.Close();
  // All or nothing: the sets that take their blocks were empty (a later failure empties
  // them again), and the others get their room before any key goes in, so no insert fails.
  bool adopted[kCategoryPieceCount] = {};
  std::int32_t status = 0;
  for (std::size_t p = 0; p < kCategoryPieceCount && status == 0; ++p) {
    status = m_sets[p].AdoptSorted(buffers[p].keys, counts[p]);
    adopted[p] = status == 1;
    if (adopted[p]) buffers[p].keys = nullptr;
    status = status < 0 ? status : 0;
  }
  for (std::size_t p = 0; p < kCategoryPieceCount && status == 0; ++p) {
    if (!adopted[p]) status = m_sets[p].Reserve(m_sets[p].GetCount() + counts[p]);
  }
  for (std::size_t p = 0; p < kCategoryPieceCount; ++p) {
    if (status != 0 && adopted[p]) m_sets[p].Clear();
    if (status == 0 && !adopted[p]) m_sets[p].InsertAll(buffers[p].keys, counts[p]);
  }
  return status;
}

std::int32_t CURLCategoryDB::LoadFiles(const CArray<usstring>& arrPaths,
                                       const char16_t* pszTempFolder) noexcept {
  bool loaded = false;
  for (std::uint64_t i = 0; i < arrPaths.GetSize(); ++i) {
    try {
      if (LoadFile(arrPaths.GetAt(i).c_str(), pszTempFolder) == 0) loaded = true;
    } catch (...) {
      // The streamer traced its failure; the next file may still load.
    }
  }
  return loaded ? 0 : kCategoryNoFileLoaded;
}

std::int32_t CURLCategoryDB::WriteFile(const char16_t* pszPath,
                                       const char16_t* pszTempFolder) const {
  if (pszPath == nullptr) return -1;
  std::uint64_t most = 0;
  for (const CCategoryKeySet& set : m_sets) most = set.GetCount() > most ? set.GetCount() : most;
  KeyBuffer buffer(most);
  if (buffer.keys == nullptr) return -2;
  CBinaryStreamer streamer(usstring(pszPath), EStreamMode::Write,
                           usstring(OrEmpty(pszTempFolder)), kCategoryFileVersion);
  streamer.WriteUInt(kCategoryKeyWords);
  for (const CCategoryKeySet& set : m_sets) {
    streamer.WriteUInt(static_cast<std::uint32_t>(set.GetCount()));
  }
  for (const CCategoryKeySet& set : m_sets) {
    if (set.GetCount() == 0) continue;
    set.CopySorted(buffer.keys);
    streamer.WriteString(reinterpret_cast<const char*>(buffer.keys),
                         static_cast<std::size_t>(set.GetCount() * kCategoryKeySize));
  }
  streamer.Close();
  return 0;
}

std::int32_t CURLCategoryDB::BuildFromText(const char16_t* pszTextPath,
                                           const char16_t* pszDataPath,
                                           const char16_t* pszLogPath,
                                           const char16_t* pszTempFolder) {
  if (pszTextPath == nullptr || pszDataPath == nullptr) return -1;
  std::optional<CASFile> text;
  try {
    text.emplace(pszTextPath, u"rb");
  } catch (const std::exception&) {
    AS_TRACE(0, "[URLDB2 Engine] Error on opening the file for training.");
    return kCategoryTextNotOpened;
  }
  std::optional<CASFile> logFile;
  if (pszLogPath != nullptr && pszLogPath[0] != 0) {
    try {
      logFile.emplace(pszLogPath, u"wb");
    } catch (const std::exception&) {
      AS_TRACE(0, "[URLDB2 Engine] Error on creating the log file.");
    }
  }
  BuildLog log(logFile ? &*logFile : nullptr);

  static constexpr const char* kPieceCodes[kCategoryPieceCount] = {"u\n", "sd\n", "d\n"};
  CParsedURL parsed;
  char line[kCategoryMaxLineRead + 1];
  while (text->gets(line, static_cast<int>(sizeof line)) != nullptr) {
    std::size_t length = std::strlen(line);
    while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r')) --length;
    line[length] = '\0';
    const std::int32_t status = parsed.ParseURL(line, length);
    if (status == -2) return -2;
    if (status != 0) {
      log.Put("errorconv\n");
      log.Put(line, length);
      log.Put("\n\n");
      continue;
    }
    const char* pieces[kCategoryPieceCount];
    std::size_t lengths[kCategoryPieceCount];
    parsed.GetPathLower(pieces[0], lengths[0]);
    parsed.GetHostLower(pieces[1], lengths[1]);
    parsed.GetDomainLower(pieces[2], lengths[2]);
    for (std::size_t p = 0; p < kCategoryPieceCount; ++p) {
      if (pieces[p] == nullptr) continue;
      std::uint8_t digest[CMD5::kDigestSize];
      CMD5::Digest(pieces[p], lengths[p], digest);
      std::uint64_t key;
      std::memcpy(&key, digest, sizeof key);
      if (m_sets[p].Insert(key) < 0) return -2;
      if (log.Active()) {
        log.Put(kPieceCodes[p]);
        log.Put(line, length);
        log.Put("\n");
        log.Put(pieces[p], lengths[p]);
        log.Put("\n");
        log.Digest(digest);
      }
    }
  }
  if (logFile) logFile->close();
  text->close();
  return WriteFile(pszDataPath, pszTempFolder);
}

}  // namespace ascommon
