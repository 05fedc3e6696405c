// CKeySet: a set of byte strings (list keys) built for millions of entries and lookups
// that allocate nothing.
//
// Layout: the key bytes live in an arena of chunks (each record is a 1- or 5-byte length and
// the bytes), and an open-addressing table of 8-byte slots (32-bit hash tag, 32-bit arena
// reference) with linear probing, at most 3/4 full, indexes them. A lookup hashes the
// caller's (pointer, length) range, probes a few adjacent slots and compares bytes only on
// a tag match: expected O(1 + length) at any set size. An insert may double the slot table
// (rehash from the stored tags, no key is read) or start a new chunk: amortised O(1 +
// length). A removal shifts the following probe run back (no tombstones); the removed
// key's bytes stay in the arena until Clear.
// Memory at one million 15-byte keys: about 17 MB of arena and 16 MB of slots.
// Limits: 4095 chunks of at most 1 MB each (larger keys get a chunk of their own), so about
// 4 GB of key bytes; 2^30 slots. Inserts beyond them fail with -2.
//
// Ownership: the set owns its arena and its table (host allocator). Pointers handed to a
// visitor stay valid until the next Insert, Remove or Clear.
// Threads: Contains, GetCount and the visits are const and safe for any number of
// concurrent readers; Insert, Remove and Clear need exclusive access.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/asmemory.h"

namespace ascommon {

class CKeySet : public CASAllocated {
 public:
  CKeySet() noexcept = default;
  ~CKeySet();
  CKeySet(const CKeySet&) = delete;
  CKeySet& operator=(const CKeySet&) = delete;

  // Adds the length bytes at pKey (null only with length 0). Returns 0 when added, 1 when
  // already present, -2 when memory (or a limit above) runs out; the set is then unchanged.
  std::int32_t Insert(const char* pKey, std::size_t length) noexcept;
  // A key hashed once, to be looked up in any number of sets.
  struct Probe {
    const char* key;
    std::size_t length;
    std::uint32_t hash;
  };
  static Probe MakeProbe(const char* pKey, std::size_t length) noexcept;

  // Membership of the length bytes at pKey, compared byte for byte. Allocates nothing.
  bool Contains(const char* pKey, std::size_t length) const noexcept;
  bool Contains(const Probe& probe) const noexcept;
  // Sizes the table for count keys at once, so a large load grows it once instead of
  // doubling step by step (each doubling holds the old and the new table at the same
  // time). 0, or -2 when memory runs out (the set is unchanged and still usable).
  std::int32_t Reserve(std::uint32_t count) noexcept;
  // Removes the key; false when it was absent.
  bool Remove(const char* pKey, std::size_t length) noexcept;
  // Empties the set and releases all memory.
  void Clear() noexcept;

  std::uint32_t GetCount() const noexcept { return m_count; }

  // Calls visit(const char* key, std::size_t length) for every key, in table order.
  template <class Visitor>
  void ForEach(Visitor&& visit) const {
    for (std::uint32_t i = 0; i < m_capacity; ++i) {
      if (m_slots[i].ref == kEmptyRef) continue;
      const char* pKey = nullptr;
      std::size_t length = 0;
      KeyAt(m_slots[i].ref, pKey, length);
      visit(pKey, length);
    }
  }

  // Calls visit(const char* key, std::size_t length) for every key in ascending unsigned byte
  // order (a proper prefix first). begin() runs once, after the sort buffer (4 bytes per
  // key) is ready and before the first visit. Returns 0, or -2 when that buffer cannot be
  // allocated: then neither begin nor visit runs. O(n log n) comparisons.
  template <class Begin, class Visitor>
  std::int32_t ForEachSorted(Begin&& begin, Visitor&& visit) const {
    std::uint32_t* refs = nullptr;
    const std::int32_t status = SortedRefs(refs);
    if (status != 0) return status;
    struct Release {
      std::uint32_t* refs;
      ~Release() { as_free(refs); }
    } release{refs};
    begin();
    for (std::uint32_t i = 0; i < m_count; ++i) {
      const char* pKey = nullptr;
      std::size_t length = 0;
      KeyAt(refs[i], pKey, length);
      visit(pKey, length);
    }
    return 0;
  }
  template <class Visitor>
  std::int32_t ForEachSorted(Visitor&& visit) const {
    return ForEachSorted([] {}, static_cast<Visitor&&>(visit));
  }

 private:
  struct Slot {
    std::uint32_t tag;  // hash of the key
    std::uint32_t ref;  // chunk index << kOffsetBits | offset; kEmptyRef marks a free slot
  };
  static constexpr std::uint32_t kEmptyRef = 0xFFFFFFFFu;
  static constexpr unsigned kOffsetBits = 20;
  static constexpr std::size_t kMaxChunkSize = std::size_t{1} << kOffsetBits;  // 1 MB
  static constexpr std::size_t kFirstChunkSize = 4096;
  static constexpr std::uint32_t kMaxChunks = 4095;  // keeps every ref below kEmptyRef
  static constexpr std::uint32_t kMaxCapacity = std::uint32_t{1} << 30;

  std::uint32_t SlotIndex(std::uint32_t tag) const noexcept {
    return static_cast<std::uint32_t>((tag * 0x9E3779B9u) >> m_shift);
  }
  // Index of the slot holding the key, or m_capacity when absent.
  std::uint32_t Find(const char* pKey, std::size_t length, std::uint32_t tag) const noexcept;
  void KeyAt(std::uint32_t ref, const char*& pKey, std::size_t& length) const noexcept;
  // Copies the key into the arena; kEmptyRef when out of memory or chunks.
  std::uint32_t Store(const char* pKey, std::size_t length) noexcept;
  // Allocates a chunk of size bytes and registers it; its index, or kEmptyRef.
  std::uint32_t AddChunk(std::size_t size) noexcept;
  // Rebuilds the table with newCapacity slots (a power of two). 0 or -2.
  std::int32_t Rehash(std::uint32_t newCapacity) noexcept;
  // An allocated array of every ref, sorted by key. 0 or -2.
  std::int32_t SortedRefs(std::uint32_t*& refs) const noexcept;

  Slot* m_slots = nullptr;  // Owned; m_capacity entries (a power of two) or null.
  std::uint32_t m_capacity = 0;
  std::uint32_t m_count = 0;
  unsigned m_shift = 32;  // 32 - log2(m_capacity)

  char** m_chunks = nullptr;  // Owned: the table and each chunk.
  std::uint32_t m_chunkCount = 0;
  std::uint32_t m_chunkSlots = 0;     // entries allocated in m_chunks
  std::uint32_t m_current = 0;        // chunk taking small records (valid when m_chunkCount)
  std::size_t m_currentSize = 0;      // its size
  std::size_t m_currentUsed = 0;      // bytes used in it
};

// The hash of a key as CKeySet uses it (64-bit multiply-fold over 8-byte words, folded to
// 32 bits). Exposed for tests.
std::uint32_t HashKeyBytes(const char* pKey, std::size_t length) noexcept;

}  // namespace ascommon
