// CKeySet: keys packed into canonical records (40 symbols three per 16 bits for host
// names, 6 bits per character for other short URL-like keys, raw bytes otherwise), spread
// over 2^k hash partitions, each a bucket directory and its records in bucket order.
// Lookup: hash the key's text, one directory entry, and (when the bucket's filter lets the
// key pass) pack it and compare a few records; expected O(1 + key length).
// Insert/remove: shift one partition's tail, amortised O(1 + length) with splits; a
// planned load writes each record once into room left in its bucket. About 11 bytes per
// host-name key. Tested by tests/engines/urldb/urldb_test.cpp (against std::set and a
// linear-scan reference).
#include "engines/urldb/keyset.h"

#include <algorithm>
#include <cstring>

#include "common/swar.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ascommon {

namespace {

// Header bytes (the first byte of a record):
//   0..127    host form: header + 1 symbols, three per big-endian 16-bit word
//   128..191  6-bit form: header - 127 characters (1..64)
//   192..253  raw: header - 192 bytes (0..61)
//   254       a gap byte (no record)
//   255       raw: a 4-byte length and the bytes
constexpr unsigned kSixBitHeader = 128;
constexpr unsigned kRawHeader = 192;
constexpr unsigned kLongHeader = 255;
constexpr std::size_t kMaxSymbols = 128;
constexpr std::size_t kMaxSixBit = 64;
constexpr std::size_t kMaxShortRaw = 253 - kRawHeader;  // 61

// The host form's symbols: the characters of host names in ascending byte order, then
// ".com" (the commonest ending of list keys).
constexpr char kHostChars[] = "-.0123456789_abcdefghijklmnopqrstuvwxyz";
static_assert(sizeof kHostChars == 40, "39 characters and .com make 40 symbols");
constexpr unsigned kDotCom = 39;
constexpr unsigned kSymbols = 40;

// The 64 characters stored in 6 bits, in ascending byte order.
constexpr char kAlphabet[] =
    "!#$%&'()*+,-./0123456789:;=?@[\\]^_abcdefghijklmnopqrstuvwxyz{|}~";
static_assert(sizeof kAlphabet == 65, "64 packed characters");

struct CodeTables {
  unsigned char host[256];  // host symbol of a character, 0xFF when it has none
  unsigned char code[256];  // 6-bit code of a character, 0xFF when it has none
  unsigned char size[256];  // record size by header
  constexpr CodeTables() : host{}, code{}, size{} {
    for (unsigned c = 0; c < 256; ++c) host[c] = code[c] = 0xFF;
    for (unsigned i = 0; i + 1 < sizeof kHostChars; ++i) {
      host[static_cast<unsigned char>(kHostChars[i])] = static_cast<unsigned char>(i);
    }
    for (unsigned i = 0; i < 64; ++i) {
      code[static_cast<unsigned char>(kAlphabet[i])] = static_cast<unsigned char>(i);
    }
    for (unsigned h = 0; h < 256; ++h) {
      if (h < kSixBitHeader) {
        size[h] = static_cast<unsigned char>(1 + 2 * ((h + 3) / 3));
      } else if (h < kRawHeader) {
        size[h] = static_cast<unsigned char>(1 + ((h - 127) * 6 + 7) / 8);
      } else if (h < kLongHeader - 1) {
        size[h] = static_cast<unsigned char>(1 + h - kRawHeader);
      } else {
        size[h] = h == kLongHeader ? 13 : 1;  // header, length, pointer
      }
    }
  }
};
constexpr CodeTables kTables;

inline std::uint64_t MulFold(std::uint64_t a, std::uint64_t b) noexcept {
  const unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
  return static_cast<std::uint64_t>(product) ^ static_cast<std::uint64_t>(product >> 64);
}

constexpr std::uint32_t kAbsent = 0xFFFFFFFFu;

// The host symbol of each of the length characters at pKey, written to symbol, with ".com"
// as one symbol wherever it occurs (left to right; it cannot overlap itself, so the
// symbols are fixed by the key). Returns the symbol count, or 0 when a character has no
// symbol or the key needs more than kMaxSymbols. symbol holds kMaxSymbols + 3 bytes.
unsigned HostSymbolsScalar(const char* pKey, std::size_t length, unsigned char* symbol) noexcept {
  unsigned n = 0;
  std::size_t i = 0;
  while (i < length && n < kMaxSymbols) {
    const unsigned char c = static_cast<unsigned char>(pKey[i]);
    unsigned char s = kTables.host[c];
    if (s == 0xFF) return 0;
    if (c == '.' && length - i >= 4 && pKey[i + 1] == 'c' && pKey[i + 2] == 'o' &&
        pKey[i + 3] == 'm') {
      s = kDotCom;
      i += 4;
    } else {
      ++i;
    }
    symbol[n++] = s;
  }
  return i < length ? 0 : n;
}

#if defined(__SSE2__)
// The same for keys of 8 to 64 characters, sixteen at a time: each character's symbol from
// four range tests, and bit masks of the characters without one and of the places where
// ".com" starts. The key is read in place (a copy into a buffer would make every vector
// load wait for the copy's smaller stores): whole blocks of sixteen, then the last sixteen
// characters again, overlapping; a key shorter than sixteen is read as two overlapping
// halves. Lookups and loads pack one key each, so this is on both hot paths.
constexpr std::size_t kVectorKeyMin = 8;
constexpr std::size_t kVectorKeyMax = 64;
unsigned HostSymbolsSse2(const char* pKey, std::size_t length, unsigned char* symbol) noexcept {
  const auto in = [](__m128i x, char low, char count) {  // low <= x < low + count
    const __m128i offset = _mm_sub_epi8(x, _mm_set1_epi8(low));
    return _mm_cmpeq_epi8(_mm_min_epu8(offset, _mm_set1_epi8(static_cast<char>(count - 1))),
                          offset);
  };
  const auto bits = [](__m128i mask) {
    return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(mask)));
  };
  std::uint64_t valid = 0, dot = 0, c = 0, o = 0, m = 0;
  // Sixteen characters from place at: their symbols, and their mask bits (of which the
  // first width count).
  const auto block = [&](__m128i x, std::size_t at, unsigned width) {
    const __m128i dashDot = in(x, '-', 2);  // symbols 0 and 1
    const __m128i digit = in(x, '0', 10);   // 2..11
    const __m128i under = _mm_cmpeq_epi8(x, _mm_set1_epi8('_'));  // 12
    const __m128i letter = in(x, 'a', 26);  // 13..38
    const __m128i s = _mm_or_si128(
        _mm_or_si128(_mm_and_si128(dashDot, _mm_sub_epi8(x, _mm_set1_epi8('-'))),
                     _mm_and_si128(digit, _mm_sub_epi8(x, _mm_set1_epi8('0' - 2)))),
        _mm_or_si128(_mm_and_si128(under, _mm_set1_epi8(12)),
                     _mm_and_si128(letter, _mm_sub_epi8(x, _mm_set1_epi8('a' - 13)))));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(symbol + at), s);
    const std::uint64_t keep = (std::uint64_t{1} << width) - 1;
    const unsigned shift = static_cast<unsigned>(at);
    valid |= (bits(_mm_or_si128(_mm_or_si128(dashDot, digit), _mm_or_si128(under, letter))) &
              keep) << shift;
    dot |= (bits(_mm_cmpeq_epi8(x, _mm_set1_epi8('.'))) & keep) << shift;
    c |= (bits(_mm_cmpeq_epi8(x, _mm_set1_epi8('c'))) & keep) << shift;
    o |= (bits(_mm_cmpeq_epi8(x, _mm_set1_epi8('o'))) & keep) << shift;
    m |= (bits(_mm_cmpeq_epi8(x, _mm_set1_epi8('m'))) & keep) << shift;
  };
  if (length < 16) {
    std::uint64_t low, high;
    std::memcpy(&low, pKey, 8);
    std::memcpy(&high, pKey + length - 8, 8);
    high = length == 8 ? 0 : high >> (8 * (16 - length));  // characters 8.. in place
    block(_mm_set_epi64x(static_cast<long long>(high), static_cast<long long>(low)), 0,
          static_cast<unsigned>(length));
  } else {
    std::size_t at = 0;
    for (; at + 16 <= length; at += 16) {
      block(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pKey + at)), at, 16);
    }
    if (at != length) {
      block(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pKey + length - 16)), length - 16,
            16);
    }
  }
  const std::uint64_t inKey =
      length == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << length) - 1;
  if (valid != inKey) return 0;
  std::uint64_t dotCom = dot & c >> 1 & o >> 2 & m >> 3;
  if (dotCom == 0) return static_cast<unsigned>(length);
  // Each ".com" becomes one symbol: the symbols between them move left.
  unsigned n = 0;
  unsigned from = 0;
  for (; dotCom != 0; dotCom &= dotCom - 1) {
    const unsigned at = static_cast<unsigned>(__builtin_ctzll(dotCom));
    if (n != from) std::memmove(symbol + n, symbol + from, at - from);
    n += at - from;
    symbol[n++] = kDotCom;
    from = at + 4;
  }
  if (n != from) std::memmove(symbol + n, symbol + from, length - from);
  return static_cast<unsigned>(n + (length - from));
}
#endif

