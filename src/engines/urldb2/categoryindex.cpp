// CCategoryIndex: 16-byte (key, mask) slots, linear probing, home slot by multiply-high.
// Build sizes the table from the lists' counts, then adds every key of every list (the
// three sets of a list merged when they are sorted), each placed kAhead keys after its home
// slot was prefetched; Prefetch starts loading the home slots of all pieces before Holders
// reads any.
// Tested by tests/engines/urldb2/categoryindex_test.cpp.
#include "engines/urldb2/categoryindex.h"

#include <algorithm>
#include <cstring>

#include "engines/urldb2/urlcategorydb.h"

namespace ascommon {

namespace {

constexpr std::uint64_t kMinCapacity = 16;
// Keys whose home slots are being fetched while an earlier key is placed.
constexpr std::size_t kAhead = 16;

// Calls enter(key, bits) for every key of the list's sets, bits holding the key's (list,
// piece) bits: once per distinct key when the three sets are in their sorted form (merged;
// a listed domain is usually its own host and address too, so a third of the calls), else
// once per set holding it.
template <class Enter>
void ForEachKeyOf(const CURLCategoryDB& list, std::size_t index, Enter&& enter) {
  const std::uint64_t* keys[kCategoryPieceCount];
  std::uint64_t left[kCategoryPieceCount];
  bool sorted = true;
  for (std::size_t p = 0; p < kCategoryPieceCount; ++p) {
    const CCategoryKeySet& set = list.GetSet(static_cast<ECategoryPiece>(p));
    keys[p] = set.SortedKeys();
    left[p] = set.GetCount();
    sorted = sorted && (keys[p] != nullptr || left[p] == 0);
  }
  const auto bitOf = [&](std::size_t p) {
    return std::uint64_t{1} << (p * CCategoryIndex::kMaxLists + index);
  };
  if (!sorted) {
    for (std::size_t p = 0; p < kCategoryPieceCount; ++p) {
      list.GetSet(static_cast<ECategoryPiece>(p)).ForEach([&](std::uint64_t key) {
        enter(key, bitOf(p));
      });
    }
    return;
  }
  for (;;) {
    bool any = false;
    std::uint64_t least = ~std::uint64_t{0};
    for (std::size_t p = 0; p < kCategoryPieceCount; ++p) {
      if (left[p] != 0 && (!any || *keys[p] < least)) least = *keys[p];
      any = any || left[p] != 0;
    }
    if (!any) return;
    std::uint64_t bits = 0;
    for (std::size_t p = 0; p < kCategoryPieceCount; ++p) {
      if (left[p] == 0 || *keys[p] != least) continue;
      bits |= bitOf(p);
      ++keys[p];
      --left[p];
    }
    enter(least, bits);
  }
}

}  // namespace

CCategoryIndex::CCategoryIndex() noexcept : m_seed(CCategoryKeySet::NewSeed()) {}

CCategoryIndex::~CCategoryIndex() { Clear(); }

void CCategoryIndex::Clear() noexcept {
  as_free(m_slots);
  m_slots = nullptr;
  m_capacity = 0;
  m_count = 0;
}

void CCategoryIndex::Add(std::uint64_t key, std::uint64_t home, std::uint64_t bits) noexcept {
  for (std::uint64_t i = home;;) {
    Slot& slot = m_slots[i];
    if (slot.mask == 0) {
      slot.key = key;
      slot.mask = bits;
      ++m_count;
      return;
    }
    if (slot.key == key) {
      slot.mask |= bits;
      return;
    }
    if (++i == m_capacity) i = 0;
  }
}

std::int32_t CCategoryIndex::Rehash(std::uint64_t capacity) noexcept {
  Slot* slots = as_alloc_array_nt<Slot>(capacity);
  if (slots == nullptr) return -2;
  std::memset(slots, 0, capacity * sizeof(Slot));
  Slot* const old = m_slots;
  const std::uint64_t oldCapacity = m_capacity;
  m_slots = slots;
  m_capacity = capacity;
  m_count = 0;
  for (std::uint64_t i = 0; i < oldCapacity; ++i) {
    if (old[i].mask != 0) Add(old[i].key, Home(old[i].key), old[i].mask);
  }
  as_free(old);
  return 0;
}

std::int32_t CCategoryIndex::Build(const CURLCategoryDB* const* lists, std::size_t count) noexcept {
  if (count > kMaxLists) return -1;
  Clear();
  // A list's pieces mostly share keys (a listed domain is also its own host and address),
  // so the largest of its three sets estimates its distinct keys; the table grows if the
  // lists hold more.
  std::uint64_t estimate = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (lists[i] == nullptr) continue;
    std::uint64_t most = 0;
    for (std::size_t p = 0; p < kCategoryPieceCount; ++p) {
      most = std::max(most, lists[i]->GetCount(static_cast<ECategoryPiece>(p)));
    }
    estimate += most;
  }
  if (Rehash(std::max(kMinCapacity, estimate * 2)) != 0) return -2;

  // A pipeline of kAhead keys: each key's home slot is prefetched when it enters and the
  // key is placed when kAhead later ones have entered, so its slot has had time to arrive.
  struct Pending {
    std::uint64_t key, home, bits;
  };
  Pending ring[kAhead];
  std::size_t first = 0, pending = 0;
  bool failed = false;
  const auto placeFirst = [&]() {
    if ((m_count + 1) * 4 > m_capacity * 3) {
      if (Rehash(m_capacity * 2) != 0) {
        failed = true;
        return;
      }
      for (std::size_t k = 0; k < pending; ++k) {
        Pending& entry = ring[(first + k) % kAhead];
        entry.home = Home(entry.key);
      }
    }
    const Pending& entry = ring[first];
    Add(entry.key, entry.home, entry.bits);
    first = (first + 1) % kAhead;
    --pending;
  };
  const auto enter = [&](std::uint64_t key, std::uint64_t bits) {
    if (pending == kAhead) placeFirst();
    const std::uint64_t home = Home(key);
    __builtin_prefetch(&m_slots[home], 1);
    ring[(first + pending) % kAhead] = Pending{key, home, bits};
    ++pending;
  };
  for (std::size_t i = 0; i < count && !failed; ++i) {
    if (lists[i] != nullptr) ForEachKeyOf(*lists[i], i, enter);
  }
  while (pending != 0 && !failed) placeFirst();
  if (failed) {
    Clear();
    return -2;
  }
  return 0;
}

void CCategoryIndex::Prefetch(const CCategoryProbe& probe, Homes& homes) const noexcept {
  for (std::size_t p = 0; p < kCategoryPieceCount; ++p) {
    if (!probe.present[p] || m_capacity == 0) continue;
    homes.slot[p] = Home(probe.keys[p]);
    __builtin_prefetch(&m_slots[homes.slot[p]]);
  }
}

void CCategoryIndex::Holders(const CCategoryProbe& probe, const Homes& homes,
                             std::uint32_t holders[kCategoryPieceCount]) const noexcept {
  constexpr std::uint64_t kListBits = (std::uint64_t{1} << kMaxLists) - 1;
  for (std::size_t p = 0; p < kCategoryPieceCount; ++p) {
    holders[p] = 0;
    if (!probe.present[p] || m_capacity == 0) continue;
    const std::uint64_t mask = Find(probe.keys[p], homes.slot[p]);
    holders[p] = static_cast<std::uint32_t>((mask >> (p * kMaxLists)) & kListBits);
  }
}

}  // namespace ascommon
