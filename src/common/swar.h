// Byte tests on eight bytes at once (SWAR): the word-at-a-time scans of URL parsing, site
// keys and JSON escaping. Header only, no state; safe from any thread.
#pragma once

#include <cstdint>
#include <cstring>

namespace ascommon::swar {

inline constexpr std::uint64_t kOnes = 0x0101010101010101ull;
inline constexpr std::uint64_t kHighBits = 0x8080808080808080ull;

// The eight bytes at p (any alignment), in the machine's byte order.
inline std::uint64_t LoadWord(const char* p) noexcept {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

// Whether any byte of word is below n (n at most 128). Exact for the word as a whole; the
// bit positions it sets may be wrong past the first such byte.
constexpr bool AnyByteBelow(std::uint64_t word, unsigned n) noexcept {
  return ((word - kOnes * n) & ~word & kHighBits) != 0;
}

// Whether any byte of word equals byte.
constexpr bool HasByte(std::uint64_t word, unsigned char byte) noexcept {
  return AnyByteBelow(word ^ (kOnes * byte), 1);
}

}  // namespace ascommon::swar