// Codes the key in host symbols into bits (three symbols per big-endian 16-bit word); false
// when it has no host form. The symbols are found first and then packed three at a time,
// which keeps the multiplications independent; the words are gathered eight bytes at a
// time and stored at once (a lookup's comparison reads them back right away). bits must
// hold 8 bytes past the coded ones.
bool PackHost(const char* pKey, std::size_t length, unsigned char* bits, unsigned& symbols,
              std::uint32_t& bytes) noexcept {
  unsigned char symbol[kMaxSymbols + 3];
  unsigned n;
#if defined(__SSE2__)
  n = length >= kVectorKeyMin && length <= kVectorKeyMax
          ? HostSymbolsSse2(pKey, length, symbol)
          : HostSymbolsScalar(pKey, length, symbol);
#else
  n = HostSymbolsScalar(pKey, length, symbol);
#endif
  if (n == 0) return false;
  symbol[n] = symbol[n + 1] = 0;  // unused places of the last word are symbol 0
  std::uint64_t gathered = 0;
  unsigned words = 0;  // in gathered
  for (unsigned j = 0; j < n; j += 3) {
    const unsigned word =
        symbol[j] * (kSymbols * kSymbols) + symbol[j + 1] * kSymbols + symbol[j + 2];
    gathered |= std::uint64_t{(word >> 8) | (word & 0xFF) << 8} << (16 * words);
    if (++words == 4) {
      std::memcpy(bits, &gathered, 8);
      bits += 8;
      gathered = 0;
      words = 0;
    }
  }
  if (words != 0) std::memcpy(bits, &gathered, 8);
  symbols = n;
  bytes = 2 * ((n + 2) / 3);
  return true;
}

