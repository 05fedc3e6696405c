// Byte tests on eight bytes at once (SWAR): the word-at-a-time scans of URL parsing, site
// keys and JSON escaping. Header only, no state; safe from any thread.
#pragma once

#include <cstddef>
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

// The n bytes at p (n at most 8) as a little-endian word, zero above them, read with loads
// that stay inside [p, p + n): no copy through memory, whose byte stores a following wide
// load would have to wait for.
inline std::uint64_t LoadPartialWord(const char* p, std::size_t n) noexcept {
  if (n == 8) return LoadWord(p);
  if (n >= 4) {
    std::uint32_t low, high;
    std::memcpy(&low, p, 4);
    std::memcpy(&high, p + n - 4, 4);
    return low | std::uint64_t{high} << (8 * (n - 4));
  }
  if (n == 0) return 0;
  const auto byte = [p](std::size_t i) {
    return std::uint64_t{static_cast<unsigned char>(p[i])} << (8 * i);
  };
  return byte(0) | byte(n / 2) | byte(n - 1);
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
