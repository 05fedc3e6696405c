// CCategoryKeySet: 64-bit digest keys in one flat array, linear probing at load <= 3/4,
// home slot by multiply-high of the seeded key, or (as loaded) an ascending array with a
// directory of runs by top bits. Lookup O(1) expected (one or two cache lines), insert
// amortised O(1), rehash O(capacity); 10.7-21.3 bytes per key hashed, 9 sorted.
// Tested by tests/engines/urldb2/categorykeyset_test.cpp (against a std::set reference).
#include "engines/urldb2/categorykeyset.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <cstring>

#include "engines/urldb2/urldb2_format.h"

namespace ascommon {

namespace {

std::uint64_t SplitMix64(std::uint64_t x) noexcept {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

}  // namespace

// A different seed for every table: the start time and the address of this function's
// counter (which varies with address-space randomisation) mixed with a running count.
std::uint64_t CCategoryKeySet::NewSeed() noexcept {
  static std::atomic<std::uint64_t> counter{0};
  const auto now = static_cast<std::uint64_t>(
      std::chrono::steady_clock::now().time_since_epoch().count());
  const std::uint64_t n = counter.fetch_add(1, std::memory_order_relaxed);
  return SplitMix64(now ^ reinterpret_cast<std::uintptr_t>(&counter) ^
                    (n * 0xD1B54A32D192ED03ull));
}

CCategoryKeySet::CCategoryKeySet() noexcept : m_seed(NewSeed()) {}

CCategoryKeySet::~CCategoryKeySet() { Clear(); }

void CCategoryKeySet::Clear() noexcept {
  as_free(m_slots);
  m_slots = nullptr;
  as_free(m_sorted);
  m_sorted = nullptr;
  as_free(m_runs);
  m_runs = nullptr;
  m_runBits = 0;
  m_capacity = 0;
  m_count = 0;
  m_hasZero = false;
}

void CCategoryKeySet::Place(std::uint64_t key) noexcept {
  std::uint64_t i = Home(key);
  while (m_slots[i] != 0) {
    if (++i == m_capacity) i = 0;
  }
  m_slots[i] = key;
}

std::int32_t CCategoryKeySet::Rehash(std::uint64_t capacity) noexcept {
  std::uint64_t* slots = as_alloc_array_nt<std::uint64_t>(capacity);
  if (slots == nullptr) return -2;
  std::memset(slots, 0, capacity * sizeof(std::uint64_t));
  std::uint64_t* const old = m_slots;
  const std::uint64_t oldCapacity = m_capacity;
  m_slots = slots;
  m_capacity = capacity;
  for (std::uint64_t i = 0; i < oldCapacity; ++i) {
    if (old[i] != 0) Place(old[i]);
  }
  as_free(old);
  return 0;
}

std::int32_t CCategoryKeySet::Reserve(std::uint64_t count) noexcept {
  if (count > kCategoryMaxKeysPerSet) return -2;
  if (m_sorted != nullptr) return Unsort(count);
  const std::uint64_t needed = CapacityFor(count);
  if (needed <= m_capacity) return 0;
  return Rehash(needed);
}

std::int32_t CCategoryKeySet::Insert(std::uint64_t key) noexcept {
  if (m_sorted != nullptr) {
    if (SortedContains(key)) return 1;
    if (m_count >= kCategoryMaxKeysPerSet || Unsort(m_count * 2) != 0) return -2;
  }
  if (key == 0) {
    if (m_hasZero) return 1;
    if (m_count >= kCategoryMaxKeysPerSet) return -2;
    m_hasZero = true;
    ++m_count;
    return 0;
  }
  if ((m_count + 1) * 4 > m_capacity * 3) {
    if (Contains(key)) return 1;
    // Doubling keeps a run of single inserts amortised O(1).
    if (Reserve(std::max(m_count + 1, m_count * 2)) != 0) return -2;
  }
  return InsertFrom(key, Home(key));
}

std::int32_t CCategoryKeySet::InsertFrom(std::uint64_t key, std::uint64_t home) noexcept {
  // One walk from the home slot finds the key or the free slot it goes into.
  for (std::uint64_t i = home;;) {
    const std::uint64_t slot = m_slots[i];
    if (slot == key) return 1;
    if (slot == 0) {
      m_slots[i] = key;
      ++m_count;
      return 0;
    }
    if (++i == m_capacity) i = 0;
  }
}

std::int32_t CCategoryKeySet::InsertAll(const std::uint64_t* keys, std::uint64_t count) noexcept {
  constexpr std::uint64_t kAhead = 16;
  // With room for all of them at most 3/4 full (a file's load reserves it first), the keys
  // go in without a room check each, and each home slot is computed once: when it is
  // prefetched, kAhead keys before the key goes in.
  if (m_capacity != 0 && m_count + count <= kCategoryMaxKeysPerSet &&
      (m_count + count) * 4 <= m_capacity * 3) {
    std::uint64_t homes[kAhead];
    const std::uint64_t first = std::min(count, kAhead);
    for (std::uint64_t i = 0; i < first; ++i) {
      homes[i] = Home(keys[i]);
      __builtin_prefetch(&m_slots[homes[i]], 1);
    }
    for (std::uint64_t i = 0; i < count; ++i) {
      const std::uint64_t home = homes[i % kAhead];
      if (i + kAhead < count) {
        homes[i % kAhead] = Home(keys[i + kAhead]);
        __builtin_prefetch(&m_slots[homes[i % kAhead]], 1);
      }
      const std::uint64_t key = keys[i];
      if (key == 0) {
        m_count += m_hasZero ? 0 : 1;
        m_hasZero = true;
        continue;
      }
      InsertFrom(key, home);
    }
    return 0;
  }
  for (std::uint64_t i = 0; i < count; ++i) {
    if (i + kAhead < count && m_capacity != 0) {
      __builtin_prefetch(&m_slots[Home(keys[i + kAhead])], 1);
    }
    if (Insert(keys[i]) < 0) return -2;
  }
  return 0;
}

std::int32_t CCategoryKeySet::AdoptSorted(std::uint64_t* keys, std::uint64_t count) noexcept {
  if (m_count != 0 || count == 0 || count > kCategoryMaxKeysPerSet) return 0;
  for (std::uint64_t i = 1; i < count; ++i) {
    if (keys[i - 1] >= keys[i]) return 0;
  }
  // About four keys a run: 2^runBits <= count / 4.
  const unsigned runBits =
      count < 8 ? 0 : static_cast<unsigned>(std::bit_width(count / 4)) - 1;
  const std::uint64_t runCount = std::uint64_t{1} << runBits;
  auto* runs = as_alloc_array_nt<std::uint32_t>(runCount + 1);
  if (runs == nullptr) return -2;
  std::uint64_t i = 0;
  for (std::uint64_t run = 0; run < runCount; ++run) {
    while (i < count && (runBits == 0 ? 0 : keys[i] >> (64 - runBits)) < run) ++i;
    runs[run] = static_cast<std::uint32_t>(i);
  }
  runs[runCount] = static_cast<std::uint32_t>(count);
  Clear();
  m_sorted = keys;
  m_runs = runs;
  m_runBits = runBits;
  m_count = count;
  return 1;
}

bool CCategoryKeySet::SortedContains(std::uint64_t key) const noexcept {
  const std::uint64_t run = m_runBits == 0 ? 0 : key >> (64 - m_runBits);
  return std::binary_search(m_sorted + m_runs[run], m_sorted + m_runs[run + 1], key);
}

std::int32_t CCategoryKeySet::Unsort(std::uint64_t count) noexcept {
  std::uint64_t* const sorted = m_sorted;
  m_sorted = nullptr;  // the rehash then makes an empty table, the count unchanged
  if (Rehash(CapacityFor(std::max(count, m_count))) != 0) {
    m_sorted = sorted;
    return -2;
  }
  as_free(m_runs);
  m_runs = nullptr;
  m_runBits = 0;
  for (std::uint64_t i = 0; i < m_count; ++i) {
    if (sorted[i] == 0) {
      m_hasZero = true;
    } else {
      Place(sorted[i]);
    }
  }
  as_free(sorted);
  return 0;
}

void CCategoryKeySet::CopySorted(std::uint64_t* out) const noexcept {
  if (m_sorted != nullptr) {
    std::memcpy(out, m_sorted, m_count * sizeof *out);
    return;
  }
  std::uint64_t n = 0;
  ForEach([&](std::uint64_t key) { out[n++] = key; });
  std::sort(out, out + n);
}

}  // namespace ascommon
