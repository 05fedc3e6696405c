// URL parsing: escape the address, then cut out the path piece, the host and the domain.
//
// Algorithm: one pass counts the characters to escape, one allocation holds the escaped
// text and its lower-case copy, a second pass writes the escaped text and a third (eight
// bytes at a time) lower-cases it; the pieces are then located by forward scans and the
// domain by one backward scan with at most one suffix lookup.
// Cost: O(length) time, 2 * (escaped length + 1) bytes in a block reused by the next parse. Input
// length is bounded only by memory: lengths whose escaped size would overflow give -2.
// The suffix set is an open-addressing hash table over the generated data: O(1) lookups
// that neither allocate nor copy. Tested by tests/common/urlutils_test.cpp.
#include "common/urlutils.h"

#include <atomic>
#include <bit>
#include <cstring>


#include "common/astrace.h"
#include "common/bytes16.h"
#include "common/shared_locker.h"
#include "common/swar.h"

namespace ascommon {

namespace {

// The multi-label suffixes of the parse record's domain rule (generated data).
const char* const kDoubleExtensions[] = {
#include "common/double_extensions.inc"
};

// Printable characters that pass unescaped besides letters and digits, in their stored order.
constexpr char kURLCharacterSet[] = "$-_.+!*'(),~`@#%^&={}\\[]|\";<>?/:";
static_assert(sizeof(kURLCharacterSet) - 1 == 32, "the URL character set has 32 members");

struct CharacterClass {
  bool keep[256] = {};
  constexpr CharacterClass() {
    for (int c = 'a'; c <= 'z'; ++c) keep[c] = true;
    for (int c = 'A'; c <= 'Z'; ++c) keep[c] = true;
    for (int c = '0'; c <= '9'; ++c) keep[c] = true;
    for (const char* p = kURLCharacterSet; *p != 0; ++p) keep[static_cast<unsigned char>(*p)] = true;
  }
};
constexpr CharacterClass kURLChars;

// Letters, digits and the 32 punctuation characters are exactly the printable ASCII range
// without the blank, so the hot loops test a range instead of a table (and vectorise).
constexpr bool PassesUnescaped(unsigned char c) noexcept {
  return static_cast<unsigned char>(c - 0x21) < 0x5E;
}
constexpr bool RangeMatchesCharacterSet() {
  for (int c = 0; c < 256; ++c) {
    if (kURLChars.keep[c] != PassesUnescaped(static_cast<unsigned char>(c))) return false;
  }
  return true;
}
static_assert(RangeMatchesCharacterSet(), "the URL character set is the printable range");

inline char ToLowerASCII(char c) noexcept {
  return static_cast<char>(static_cast<unsigned char>(c - 'A') < 26 ? c + ('a' - 'A') : c);
}

constexpr char kHexDigits[] = "0123456789abcdef";

// Largest block a parse record keeps for the next URL when that one needs less.
constexpr std::size_t kKeptBlockBytes = 1 << 16;

inline unsigned char LowByte(char unit) noexcept { return static_cast<unsigned char>(unit); }
inline unsigned char LowByte(char16_t unit) noexcept {
  return static_cast<unsigned char>(unit & 0xFF);
}

// The string hash of the foundation (sstring::hash): bytes sign-extended.
std::uint32_t HashBytes(const char* text, std::size_t length) noexcept {
  std::uint32_t hash = 5381;
  for (std::size_t i = 0; i < length; ++i) {
    hash = (hash * 33) ^ static_cast<std::uint32_t>(static_cast<std::int32_t>(
                             static_cast<signed char>(text[i])));
  }
  return hash;
}

bool StartsWith(const char* text, std::size_t length, const char* prefix,
                std::size_t prefixLength) noexcept {
  return length >= prefixLength && std::memcmp(text, prefix, prefixLength) == 0;
}

// Index of the first ch in [from, to), or to.
std::size_t FindFirst(const char* text, std::size_t from, std::size_t to, char ch) noexcept {
  const void* found = std::memchr(text + from, ch, to - from);
  return found == nullptr ? to : static_cast<std::size_t>(static_cast<const char*>(found) - text);
}

// Eight bytes at a time (common/swar.h). A word of bytes below 0x80: which bytes are
// 'A'..'Z'.
using swar::kHighBits;
using swar::kOnes;
using swar::LoadWord;
inline std::uint64_t UpperCaseMask(std::uint64_t word) noexcept {
  const std::uint64_t atLeastA = word + (0x80 - 'A') * kOnes;
  const std::uint64_t aboveZ = word + (0x80 - 'Z' - 1) * kOnes;
  return (atLeastA ^ aboveZ) & kHighBits;
}
// True when every byte of the word is printable ASCII without the blank (0x21..0x7e).
inline bool AllPassUnescaped(std::uint64_t word) noexcept {
  const std::uint64_t belowBang = (word - 0x21 * kOnes) & ~word;
  const std::uint64_t aboveTilde = word + (0x80 - 0x7F) * kOnes;
  return ((belowBang | aboveTilde | word) & kHighBits) == 0;
}

// Characters that need escaping, counted eight at a time where the text allows.
std::size_t CountToEscape(const char* text, std::size_t begin, std::size_t length) noexcept {
  std::size_t count = 0;
  std::size_t i = begin;
  for (; i + 8 <= length; i += 8) {
    if (AllPassUnescaped(LoadWord(text + i))) continue;
    for (std::size_t j = i; j < i + 8; ++j) count += !PassesUnescaped(LowByte(text[j]));
  }
  for (; i < length; ++i) count += !PassesUnescaped(LowByte(text[i]));
  return count;
}
std::size_t CountToEscape(const char16_t* text, std::size_t begin, std::size_t length) noexcept {
  std::size_t count = 0;
  for (std::size_t i = begin; i < length; ++i) count += !PassesUnescaped(LowByte(text[i]));
  return count;
}

void CopyNarrow(char* out, const char* text, std::size_t count) noexcept {
  std::memcpy(out, text, count);
}
void CopyNarrow(char* out, const char16_t* text, std::size_t count) noexcept {
  for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<char>(LowByte(text[i]));
}

// The escaped text holds only bytes below 0x80, so whole words can be lower-cased at once.
void LowerCaseCopy(char* out, const char* text, std::size_t count) noexcept {
  const auto lowerWord = [&](std::size_t at) {
    const std::uint64_t word = LoadWord(text + at);
    const std::uint64_t lowered = word | (UpperCaseMask(word) >> 2);
    std::memcpy(out + at, &lowered, sizeof lowered);
  };
  std::size_t i = 0;
  for (; i + 8 <= count; i += 8) lowerWord(i);
  if (i == count) return;
  if (count >= 8) {  // the last word again, overlapping the one before (the text is unchanged)
    lowerWord(count - 8);
    return;
  }
  for (; i < count; ++i) out[i] = ToLowerASCII(text[i]);
}

// The process-wide table. Published with release order once fully built; readers that see
// a non-null pointer see the finished table.
std::atomic<CSuffixTable*> g_doubleExtensions{nullptr};

// A table with no buckets: the domain rule's fallback while the real table is unavailable.
const CSuffixTable kNoSuffixes;

CSuffixTable* BuildDoubleExtensions() noexcept {
  AS_TRACE(3, "loading double extensions...");
  CSuffixTable* table = new (std::nothrow) CSuffixTable();
  if (table == nullptr) return nullptr;
  if (table->Build(kDoubleExtensions, sizeof kDoubleExtensions / sizeof kDoubleExtensions[0]) !=
      0) {
    // Leave the pointer null so that a later call tries again.
    delete table;
    return nullptr;
  }
  AS_TRACE(3, "done loading %d double extensions", static_cast<int>(table->GetCount()));
  return table;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// CSuffixTable
//
// A chained map with a small fixed bucket count (32 for about 1000 entries) would walk
// chains of some 30 strings per lookup, on every URL. Here the slot array is a power of two at least twice
// the entry count (load factor <= 1/2), probed linearly, so a lookup costs one hash of the
// suffix and one or two slot comparisons, with no key object built.

CSuffixTable::~CSuffixTable() { as_free(m_slots); }

std::int32_t CSuffixTable::Build(const char* const* entries, std::size_t count) noexcept {
  as_free(m_slots);
  m_slots = nullptr;
  m_capacity = 0;
  m_count = 0;
  std::size_t capacity = 16;
  while (capacity < 2 * count) capacity *= 2;
  if (capacity > (std::size_t{1} << 31)) return -2;
  Slot* slots = as_alloc_array_nt<Slot>(capacity);
  if (slots == nullptr) return -2;
  for (std::size_t i = 0; i < capacity; ++i) slots[i] = Slot{nullptr, 0, 0};
  m_slots = slots;
  m_capacity = static_cast<std::uint32_t>(capacity);
  const std::uint32_t mask = m_capacity - 1;
  for (std::size_t e = 0; e < count; ++e) {
    const char* text = entries[e];
    if (text == nullptr) continue;
    const std::size_t length = std::strlen(text);
    if (length > UINT32_MAX || Contains(text, length)) continue;
    const std::uint32_t hash = HashBytes(text, length);
    std::uint32_t index = hash & mask;
    while (m_slots[index].text != nullptr) index = (index + 1) & mask;
    m_slots[index] = Slot{text, static_cast<std::uint32_t>(length), hash};
    ++m_count;
  }
  return 0;
}

bool CSuffixTable::Contains(const char* text, std::size_t length) const noexcept {
  if (m_capacity == 0 || text == nullptr || length > UINT32_MAX) return false;
  const std::uint32_t hash = HashBytes(text, length);
  const std::uint32_t mask = m_capacity - 1;
  for (std::uint32_t index = hash & mask; m_slots[index].text != nullptr;
       index = (index + 1) & mask) {
    const Slot& slot = m_slots[index];
    if (slot.hash == hash && slot.length == length &&
        std::memcmp(slot.text, text, length) == 0) {
      return true;
    }
  }
  return false;
}

// ---------------------------------------------------------------------------------------
// Domain rule and the process-wide table

std::size_t FindDomainStart(const char* host, std::size_t length,
                            const CSuffixTable& table) noexcept {
  // The dots from the end: the second decides by the table, the third ends the search.
  int dots = 0;
  std::size_t result = 0;
  const auto atDot = [&](std::size_t i) {  // true when the search ends (result set)
    ++dots;
    if (dots == 2) {
      if (table.Contains(host + i, length - i)) return false;
      result = i + 1;
      return true;
    }
    if (dots == 3) {
      result = i + 1;
      return true;
    }
    return false;
  };
  // Sixteen characters at a time from the end, each block's dots taken highest first.
  bytes16::ForEachBlockFromEnd(host, length, [&](const char* block, unsigned keep,
                                                 std::size_t base) {
    for (unsigned bits = bytes16::EqualAny<'.'>(block) & keep; bits != 0;) {
      const unsigned top = 31u - static_cast<unsigned>(std::countl_zero(bits));
      if (atDot(base + top)) return true;
      bits &= ~(1u << top);
    }
    return false;
  });
  return result;
}

bool IsIPv4Literal(const char* text, std::size_t length) noexcept {
  if (text == nullptr || length == 0) return false;
  int dots = 0;
  for (std::size_t i = 0; i < length; ++i) {
    if (text[i] == '.') {
      ++dots;
    } else if (text[i] < '0' || text[i] > '9') {
      return false;
    }
  }
  return dots == 3;
}

const CSuffixTable* GetDoubleExtensions() noexcept {
  CSuffixTable* table = g_doubleExtensions.load(std::memory_order_acquire);
  if (table != nullptr) return table;
  try {
    // Created on the first call that finds no table, destroyed at unload.
    static shared_locker locker;
    auto_locker guard(&locker, auto_locker::kExclusive, true);
    // A caller that waited here finds the table its predecessor built.
    table = g_doubleExtensions.load(std::memory_order_acquire);
    if (table == nullptr) {
      table = BuildDoubleExtensions();
      g_doubleExtensions.store(table, std::memory_order_release);
    }
    return table;
  } catch (...) {
    // The locker is being destroyed (module unload): no table.
    return nullptr;
  }
}

bool IsDoubleExtension(const sstring& suffix) noexcept {
  const CSuffixTable* table = GetDoubleExtensions();
  return table != nullptr && !suffix.is_null() && table->Contains(suffix.c_str(), suffix.length());
}

void ResetDoubleExtensionsForTesting() noexcept {
  delete g_doubleExtensions.exchange(nullptr, std::memory_order_acq_rel);
}

// ---------------------------------------------------------------------------------------
// CParsedURL

CParsedURL::~CParsedURL() { as_free(m_block); }

void CParsedURL::Reset() noexcept {
  as_free(m_block);
  m_block = nullptr;
  m_capacity = 0;
  ClearPieces();
}

void CParsedURL::ClearPieces() noexcept {
  m_escaped = m_lower = nullptr;
  m_length = 0;
  m_path = m_pathLower = nullptr;
  m_pathLength = 0;
  m_host = m_hostLower = nullptr;
  m_hostLength = 0;
  m_domain = m_domainLower = nullptr;
  m_domainLength = 0;
}

std::int32_t CParsedURL::ParseURL(const char* text, std::size_t length) noexcept {
  return Parse(text, length);
}

std::int32_t CParsedURL::ParseURL(const char16_t* text, std::size_t length) noexcept {
  return Parse(text, length);
}

template <class Unit>
std::int32_t CParsedURL::Parse(const Unit* text, std::size_t length) noexcept {
  ClearPieces();
  if (text == nullptr || length == 0) return -1;
  // Each character takes at most 3 bytes, and the block holds two texts and terminators.
  if (length > (SIZE_MAX - 2) / 6) return -2;

  std::size_t begin = 0;
  while (begin < length && LowByte(text[begin]) == ' ') ++begin;
  const std::size_t toEscape = CountToEscape(text, begin, length);
  const std::size_t escapedLength = length - begin + 2 * toEscape;

  // A block far larger than needed (left by a very long URL) is given back.
  const std::size_t needed = 2 * (escapedLength + 1);
  if (needed > m_capacity || (m_capacity > kKeptBlockBytes && needed <= kKeptBlockBytes)) {
    as_free(m_block);
    m_capacity = 0;
    m_block = static_cast<char*>(as_alloc_nt(needed < 256 ? 256 : needed));
    if (m_block == nullptr) return -2;
    m_capacity = needed < 256 ? 256 : needed;
  }
  char* block = m_block;
  char* lower = block + escapedLength + 1;
  if (toEscape == 0) {
    CopyNarrow(block, text + begin, length - begin);  // the common case: nothing to escape
  } else {
    std::size_t out = 0;
    for (std::size_t i = begin; i < length; ++i) {
      const unsigned char c = LowByte(text[i]);
      if (PassesUnescaped(c)) {
        block[out++] = static_cast<char>(c);
      } else {
        block[out] = '%';
        block[out + 1] = kHexDigits[c >> 4];
        block[out + 2] = kHexDigits[c & 0xF];
        out += 3;
      }
    }
  }
  LowerCaseCopy(lower, block, escapedLength);
  block[escapedLength] = lower[escapedLength] = 0;

  m_escaped = block;
  m_lower = lower;
  m_length = escapedLength;
  LocatePieces();
  return 0;
}

// Every lower-case piece starts at the same offset in the lower-case copy as its escaped
// counterpart in the escaped text.
void CParsedURL::LocatePieces() noexcept {
  const char* url = m_escaped;
  const std::size_t n = m_length;

  // Path: after the scheme and "www.", up to the query or fragment, minus one trailing "/".
  std::size_t start = 0;
  if (StartsWith(url, n, "http://", 7) || StartsWith(url, n, "file://", 7)) {
    start = 7;
  } else if (StartsWith(url, n, "https://", 8)) {
    start = 8;
  }
  if (StartsWith(url + start, n - start, "www.", 4)) start += 4;
  // The escaped text holds no zero byte before its terminator.
  std::size_t end = start + std::strcspn(url + start, "?#");
  if (end > start && url[end - 1] == '/') --end;
  if (end == start) return;
  m_path = url + start;
  m_pathLower = m_lower + start;
  m_pathLength = end - start;

  // Host: the path up to its first "/", minus one trailing "."; empty or "." is no host.
  std::size_t hostLength = FindFirst(url, start, end, '/') - start;
  if (hostLength > 0 && url[start + hostLength - 1] == '.') --hostLength;
  if (hostLength == 0 || (hostLength == 1 && url[start] == '.')) return;
  m_host = url + start;
  m_hostLower = m_lower + start;
  m_hostLength = hostLength;

  // Domain: the host without user information and port, then the IPv4 or suffix rule.
  const std::size_t hostEnd = start + hostLength;
  std::size_t domainStart = FindFirst(url, start, hostEnd, '@');
  domainStart = domainStart == hostEnd ? start : domainStart + 1;
  const std::size_t domainEnd = FindFirst(url, domainStart, hostEnd, ':');
  if (domainEnd > domainStart && !IsIPv4Literal(url + domainStart, domainEnd - domainStart)) {
    const CSuffixTable* table = GetDoubleExtensions();
    domainStart += FindDomainStart(url + domainStart, domainEnd - domainStart,
                                   table != nullptr ? *table : kNoSuffixes);
  }
  if (domainEnd > domainStart) {
    m_domain = url + domainStart;
    m_domainLower = m_lower + domainStart;
    m_domainLength = domainEnd - domainStart;
  }
}

}  // namespace ascommon
