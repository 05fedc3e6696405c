// CMap<K, V>: hash map with separate chaining and a bucket count fixed by InitHashTable.
//
// Each bucket keeps a head and a tail pointer, so appending to a chain is O(1); with the
// sorted-chains flag every chain stays in ascending key order (insertion walks the chain).
// Lookup, insertion and removal cost O(1 + chain length); the table never grows by itself,
// so the owner picks a bucket count near the expected number of keys. A new map has no
// bucket table: InitHashTable must run before the first SetAt.
// Hash: the function pointer given at construction, else MapDefaultHash (integers by the
// shift-and-multiply mix below, strings by their hash()). Keys compare with == and, for
// sorted chains, <.
// Ownership: the map owns its nodes and the key/value copies in them (a pointer value is
// just a value). Pointers from Lookup stay valid until that key is removed or the map is
// destroyed; InitHashTable moves no node.
// Failure: allocation failures return -2 with the map unchanged; a key or value whose copy
// reports a non-zero status() (sstring, usstring) counts as an allocation failure.
// Threads: no locking; the owner serialises access.
#pragma once

#include <cstdint>
#include <new>
#include <type_traits>

#include "common/array.h"
#include "common/asmemory.h"
#include "common/blackboxobject.h"

namespace ascommon {

// The default hash of an unsigned 32-bit key: a multiply/xor-shift mix in 32-bit
// arithmetic with logical right shifts.
constexpr std::uint32_t MapHashUInt32(std::uint32_t key) noexcept {
  std::uint32_t x = key * 4097u;
  x = (x ^ (x >> 22)) * 17u;
  x = (x ^ (x >> 9)) * 1025u;
  x = (x ^ (x >> 2)) * 129u;
  return x ^ (x >> 12);
}

// The same mix for signed keys (32-bit, or narrower sign-extended): every right shift is
// arithmetic. Products wrap in unsigned arithmetic, so nothing overflows a signed type.
constexpr std::uint32_t MapHashInt32(std::int32_t key) noexcept {
  auto sar = [](std::uint32_t v, int n) {
    return static_cast<std::uint32_t>(static_cast<std::int32_t>(v) >> n);
  };
  std::uint32_t x = static_cast<std::uint32_t>(key) * 4097u;
  x = (x ^ sar(x, 22)) * 17u;
  x = (x ^ sar(x, 9)) * 1025u;
  x = (x ^ sar(x, 2)) * 129u;
  return x ^ sar(x, 12);
}

// Default hash per key type: integers (and enums) up to 32 bits by the mixes above;
// 64-bit integers and pointers by the unsigned mix of their low 32 bits; anything else by
// its hash() (sstring, usstring).
template <class K>
std::uint32_t MapDefaultHash(const K& key) noexcept {
  if constexpr (std::is_enum_v<K>) {
    return MapDefaultHash(static_cast<std::underlying_type_t<K>>(key));
  } else if constexpr (std::is_pointer_v<K>) {
    return MapHashUInt32(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(key)));
  } else if constexpr (std::is_integral_v<K>) {
    if constexpr (sizeof(K) > 4) {
      return MapHashUInt32(static_cast<std::uint32_t>(key));
    } else if constexpr (std::is_signed_v<K>) {
      return MapHashInt32(static_cast<std::int32_t>(key));
    } else {
      return MapHashUInt32(static_cast<std::uint32_t>(key));
    }
  } else {
    return key.hash();
  }
}

template <class K, class V>
class CMap : public CBlackBoxObject {
  struct Node {
    K key{};
    V value{};
    Node* next = nullptr;
    std::uint32_t hash = 0;  // Full hash of key; the bucket is hash % bucket count.
  };

 public:
  using HashFunction = std::uint32_t (*)(const K& key);
  // Opaque iteration cursor; nullptr marks the end.
  using Position = const void*;

  explicit CMap(bool bSortedChains = false, HashFunction pfnHash = nullptr) noexcept
      : m_sorted(bSortedChains), m_hash(pfnHash) {}
  ~CMap() override {
    RemoveAll();
    while (m_spare != nullptr) {
      SpareBlock* next = m_spare->next;
      as_free(m_spare);
      m_spare = next;
    }
    as_free(m_heads);
    as_free(m_tails);
  }
  CMap(const CMap&) = delete;
  CMap& operator=(const CMap&) = delete;