// Writes the text of count host symbols coded at pWords; returns its length (at most
// 4 * count).
std::size_t UnpackHost(const unsigned char* pWords, unsigned count, char* out) noexcept {
  std::size_t length = 0;
  for (unsigned i = 0; i < count; i += 3, pWords += 2) {
    const unsigned word = static_cast<unsigned>(pWords[0]) << 8 | pWords[1];
    const unsigned symbol[3] = {word / (kSymbols * kSymbols), word / kSymbols % kSymbols,
                                word % kSymbols};
    for (unsigned j = 0; j < 3 && i + j < count; ++j) {
      if (symbol[j] == kDotCom) {
        std::memcpy(out + length, ".com", 4);
        length += 4;
      } else {
        out[length++] = kHostChars[symbol[j]];
      }
    }
  }
  return length;
}

int CompareText(const char* a, std::size_t na, const char* b, std::size_t nb) noexcept {
  const std::size_t common = na < nb ? na : nb;
  const int order = common == 0 ? 0 : std::memcmp(a, b, common);
  if (order != 0) return order;
  return na < nb ? -1 : (na > nb ? 1 : 0);
}

// Byte order of two host-form keys of na and nb symbols. Equal leading words hold equal
// symbols (so equal text); past them the symbols compare as their characters do (the
// characters are in byte order), except ".com" against '.', which is decided unpacked.
int CompareHost(const unsigned char* a, unsigned na, const unsigned char* b,
                unsigned nb) noexcept {
  for (unsigned i = 0;; i += 3, a += 2, b += 2) {
    // Every symbol of the shorter key matched: it is a prefix of the other (or equal).
    if (i >= na || i >= nb) return na < nb ? -1 : (na > nb ? 1 : 0);
    if (i + 3 <= na && i + 3 <= nb && a[0] == b[0] && a[1] == b[1]) continue;
    const unsigned wordA = static_cast<unsigned>(a[0]) << 8 | a[1];
    const unsigned wordB = static_cast<unsigned>(b[0]) << 8 | b[1];
    const unsigned symbolsA[3] = {wordA / (kSymbols * kSymbols), wordA / kSymbols % kSymbols,
                                  wordA % kSymbols};
    const unsigned symbolsB[3] = {wordB / (kSymbols * kSymbols), wordB / kSymbols % kSymbols,
                                  wordB % kSymbols};
    for (unsigned j = 0; j < 3; ++j) {
      const bool endA = i + j >= na;
      const bool endB = i + j >= nb;
      if (endA || endB) return endA && endB ? 0 : (endA ? -1 : 1);  // a prefix first
      const unsigned x = symbolsA[j];
      const unsigned y = symbolsB[j];
      if (x == y) continue;
      // ".com" starts with '.' (symbol 1): against any other symbol it compares as '.'.
      constexpr unsigned kDot = 1;
      const unsigned firstX = x == kDotCom ? kDot : x;
      const unsigned firstY = y == kDotCom ? kDot : y;
      if (firstX != firstY) return firstX < firstY ? -1 : 1;
      char left[CKeySet::kMaxUnpacked];
      char right[CKeySet::kMaxUnpacked];
      const std::size_t leftLength = UnpackHost(a, na - i, left);
      const std::size_t rightLength = UnpackHost(b, nb - i, right);
      return CompareText(left, leftLength, right, rightLength);
    }
  }
}

// The 6-bit code of character i of a packed payload.
inline unsigned CodeAt(const unsigned char* pPayload, unsigned i) noexcept {
  const unsigned bit = i * 6;
  const unsigned shift = bit % 8;
  unsigned v = static_cast<unsigned>(pPayload[bit / 8]) << 8;
  if (shift > 2) v |= pPayload[bit / 8 + 1];
  return (v >> (10 - shift)) & 63;
}

// Byte order of two 6-bit keys of na and nb characters, read packed: the alphabet is in
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
// The block's head: 129 directory entries (see keyset.h).
constexpr std::size_t kDirectoryBytes = (128 + 1) * sizeof(std::uint32_t);

}  // namespace

std::uint32_t HashKeyBytes(const char* pKey, std::size_t length) noexcept {
  std::uint64_t h = 0x243F6A8885A308D3ull ^ length;
  const bool whole = length >= 8;
  const char* const end = pKey + length;
  for (; length >= 8; pKey += 8, length -= 8) {
    h = MulFold(h ^ swar::LoadWord(pKey), 0x9E3779B97F4A7C15ull);
  }
  if (length > 0) {
    // The last length bytes as a little-endian word, read inside the key (bytes gathered
    // through memory would make the hash wait for their stores).
    const std::uint64_t word = whole ? swar::LoadWord(end - 8) >> (8 * (8 - length))
                                     : swar::LoadPartialWord(pKey, length);
    h = MulFold(h ^ word, 0xBF58476D1CE4E5B9ull);
  }
  h = MulFold(h, 0x94D049BB133111EBull);
  return static_cast<std::uint32_t>(h) ^ static_cast<std::uint32_t>(h >> 32);
}

CKeySet::~CKeySet() { Clear(); }

void CKeySet::Clear() noexcept {
  for (std::uint32_t p = 0; p < PartitionCount(); ++p) {
    if (m_longKeys != 0) ReleaseLongKeys(m_parts[p]);
    FreeBlock(m_parts[p].block);
  }
  m_arena.Clear();
  m_longKeys = 0;
  as_free(m_parts);
  m_parts = nullptr;
  m_bits = 0;
  m_count = 0;
}

CKeySet::Probe CKeySet::MakeLookupProbe(const char* pKey, std::size_t length) noexcept {
  Probe probe;
  probe.key = pKey;
  probe.keyLength = length;
  probe.lookupOnly = true;
  probe.packed = false;
  probe.payloadLength = 0;
  if (length > 0xFFFFFFFFu - 5) {  // cannot be stored, so never a member
    probe.headerLength = 0;
    probe.hash = 0;
    return probe;
  }
  probe.headerLength = 1;
  probe.hash = HashKeyBytes(pKey, length);
  return probe;
}

