// Free character-string utilities (see strutils.h).
//
// Searches are the plain quadratic scan: O(haystack * needle) worst case, no extra memory;
// the texts they see (URLs, tokens, short patterns) keep that cheap. Everything else is a
// single pass. Letters and lower case come from two-stage tables generated from the Unicode
// character database (unicode_tables.inc, tools/gen_unicode_tables.py): two loads a code
// point, ASCII by range before any table. Tested by tests/common/strutils_test.cpp.
#include "common/strutils.h"

#include <cstdint>
#include <cstring>

namespace ascommon {

namespace {

#include "common/unicode_tables.inc"

inline unsigned char AsciiLower(unsigned char c) noexcept {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

bool WideContains(const char16_t* set, char16_t unit) noexcept {
  for (; *set != 0; ++set) {
    if (*set == unit) return true;
  }
  return false;
}

}  // namespace

void AsciiLowerInPlace(char* text) noexcept {
  if (text == nullptr) return;
  for (; *text != '\0'; ++text) {
    *text = static_cast<char>(AsciiLower(static_cast<unsigned char>(*text)));
  }
}

void AsciiLowerInPlace(char* text, std::size_t length) noexcept {
  if (text == nullptr) return;
  for (std::size_t i = 0; i < length; ++i) {
    text[i] = static_cast<char>(AsciiLower(static_cast<unsigned char>(text[i])));
  }
}

int CompareNoCase(const char* left, const char* right) noexcept {
  const auto* a = reinterpret_cast<const unsigned char*>(left);
  const auto* b = reinterpret_cast<const unsigned char*>(right);
  for (;; ++a, ++b) {
    const unsigned char ca = AsciiLower(*a);
    const unsigned char cb = AsciiLower(*b);
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == 0) return 0;
  }
}

const char* FindNoCase(const char* haystack, const char* needle) noexcept {
  if (haystack == nullptr || needle == nullptr) return nullptr;
  if (*needle == '\0') return haystack;
  const unsigned char first = AsciiLower(static_cast<unsigned char>(*needle));
  for (const char* start = haystack; *start != '\0'; ++start) {
    if (AsciiLower(static_cast<unsigned char>(*start)) != first) continue;
    std::size_t i = 1;
    while (needle[i] != '\0' && AsciiLower(static_cast<unsigned char>(start[i])) ==
                                    AsciiLower(static_cast<unsigned char>(needle[i]))) {
      ++i;
    }
    if (needle[i] == '\0') return start;
    // start[i] hit the haystack's end: no later start can match either.
    if (start[i] == '\0') return nullptr;
  }
  return nullptr;
}

int CompareBytes(const void* left, std::size_t leftLength, const void* right,
                 std::size_t rightLength) noexcept {
  const std::size_t n = leftLength < rightLength ? leftLength : rightLength;
  if (n == 0) return 0;
  const int order = std::memcmp(left, right, n);
  return (order > 0) - (order < 0);
}

int CompareUnits(const char16_t* left, std::size_t leftLength, const char16_t* right,
                 std::size_t rightLength) noexcept {
  const std::size_t n = leftLength < rightLength ? leftLength : rightLength;
  for (std::size_t i = 0; i < n; ++i) {
    if (left[i] != right[i]) return left[i] < right[i] ? -1 : 1;
  }
  return 0;
}

bool IsLetter(char32_t codePoint) noexcept {
  if (codePoint < 0x80) return static_cast<unsigned>((codePoint | 0x20) - U'a') < 26u;
  if (codePoint >= kLetterLimit) return false;
  const std::uint64_t* bits = kLetterBits[kLetterIndex[codePoint >> kLetterBlockBits]];
  const unsigned bit = codePoint & ((1u << kLetterBlockBits) - 1);
  return (bits[bit >> 6] >> (bit & 63)) & 1;
}

char32_t ToLower(char32_t codePoint) noexcept {
  if (codePoint < 0x80) {
    return static_cast<unsigned>(codePoint - U'A') < 26u ? codePoint + 32 : codePoint;
  }
  if (codePoint >= kLowerLimit) return codePoint;
  const std::uint16_t offset = kLowerOffset[kLowerIndex[codePoint >> kLowerBlockBits]]
                                           [codePoint & ((1u << kLowerBlockBits) - 1)];
  return (codePoint & ~char32_t{0xFFFF}) | ((codePoint + offset) & 0xFFFF);
}

char16_t WideToLower(char16_t unit) noexcept {
  // Surrogates map to themselves in the table.
  return static_cast<char16_t>(ToLower(unit));
}

void WideLowerInPlace(char16_t* text, std::size_t length) noexcept {
  if (text == nullptr) return;
  for (std::size_t i = 0; i < length; ++i) {
    const char16_t unit = text[i];
    if (unit < 0x80) {
      text[i] = static_cast<char16_t>(static_cast<unsigned>(unit - u'A') < 26u ? unit + 32 : unit);
    } else if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 &&
               text[i + 1] <= 0xDFFF) {
      // A pair lower-cases within its plane, so it stays a pair.
      const char32_t lower =
          ToLower(0x10000 + ((char32_t{unit} - 0xD800) << 10) + (text[i + 1] - 0xDC00)) - 0x10000;
      text[i] = static_cast<char16_t>(0xD800 + (lower >> 10));
      text[++i] = static_cast<char16_t>(0xDC00 + (lower & 0x3FF));
    } else {
      text[i] = WideToLower(unit);
    }
  }
}

