// Inline scanning primitives of the HTML parser over UTF-16 buffers: character classes and
// searches that look at eight units per step where SSE2 is available (always on x86-64).
//
// Every search takes an explicit [begin, end) range and returns end when nothing is found,
// so embedded zero units never stop a scan and nothing reads past end. Pure functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace html_detail {

// Blank characters between attributes and around '=' (the HTML space characters).
inline bool IsBlank(char16_t c) noexcept {
  return c == u' ' || c == u'\n' || c == u'\t' || c == u'\r' || c == u'\f';
}

inline bool IsAsciiAlpha(char16_t c) noexcept {
  return static_cast<char16_t>((c | 0x20) - u'a') < 26;
}

inline char16_t AsciiLower(char16_t c) noexcept {
  return static_cast<char16_t>(c + (static_cast<char16_t>(c - u'A') < 26 ? 0x20 : 0));
}

// Index of the lowest set bit of a non-zero movemask (two mask bits per 16-bit unit).
inline unsigned FirstUnitOfMask(unsigned mask) noexcept {
  return static_cast<unsigned>(__builtin_ctz(mask)) / 2;
}

// First unit equal to ch in [p, end), or end.
inline const char16_t* FindUnit(const char16_t* p, const char16_t* end, char16_t ch) noexcept {
#if defined(__SSE2__)
  const __m128i needle = _mm_set1_epi16(static_cast<short>(ch));
  while (end - p >= 8) {
    __m128i block;
    std::memcpy(&block, p, sizeof(block));
    const unsigned mask =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(block, needle)));
    if (mask != 0) return p + FirstUnitOfMask(mask);
    p += 8;
  }
#endif
  while (p < end && *p != ch) ++p;
  return p;
}

// Copies count units of source into copy and their ASCII lower-case form into lower.
// Returns the position of the first unit above 0x7F (count when there is none), from where
// the caller lower-cases the rest by Unicode.
inline std::size_t CopyAndLower(const char16_t* source, std::size_t count, char16_t* copy,
                                char16_t* lower) noexcept {
  std::size_t i = 0;
  std::size_t firstWide = count;
#if defined(__SSE2__)
  // c is 'A'..'Z' exactly when c - 'A' - 0x8000, read as signed, is below -0x8000 + 26.
  const __m128i shift = _mm_set1_epi16(static_cast<short>(0x8000 - u'A'));
  const __m128i limit = _mm_set1_epi16(static_cast<short>(-0x8000 + 26));
  const __m128i caseBit = _mm_set1_epi16(0x20);
  const __m128i highBits = _mm_set1_epi16(static_cast<short>(0xFF80));
  const __m128i zero = _mm_setzero_si128();
  for (; count - i >= 8; i += 8) {
    __m128i block;
    std::memcpy(&block, source + i, sizeof(block));
    std::memcpy(copy + i, &block, sizeof(block));
    const __m128i upper = _mm_cmplt_epi16(_mm_add_epi16(block, shift), limit);
    const __m128i folded = _mm_add_epi16(block, _mm_and_si128(upper, caseBit));
    std::memcpy(lower + i, &folded, sizeof(folded));
    if (firstWide == count) {
      const unsigned ascii = static_cast<unsigned>(
          _mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(block, highBits), zero)));
      if (ascii != 0xFFFF) firstWide = i + FirstUnitOfMask(~ascii & 0xFFFF);
    }
  }
#endif
  for (; i < count; ++i) {
    copy[i] = source[i];
    lower[i] = AsciiLower(source[i]);
    if (source[i] > 0x7F && firstWide == count) firstWide = i;
  }
  return firstWide;
}

}  // namespace html_detail