  // Rebuilds the table with nBuckets buckets, moving (not copying) every node into its new
  // chain by the map's sorted or appending rule. 0 does nothing. Returns 0 or -2 (map
  // unchanged). O(buckets + count), or O(count * chain) with sorted chains.
  std::int32_t InitHashTable(std::uint32_t nBuckets) noexcept {
    if (nBuckets == 0) return 0;
    Node** heads = as_alloc_array_nt<Node*>(nBuckets);
    Node** tails = heads == nullptr ? nullptr : as_alloc_array_nt<Node*>(nBuckets);
    if (tails == nullptr) {
      as_free(heads);
      return -2;
    }
    for (std::uint32_t i = 0; i < nBuckets; ++i) heads[i] = tails[i] = nullptr;
    for (std::uint32_t b = 0; b < m_buckets; ++b) {
      Node* node = m_heads[b];
      while (node != nullptr) {
        Node* next = node->next;
        Link(heads, tails, BucketOf(node->hash, nBuckets), node);
        node = next;
      }
    }
    as_free(m_heads);
    as_free(m_tails);
    m_heads = heads;
    m_tails = tails;
    m_buckets = nBuckets;
    return 0;
  }

  // Adds (key, value). Returns 0; -451 when the key is present (its value stays); -2 when
  // there is no bucket table or the node cannot be made (map unchanged). On success,
  // *stored (when given) points to the stored value, as Lookup would answer.
  std::int32_t SetAt(const K& key, const V& value, V** stored = nullptr) {
    if (m_buckets == 0) return -2;
    const std::uint32_t hash = Hash(key);
    if (FindNode(key, hash) != nullptr) return -451;
    void* block = TakeBlock();
    if (block == nullptr) return -2;
    Node* node = nullptr;
    try {
      node = ::new (block) Node();
      node->key = key;
      node->value = value;
    } catch (...) {
      if (node != nullptr) node->~Node();
      as_free(block);  // memory is short: give it back rather than keep it
      throw;
    }
    if ((!container_detail::CopyFailed(key) && container_detail::CopyFailed(node->key)) ||
        (!container_detail::CopyFailed(value) && container_detail::CopyFailed(node->value))) {
      node->~Node();
      as_free(block);
      return -2;
    }
    node->hash = hash;
    Link(m_heads, m_tails, BucketOf(hash, m_buckets), node);
    ++m_count;
    if (stored != nullptr) *stored = &node->value;
    return 0;
  }

  // The value stored under key, or null when absent. O(1 + chain length).
  V* Lookup(const K& key) noexcept {
    Node* node = m_buckets == 0 ? nullptr : FindNode(key, Hash(key));
    return node == nullptr ? nullptr : &node->value;
  }
  const V* Lookup(const K& key) const noexcept { return const_cast<CMap*>(this)->Lookup(key); }
  // Copies the value into `value` and returns true when present; false leaves it alone.
  bool Lookup(const K& key, V& value) const {
    const V* found = Lookup(key);
    if (found == nullptr) return false;
    value = *found;
    return true;
  }

  // Unlinks and destroys the node of key; the chain's tail pointer follows. Returns false
  // when the key is absent.
  bool RemoveKey(const K& key) noexcept {
    if (m_buckets == 0) return false;
    const std::uint32_t hash = Hash(key);
    const std::uint32_t bucket = BucketOf(hash, m_buckets);
    Node* previous = nullptr;
    for (Node* node = m_heads[bucket]; node != nullptr; previous = node, node = node->next) {
      if (node->hash != hash || !(node->key == key)) continue;
      if (previous == nullptr) {
        m_heads[bucket] = node->next;
      } else {
        previous->next = node->next;
      }
      if (m_tails[bucket] == node) m_tails[bucket] = previous;
      DestroyNode(node);
      --m_count;
      return true;
    }
    return false;
  }

  // Destroys every node; the bucket table stays.
  void RemoveAll() noexcept {
    for (std::uint32_t b = 0; b < m_buckets; ++b) {
      Node* node = m_heads[b];
      while (node != nullptr) {
        Node* next = node->next;
        DestroyNode(node);
        node = next;
      }
      m_heads[b] = m_tails[b] = nullptr;
    }
    m_count = 0;
  }

  std::uint32_t GetCount() const noexcept { return m_count; }
  bool IsEmpty() const noexcept { return m_count == 0; }
  std::uint32_t GetHashTableSize() const noexcept { return m_buckets; }
  bool HasSortedChains() const noexcept { return m_sorted; }

