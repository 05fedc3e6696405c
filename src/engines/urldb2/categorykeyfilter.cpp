// CCategoryKeyFilter: blocked Bloom filter, four bits of one 512-bit block per key, sized at
// eight bits per key of the sets (keys the sets share count once per set). Build O(keys),
// MayHold O(1) with one cache line read. Tested by
// tests/engines/urldb2/categorykeyfilter_test.cpp.
#include "engines/urldb2/categorykeyfilter.h"

#include <cstring>

#include "engines/urldb2/categorykeyset.h"
#include "engines/urldb2/urlcategorydb.h"

namespace ascommon {

namespace {

constexpr unsigned kWordsPerBlock = 8;
constexpr unsigned kBitsPerKey = 8;

}  // namespace

CCategoryKeyFilter::CCategoryKeyFilter() noexcept : m_seed(CCategoryKeySet::NewSeed()) {}

CCategoryKeyFilter::~CCategoryKeyFilter() { Clear(); }

void CCategoryKeyFilter::Clear() noexcept {
  as_free(m_blocks);
  m_blocks = nullptr;
  m_blockBits = 0;
}

inline const std::uint64_t* CCategoryKeyFilter::BitsOf(std::uint64_t key,
                                                       unsigned bits[4]) const noexcept {
  const std::uint64_t mixed = key ^ m_seed;
  const std::uint64_t block =
      m_blockBits == 0 ? 0 : (mixed * 0x9E3779B97F4A7C15ull) >> (64 - m_blockBits);
  const std::uint64_t spread = mixed * 0xD6E8FEB86659FD93ull;
  for (unsigned i = 0; i < 4; ++i) bits[i] = static_cast<unsigned>(spread >> (55 - 9 * i)) & 511;
  return m_blocks + block * kWordsPerBlock;
}

void CCategoryKeyFilter::Add(std::uint64_t key) noexcept {
  unsigned bits[4];
  auto* block = const_cast<std::uint64_t*>(BitsOf(key, bits));
  for (const unsigned bit : bits) block[bit >> 6] |= std::uint64_t{1} << (bit & 63);
}

bool CCategoryKeyFilter::MayHold(std::uint64_t key) const noexcept {
  if (m_blocks == nullptr) return true;
  unsigned bits[4];
  const std::uint64_t* block = BitsOf(key, bits);
  for (const unsigned bit : bits) {
    if ((block[bit >> 6] >> (bit & 63) & 1) == 0) return false;
  }
  return true;
}

std::int32_t CCategoryKeyFilter::Build(const CURLCategoryDB& db) noexcept {
  Clear();
  std::uint64_t keys = 0;
  for (std::size_t p = 0; p < kCategoryPieceCount; ++p) {
    keys += db.GetCount(static_cast<ECategoryPiece>(p));
  }
  if (keys > kMaxKeys) return -1;
  unsigned blockBits = 0;
  while ((std::uint64_t{512} << blockBits) < keys * kBitsPerKey) ++blockBits;
  const std::size_t words = std::size_t{kWordsPerBlock} << blockBits;
  auto* blocks = as_alloc_array_nt<std::uint64_t>(words);
  if (blocks == nullptr) return -2;
  std::memset(blocks, 0, words * sizeof(std::uint64_t));
  m_blocks = blocks;
  m_blockBits = blockBits;
  for (std::size_t p = 0; p < kCategoryPieceCount; ++p) {
    db.GetSet(static_cast<ECategoryPiece>(p)).ForEach([&](std::uint64_t key) { Add(key); });
  }
  return 0;
}

}  // namespace ascommon
