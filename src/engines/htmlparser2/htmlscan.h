// Inline scanning primitives of the HTML parser over UTF-16 buffers: character classes and
// searches that look at eight units per step where SSE2 is available (always on x86-64).
//
// Every search takes an explicit [begin, end) range and returns end when nothing is found,
// so embedded zero units never stop a scan and nothing reads past end. Pure functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/strutils.h"

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

// Copies count units of source into copy and their lower case into lower: eight ASCII
// units a step, any other character (a surrogate pair as one) through the Unicode table
// (ascommon::ToLower), so a page of any script costs one table lookup per non-ASCII unit.
inline void CopyAndLower(const char16_t* source, std::size_t count, char16_t* copy,
                         char16_t* lower) noexcept {
  std::memcpy(copy, source, count * sizeof(char16_t));
  std::size_t i = 0;
  while (i < count) {
#if defined(__SSE2__)
    if (count - i >= 8) {
      __m128i block;
      std::memcpy(&block, source + i, sizeof(block));
      const unsigned ascii = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(
          _mm_and_si128(block, _mm_set1_epi16(static_cast<short>(0xFF80))), _mm_setzero_si128())));
      if (ascii == 0xFFFF) {
        // c is 'A'..'Z' exactly when c - 'A' - 0x8000, read as signed, is below -0x8000 + 26.
        const __m128i upper = _mm_cmplt_epi16(
            _mm_add_epi16(block, _mm_set1_epi16(static_cast<short>(0x8000 - u'A'))),
            _mm_set1_epi16(static_cast<short>(-0x8000 + 26)));
        const __m128i folded = _mm_add_epi16(block, _mm_and_si128(upper, _mm_set1_epi16(0x20)));
        std::memcpy(lower + i, &folded, sizeof(folded));
        i += 8;
        continue;
      }
    }
#endif
    const char16_t c = source[i];
    if (c < 0x80) {
      lower[i++] = AsciiLower(c);
    } else if (c >= 0xD800 && c <= 0xDBFF && i + 1 < count && source[i + 1] >= 0xDC00 &&
               source[i + 1] <= 0xDFFF) {
      // A pair lower-cases within its plane, so it stays a pair.
      const char32_t folded =
          ascommon::ToLower(0x10000 + ((char32_t{c} - 0xD800) << 10) + (source[i + 1] - 0xDC00)) -
          0x10000;
      lower[i++] = static_cast<char16_t>(0xD800 + (folded >> 10));
      lower[i++] = static_cast<char16_t>(0xDC00 + (folded & 0x3FF));
    } else {
      lower[i++] = ascommon::WideToLower(c);
    }
  }
}

}  // namespace html_detail
