// CCategoryMaskTable: 64-bit category keys, each with a 64-bit mask of bits ORed into it.
// CCategoryIndex keeps here the keys its compact buckets have no room for (or every key,
// while the lists are small), and uses one as the table of its mask codes.
//
// Layout: one flat array of 16-byte slots (key, mask), open addressing with linear probing,
// kept at most 3/4 full; a slot whose mask is 0 is free, so every key, 0 included, is stored
// alike (masks are never 0). The home slot and the per-table seed are CCategoryKeySet's.
// Cost: Find O(1) expected, one or two cache lines; Add amortised O(1). Memory: 16 bytes
// per slot, 21 to 43 bytes per key.
//
// Ownership: the table owns its slot array (host allocator).
// Threads: Home, Find and the visit are const and safe for concurrent readers; Reserve,
// Add and Clear need exclusive access.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "common/asmemory.h"
#include "engines/urldb2/categorykeyset.h"

namespace ascommon {

class CCategoryMaskTable : public CASAllocated {
 public:
  CCategoryMaskTable() noexcept : m_seed(CCategoryKeySet::NewSeed()) {}
  ~CCategoryMaskTable() { Clear(); }
  CCategoryMaskTable(const CCategoryMaskTable&) = delete;
  CCategoryMaskTable& operator=(const CCategoryMaskTable&) = delete;

  // Makes room for count keys in all without growing again. 0, or -2 (unchanged).
  std::int32_t Reserve(std::uint64_t count) noexcept;
  // ORs bits (not 0) into key's mask, adding the key when new: 1 added, 0 already held,
  // -2 when memory runs out (the table is then unchanged).
  std::int32_t Add(std::uint64_t key, std::uint64_t bits) noexcept;

  // Where a lookup of key starts (for Prefetch and Find); only while the table is not empty.
  std::uint64_t Home(std::uint64_t key) const noexcept {
    return CCategoryKeySet::SlotOf(key, m_seed, m_capacity);
  }
  void Prefetch(std::uint64_t home) const noexcept { __builtin_prefetch(&m_slots[home]); }
  // The mask held for key, 0 when absent.
  std::uint64_t Find(std::uint64_t key, std::uint64_t home) const noexcept {
    for (std::uint64_t i = home;;) {
      const Slot& slot = m_slots[i];
      if (slot.mask == 0) return 0;  // the table is never full
      if (slot.key == key) return slot.mask;
      if (++i == m_capacity) i = 0;
    }
  }
  std::uint64_t Find(std::uint64_t key) const noexcept {
    return m_count == 0 ? 0 : Find(key, Home(key));
  }

  std::uint64_t GetCount() const noexcept { return m_count; }
  // Calls visit(std::uint64_t key, std::uint64_t mask) for every key, in table order.
  template <class Visitor>
  void ForEach(Visitor&& visit) const {
    for (std::uint64_t i = 0; i < m_capacity; ++i) {
      if (m_slots[i].mask != 0) visit(m_slots[i].key, m_slots[i].mask);
    }
  }
  // Drops every key and releases the slot array.
  void Clear() noexcept;
  // Exchanges the contents (seeds included) of two tables.
  void Swap(CCategoryMaskTable& other) noexcept {
    std::swap(m_slots, other.m_slots);
    std::swap(m_capacity, other.m_capacity);
    std::swap(m_count, other.m_count);
    std::swap(m_seed, other.m_seed);
  }

 private:
  struct Slot {
    std::uint64_t key;
    std::uint64_t mask;  // 0 = free slot
  };
  // Adds with room available: 1 added, 0 already held.
  std::int32_t Place(std::uint64_t key, std::uint64_t bits) noexcept;
  std::int32_t Rehash(std::uint64_t capacity) noexcept;

  Slot* m_slots = nullptr;  // Owned; m_capacity slots.
  std::uint64_t m_capacity = 0;
  std::uint64_t m_count = 0;
  std::uint64_t m_seed;
};

}  // namespace ascommon