CKeySet::Probe CKeySet::MakeProbe(const char* pKey, std::size_t length) noexcept {
  Probe probe = MakeLookupProbe(pKey, length);
  if (probe.headerLength != 0) Pack(probe);
  return probe;
}

void CKeySet::Pack(Probe& probe) noexcept {
  const char* const pKey = probe.key;
  const std::size_t length = probe.keyLength;
  probe.lookupOnly = false;
  probe.packed = true;
  probe.headerLength = 1;
  unsigned symbols = 0;
  std::uint32_t bytes = 0;
  if (PackHost(pKey, length, probe.bits, symbols, bytes)) {
    probe.header[0] = static_cast<unsigned char>(symbols - 1);
    probe.payloadLength = bytes;
    return;
  }
  // The 6-bit form, packed while checking: a character without a code switches to the
  // raw form.
  if (length != 0 && length <= kMaxSixBit) {
    std::uint32_t acc = 0;
    unsigned bits = 0;
    std::uint32_t out = 0;
    std::size_t i = 0;
    for (; i < length; ++i) {
      const unsigned code = kTables.code[static_cast<unsigned char>(pKey[i])];
      if (code == 0xFF) break;
      acc = (acc << 6) | code;
      bits += 6;
      if (bits >= 8) {
        bits -= 8;
        probe.bits[out++] = static_cast<unsigned char>(acc >> bits);
      }
    }
    if (i == length) {
      if (bits != 0) probe.bits[out++] = static_cast<unsigned char>(acc << (8 - bits));
      probe.header[0] = static_cast<unsigned char>(kSixBitHeader - 1 + length);
      probe.payloadLength = out;
      return;
    }
  }
  probe.packed = false;
  if (length <= kMaxShortRaw) {
    probe.header[0] = static_cast<unsigned char>(kRawHeader + length);
    probe.payloadLength = static_cast<std::uint32_t>(length);
  } else {
    probe.header[0] = static_cast<unsigned char>(kLongHeader);
    const auto longLength = static_cast<std::uint32_t>(length);
    std::memcpy(probe.header + 1, &longLength, 4);
    probe.headerLength = 5;
    probe.payloadLength = longLength;
  }
}

std::uint32_t CKeySet::RecordSize(const unsigned char* pRecord) noexcept {
  return kTables.size[pRecord[0]];
}

const unsigned char* CKeySet::Payload(const unsigned char* pRecord,
                                      std::uint32_t& length) noexcept {
  if (pRecord[0] != kLongHeader) {
    length = RecordSize(pRecord) - 1;
    return pRecord + 1;
  }
  const unsigned char* pKey;
  std::memcpy(&length, pRecord + 1, 4);
  std::memcpy(&pKey, pRecord + 5, sizeof pKey);
  return pKey;
}

std::uint32_t CKeySet::RecordHash(const unsigned char* pRecord) noexcept {
  char buffer[kMaxUnpacked];
  const char* pKey = nullptr;
  std::size_t length = 0;
  Unpack(pRecord, buffer, pKey, length);
  return HashKeyBytes(pKey, length);
}

void CKeySet::ReleaseLongKeys(const Partition& part) noexcept {
  for (std::uint32_t at = 0; at < part.used; at += RecordSize(Records(part) + at)) {
    if (Records(part)[at] != kLongHeader) continue;
    std::uint32_t length = 0;
    as_free(const_cast<unsigned char*>(Payload(Records(part) + at, length)));
  }
}

std::uint32_t CKeySet::Unpack(const unsigned char* pRecord, char* buffer, const char*& pKey,
                              std::size_t& length) noexcept {
  const unsigned header = pRecord[0];
  const std::uint32_t size = RecordSize(pRecord);
  if (header >= kRawHeader) {
    std::uint32_t payloadLength = 0;
    pKey = reinterpret_cast<const char*>(Payload(pRecord, payloadLength));
    length = payloadLength;
    return size;
  }
  pKey = buffer;
  if (header < kSixBitHeader) {
    length = UnpackHost(pRecord + 1, header + 1, buffer);
    return size;
  }
  length = header - (kSixBitHeader - 1);
  std::uint32_t acc = 0;
  unsigned bits = 0;
  const unsigned char* in = pRecord + 1;
  for (std::size_t i = 0; i < length; ++i) {
    if (bits < 6) {
      acc = (acc << 8) | *in++;
      bits += 8;
    }
    bits -= 6;
    buffer[i] = kAlphabet[(acc >> bits) & 63];
  }
  return size;
}

std::uint32_t CKeySet::FindIn(const unsigned char* records, std::uint32_t at,
                              std::uint32_t end, const Probe& probe) noexcept {
  const std::uint32_t size = probe.RecordSize();
  const unsigned char* payload = probe.Payload();
  // A bucket's records end at its end or at its first gap byte (planned room).
  while (at < end) {
    const unsigned char* record = records + at;
    if (record[0] == kGapByte) break;
    const std::uint32_t recordSize = RecordSize(record);
    if (recordSize == size && record[0] == probe.header[0] &&
        std::memcmp(record + 1, probe.header + 1, probe.headerLength - 1u) == 0) {
      std::uint32_t length = 0;
      if (std::memcmp(Payload(record, length), payload, probe.payloadLength) == 0) return at;
    }
    at += recordSize;
  }
  return kAbsent;
}

std::uint32_t CKeySet::Find(const Partition& part, const Probe& probe) const noexcept {
  if (part.block == nullptr) return kAbsent;
  const std::uint32_t bucket = BucketOf(probe.hash, m_bits);
  const std::uint32_t entry = part.block[bucket];
  if (!FilterHolds(entry, probe.hash)) return kAbsent;
  return FindInBucket(part, bucket, entry, probe);
}

