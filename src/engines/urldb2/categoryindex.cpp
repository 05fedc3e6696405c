// CCategoryIndex: buckets of eight (key rest, mask code) entries picked by the top bits of
// the mixed key, an overflow (key, mask) table behind full buckets, and the masks of the
// codes. Build adds every key of every list (a list's three sets merged when they are
// sorted), each kAhead keys after its bucket was prefetched, and doubles the buckets
// between lists when the overflow grows too large.
// Tested by tests/engines/urldb2/categoryindex_test.cpp.
#include "engines/urldb2/categoryindex.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "engines/urldb2/urlcategorydb.h"

namespace ascommon {

namespace {

constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;
// The multiplier's inverse modulo 2^64 (Newton's iteration doubles the correct low bits).
constexpr std::uint64_t InverseOf(std::uint64_t odd) {
  std::uint64_t inverse = odd;  // correct to 3 bits
  for (int i = 0; i < 5; ++i) inverse *= 2 - odd * inverse;
  return inverse;
}
constexpr std::uint64_t kInverse = InverseOf(kMultiplier);
static_assert(kMultiplier * kInverse == 1);

constexpr unsigned kMinBits = 16;  // the 48 bits an entry keeps name the key only from here
constexpr unsigned kMaxBits = 40;
constexpr std::size_t kLists = CCategoryIndex::kMaxLists;
// Codes 1 + 7 * list + (pieces - 1): the masks of one list with some of its pieces.
constexpr std::uint64_t kSingleListCodes = 1 + 7 * kLists;
constexpr std::uint64_t kMaxCodes = std::uint64_t{1} << 16;
// Keys whose buckets are being fetched while an earlier key is added.
constexpr std::size_t kAhead = 16;

// The bucket bits for count keys: four a bucket at most.
unsigned BitsFor(std::uint64_t count) noexcept {
  const unsigned bits = static_cast<unsigned>(std::bit_width((count + 3) / 4 - 1));
  return std::clamp(bits, kMinBits, kMaxBits);
}

// The bits of list 0's three pieces.
constexpr std::uint64_t kOneListPieces =
    1 | std::uint64_t{1} << kLists | std::uint64_t{1} << (2 * kLists);
// The (list, piece) bits of list with the pieces set in the three bits of pieces.
constexpr std::uint64_t SingleListMask(std::size_t list, std::uint64_t pieces) {
  std::uint64_t mask = 0;
  for (std::size_t p = 0; p < kCategoryPieceCount; ++p) {
    if (((pieces >> p) & 1) != 0) mask |= std::uint64_t{1} << (p * kLists + list);
  }
  return mask;
}

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
  as_free(m_bucketBlock);
  m_bucketBlock = nullptr;
  m_buckets = nullptr;
  m_bits = 0;
  m_overflow.Clear();
  as_free(m_masks);
  m_masks = nullptr;
  m_maskCount = m_maskCapacity = 0;
  m_codes.Clear();
  m_count = 0;
}

std::uint64_t CCategoryIndex::Mix(std::uint64_t key) const noexcept {
  return (key ^ m_seed) * kMultiplier;
}

std::uint64_t CCategoryIndex::Unmix(std::uint64_t mixed) const noexcept {
  return (mixed * kInverse) ^ m_seed;
}

std::uint64_t CCategoryIndex::CodeOf(std::uint64_t mask) noexcept {
  const std::size_t list = static_cast<std::size_t>(std::countr_zero(mask)) % kLists;
  if ((mask & ~(kOneListPieces << list)) == 0) {
    return 7 * list + (((mask >> list) & 1) | ((mask >> (kLists + list - 1)) & 2) |
                       ((mask >> (2 * kLists + list - 2)) & 4));
  }
  if (const std::uint64_t code = m_codes.Find(mask); code != 0) return code;
  if (m_maskCount == kMaxCodes) return 0;
  if (m_maskCount == m_maskCapacity) {
    const std::uint64_t capacity = std::min(kMaxCodes, m_maskCapacity * 2);
    auto* masks = as_alloc_array_nt<std::uint64_t>(capacity);
    if (masks == nullptr) return 0;
    std::memcpy(masks, m_masks, m_maskCount * sizeof *masks);
    as_free(m_masks);
    m_masks = masks;
    m_maskCapacity = capacity;
  }
  if (m_codes.Add(mask, m_maskCount) < 0) return 0;
  m_masks[m_maskCount] = mask;
  return m_maskCount++;
}

std::int32_t CCategoryIndex::Add(std::uint64_t key, std::uint64_t mixed,
                                 std::uint64_t bits) noexcept {
  if (m_bits != 0) {
    const std::uint64_t tag = TagOf(mixed);
    for (std::uint64_t& entry : m_buckets[BucketOf(mixed)].entry) {
      const bool held = entry != 0 && (entry & ~kCodeMask) == tag;
      if (entry != 0 && !held) continue;
      const std::uint64_t code = CodeOf(held ? m_masks[entry & kCodeMask] | bits : bits);
      if (code == 0) return -2;
      m_count += held ? 0 : 1;
      entry = tag | code;
      return 0;
    }
  }
  const std::int32_t added = m_overflow.Add(key, bits);
  if (added < 0) return -2;
  m_count += static_cast<std::uint64_t>(added);
  return 0;
}

std::int32_t CCategoryIndex::Rebucket(unsigned bits) noexcept {
  const std::size_t count = std::size_t{1} << bits;
  void* block = as_alloc_nt(count * sizeof(Bucket) + alignof(Bucket));
  if (block == nullptr) return -2;
  auto* buckets = reinterpret_cast<Bucket*>(
      (reinterpret_cast<std::uintptr_t>(block) + alignof(Bucket) - 1) & ~(alignof(Bucket) - 1));
  std::memset(buckets, 0, count * sizeof(Bucket));
  // The old tables' keys go into the new ones: the entries keep their codes; an entry that
  // finds its new bucket full goes to the new overflow table.
  Bucket* const oldBuckets = m_buckets;
  void* const oldBlock = m_bucketBlock;
  const unsigned oldBits = m_bits;
  CCategoryMaskTable oldOverflow;
  oldOverflow.Swap(m_overflow);
  m_buckets = buckets;
  m_bucketBlock = block;
  m_bits = bits;
  m_count = 0;
  std::int32_t status = 0;
  const auto moveKey = [&](std::uint64_t mixed, std::uint64_t code, std::uint64_t mask) {
    for (std::uint64_t& entry : m_buckets[BucketOf(mixed)].entry) {
      if (entry != 0) continue;
      entry = TagOf(mixed) | code;
      ++m_count;
      return;
    }
    if (m_overflow.Add(Unmix(mixed), mask) < 0) status = -2;
    ++m_count;
  };
  for (std::uint64_t b = 0; oldBits != 0 && b < (std::uint64_t{1} << oldBits); ++b) {
    for (const std::uint64_t entry : oldBuckets[b].entry) {
      if (entry == 0) break;
      const std::uint64_t mixed = (b << (64 - oldBits)) | (entry >> 16);
      moveKey(mixed, entry & kCodeMask, m_masks[entry & kCodeMask]);
    }
  }
  oldOverflow.ForEach([&](std::uint64_t key, std::uint64_t mask) {
    const std::uint64_t code = CodeOf(mask);
    if (code == 0) status = -2;
    moveKey(Mix(key), code, mask);
  });
  as_free(oldBlock);
  return status;
}

std::int32_t CCategoryIndex::Balance() noexcept {
  const std::uint64_t overflow = m_overflow.GetCount();
  if (m_bits == 0) return m_count < kMinBucketedKeys ? 0 : Rebucket(BitsFor(m_count));
  if (overflow * 16 <= m_count || m_bits == kMaxBits) return 0;
  return Rebucket(std::max(m_bits + 1, BitsFor(m_count)));
}

std::int32_t CCategoryIndex::Build(const CURLCategoryDB* const* lists, std::size_t count) noexcept {
  if (count > kMaxLists) return -1;
  Clear();
  m_maskCapacity = 256;
  m_masks = as_alloc_array_nt<std::uint64_t>(m_maskCapacity);
  if (m_masks == nullptr) return -2;
  m_masks[0] = 0;
  for (std::size_t list = 0; list < kLists; ++list) {
    for (std::uint64_t pieces = 1; pieces < 8; ++pieces) {
      m_masks[7 * list + pieces] = SingleListMask(list, pieces);
    }
  }
  m_maskCount = kSingleListCodes;
  // A list's pieces mostly share keys (a listed domain is also its own host and address),
  // so the largest of its three sets estimates its distinct keys; the buckets double if
  // the lists hold more.
  std::uint64_t estimate = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (lists[i] == nullptr) continue;
    std::uint64_t most = 0;
    for (std::size_t p = 0; p < kCategoryPieceCount; ++p) {
      most = std::max(most, lists[i]->GetCount(static_cast<ECategoryPiece>(p)));
    }
    estimate += most;
  }
  std::int32_t status = estimate >= kMinBucketedKeys ? Rebucket(BitsFor(estimate))
                                                     : m_overflow.Reserve(estimate);
  for (std::size_t i = 0; i < count && status == 0; ++i) {
    if (lists[i] == nullptr) continue;
    // A pipeline of kAhead keys: each key's bucket (or overflow slot) is prefetched when it
    // enters, and the key is added when kAhead later ones have entered.
    std::uint64_t keys[kAhead], mixed[kAhead], bits[kAhead];
    std::uint64_t seen = 0;
    const auto enter = [&](std::uint64_t key, std::uint64_t keyBits) {
      const std::uint64_t at = seen++ % kAhead;
      if (seen > kAhead && status == 0) status = Add(keys[at], mixed[at], bits[at]);
      keys[at] = key;
      mixed[at] = Mix(key);
      bits[at] = keyBits;
      if (m_bits != 0) {
        __builtin_prefetch(&m_buckets[BucketOf(mixed[at])], 1);
      } else if (m_overflow.GetCount() != 0) {
        m_overflow.Prefetch(m_overflow.Home(key));
      }
    };
    ForEachKeyOf(*lists[i], i, enter);
    for (std::uint64_t k = seen > kAhead ? seen - kAhead : 0; k < seen && status == 0; ++k) {
      status = Add(keys[k % kAhead], mixed[k % kAhead], bits[k % kAhead]);
    }
    if (status == 0) status = Balance();
  }
  m_codes.Clear();  // only needed while codes are given out
  if (status != 0) {
    Clear();
    return -2;
  }
  return 0;
}

