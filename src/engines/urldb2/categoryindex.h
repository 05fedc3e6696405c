// CCategoryIndex: for every key of up to 21 category databases, which (list, piece) pairs
// hold it, so that a filter with many lists looks a URL's pieces up once for all lists.
//
// Why: a URL is looked up in up to eighteen lists, three pieces each, and nearly every
// lookup misses. Probing each list's own set costs up to 54 trips to memory per URL; the
// index keeps every distinct key once with the (list, piece) pairs holding it, so one to
// three probes (one per distinct piece text, started together so that their cache misses
// overlap) answer exactly for every list. A URL on a list costs no more than one on none.
//
// Layout, built to stay small: the index sits in memory next to the black list's set, and
// every byte of it that a page's lookup may touch pushes that set out of the caches.
// - Keys are mixed with a per-index seed and an odd multiplier (a bijection of 64-bit
//   values). The top B bits of the mixed key pick its bucket, 64 bytes (one cache line) of
//   eight 8-byte entries filled from the front; an entry holds the other 64 - B bits of the
//   mixed key and a 16-bit mask code. B is at least 16, so the bucket and the 48 bits kept
//   name the key exactly: 8 bytes a key where a (key, mask) slot takes 16, and every lookup
//   reads one cache line. Buckets average at most four keys (about half full).
// - A mask code names the 64-bit mask of (list, piece) bits: codes 1 to 147 are one list
//   with any of its pieces (nearly every key), higher codes are given out to the masks of
//   keys held by several lists as they appear (at most 65,535 codes; beyond them Build
//   fails and the lists answer for themselves, as without an index).
// - Keys a full bucket has no room for (about one in a hundred) go to an overflow
//   CCategoryMaskTable, read only after a full bucket misses. While the lists hold fewer
//   than kMinBucketedKeys keys all of them live there (the 4 MB of buckets would cost more
//   than the 16-byte slots); the buckets double, keys moved, when the overflow grows past
//   one key in sixteen.
// Cost: Build O(keys of all lists), prefetching a few keys ahead; Holders O(pieces), one
// cache line per distinct piece (two after a full bucket). Memory: 16 to 32 bytes a key
// while bucketed (4 MB at least), 21 to 43 before.
//
// Ownership: the index owns its tables; it keeps no pointer to the databases, which must
// not change while the index is used for them (the filter rebuilds it after a load).
// Threads: Prefetch and Holders are const and safe for concurrent readers; Build needs
// exclusive access.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/asmemory.h"
#include "engines/urldb2/categorykey.h"
#include "engines/urldb2/categorymasktable.h"

namespace ascommon {

class CURLCategoryDB;

class CCategoryIndex : public CASAllocated {
 public:
  // One bit for each (list, piece) pair in a 64-bit mask: 21 lists of three pieces.
  static constexpr std::size_t kMaxLists = 21;
  // Fewest keys kept in buckets (below it, every key is in the overflow table).
  static constexpr std::uint64_t kMinBucketedKeys = std::uint64_t{1} << 17;

  CCategoryIndex() noexcept;
  ~CCategoryIndex();
  CCategoryIndex(const CCategoryIndex&) = delete;
  CCategoryIndex& operator=(const CCategoryIndex&) = delete;

  // Builds the index over lists[0, count); list i answers to bit i, null entries hold
  // nothing. 0; -1 when count exceeds kMaxLists; -2 when memory or mask codes run out.
  // After a failure the index is empty and answers "no list" for everything: do not use it.
  std::int32_t Build(const CURLCategoryDB* const* lists, std::size_t count) noexcept;

  // holders[p] for each piece p of the probe: bit i is set exactly when list i holds that
  // piece's key. Absent pieces get 0.
  void Holders(const CCategoryProbe& probe,
               std::uint32_t holders[kCategoryPieceCount]) const noexcept {
    Homes homes;
    Prefetch(probe, homes);
    Holders(probe, homes, holders);
  }
  // The same in two halves, for a caller with other work to do while the buckets arrive
  // from memory: Prefetch finds the pieces' buckets and starts loading them, Holders (with
  // those homes) reads them.
  struct Homes {
    std::uint64_t slot[kCategoryPieceCount];  // bucket, or overflow slot when unbucketed
    std::uint64_t tag[kCategoryPieceCount];   // the entry bits naming the key
  };
  void Prefetch(const CCategoryProbe& probe, Homes& homes) const noexcept;
  void Holders(const CCategoryProbe& probe, const Homes& homes,
               std::uint32_t holders[kCategoryPieceCount]) const noexcept;

  // Distinct keys held, and those of them in the overflow table (for tests and sizing).
  std::uint64_t GetCount() const noexcept { return m_count; }
  std::uint64_t GetOverflowCount() const noexcept { return m_overflow.GetCount(); }

 private:
  static constexpr std::size_t kBucketEntries = 8;
  static constexpr std::uint64_t kCodeMask = 0xFFFF;
  struct alignas(64) Bucket {
    std::uint64_t entry[kBucketEntries];  // (rest of the mixed key << 16) | code; 0 = free
  };

  std::uint64_t Mix(std::uint64_t key) const noexcept;
  std::uint64_t Unmix(std::uint64_t mixed) const noexcept;
  std::uint64_t BucketOf(std::uint64_t mixed) const noexcept { return mixed >> (64 - m_bits); }
  std::uint64_t TagOf(std::uint64_t mixed) const noexcept {
    return (mixed << m_bits) >> (m_bits - 16);
  }
  // The mask held for a mixed key in its bucket (the overflow table asked when full).
  std::uint64_t FindBucketed(std::uint64_t key, std::uint64_t bucket,
                             std::uint64_t tag) const noexcept;
  // ORs bits into the key's mask, adding the key when new. 0, or -2 (memory, codes).
  std::int32_t Add(std::uint64_t key, std::uint64_t mixed, std::uint64_t bits) noexcept;
  // The code of a mask, given out when new; 0 when the codes are used up or memory runs out.
  std::uint64_t CodeOf(std::uint64_t mask) noexcept;
  // Moves every key into 2^bits buckets (and a new overflow table). 0, or -2 when memory
  // or codes run out (nothing lost when the buckets cannot be allocated; later, keys may be,
  // and the caller clears the index).
  std::int32_t Rebucket(unsigned bits) noexcept;
  // Rebuckets when the overflow holds too many keys. 0 or -2.
  std::int32_t Balance() noexcept;
  // Releases the tables: the index then holds nothing.
  void Clear() noexcept;

  Bucket* m_buckets = nullptr;  // Owned (m_bucketBlock); 2^m_bits buckets, or none.
  void* m_bucketBlock = nullptr;
  unsigned m_bits = 0;  // 0: no buckets, every key in m_overflow
  CCategoryMaskTable m_overflow;
  std::uint64_t* m_masks = nullptr;  // Owned; m_masks[code], m_maskCapacity entries.
  std::uint64_t m_maskCount = 0;     // codes given out, 0 and the single-list ones included
  std::uint64_t m_maskCapacity = 0;
  CCategoryMaskTable m_codes;  // while building: multi-list mask -> code
  std::uint64_t m_count = 0;
  std::uint64_t m_seed;
};

}  // namespace ascommon