std::uint32_t CKeySet::FindInBucket(const Partition& part, std::uint32_t bucket,
                                    std::uint32_t entry, const Probe& probe) noexcept {
  const unsigned char* records = Records(part);
  const std::uint32_t at =
      FindIn(records, entry & kOffsetMask, part.block[bucket + 1] & kOffsetMask, probe);
  return at != kAbsent ? at : FindIn(records, part.block[kBuckets], part.used, probe);
}

void CKeySet::MergeTail(Partition& part, unsigned bits) noexcept {
  if (part.block == nullptr) return;
  std::uint32_t* const dir = part.block;
  const std::uint32_t tailStart = dir[kBuckets];
  if (tailStart == part.used) return;
  unsigned char* records = MutableRecords(part);
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
    const std::uint32_t begin = dir[b] & kOffsetMask;
    const std::uint32_t length = end - begin;
    end = begin;
    if (shift != 0 && length != 0) std::memmove(records + begin + shift, records + begin, length);
    dir[b] += shift;
    fill[b] = begin + shift + length;
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

void CKeySet::CloseGaps(Partition& part) noexcept {
  if (part.gaps == 0) return;
  std::uint32_t* const dir = part.block;
  unsigned char* records = MutableRecords(part);
  std::uint32_t to = 0;
  for (std::uint32_t b = 0; b < kBuckets; ++b) {
    const std::uint32_t begin = dir[b] & kOffsetMask;
    const std::uint32_t end = dir[b + 1] & kOffsetMask;
    std::uint32_t filled = begin;  // the bucket's gap bytes follow its records
    while (filled < end && records[filled] != kGapByte) filled += RecordSize(records + filled);
    if (to != begin && filled != begin) std::memmove(records + to, records + begin, filled - begin);
    dir[b] = (dir[b] & ~kOffsetMask) | to;
    to += filled - begin;
  }
  const std::uint32_t tail = part.used - dir[kBuckets];
  if (tail != 0) std::memmove(records + to, records + dir[kBuckets], tail);
  dir[kBuckets] = to;
  part.used = to + tail;
  part.gaps = 0;
}

void CKeySet::Compact() noexcept {
  for (std::uint32_t p = 0; p < PartitionCount(); ++p) {
    CloseGaps(m_parts[p]);
    MergeTail(m_parts[p], m_bits);
  }
}

bool CKeySet::Contains(const Probe& probe) const noexcept {
  if (m_count == 0 || probe.headerLength == 0) return false;
  const Partition& part = m_parts[PartitionOf(probe.hash)];
  if (!probe.lookupOnly) return Find(part, probe) != kAbsent;
  if (part.block == nullptr) return false;
  const std::uint32_t bucket = BucketOf(probe.hash, m_bits);
  const std::uint32_t entry = part.block[bucket];
  if (!FilterHolds(entry, probe.hash)) return false;
  Probe packed = probe;
  Pack(packed);
  return FindInBucket(part, bucket, entry, packed) != kAbsent;
}

bool CKeySet::Contains(const char* pKey, std::size_t length) const noexcept {
  if (m_count == 0) return false;
  return Contains(MakeLookupProbe(pKey, length));
}

std::uint32_t* CKeySet::NewBlock(std::size_t bytes) noexcept {
  void* block = m_arena.Carve(bytes);
  return static_cast<std::uint32_t*>(block != nullptr ? block : as_alloc_nt(bytes));
}

void CKeySet::FreeBlock(std::uint32_t* block) noexcept {
  if (!m_arena.Release(block)) as_free(block);
}

std::int32_t CKeySet::Reallocate(Partition& part, std::uint64_t capacity) noexcept {
  if (capacity > kMaxPartitionBytes) return -2;
  auto* block = static_cast<std::uint32_t*>(as_alloc_nt(kDirectoryBytes + capacity));
  if (block == nullptr) return -2;
  if (part.block != nullptr) {
    std::memcpy(block, part.block, kDirectoryBytes + part.used);
  } else {
    std::memset(block, 0, kDirectoryBytes);
  }
  FreeBlock(part.block);
  part.block = block;
  part.capacity = static_cast<std::uint32_t>(capacity);
  return 0;
}

std::int32_t CKeySet::Grow(Partition& part, std::uint64_t extra) noexcept {
  const std::uint64_t needed = std::uint64_t{part.used} + extra;
  if (needed <= part.capacity) return 0;
  if (needed > kMaxPartitionBytes) return -2;
  // A sixteenth of headroom, rounded up to whole kilobytes (with the head, blocks come in
  // few sizes, so the block a partition leaves behind fits the next one to grow past it
  // instead of staying a hole in the heap).
  const std::uint64_t capacity = std::min<std::uint64_t>(
      ((needed + needed / 16 + kDirectoryBytes + 1023) & ~std::uint64_t{1023}) - kDirectoryBytes,
      kMaxPartitionBytes);
  return Reallocate(part, capacity);
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
      if (records[at] == kGapByte) {
        ++at;
        continue;
      }
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
        for (std::uint32_t q = 0; q <= 2 * p + child; ++q) FreeBlock(parts[q].block);
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
      if (records[at] == kGapByte) {
        ++at;
        continue;
      }
      const std::uint32_t hash = RecordHash(records + at);
      const std::uint32_t size = RecordSize(records + at);
      const unsigned child = (hash >> (32 - bits)) & 1;
      const std::uint32_t bucket = BucketOf(hash, bits);
      std::uint32_t& to = fill[child][bucket];
      Partition& part = parts[2 * p + child];
      part.block[bucket] |= std::uint32_t{FilterBits(hash)} << 16;
      std::memcpy(MutableRecords(part) + to, records + at, size);
      to += size;
      at += size;
    }
  }
  for (std::uint32_t p = 0; p < oldCount; ++p) FreeBlock(m_parts[p].block);
  as_free(m_parts);
  m_parts = parts;
  m_bits = bits;
  return 0;
}

