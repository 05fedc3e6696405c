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

// First unit that needs care when text is decoded: '&', U+0000 or any surrogate; or end.
inline const char16_t* FindDecodeSpecial(const char16_t* p, const char16_t* end) noexcept {
#if defined(__SSE2__)
  const __m128i amp = _mm_set1_epi16(u'&');
  const __m128i zero = _mm_setzero_si128();
  const __m128i surrogateMask = _mm_set1_epi16(static_cast<short>(0xF800));
  const __m128i surrogate = _mm_set1_epi16(static_cast<short>(0xD800));
  while (end - p >= 8) {
    __m128i block;
    std::memcpy(&block, p, sizeof(block));
    const __m128i hits = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi16(block, amp), _mm_cmpeq_epi16(block, zero)),
        _mm_cmpeq_epi16(_mm_and_si128(block, surrogateMask), surrogate));
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hits));
    if (mask != 0) return p + FirstUnitOfMask(mask);
    p += 8;
  }
#endif
  while (p < end && *p != u'&' && *p != 0 && (*p & 0xF800) != 0xD800) ++p;
  return p;
}

// Copies count units of source into copy and their ASCII lower-case form into lower.
inline void CopyAndLower(const char16_t* source, std::size_t count, char16_t* copy,
                         char16_t* lower) noexcept {
  std::size_t i = 0;
#if defined(__SSE2__)
  // c is 'A'..'Z' exactly when c - 'A' - 0x8000, read as signed, is below -0x8000 + 26.
  const __m128i shift = _mm_set1_epi16(static_cast<short>(0x8000 - u'A'));
  const __m128i limit = _mm_set1_epi16(static_cast<short>(-0x8000 + 26));
  const __m128i caseBit = _mm_set1_epi16(0x20);
  for (; count - i >= 8; i += 8) {
    __m128i block;
    std::memcpy(&block, source + i, sizeof(block));
    std::memcpy(copy + i, &block, sizeof(block));
    const __m128i upper = _mm_cmplt_epi16(_mm_add_epi16(block, shift), limit);
    const __m128i folded = _mm_add_epi16(block, _mm_and_si128(upper, caseBit));
    std::memcpy(lower + i, &folded, sizeof(folded));
  }
#endif
  for (; i < count; ++i) {
    copy[i] = source[i];
    lower[i] = AsciiLower(source[i]);
  }
}

}  // namespace html_detail
