// Category keys: the first 8 bytes of the MD5 digest (RFC 1321) of a lower-case URL piece,
// read as a little-endian 64-bit number, and CCategoryProbe, the keys of one URL's three
// pieces computed once and then looked up in any number of category databases.
//
// CategoryKeysOf digests up to three texts side by side (the three MD5 computations are
// independent, so interleaving them lets the processor overlap their dependency chains);
// it gives exactly the keys of CategoryKeyOf, which goes through CMD5.
// Pure functions and a plain value type; safe from any thread. Nothing is allocated.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ascommon {

// The three pieces of a URL that category lists are keyed by, in lookup order.
enum class ECategoryPiece : std::uint32_t {
  kAddress = 0,    // the path piece: address without scheme, "www.", query, fragment
  kSubdomain = 1,  // the host
  kDomain = 2,     // the registrable domain (or IPv4 address)
};
inline constexpr std::size_t kCategoryPieceCount = 3;

struct CategoryText {
  const char* text;  // Not owned; null only with length 0
  std::size_t length;
};

// The key of length bytes at text (null allowed with length 0). O(length).
std::uint64_t CategoryKeyOf(const char* text, std::size_t length) noexcept;
// keys[i] = CategoryKeyOf(texts[i]) for i < count (any count; three at a time).
void CategoryKeysOf(const CategoryText* texts, std::size_t count, std::uint64_t* keys) noexcept;
// Whether CategoryKeysOf uses the AVX-512 steps: set at start-up when the processor has
// them. Tests turn it off to check the SSE2 steps too; nothing else writes it.
extern bool g_categoryKeysWide;

// The keys of a URL's pieces. A piece that is absent (null text) gets no key and is looked
// up nowhere; pieces with identical text share one digest.
struct CCategoryProbe {
  std::uint64_t keys[kCategoryPieceCount] = {};
  bool present[kCategoryPieceCount] = {};

  // texts/lengths indexed by ECategoryPiece. At most three digests. O(total length).
  void Set(const char* const texts[kCategoryPieceCount],
           const std::size_t lengths[kCategoryPieceCount]) noexcept;
};

}  // namespace ascommon