std::uint32_t CKeySet::PartitionBitsFor(std::uint32_t count) const noexcept {
  unsigned bits = m_bits;
  while (count / kKeysPerPartition >= (1u << bits) && bits < kMaxPartitionBits) ++bits;
  return bits;
}

std::int32_t CKeySet::Reserve(std::uint32_t count) noexcept {
  if (m_parts == nullptr) {
    m_parts = as_alloc_array_nt<Partition>(1);
    if (m_parts == nullptr) return -2;
    m_parts[0] = Partition{};
    m_bits = 0;
  }
  for (const std::uint32_t bits = PartitionBitsFor(count); m_bits < bits;) {
    if (Split() != 0) return -2;
  }
  return 0;
}

std::int32_t CKeySet::Plan(const Bins& bins) noexcept {
  const std::uint32_t total =
      bins.keys > 0xFFFFFFFFu - m_count ? 0xFFFFFFFFu : m_count + bins.keys;
  if (Reserve(total) != 0) return -2;
  if (bins.binBits > 24 || m_bits + kBucketBits > bins.binBits) return 0;
  const unsigned shift = bins.binBits - m_bits - kBucketBits;  // bins per bucket: 2^shift
  std::int32_t status = 0;
  // Partitions are allocated once each, in order, so the blocks lie side by side. Into an
  // empty set they are carved from one arena chunk when the planned bytes make one worth
  // it (a set that holds keys reallocates one partition at a time instead, so that its
  // peak memory does not double).
  if (m_count == 0) {
    std::uint64_t planned = std::uint64_t{PartitionCount()} * kDirectoryBytes;
    for (std::size_t i = 0; i < (std::size_t{1} << bins.binBits); ++i) planned += bins.bytes[i];
    m_arena.StartChunk(planned);
  }
  for (std::uint32_t p = 0; p < PartitionCount(); ++p) {
    std::uint32_t extra[kBuckets];
    std::uint64_t sum = 0;
    for (std::uint32_t b = 0; b < kBuckets; ++b) {
      const std::uint16_t* pBin = bins.bytes + ((std::size_t{p} << kBucketBits | b) << shift);
      extra[b] = 0;
      for (std::uint32_t i = 0; i < (1u << shift); ++i) extra[b] += pBin[i];
      sum += extra[b];
    }
    if (sum == 0) continue;
    Partition& part = m_parts[p];
    CloseGaps(part);
    MergeTail(part, m_bits);
    const std::uint64_t capacity = std::uint64_t{part.used} + sum;
    if (capacity > kMaxPartitionBytes) continue;
    std::uint32_t* block = NewBlock(kDirectoryBytes + capacity);
    if (block == nullptr) {
      status = -2;
      continue;
    }
    Partition planned{block, static_cast<std::uint32_t>(capacity),
                      static_cast<std::uint32_t>(capacity), static_cast<std::uint32_t>(sum)};
    unsigned char* to = MutableRecords(planned);
    for (std::uint32_t b = 0; b < kBuckets; ++b) {
      block[b] = static_cast<std::uint32_t>(to - MutableRecords(planned));
      if (part.block != nullptr) {
        const std::uint32_t begin = part.block[b] & kOffsetMask;
        const std::uint32_t length = (part.block[b + 1] & kOffsetMask) - begin;
        if (length != 0) std::memcpy(to, Records(part) + begin, length);
        to += length;
        block[b] |= part.block[b] & ~kOffsetMask;  // the filter
      }
      std::memset(to, kGapByte, extra[b]);
      to += extra[b];
    }
    block[kBuckets] = planned.used;
    FreeBlock(part.block);
    part = planned;
  }
  return status;
}

void CKeySet::Prefetch(const Probe& probe, bool records) const noexcept {
  if (m_parts == nullptr || probe.headerLength == 0) return;
  const Partition& part = m_parts[PartitionOf(probe.hash)];
  if (part.block == nullptr) return;
  const std::uint32_t bucket = BucketOf(probe.hash, m_bits);
  if (records) {
    __builtin_prefetch(Records(part) + (part.block[bucket] & kOffsetMask));
  } else {
    __builtin_prefetch(part.block + bucket);
  }
}

std::int32_t CKeySet::Insert(const char* pKey, std::size_t length) noexcept {
  return Insert(MakeProbe(pKey, length));
}

std::int32_t CKeySet::Insert(const Probe& probe) noexcept {
  if (probe.headerLength == 0 || m_count == 0xFFFFFFFFu) return -2;
  if (probe.lookupOnly) {
    Probe packed = probe;
    Pack(packed);
    return Insert(packed);
  }
  if (Contains(probe)) return 1;
  // Growing past the partitions is not an error: a failed split only leaves them fuller.
  if (Reserve(m_count + 1) != 0 && m_parts == nullptr) return -2;
  const std::uint32_t size = probe.RecordSize();
  // A long key is stored out of line (its record holds its length and address).
  unsigned char* pLong = nullptr;
  if (probe.header[0] == kLongHeader) {
    pLong = static_cast<unsigned char*>(as_alloc_nt(probe.payloadLength));
    if (pLong == nullptr) return -2;
    std::memcpy(pLong, probe.Payload(), probe.payloadLength);
  }
  const std::int32_t status = Place(probe, size, pLong);
  if (status != 0) {
    as_free(pLong);
    return status;
  }
  m_longKeys += pLong != nullptr;
  ++m_count;
  return 0;
}