  // Iteration in bucket order, then along each chain:
  //   for (auto pos = map.GetStartPosition(); pos != nullptr;) {
  //     const K* key; V* value; map.GetNextAssoc(pos, key, value); ... }
  // The cursor moves past the entry before returning it, so that entry (only that one) may
  // be removed during the walk; any insertion or InitHashTable ends the walk.
  Position GetStartPosition() const noexcept { return FirstFrom(0); }
  void GetNextAssoc(Position& pos, const K*& key, V*& value) noexcept {
    Node* node = static_cast<Node*>(const_cast<void*>(pos));
    pos = node->next != nullptr ? node->next : FirstFrom(BucketOf(node->hash, m_buckets) + 1);
    key = &node->key;
    value = &node->value;
  }
  void GetNextAssoc(Position& pos, const K*& key, const V*& value) const noexcept {
    V* writable = nullptr;
    const_cast<CMap*>(this)->GetNextAssoc(pos, key, writable);
    value = writable;
  }

  // Calls visit(key, value) for every entry in iteration order.
  template <class Visitor>
  void ForEach(Visitor&& visit) {
    for (std::uint32_t b = 0; b < m_buckets; ++b) {
      for (Node* node = m_heads[b]; node != nullptr; node = node->next)
        visit(node->key, node->value);
    }
  }
  template <class Visitor>
  void ForEach(Visitor&& visit) const {
    for (std::uint32_t b = 0; b < m_buckets; ++b) {
      for (const Node* node = m_heads[b]; node != nullptr; node = node->next) {
        visit(node->key, node->value);
      }
    }
  }

 private:
  std::uint32_t Hash(const K& key) const noexcept {
    return m_hash != nullptr ? m_hash(key) : MapDefaultHash(key);
  }

  // The bucket of a hash: hash modulo the count, by a mask when the count is a power of
  // two (the same bucket, without a division on every lookup).
  static std::uint32_t BucketOf(std::uint32_t hash, std::uint32_t buckets) noexcept {
    return (buckets & (buckets - 1)) == 0 ? hash & (buckets - 1) : hash % buckets;
  }
  Node* FindNode(const K& key, std::uint32_t hash) const noexcept {
    for (Node* node = m_heads[BucketOf(hash, m_buckets)]; node != nullptr; node = node->next) {
      if (node->hash == hash && node->key == key) return node;
    }
    return nullptr;
  }

  // Puts node into the bucket's chain: before the first key not below it (sorted chains)
  // or at the tail.
  void Link(Node** heads, Node** tails, std::uint32_t bucket, Node* node) noexcept {
    Node* previous = nullptr;
    Node* current = nullptr;
    if (m_sorted) {
      current = heads[bucket];
      while (current != nullptr && current->key < node->key) {
        previous = current;
        current = current->next;
      }
    } else {
      previous = tails[bucket];
    }
    node->next = current;
    if (previous == nullptr) {
      heads[bucket] = node;
    } else {
      previous->next = node;
    }
    if (current == nullptr) tails[bucket] = node;
  }

  Position FirstFrom(std::uint32_t bucket) const noexcept {
    for (; bucket < m_buckets; ++bucket) {
      if (m_heads[bucket] != nullptr) return m_heads[bucket];
    }
    return nullptr;
  }

  void DestroyNode(Node* node) noexcept {
    node->~Node();
    GiveBlock(node);
  }

  // Blocks of removed nodes are kept for the next insertions, up to kMaxSpare of them: a
  // map that is emptied and refilled (an item's blackbox reused page after page) then
  // allocates nothing in the steady state. The bound keeps a map that shrank from holding
  // memory it no longer needs.
  struct SpareBlock {
    SpareBlock* next;
  };
  static_assert(sizeof(Node) >= sizeof(SpareBlock));
  static constexpr std::uint32_t kMaxSpare = 64;

  void* TakeBlock() noexcept {
    if (m_spare == nullptr) return as_alloc_nt(sizeof(Node));
    SpareBlock* block = m_spare;
    m_spare = block->next;
    --m_spareCount;
    return block;
  }
  void GiveBlock(void* block) noexcept {
    if (m_spareCount >= kMaxSpare) {
      as_free(block);
      return;
    }
    m_spare = ::new (block) SpareBlock{m_spare};
    ++m_spareCount;
  }

  Node** m_heads = nullptr;  // Owned; m_buckets entries.
  Node** m_tails = nullptr;  // Owned; m_buckets entries.
  std::uint32_t m_buckets = 0;
  std::uint32_t m_count = 0;
  bool m_sorted = false;
  HashFunction m_hash = nullptr;
  SpareBlock* m_spare = nullptr;  // Owned; blocks of removed nodes, at most kMaxSpare.
  std::uint32_t m_spareCount = 0;
};

}  // namespace ascommon
