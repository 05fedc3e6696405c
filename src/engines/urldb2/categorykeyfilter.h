// CCategoryKeyFilter: a small Bloom filter over the keys of one category database, which
// tells most keys the database does not hold without touching its sets.
//
// Why: the advanced filter asks its white list about every page before anything else. The
// white list's three sets lie apart from everything else a page touches and leave the cache
// between pages, so each answer costs trips to memory, while nearly every page is on no
// white list. This filter keeps about eight bits per key of the sets in 64-byte blocks (one
// block per key, so one cache line per question) and stays small enough to stay cached: a
// key it does not hold is in no set; a key it holds is looked up in the sets (every key of
// the sets, and a few in a hundred others at most).
// Layout: 2^k blocks of eight 64-bit words; a key (mixed with a per-filter seed, so that
// crafted keys cannot pile up in one block) picks its block with the top k bits of one
// product and four of the block's 512 bits with the top bits of another.
// Limits: a database of more than kMaxKeys keys in its sets gets no filter (it would no
// longer fit the cache); Build then reports -1 and the caller asks the sets directly.
//
// Ownership: the filter owns its blocks (host allocator) and keeps no pointer to the
// database. Threads: MayHold and MayHoldAny are const and safe for any number of
// concurrent readers; Build needs exclusive access.
#pragma once

#include <cstdint>

#include "common/asmemory.h"
#include "engines/urldb2/categorykey.h"

namespace ascommon {

class CURLCategoryDB;

class CCategoryKeyFilter : public CASAllocated {
 public:
  static constexpr std::uint64_t kMaxKeys = 1u << 18;

  CCategoryKeyFilter() noexcept;
  ~CCategoryKeyFilter();
  CCategoryKeyFilter(const CCategoryKeyFilter&) = delete;
  CCategoryKeyFilter& operator=(const CCategoryKeyFilter&) = delete;

  // Builds the filter over the keys of the database's three sets (a later change of the
  // database is not seen). 0; -1 when the sets hold more than kMaxKeys keys; -2 when memory
  // runs out. After a failure the filter holds everything (MayHold answers true).
  std::int32_t Build(const CURLCategoryDB& db) noexcept;

  // False only when no set of the database holds key.
  bool MayHold(std::uint64_t key) const noexcept;
  // False only when the database holds none of the probe's present pieces' keys.
  bool MayHoldAny(const CCategoryProbe& probe) const noexcept {
    for (std::size_t p = 0; p < kCategoryPieceCount; ++p) {
      if (probe.present[p] && MayHold(probe.keys[p])) return true;
    }
    return false;
  }

 private:
  void Add(std::uint64_t key) noexcept;
  // The key's block and the four bit numbers within it.
  const std::uint64_t* BitsOf(std::uint64_t key, unsigned bits[4]) const noexcept;
  // Releases the blocks: the filter then holds everything.
  void Clear() noexcept;

  std::uint64_t* m_blocks = nullptr;  // Owned; 8 words per block, 2^m_blockBits blocks.
  unsigned m_blockBits = 0;
  std::uint64_t m_seed;
};

}  // namespace ascommon