std::int32_t CKeySet::Place(const Probe& probe, std::uint32_t size,
                            const unsigned char* pLong) noexcept {
  const std::uint32_t bucket = BucketOf(probe.hash, m_bits);
  Partition& part = m_parts[PartitionOf(probe.hash)];
  auto write = [&](std::uint32_t at) {
    unsigned char* record = MutableRecords(part) + at;
    std::memcpy(record, probe.header, probe.headerLength);
    if (pLong != nullptr) {
      std::memcpy(record + probe.headerLength, &pLong, sizeof pLong);
    } else {
      std::memcpy(record + probe.headerLength, probe.Payload(), probe.payloadLength);
    }
    part.block[bucket] |= std::uint32_t{FilterBits(probe.hash)} << 16;
  };
  if (part.gaps != 0) {
    // Planned: the key goes into the room at the end of its bucket when it fits there
    // (it does unless the keys differ from the plan).
    const unsigned char* records = Records(part);
    const std::uint32_t end = part.block[bucket + 1] & kOffsetMask;
    std::uint32_t at = part.block[bucket] & kOffsetMask;
    while (at < end && records[at] != kGapByte) at += RecordSize(records + at);
    if (end - at >= size) {
      write(at);
      part.gaps -= size;
      return 0;
    }
    CloseGaps(part);
  }
  if (part.used + size > kMaxPartitionBytes) {
    // A partition full of long records: more partitions, then the key's new one.
    if (m_bits == kMaxPartitionBits || Split() != 0) return -2;
    return Place(probe, size, pLong);
  }
  if (Grow(part, size) != 0) return -2;
  unsigned char* records = MutableRecords(part);
  // Small keys are appended to the partition's tail, which is sorted into the buckets
  // when full: one pass over the partition per kMaxTailBytes instead of per key.
  const bool toTail = size <= kMaxTailBytes / 4;
  if (toTail && part.used + size - part.block[kBuckets] > kMaxTailBytes) MergeTail(part, m_bits);
  const std::uint32_t at = toTail ? part.used : part.block[bucket + 1] & kOffsetMask;
  std::memmove(records + at + size, records + at, part.used - at);
  if (!toTail) {
    for (std::uint32_t b = bucket + 1; b <= kBuckets; ++b) part.block[b] += size;
  }
  part.used += size;
  write(at);
  return 0;
}

bool CKeySet::Remove(const char* pKey, std::size_t length) noexcept {
  if (m_count == 0) return false;
  const Probe probe = MakeProbe(pKey, length);
  if (probe.headerLength == 0) return false;
  Partition& part = m_parts[PartitionOf(probe.hash)];
  if (Find(part, probe) == kAbsent) return false;
  CloseGaps(part);
  MergeTail(part, m_bits);
  const std::uint32_t at = Find(part, probe);
  unsigned char* records = MutableRecords(part);
  const std::uint32_t size = RecordSize(records + at);
  if (records[at] == kLongHeader) {
    std::uint32_t longLength = 0;
    as_free(const_cast<unsigned char*>(Payload(records + at, longLength)));
    --m_longKeys;
  }
  std::memmove(records + at, records + at + size, part.used - at - size);
  const std::uint32_t bucket = BucketOf(probe.hash, m_bits);
  for (std::uint32_t b = bucket + 1; b <= kBuckets; ++b) part.block[b] -= size;
  part.used -= size;
  // The bucket's filter from the keys it still holds.
  std::uint32_t filter = 0;
  for (std::uint32_t i = part.block[bucket] & kOffsetMask;
       i < (part.block[bucket + 1] & kOffsetMask); i += RecordSize(records + i)) {
    filter |= FilterBits(RecordHash(records + i));
  }
  part.block[bucket] = (part.block[bucket] & kOffsetMask) | filter << 16;
  --m_count;
  return true;
}

std::uint32_t CKeySet::HashOrderedRefs(const Partition& part, std::uint64_t* refs) noexcept {
  if (part.block == nullptr) return 0;
  std::uint32_t n = 0;
  const unsigned char* records = Records(part);
  for (std::uint32_t at = 0; at < part.used;) {
    if (records[at] == kGapByte) {
      ++at;
      continue;
    }
    refs[n++] = std::uint64_t{RecordHash(records + at)} << 32 | at;
    at += RecordSize(records + at);
  }
  std::sort(refs, refs + n, [records](std::uint64_t left, std::uint64_t right) {
    if ((left ^ right) >> 32 != 0) return left < right;
    // Equal hashes: an order of the records' contents, so that it does not depend on
    // where they are stored.
    const unsigned char* pLeft = records + (left & 0xFFFF);
    const unsigned char* pRight = records + (right & 0xFFFF);
    if (pLeft[0] != pRight[0]) return pLeft[0] < pRight[0];
    std::uint32_t leftLength = 0, rightLength = 0;
    const unsigned char* pLeftPayload = Payload(pLeft, leftLength);
    const unsigned char* pRightPayload = Payload(pRight, rightLength);
    if (leftLength != rightLength) return leftLength < rightLength;
    return leftLength != 0 && std::memcmp(pLeftPayload, pRightPayload, leftLength) < 0;
  });
  return n;
}

CKeySet::Appender::Appender(CKeySet& set, std::uint32_t expected,
                            std::uint64_t recordBytes) noexcept
    : m_set(set) {
  if (set.m_count != 0) return;
  set.Clear();
  const unsigned bits = set.PartitionBitsFor(expected);
  set.m_parts = as_alloc_array_nt<Partition>(std::size_t{1} << bits);
  if (set.m_parts == nullptr) return;
  for (std::uint32_t p = 0; p < (1u << bits); ++p) set.m_parts[p] = Partition{};
  set.m_bits = bits;
  m_scratch = static_cast<unsigned char*>(as_alloc_nt(kMaxPartitionBytes));
  if (m_scratch != nullptr && recordBytes != 0) {
    set.m_arena.StartChunk(recordBytes + (std::uint64_t{kDirectoryBytes} << bits));
  }
}

