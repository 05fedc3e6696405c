// CKeySet: keys packed into canonical records (6 bits per character for short host-like
// keys, raw bytes otherwise), spread over 2^k hash partitions, each a bucket directory and
// its records in bucket order. Lookup: pack, hash, one directory entry, a few records;
// expected O(1 + key length). Insert/remove: shift one partition's tail, amortised O(1 +
// length) with splits. About 13 bytes per host-name key. Tested by
// tests/engines/urldb/urldb_test.cpp (against std::set and a linear-scan reference).
#include "engines/urldb/keyset.h"

#include <algorithm>
#include <cstring>

namespace ascommon {

namespace {

// The 64 characters stored in 6 bits, in ascending byte order.
constexpr char kAlphabet[] =
    "!#$%&'()*+,-./0123456789:;=?@[\\]^_abcdefghijklmnopqrstuvwxyz{|}~";
static_assert(sizeof kAlphabet == 65, "64 packed characters");

struct CodeTable {
  unsigned char code[256];  // 6-bit code of a character, 0xFF when it has none
  constexpr CodeTable() : code{} {
    for (unsigned char& c : code) c = 0xFF;
    for (unsigned i = 0; i < 64; ++i) code[static_cast<unsigned char>(kAlphabet[i])] = i;
  }
};
constexpr CodeTable kCodes;

// Header bytes: 0..127 packed key of that many characters; 128..254 raw key of (header -
// 128) bytes; 255 raw key whose 4-byte length follows.
constexpr unsigned kRawHeader = 128;
constexpr unsigned kLongHeader = 255;
constexpr std::size_t kMaxShortRaw = kLongHeader - 1 - kRawHeader;  // 126

constexpr std::uint32_t PackedBytes(std::uint32_t characters) { return (characters * 6 + 7) / 8; }

inline std::uint64_t MulFold(std::uint64_t a, std::uint64_t b) noexcept {
  const unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
  return static_cast<std::uint64_t>(product) ^ static_cast<std::uint64_t>(product >> 64);
}

inline std::uint32_t RecordHashOf(unsigned header, const unsigned char* pPayload,
                                  std::uint32_t length) noexcept {
  return HashKeyBytes(reinterpret_cast<const char*>(pPayload), length) + header * 0x9E3779B1u;
}

constexpr std::uint32_t kAbsent = 0xFFFFFFFFu;

// The 6-bit code of character i of a packed payload.
inline unsigned CodeAt(const unsigned char* pPayload, unsigned i) noexcept {
  const unsigned bit = i * 6;
  const unsigned shift = bit % 8;
  unsigned v = static_cast<unsigned>(pPayload[bit / 8]) << 8;
  if (shift > 2) v |= pPayload[bit / 8 + 1];
  return (v >> (10 - shift)) & 63;
}

// Byte order of two packed keys of na and nb characters, read packed: the alphabet is in
// ascending byte order, so the codes compare as the characters do.
int ComparePacked(const unsigned char* a, unsigned na, const unsigned char* b,
                  unsigned nb) noexcept {
  const unsigned common = na < nb ? na : nb;
  const unsigned whole = common * 6 / 8;  // bytes holding bits of the common part only
  const int order = whole == 0 ? 0 : std::memcmp(a, b, whole);
  if (order != 0) return order;
  for (unsigned i = whole * 8 / 6; i < common; ++i) {
    const unsigned ca = CodeAt(a, i);
    const unsigned cb = CodeAt(b, i);
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return na < nb ? -1 : (na > nb ? 1 : 0);
}
// The block's head: 129 directory offsets and 128 bucket filters (see keyset.h).
constexpr std::size_t kDirectoryBytes = (128 + 1) * sizeof(std::uint32_t) + 128 * 2;

}  // namespace

std::uint32_t HashKeyBytes(const char* pKey, std::size_t length) noexcept {
  std::uint64_t h = 0x243F6A8885A308D3ull ^ length;
  while (length >= 8) {
    std::uint64_t word;
    std::memcpy(&word, pKey, 8);
    h = MulFold(h ^ word, 0x9E3779B97F4A7C15ull);
    pKey += 8;
    length -= 8;
  }
  if (length > 0) {
    std::uint64_t word = 0;
    std::memcpy(&word, pKey, length);
    h = MulFold(h ^ word, 0xBF58476D1CE4E5B9ull);
  }
  h = MulFold(h, 0x94D049BB133111EBull);
  return static_cast<std::uint32_t>(h) ^ static_cast<std::uint32_t>(h >> 32);
}

CKeySet::~CKeySet() { Clear(); }

void CKeySet::Clear() noexcept {
  for (std::uint32_t p = 0; p < PartitionCount(); ++p) as_free(m_parts[p].block);
  as_free(m_parts);
  m_parts = nullptr;
  m_bits = 0;
  m_count = 0;
}

CKeySet::Probe CKeySet::MakeProbe(const char* pKey, std::size_t length) noexcept {
  Probe probe;
  probe.key = pKey;
  probe.packed = length <= kMaxPacked;
  // Pack while checking: the first character without a code switches to the raw form.
  std::uint32_t acc = 0;
  unsigned bits = 0;
  std::uint32_t out = 0;
  for (std::size_t i = 0; probe.packed && i < length; ++i) {
    const unsigned code = kCodes.code[static_cast<unsigned char>(pKey[i])];
    if (code == 0xFF) {
      probe.packed = false;
      break;
    }
    acc = (acc << 6) | code;
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      probe.bits[out++] = static_cast<unsigned char>(acc >> bits);
    }
  }
  if (probe.packed) {
    if (bits != 0) probe.bits[out++] = static_cast<unsigned char>(acc << (8 - bits));
    probe.header[0] = static_cast<unsigned char>(length);
    probe.headerLength = 1;
    probe.payloadLength = out;
  } else if (length <= kMaxShortRaw) {
    probe.header[0] = static_cast<unsigned char>(kRawHeader + length);
    probe.headerLength = 1;
    probe.payloadLength = static_cast<std::uint32_t>(length);
  } else if (length <= 0xFFFFFFFFu - 5) {
    probe.header[0] = static_cast<unsigned char>(kLongHeader);
    const auto longLength = static_cast<std::uint32_t>(length);
    std::memcpy(probe.header + 1, &longLength, 4);
    probe.headerLength = 5;
    probe.payloadLength = longLength;
  } else {  // cannot be stored, so never a member
    probe.headerLength = 0;
    probe.payloadLength = 0;
    probe.hash = 0;
    return probe;
  }
  probe.hash = RecordHashOf(probe.header[0], probe.Payload(), probe.payloadLength);
  return probe;
}

std::uint32_t CKeySet::RecordSize(const unsigned char* pRecord) noexcept {
  const unsigned header = pRecord[0];
  if (header < kRawHeader) return 1 + PackedBytes(header);
  if (header != kLongHeader) return 1 + (header - kRawHeader);
  std::uint32_t length;
  std::memcpy(&length, pRecord + 1, 4);
  return 5 + length;
}

std::uint32_t CKeySet::RecordHash(const unsigned char* pRecord) noexcept {
  const unsigned header = pRecord[0];
  const std::uint32_t headerLength = header == kLongHeader ? 5 : 1;
  return RecordHashOf(header, pRecord + headerLength, RecordSize(pRecord) - headerLength);
}

std::uint32_t CKeySet::Unpack(const unsigned char* pRecord, char* buffer, const char*& pKey,
                              std::size_t& length) noexcept {
  const unsigned header = pRecord[0];
  const std::uint32_t size = RecordSize(pRecord);
  if (header >= kRawHeader) {
    const std::uint32_t headerLength = header == kLongHeader ? 5 : 1;
    pKey = reinterpret_cast<const char*>(pRecord + headerLength);
    length = size - headerLength;
    return size;
  }
  std::uint32_t acc = 0;
  unsigned bits = 0;
  const unsigned char* in = pRecord + 1;
  for (unsigned i = 0; i < header; ++i) {
    if (bits < 6) {
      acc = (acc << 8) | *in++;
      bits += 8;
    }
    bits -= 6;
    buffer[i] = kAlphabet[(acc >> bits) & 63];
  }
  pKey = buffer;
  length = header;
  return size;
}

std::uint32_t CKeySet::Find(const Partition& part, const Probe& probe) const noexcept {
  if (part.block == nullptr) return kAbsent;
  const std::uint32_t bucket = BucketOf(probe.hash, m_bits);
  if ((Filters(part)[bucket] & FilterBit(probe.hash)) == 0) return kAbsent;
  const unsigned char* records = Records(part);
  const std::uint32_t size = probe.headerLength + probe.payloadLength;
  const unsigned char* payload = probe.Payload();
  auto scan = [&](std::uint32_t at, std::uint32_t end) {
    while (at < end) {
      const unsigned char* record = records + at;
      const std::uint32_t recordSize = RecordSize(record);
      if (recordSize == size && record[0] == probe.header[0] &&
          std::memcmp(record + 1, probe.header + 1, probe.headerLength - 1u) == 0 &&
          std::memcmp(record + probe.headerLength, payload, probe.payloadLength) == 0) {
        return at;
      }
      at += recordSize;
    }
    return kAbsent;
  };
  const std::uint32_t at = scan(part.block[bucket], part.block[bucket + 1]);
  return at != kAbsent ? at : scan(part.block[kBuckets], part.used);
}

void CKeySet::MergeTail(Partition& part, unsigned bits) noexcept {
  if (part.block == nullptr) return;
  std::uint32_t* const dir = part.block;
  const std::uint32_t tailStart = dir[kBuckets];
  if (tailStart == part.used) return;
  auto* records = const_cast<unsigned char*>(Records(part));
  unsigned char tail[kMaxTailBytes];
  const std::uint32_t tailBytes = part.used - tailStart;
  std::memcpy(tail, records + tailStart, tailBytes);
  std::uint32_t added[kBuckets] = {};
  for (std::uint32_t at = 0; at < tailBytes; at += RecordSize(tail + at)) {
    added[BucketOf(RecordHash(tail + at), bits)] += RecordSize(tail + at);
  }
  // Buckets move right by the tail bytes of the buckets before them; the last one first,
  // so nothing is overwritten before it has moved.
  std::uint32_t shift = tailBytes;
  std::uint32_t fill[kBuckets];
  std::uint32_t end = tailStart;  // the old end of bucket b
  for (std::uint32_t b = kBuckets; b-- > 0;) {
    shift -= added[b];
    const std::uint32_t begin = dir[b];
    const std::uint32_t length = end - begin;
    end = begin;
    if (shift != 0 && length != 0) std::memmove(records + begin + shift, records + begin, length);
    dir[b] = begin + shift;
    fill[b] = dir[b] + length;
  }
  dir[kBuckets] = part.used;
  for (std::uint32_t at = 0; at < tailBytes;) {
    const std::uint32_t size = RecordSize(tail + at);
    std::uint32_t& to = fill[BucketOf(RecordHash(tail + at), bits)];
    std::memcpy(records + to, tail + at, size);
    to += size;
    at += size;
  }
}

void CKeySet::Compact() noexcept {
  for (std::uint32_t p = 0; p < PartitionCount(); ++p) MergeTail(m_parts[p], m_bits);
}

bool CKeySet::Contains(const Probe& probe) const noexcept {
  if (m_count == 0 || probe.headerLength == 0) return false;
  return Find(m_parts[PartitionOf(probe.hash)], probe) != kAbsent;
}

bool CKeySet::Contains(const char* pKey, std::size_t length) const noexcept {
  if (m_count == 0) return false;
  return Contains(MakeProbe(pKey, length));
}

std::int32_t CKeySet::Grow(Partition& part, std::uint64_t extra) noexcept {
  const std::uint64_t needed = std::uint64_t{part.used} + extra;
  if (needed <= part.capacity) return 0;
  if (needed > 0xFFFFFFFFu) return -2;
  // A sixteenth of headroom, rounded up to whole kilobytes (with the head, blocks come in
  // few sizes, so the block a partition leaves behind fits the next one to grow past it
  // instead of staying a hole in the heap).
  const std::uint64_t capacity = std::min<std::uint64_t>(
      ((needed + needed / 16 + kDirectoryBytes + 1023) & ~std::uint64_t{1023}) - kDirectoryBytes,
      0xFFFFFFFFu);
  auto* block = static_cast<std::uint32_t*>(as_alloc_nt(kDirectoryBytes + capacity));
  if (block == nullptr) return -2;
  if (part.block != nullptr) {
    std::memcpy(block, part.block, kDirectoryBytes + part.used);
  } else {
    std::memset(block, 0, kDirectoryBytes);
  }
  as_free(part.block);
  part.block = block;
  part.capacity = static_cast<std::uint32_t>(capacity);
  return 0;
}

std::int32_t CKeySet::Split() noexcept {
  const std::uint32_t oldCount = PartitionCount();
  const unsigned bits = m_bits + 1;
  Partition* parts = as_alloc_array_nt<Partition>(std::size_t{oldCount} * 2);
  if (parts == nullptr) return -2;
  for (std::uint32_t p = 0; p < oldCount * 2; ++p) parts[p] = Partition{};
  // Every child is built before any parent is released, so a failure leaves the set as
  // it was. Splits of a full set are rare: loads reserve the partitions first.
  for (std::uint32_t p = 0; p < oldCount; ++p) {
    const Partition& old = m_parts[p];
    if (old.block == nullptr) continue;
    std::uint32_t sizes[2][kBuckets] = {};
    const unsigned char* records = Records(old);
    for (std::uint32_t at = 0; at < old.used;) {
      const std::uint32_t hash = RecordHash(records + at);
      const std::uint32_t size = RecordSize(records + at);
      sizes[(hash >> (32 - bits)) & 1][BucketOf(hash, bits)] += size;
      at += size;
    }
    for (unsigned child = 0; child < 2; ++child) {
      std::uint32_t total = 0;
      for (std::uint32_t b = 0; b < kBuckets; ++b) total += sizes[child][b];
      if (total == 0) continue;
      Partition& part = parts[2 * p + child];
      if (Grow(part, total) != 0) {
        for (std::uint32_t q = 0; q <= 2 * p + child; ++q) as_free(parts[q].block);
        as_free(parts);
        return -2;
      }
      std::uint32_t offset = 0;
      for (std::uint32_t b = 0; b < kBuckets; ++b) {
        part.block[b] = offset;
        offset += sizes[child][b];
      }
      part.block[kBuckets] = offset;
      part.used = total;
    }
    std::uint32_t fill[2][kBuckets];
    for (unsigned child = 0; child < 2; ++child) {
      for (std::uint32_t b = 0; b < kBuckets; ++b) {
        fill[child][b] = parts[2 * p + child].block == nullptr ? 0 : parts[2 * p + child].block[b];
      }
    }
    for (std::uint32_t at = 0; at < old.used;) {
      const std::uint32_t hash = RecordHash(records + at);
      const std::uint32_t size = RecordSize(records + at);
      const unsigned child = (hash >> (32 - bits)) & 1;
      const std::uint32_t bucket = BucketOf(hash, bits);
      std::uint32_t& to = fill[child][bucket];
      Partition& part = parts[2 * p + child];
      Filters(part)[bucket] |= FilterBit(hash);
      std::memcpy(const_cast<unsigned char*>(Records(part)) + to, records + at, size);
      to += size;
      at += size;
    }
  }
  for (std::uint32_t p = 0; p < oldCount; ++p) as_free(m_parts[p].block);
  as_free(m_parts);
  m_parts = parts;
  m_bits = bits;
  return 0;
}

std::int32_t CKeySet::Reserve(std::uint32_t count) noexcept {
  if (m_parts == nullptr) {
    m_parts = as_alloc_array_nt<Partition>(1);
    if (m_parts == nullptr) return -2;
    m_parts[0] = Partition{};
    m_bits = 0;
  }
  while (count / kKeysPerPartition >= PartitionCount() && m_bits < kMaxPartitionBits) {
    if (Split() != 0) return -2;
  }
  return 0;
}

std::int32_t CKeySet::Insert(const char* pKey, std::size_t length) noexcept {
  const Probe probe = MakeProbe(pKey, length);
  if (probe.headerLength == 0 || m_count == 0xFFFFFFFFu) return -2;
  if (Contains(probe)) return 1;
  // Growing past the partitions is not an error: a failed split only leaves them fuller.
  if (Reserve(m_count + 1) != 0 && m_parts == nullptr) return -2;
  Partition& part = m_parts[PartitionOf(probe.hash)];
  const std::uint32_t size = probe.headerLength + probe.payloadLength;
  if (Grow(part, size) != 0) return -2;
  const std::uint32_t bucket = BucketOf(probe.hash, m_bits);
  auto* records = const_cast<unsigned char*>(Records(part));
  // Small keys are appended to the partition's tail, which is sorted into the buckets
  // when full: one pass over the partition per kMaxTailBytes instead of per key.
  const bool toTail = size <= kMaxTailBytes / 4;
  if (toTail && part.used + size - part.block[kBuckets] > kMaxTailBytes) MergeTail(part, m_bits);
  const std::uint32_t at = toTail ? part.used : part.block[bucket + 1];
  std::memmove(records + at + size, records + at, part.used - at);
  std::memcpy(records + at, probe.header, probe.headerLength);
  std::memcpy(records + at + probe.headerLength, probe.Payload(), probe.payloadLength);
  if (!toTail) {
    for (std::uint32_t b = bucket + 1; b <= kBuckets; ++b) part.block[b] += size;
  }
  Filters(part)[bucket] |= FilterBit(probe.hash);
  part.used += size;
  ++m_count;
  return 0;
}

bool CKeySet::Remove(const char* pKey, std::size_t length) noexcept {
  if (m_count == 0) return false;
  const Probe probe = MakeProbe(pKey, length);
  if (probe.headerLength == 0) return false;
  Partition& part = m_parts[PartitionOf(probe.hash)];
  if (Find(part, probe) == kAbsent) return false;
  MergeTail(part, m_bits);
  const std::uint32_t at = Find(part, probe);
  auto* records = const_cast<unsigned char*>(Records(part));
  const std::uint32_t size = RecordSize(records + at);
  std::memmove(records + at, records + at + size, part.used - at - size);
  const std::uint32_t bucket = BucketOf(probe.hash, m_bits);
  for (std::uint32_t b = bucket + 1; b <= kBuckets; ++b) part.block[b] -= size;
  part.used -= size;
  // The bucket's filter from the keys it still holds.
  std::uint16_t filter = 0;
  for (std::uint32_t i = part.block[bucket]; i < part.block[bucket + 1];) {
    filter |= FilterBit(RecordHash(records + i));
    i += RecordSize(records + i);
  }
  Filters(part)[bucket] = filter;
  --m_count;
  return true;
}

std::int32_t CKeySet::SortedRefs(std::uint64_t*& refs) const noexcept {
  refs = as_alloc_array_nt<std::uint64_t>(m_count == 0 ? 1 : m_count);
  if (refs == nullptr) return -2;
  std::uint32_t n = 0;
  for (std::uint32_t p = 0; p < PartitionCount(); ++p) {
    const Partition& part = m_parts[p];
    for (std::uint32_t at = 0; at < part.used; at += RecordSize(Records(part) + at)) {
      refs[n++] = (std::uint64_t{p} << 32) | at;
    }
  }
  std::sort(refs, refs + n, [this](std::uint64_t left, std::uint64_t right) {
    const unsigned char* pLeftRecord = RecordAt(left);
    const unsigned char* pRightRecord = RecordAt(right);
    if (pLeftRecord[0] < kRawHeader && pRightRecord[0] < kRawHeader) {
      return ComparePacked(pLeftRecord + 1, pLeftRecord[0], pRightRecord + 1,
                           pRightRecord[0]) < 0;
    }
    char leftBuffer[kMaxPacked];
    char rightBuffer[kMaxPacked];
    const char* pLeft = nullptr;
    const char* pRight = nullptr;
    std::size_t leftLength = 0, rightLength = 0;
    Unpack(pLeftRecord, leftBuffer, pLeft, leftLength);
    Unpack(pRightRecord, rightBuffer, pRight, rightLength);
    const std::size_t common = std::min(leftLength, rightLength);
    const int order = common == 0 ? 0 : std::memcmp(pLeft, pRight, common);
    return order != 0 ? order < 0 : leftLength < rightLength;
  });
  return 0;
}

}  // namespace ascommon