int WideCompareNoCase(const char16_t* left, const char16_t* right) noexcept {
  for (;; ++left, ++right) {
    const char16_t a = WideToLower(*left);
    const char16_t b = WideToLower(*right);
    if (a != b) return a < b ? -1 : 1;
    if (a == 0) return 0;
  }
}

int WideCompareNoCaseN(const char16_t* left, const char16_t* right, std::size_t n) noexcept {
  for (std::size_t i = 0; i < n && left[i] != 0 && right[i] != 0; ++i) {
    const char16_t a = WideToLower(left[i]);
    const char16_t b = WideToLower(right[i]);
    if (a != b) return a < b ? -1 : 1;
  }
  return 0;
}

const char16_t* WideFindNoCase(const char16_t* haystack, const char16_t* needle) noexcept {
  if (haystack == nullptr || needle == nullptr) return nullptr;
  if (*needle == 0) return haystack;
  for (const char16_t* start = haystack; *start != 0; ++start) {
    std::size_t i = 0;
    while (needle[i] != 0 && start[i] != 0 && WideToLower(start[i]) == WideToLower(needle[i])) {
      ++i;
    }
    if (needle[i] == 0) return start;
    if (start[i] == 0) return nullptr;
  }
  return nullptr;
}

char* Tokenize(char* text, const char* delimiters, char** ppContext) noexcept {
  if (delimiters == nullptr || ppContext == nullptr) return nullptr;
  char* p = text != nullptr ? text : *ppContext;
  if (p == nullptr) return nullptr;
  p += std::strspn(p, delimiters);
  if (*p == '\0') {
    *ppContext = p;
    return nullptr;
  }
  char* end = p + std::strcspn(p, delimiters);
  if (*end != '\0') {
    *end = '\0';
    *ppContext = end + 1;
  } else {
    *ppContext = end;
  }
  return p;
}

char16_t* TokenizeWide(char16_t* text, const char16_t* delimiters,
                       char16_t** ppContext) noexcept {
  if (delimiters == nullptr || ppContext == nullptr) return nullptr;
  char16_t* p = text != nullptr ? text : *ppContext;
  if (p == nullptr) return nullptr;
  while (*p != 0 && WideContains(delimiters, *p)) ++p;
  if (*p == 0) {
    *ppContext = p;
    return nullptr;
  }
  char16_t* end = p;
  while (*end != 0 && !WideContains(delimiters, *end)) ++end;
  if (*end != 0) {
    *end = 0;
    *ppContext = end + 1;
  } else {
    *ppContext = end;
  }
  return p;
}

const unsigned char* FindBytes(const void* buffer, std::size_t bufferLength,
                               const void* pattern, std::size_t patternLength) noexcept {
  if (buffer == nullptr || pattern == nullptr || patternLength == 0) return nullptr;
  if (patternLength > bufferLength) return nullptr;
  const auto* base = static_cast<const unsigned char*>(buffer);
  const auto* pat = static_cast<const unsigned char*>(pattern);
  const std::size_t lastStart = bufferLength - patternLength;
  std::size_t from = 0;
  while (from <= lastStart) {
    const void* hit = std::memchr(base + from, pat[0], lastStart - from + 1);
    if (hit == nullptr) return nullptr;
    const auto* candidate = static_cast<const unsigned char*>(hit);
    if (std::memcmp(candidate + 1, pat + 1, patternLength - 1) == 0) return candidate;
    from = static_cast<std::size_t>(candidate - base) + 1;
  }
  return nullptr;
}

std::int64_t ParseWideDecimal(const char16_t* text) noexcept {
  if (text == nullptr || *text == 0) return 0;
  std::int64_t value = 0;
  for (; *text != 0; ++text) {
    if (*text < u'0' || *text > u'9') return 0;
    const int digit = *text - u'0';
    if (value > (INT64_MAX - digit) / 10) return 0;  // Would overflow.
    value = value * 10 + digit;
  }
  return value;
}

}  // namespace ascommon