void CCategoryIndex::Prefetch(const CCategoryProbe& probe, Homes& homes) const noexcept {
  if (m_count == 0) return;
  for (std::size_t p = 0; p < kCategoryPieceCount; ++p) {
    if (!probe.present[p]) continue;
    if (m_bits == 0) {
      homes.slot[p] = m_overflow.Home(probe.keys[p]);
      m_overflow.Prefetch(homes.slot[p]);
      continue;
    }
    const std::uint64_t mixed = Mix(probe.keys[p]);
    homes.slot[p] = BucketOf(mixed);
    homes.tag[p] = TagOf(mixed);
    __builtin_prefetch(&m_buckets[homes.slot[p]]);
  }
}

std::uint64_t CCategoryIndex::FindBucketed(std::uint64_t key, std::uint64_t bucket,
                                           std::uint64_t tag) const noexcept {
  // All eight entries are compared without branching: a loop that stops at the key or at
  // the first free entry stops at a different place for nearly every probe, and each
  // mispredicted exit came after the bucket's line had arrived, on the page's critical path.
  // Entries fill from the front and are never removed, so the key, when held here, is the
  // only match among the used entries, and a bucket is full when its last entry is used.
  const Bucket& entries = m_buckets[bucket];
  unsigned match = 0;
#pragma GCC unroll 8
  for (std::size_t i = 0; i < kBucketEntries; ++i) {
    const std::uint64_t entry = entries.entry[i];
    match |= static_cast<unsigned>(((entry & ~kCodeMask) == tag) & (entry != 0)) << i;
  }
  if (match != 0) return m_masks[entries.entry[std::countr_zero(match)] & kCodeMask];
  // A full bucket: the key may have gone on to the overflow table.
  return entries.entry[kBucketEntries - 1] != 0 ? m_overflow.Find(key) : 0;
}

void CCategoryIndex::Holders(const CCategoryProbe& probe, const Homes& homes,
                             std::uint32_t holders[kCategoryPieceCount]) const noexcept {
  constexpr std::uint64_t kListBits = (std::uint64_t{1} << kLists) - 1;
  for (std::size_t p = 0; p < kCategoryPieceCount; ++p) {
    holders[p] = 0;
    if (!probe.present[p] || m_count == 0) continue;
    const std::uint64_t mask = m_bits == 0
                                   ? m_overflow.Find(probe.keys[p], homes.slot[p])
                                   : FindBucketed(probe.keys[p], homes.slot[p], homes.tag[p]);
    holders[p] = static_cast<std::uint32_t>((mask >> (p * kLists)) & kListBits);
  }
}

}  // namespace ascommon