std::int32_t CKeySet::Appender::Flush() noexcept {
  if (!m_open) return 0;
  m_open = false;
  while (m_bucket < kBuckets) m_directory[++m_bucket] = m_used;
  std::uint32_t* const block = m_set.NewBlock(kDirectoryBytes + m_used);
  if (block == nullptr) {
    m_set.m_count -= m_pending;
    return -2;
  }
  std::memcpy(block, m_directory, kDirectoryBytes);
  std::memcpy(block + kBuckets + 1, m_scratch, m_used);
  m_set.m_parts[m_part] = Partition{block, m_used, m_used, 0};
  return 0;
}

std::int32_t CKeySet::Appender::Finish() noexcept {
  if (m_scratch == nullptr) return 0;
  const std::int32_t status = Flush();
  as_free(m_scratch);
  m_scratch = nullptr;
  return status;
}

std::int32_t CKeySet::Appender::Append(const Probe& probe) noexcept {
  if (m_scratch == nullptr) return kNotInOrder;
  const unsigned bits = m_set.m_bits + kBucketBits;
  const std::uint32_t global = probe.hash >> (32 - bits);
  const std::uint32_t part = global >> kBucketBits;
  const std::uint32_t bucket = global & (kBuckets - 1);
  const std::uint32_t size = probe.RecordSize();
  const bool follows = !m_open || part > m_part || (part == m_part && bucket >= m_bucket);
  if (!follows || probe.lookupOnly || probe.headerLength != 1 ||
      (part == m_part && m_used + size > kMaxPartitionBytes)) {
    const std::int32_t status = Finish();
    return status != 0 ? status : kNotInOrder;
  }
  if (!m_open || part != m_part) {
    const std::int32_t status = Flush();
    if (status != 0) {
      Finish();
      return status;
    }
    m_open = true;
    m_part = part;
    m_bucket = 0;
    m_used = 0;
    m_pending = 0;
    m_directory[0] = 0;
  }
  while (m_bucket < bucket) m_directory[++m_bucket] = m_used;
  if (FilterHolds(m_directory[bucket], probe.hash) &&
      FindIn(m_scratch, m_directory[bucket] & kOffsetMask, m_used, probe) != kAbsent) {
    return 1;
  }
  unsigned char* record = m_scratch + m_used;
  record[0] = probe.header[0];
  std::memcpy(record + 1, probe.Payload(), probe.payloadLength);
  m_directory[bucket] |= std::uint32_t{FilterBits(probe.hash)} << 16;
  m_used += size;
  ++m_pending;
  ++m_set.m_count;
  return 0;
}

std::int32_t CKeySet::SortedRefs(std::uint64_t*& refs) const noexcept {
  refs = as_alloc_array_nt<std::uint64_t>(m_count == 0 ? 1 : m_count);
  if (refs == nullptr) return -2;
  std::uint32_t n = 0;
  for (std::uint32_t p = 0; p < PartitionCount(); ++p) {
    const Partition& part = m_parts[p];
    for (std::uint32_t at = 0; at < part.used;) {
      if (Records(part)[at] == kGapByte) {
        ++at;
        continue;
      }
      // The key's first 28 bits (zero after its end) go above the record's place, so most
      // comparisons are of these integers alone; equal ones compare the keys.
      char buffer[kMaxUnpacked];
      const char* pKey = nullptr;
      std::size_t length = 0;
      Unpack(Records(part) + at, buffer, pKey, length);
      unsigned char first[4] = {};
      std::memcpy(first, pKey, length < 4 ? length : 4);
      const std::uint64_t prefix =
          (std::uint64_t{first[0]} << 20 | first[1] << 12 | first[2] << 4 | first[3] >> 4);
      refs[n++] = prefix << kRefPrefixShift | std::uint64_t{p} << 16 | at;
      at += RecordSize(Records(part) + at);
    }
  }
  std::sort(refs, refs + n, [this](std::uint64_t left, std::uint64_t right) {
    if ((left ^ right) >> kRefPrefixShift != 0) return left < right;
    const unsigned char* pLeftRecord = RecordAt(left);
    const unsigned char* pRightRecord = RecordAt(right);
    const unsigned leftHeader = pLeftRecord[0];
    const unsigned rightHeader = pRightRecord[0];
    if (leftHeader < kSixBitHeader && rightHeader < kSixBitHeader) {
      return CompareHost(pLeftRecord + 1, leftHeader + 1, pRightRecord + 1, rightHeader + 1) < 0;
    }
    if (leftHeader - kSixBitHeader < 64 && rightHeader - kSixBitHeader < 64) {
      return ComparePacked(pLeftRecord + 1, leftHeader - (kSixBitHeader - 1), pRightRecord + 1,
                           rightHeader - (kSixBitHeader - 1)) < 0;
    }
    char leftBuffer[kMaxUnpacked];
    char rightBuffer[kMaxUnpacked];
    const char* pLeft = nullptr;
    const char* pRight = nullptr;
    std::size_t leftLength = 0, rightLength = 0;
    Unpack(pLeftRecord, leftBuffer, pLeft, leftLength);
    Unpack(pRightRecord, rightBuffer, pRight, rightLength);
    return CompareText(pLeft, leftLength, pRight, rightLength) < 0;
  });
  return 0;
}

}  // namespace ascommon
