// CCategoryMaskTable: (key, mask) slots, linear probing at load <= 3/4, home slot by
// multiply-high of the seeded key; grows by doubling.
// Tested through tests/engines/urldb2/categoryindex_test.cpp.
#include "engines/urldb2/categorymasktable.h"

#include <algorithm>
#include <cstring>

namespace ascommon {

void CCategoryMaskTable::Clear() noexcept {
  as_free(m_slots);
  m_slots = nullptr;
  m_capacity = 0;
  m_count = 0;
}

std::int32_t CCategoryMaskTable::Place(std::uint64_t key, std::uint64_t bits) noexcept {
  for (std::uint64_t i = Home(key);;) {
    Slot& slot = m_slots[i];
    if (slot.mask == 0) {
      slot.key = key;
      slot.mask = bits;
      ++m_count;
      return 1;
    }
    if (slot.key == key) {
      slot.mask |= bits;
      return 0;
    }
    if (++i == m_capacity) i = 0;
  }
}

std::int32_t CCategoryMaskTable::Rehash(std::uint64_t capacity) noexcept {
  Slot* slots = as_alloc_array_nt<Slot>(capacity);
  if (slots == nullptr) return -2;
  std::memset(slots, 0, capacity * sizeof(Slot));
  Slot* const old = m_slots;
  const std::uint64_t oldCapacity = m_capacity;
  m_slots = slots;
  m_capacity = capacity;
  m_count = 0;
  for (std::uint64_t i = 0; i < oldCapacity; ++i) {
    if (old[i].mask != 0) Place(old[i].key, old[i].mask);
  }
  as_free(old);
  return 0;
}

std::int32_t CCategoryMaskTable::Reserve(std::uint64_t count) noexcept {
  const std::uint64_t needed = CCategoryKeySet::CapacityFor(count);
  return needed <= m_capacity ? 0 : Rehash(needed);
}

std::int32_t CCategoryMaskTable::Add(std::uint64_t key, std::uint64_t bits) noexcept {
  if ((m_count + 1) * 4 > m_capacity * 3) {
    if (Find(key) != 0) return Place(key, bits);
    // Doubling keeps a run of single adds amortised O(1).
    if (Reserve(std::max(m_count + 1, m_count * 2)) != 0) return -2;
  }
  return Place(key, bits);
}

}  // namespace ascommon
