// CCategoryIndex: for every key of up to 21 category databases, which (list, piece) pairs
// hold it, so that a filter with many lists looks a URL's pieces up once for all lists.
//
// Why: a URL is looked up in up to eighteen lists, three pieces each, and nearly every
// lookup misses. Probing each list's own set costs up to 54 trips to memory per URL; the
// index keeps every distinct key once, next to a 64-bit mask with one bit per (list, piece)
// pair holding it, so one to three probes (one per distinct piece text, started together
// so that their cache misses overlap) answer exactly for every list. A URL on a list costs
// no more than one on none.
// Layout: one flat array of 16-byte slots (key, mask), open addressing with linear
// probing, kept at most 3/4 full and usually under 1/2 (sized from the lists' counts before
// the first key goes in); a slot whose mask is 0 is free, so every key, 0 included, is
// stored alike. The home slot and the per-index seed are CCategoryKeySet's.
// Cost: Build O(keys of all lists), prefetching a few keys ahead; Holders O(pieces) plus
// one probe run per distinct piece. Memory: 16 bytes per slot, 24 to 32 bytes per distinct
// key.
//
// Ownership: the index owns its slot array; it keeps no pointer to the databases, which
// must not change while the index is used for them (the filter rebuilds it after a load).
// Threads: Prefetch and Holders are const and safe for concurrent readers; Build needs
// exclusive access.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/asmemory.h"
#include "engines/urldb2/categorykey.h"
#include "engines/urldb2/categorykeyset.h"

namespace ascommon {

class CURLCategoryDB;

class CCategoryIndex : public CASAllocated {
 public:
  // One bit for each (list, piece) pair in a 64-bit mask: 21 lists of three pieces.
  static constexpr std::size_t kMaxLists = 21;

  CCategoryIndex() noexcept;
  ~CCategoryIndex();
  CCategoryIndex(const CCategoryIndex&) = delete;
  CCategoryIndex& operator=(const CCategoryIndex&) = delete;

  // Builds the index over lists[0, count); list i answers to bit i, null entries hold
  // nothing. 0; -1 when count exceeds kMaxLists; -2 when memory runs out. After a failure
  // the index is empty and answers "no list" for everything: do not use it.
  std::int32_t Build(const CURLCategoryDB* const* lists, std::size_t count) noexcept;

  // holders[p] for each piece p of the probe: bit i is set exactly when list i holds that
  // piece's key. Absent pieces get 0.
  void Holders(const CCategoryProbe& probe,
               std::uint32_t holders[kCategoryPieceCount]) const noexcept {
    Homes homes;
    Prefetch(probe, homes);
    Holders(probe, homes, holders);
  }
  // The same in two halves, for a caller with other work to do while the slots arrive from
  // memory: Prefetch finds the pieces' home slots and starts loading them, Holders (with
  // those homes) reads them.
  struct Homes {
    std::uint64_t slot[kCategoryPieceCount];
  };
  void Prefetch(const CCategoryProbe& probe, Homes& homes) const noexcept;
  void Holders(const CCategoryProbe& probe, const Homes& homes,
               std::uint32_t holders[kCategoryPieceCount]) const noexcept;

  // Distinct keys held (for tests and sizing).
  std::uint64_t GetCount() const noexcept { return m_count; }

 private:
  struct Slot {
    std::uint64_t key;
    std::uint64_t mask;  // bit piece * kMaxLists + list; 0 = free slot
  };

  std::uint64_t Home(std::uint64_t key) const noexcept {
    return CCategoryKeySet::SlotOf(key, m_seed, m_capacity);
  }
  // The mask stored for key, 0 when absent.
  std::uint64_t Find(std::uint64_t key, std::uint64_t home) const noexcept {
    for (std::uint64_t i = home;;) {
      const Slot& slot = m_slots[i];
      if (slot.mask == 0) return 0;  // the table is never full
      if (slot.key == key) return slot.mask;
      if (++i == m_capacity) i = 0;
    }
  }
  // Adds bits to key's mask, inserting the key when new. Room must be available.
  void Add(std::uint64_t key, std::uint64_t home, std::uint64_t bits) noexcept;
  // Moves every key into a table of the given number of slots. 0 or -2 (unchanged).
  std::int32_t Rehash(std::uint64_t capacity) noexcept;
  // Releases the table: the index then holds nothing.
  void Clear() noexcept;

  Slot* m_slots = nullptr;  // Owned; m_capacity slots.
  std::uint64_t m_capacity = 0;
  std::uint64_t m_count = 0;
  std::uint64_t m_seed;
};

}  // namespace ascommon
