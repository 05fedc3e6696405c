// Byte tests on sixteen bytes at once, and the walk of a text in blocks of sixteen: the
// scans of request lines, site keys and the domain rule. SSE2 where the compiler offers it,
// a byte loop elsewhere (the same answers). Header only, no state; safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/swar.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ascommon::bytes16 {

// Bit i set when p[i] (i < 16) equals one of Chars. The 16 bytes at p must be readable.
template <char... Chars>
inline unsigned EqualAny(const char* p) noexcept {
#if defined(__SSE2__)
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  __m128i hit = _mm_setzero_si128();
  ((hit = _mm_or_si128(hit, _mm_cmpeq_epi8(v, _mm_set1_epi8(Chars)))), ...);
  return static_cast<unsigned>(_mm_movemask_epi8(hit));
#else
  unsigned bits = 0;
  for (unsigned i = 0; i < 16; ++i) bits |= static_cast<unsigned>(((p[i] == Chars) || ...)) << i;
  return bits;
#endif
}

// The number of bits set in a block's mask: one instruction where the target has it, else
// a few shifts (a call into the compiler's runtime cost more than the scan).
inline unsigned CountBits(unsigned mask) noexcept {
#if defined(__POPCNT__)
  return static_cast<unsigned>(__builtin_popcount(mask));
#else
  mask = mask - ((mask >> 1) & 0x55555555u);
  mask = (mask & 0x33333333u) + ((mask >> 2) & 0x33333333u);
  mask = (mask + (mask >> 4)) & 0x0F0F0F0Fu;
  return (mask * 0x01010101u) >> 24;
#endif
}

namespace detail {
// A text shorter than a block, visited as a zero-filled copy. The copy is made in registers
// and stored at once: a byte-wise copy would make the visitor's 16-byte load wait.
template <class Visit>
bool VisitShort(const char* text, std::size_t length, Visit& visit) {
  const std::uint64_t low = swar::LoadPartialWord(text, length < 8 ? length : 8);
  const std::uint64_t high =
      length > 8 ? swar::LoadWord(text + length - 8) >> (8 * (16 - length)) : 0;
  alignas(16) char copy[16];
#if defined(__SSE2__)
  _mm_store_si128(reinterpret_cast<__m128i*>(copy),
                  _mm_set_epi64x(static_cast<long long>(high), static_cast<long long>(low)));
#else
  std::memcpy(copy, &low, 8);
  std::memcpy(copy + 8, &high, 8);
#endif
  return visit(static_cast<const char*>(copy), (1u << length) - 1, std::size_t{0});
}
}  // namespace detail

// Calls visit(block, keep, base) for the text in blocks of 16 bytes, first to last, until
// visit returns true. Bit i of keep marks block[i] as text[base + i] seen for the first
// time: the last block overlaps the one before it (its repeated bytes are left out of
// keep), and a text shorter than a block comes as a zero-filled copy. Returns whether
// visit stopped the walk. Reads only the text's own bytes.
template <class Visit>
bool ForEachBlock(const char* text, std::size_t length, Visit&& visit) {
  if (length < 16) return detail::VisitShort(text, length, visit);
  std::size_t at = 0;
  for (; at + 16 <= length; at += 16) {
    if (visit(text + at, 0xFFFFu, at)) return true;
  }
  if (at == length) return false;
  const unsigned repeated = static_cast<unsigned>(16 - (length - at));
  return visit(text + length - 16, (0xFFFFu << repeated) & 0xFFFFu, length - 16);
}

// The same walk from the last block to the first: the first block is the one that overlaps
// (its bytes seen already left out of keep).
template <class Visit>
bool ForEachBlockFromEnd(const char* text, std::size_t length, Visit&& visit) {
  if (length < 16) return detail::VisitShort(text, length, visit);
  std::size_t end = length;
  for (; end >= 16; end -= 16) {
    if (visit(text + end - 16, 0xFFFFu, end - 16)) return true;
  }
  return end != 0 && visit(text, (1u << end) - 1, std::size_t{0});
}

}  // namespace ascommon::bytes16
