// CCategoryKeySet: a set of 64-bit category keys (the first 8 bytes of MD5 digests) built
// for millions of keys, loaded in one pass, with lookups that read one or two cache lines.
//
// Two forms, one behaviour:
// - Hashed: one flat array of 8-byte slots, open addressing with linear probing, kept at
//   most 3/4 full; the value 0 marks a free slot (the key 0 itself is held in a flag). A key
//   is already a uniformly spread digest, so its own bits are the hash (one multiply folds it
//   onto the table, see SlotOf) and a slot holds nothing but the key; at load 3/4 a lookup
//   reads 2.5 slots on a hit and 8.5 on a miss on average, eight slots to a cache line. A
//   per-set random seed is mixed into the fold so that a file of crafted (non-digest) keys
//   cannot pile its keys onto one run of slots. Inserts go here.
// - Sorted: a file's keys as read, when they come in strictly ascending order (list files
//   are written so) and the set was empty: the block the keys were read into is kept as it
//   is, with a directory of where each run of keys sharing their top bits starts (about four
//   keys a run). Why: loading then inserts nothing and zeroes no table (a filter with
//   seventeen lists loads millions of keys it mostly asks CCategoryIndex about), and the
//   set takes 9 bytes a key instead of 10.7 to 21.3. A lookup reads the key's directory
//   entry and searches its run (binary search, so crafted keys that share their top bits
//   cost O(log n), not O(n)). The first insert of a new key, or a Reserve, turns the set
//   into the hashed form.
// Cost: Contains O(1) expected; Insert amortised O(1); Reserve O(capacity); AdoptSorted
// O(n); CopySorted O(n log n) hashed, O(n) sorted.
// Limit: kCategoryMaxKeysPerSet keys; beyond it inserts and reserves fail with -2.
//
// Ownership: the set owns its slot array or its sorted block and directory (host allocator).
// Threads: Contains, GetCount and the visits are const and safe for any number of
// concurrent readers; Reserve, Insert, AdoptSorted and Clear need exclusive access.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/asmemory.h"

namespace ascommon {

class CCategoryKeySet : public CASAllocated {
 public:
  CCategoryKeySet() noexcept;
  ~CCategoryKeySet();
  CCategoryKeySet(const CCategoryKeySet&) = delete;
  CCategoryKeySet& operator=(const CCategoryKeySet&) = delete;

  // Makes room for count keys in all (those held included) without growing again.
  // 0, or -2 when memory (or the key limit) runs out; the set is then unchanged.
  std::int32_t Reserve(std::uint64_t count) noexcept;
  // 0 when added, 1 when already present, -2 when memory (or the key limit) runs out.
  std::int32_t Insert(std::uint64_t key) noexcept;
  // Inserts count keys, prefetching the home slots of those a few places ahead so that
  // their cache misses overlap (a file's keys go in this way). 0, or -2 as soon as an
  // insert runs out of memory (the keys before it stay).
  std::int32_t InsertAll(const std::uint64_t* keys, std::uint64_t count) noexcept;
  // Takes over count keys (a block from the host allocator) as the set when the set is
  // empty and they are strictly ascending: 1, the block is then the set's; 0, nothing
  // done (the caller keeps the block); -2 when memory runs out (nothing done).
  std::int32_t AdoptSorted(std::uint64_t* keys, std::uint64_t count) noexcept;
  bool Contains(std::uint64_t key) const noexcept {
    if (m_sorted != nullptr) return SortedContains(key);
    if (key == 0) return m_hasZero;
    if (m_capacity == 0) return false;
    for (std::uint64_t i = Home(key);;) {
      const std::uint64_t slot = m_slots[i];
      if (slot == key) return true;
      if (slot == 0) return false;  // the table is never full
      if (++i == m_capacity) i = 0;
    }
  }

  std::uint64_t GetCount() const noexcept { return m_count; }

  // The hashing and sizing of these tables, shared with CCategoryIndex: a fresh seed for each table
  // (so a file of crafted, non-digest keys cannot pile its keys onto one run of slots), and
  // a key's home slot among capacity slots: the key mixed with the seed, multiplied by an
  // odd constant, the product's high bits scaled onto [0, capacity) (multiply-high: no
  // division, any capacity).
  static std::uint64_t NewSeed() noexcept;
  static std::uint64_t SlotOf(std::uint64_t key, std::uint64_t seed,
                              std::uint64_t capacity) noexcept {
    const std::uint64_t mixed = (key ^ seed) * 0x9E3779B97F4A7C15ull;
    return static_cast<std::uint64_t>((static_cast<unsigned __int128>(mixed) * capacity) >> 64);
  }
  // The slots for count keys: load at most 3/4 (and a table never full), 16 at least.
  static std::uint64_t CapacityFor(std::uint64_t count) noexcept {
    const std::uint64_t slots = count + count / 3 + 1;
    return slots < 16 ? 16 : slots;
  }
  // Drops every key and releases the slot array.
  void Clear() noexcept;

  // Writes the GetCount() keys into out in ascending order.
  void CopySorted(std::uint64_t* out) const noexcept;
  // The keys in ascending order while the set is in its sorted form (GetCount() of them),
  // else null.
  const std::uint64_t* SortedKeys() const noexcept { return m_sorted; }
  // Calls visit(std::uint64_t key) for every key, in table (or ascending) order.
  template <class Visitor>
  void ForEach(Visitor&& visit) const {
    for (std::uint64_t i = 0; m_sorted != nullptr && i < m_count; ++i) visit(m_sorted[i]);
    if (m_hasZero) visit(std::uint64_t{0});
    for (std::uint64_t i = 0; i < m_capacity; ++i) {
      if (m_slots[i] != 0) visit(m_slots[i]);
    }
  }

 private:
  std::uint64_t Home(std::uint64_t key) const noexcept { return SlotOf(key, m_seed, m_capacity); }
  // Rebuilds the table with the given number of slots. 0 or -2 (unchanged).
  std::int32_t Rehash(std::uint64_t capacity) noexcept;
  void Place(std::uint64_t key) noexcept;  // key != 0, absent, room available
  bool SortedContains(std::uint64_t key) const noexcept;
  // Moves the sorted keys into a hashed table of room for count keys. 0 or -2 (unchanged).
  std::int32_t Unsort(std::uint64_t count) noexcept;
  // Insert of a key other than 0 from its home slot, with room available: 0 or 1.
  std::int32_t InsertFrom(std::uint64_t key, std::uint64_t home) noexcept;

  std::uint64_t* m_slots = nullptr;  // Owned; m_capacity slots, 0 = free.
  std::uint64_t m_capacity = 0;
  std::uint64_t m_count = 0;  // keys held, the key 0 included
  std::uint64_t m_seed;
  bool m_hasZero = false;
  // The sorted form (m_slots null): m_count keys ascending, and for each value t of their
  // top m_runBits bits the index of the first key not below t (2^m_runBits + 1 entries).
  std::uint64_t* m_sorted = nullptr;  // Owned
  std::uint32_t* m_runs = nullptr;    // Owned
  unsigned m_runBits = 0;
};

}  // namespace ascommon
