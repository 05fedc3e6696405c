// CWordIndex: the dictionary's word store. Every known word with one count per category
// column and the total of those counts, handed out in ascending code-unit order for
// writing and listing.
//
// Why not a search tree: dictionary files are read in sorted order, which turns an
// unbalanced tree into a list, and even a balanced one costs ~20 scattered comparisons
// per lookup at a million words, on the classification path of every page. Instead:
//   - each word is one record in an arena of 32-bit units: length, total, the `columns`
//     counts, then the characters, so a found word costs one or two cache lines;
//   - an open-addressing hash table (linear probing, at most half full, slot = 32-bit
//     hash tag + record offset) finds a word in expected O(1 + length), whatever the
//     order in which words came; a miss usually ends at the first empty slot;
//   - the ascending order is an array of record offsets whose sorted prefix is tracked:
//     reading a sorted file keeps it wholly sorted for free, and words added later are
//     sorted (O(m log m)) and merged in (O(n)) only when the order is asked for.
// Words compare as unsigned 16-bit units, a proper prefix first, and are cut to
// kMaxWordUnits units on the way in, so two words that agree in their first 128 units
// are one word, exactly as the file (which holds at most 128 units) sees them.
// Memory at one million 8-unit words and 3 columns: about 36 MB of records, 16 MB of
// table and 4 MB of order.
//
// A node is a record's offset: it stays valid until WidenColumns or Clear; the pointers
// the index returns stay valid until the next insertion, WidenColumns or Clear.
// Ownership: the index owns all its blocks (host allocator).
// Threads: the const operations (Find, the prefetches, Counts, Word, ForEachNode,
// GetSize) are safe for concurrent readers; everything else needs exclusive access (the
// order is sorted lazily, so ForEachInOrder is a writer too).
// Tested by tests/engines/bayesclassifier/bwordindex_test.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engines/bayesclassifier/bgrowbuffer.h"

namespace nsEngineBayesClassifier {

class CWordIndex {
 public:
  // Longest word kept, in UTF-16 units (also the file's limit).
  static constexpr std::size_t kMaxWordUnits = 128;
  static constexpr std::uint32_t kMaxWords = 0x7FFFFFFFu;
  static constexpr std::int64_t kNotFound = -350;
  static constexpr std::int64_t kNoMemory = -10;

  CWordIndex() noexcept = default;
  ~CWordIndex() { Clear(); }
  CWordIndex(const CWordIndex&) = delete;
  CWordIndex& operator=(const CWordIndex&) = delete;

  // Sets the number of count columns per word. Only while the index is empty (use
  // WidenColumns afterwards); false otherwise.
  bool SetColumns(std::uint32_t columns) noexcept;
  std::uint32_t GetColumns() const noexcept { return m_columns; }

  // Prepares room for `words` words of about `units` characters in all (a hint; false only
  // when memory runs out).
  bool Reserve(std::size_t words, std::size_t units) noexcept;

  // The node of the word (cut to kMaxWordUnits), made with zero counts and total when new
  // (then *pCreated is true). Returns the node, or kNoMemory with the index unchanged.
  // Expected O(1 + length + columns), amortised.
  std::int64_t InsertOrFind(const char16_t* pWord, std::size_t length, bool* pCreated) noexcept {
    return InsertOrFind(pWord, length, HashWord(pWord, Clamp(length)), pCreated);
  }
  // The same with the hash PrefetchSlot returned.
  std::int64_t InsertOrFind(const char16_t* pWord, std::size_t length, std::uint32_t hash,
                            bool* pCreated) noexcept;
  // The node of the word (cut to kMaxWordUnits), or kNotFound. Expected O(1 + length).
  std::int64_t Find(const char16_t* pWord, std::size_t length) const noexcept {
    return Find(pWord, length, HashWord(pWord, Clamp(length)));
  }
  // The same in two steps, so that a caller can look several words up at once and let
  // their memory loads overlap: PrefetchSlot starts loading the word's table slot and
  // returns the word's hash for Find; PrefetchNode starts loading a found node.
  std::uint32_t PrefetchSlot(const char16_t* pWord, std::size_t length) const noexcept {
    const std::uint32_t hash = HashWord(pWord, Clamp(length));
    if (m_slotCount != 0) __builtin_prefetch(m_slots + (hash & (m_slotCount - 1)));
    return hash;
  }
  std::int64_t Find(const char16_t* pWord, std::size_t length, std::uint32_t hash) const noexcept;
  void PrefetchNode(std::uint32_t node) const noexcept {
    __builtin_prefetch(m_arena.Data() + node);
  }

  // The node's counts (GetColumns() values) and the total kept beside them.
  std::uint32_t* Counts(std::uint32_t node) noexcept { return m_arena.Data() + node + kHeader; }
  const std::uint32_t* Counts(std::uint32_t node) const noexcept {
    return m_arena.Data() + node + kHeader;
  }
  std::uint32_t& Total(std::uint32_t node) noexcept { return m_arena[node + 1]; }
  // The node's characters (not terminated) and their number.
  const char16_t* Word(std::uint32_t node, std::size_t* pLength) const noexcept {
    *pLength = m_arena[node];
    return Units(node);
  }
  std::uint32_t GetSize() const noexcept { return m_count; }

  // Adds `extra` zero columns at the end of every node's counts; every node changes.
  // O(nodes * (columns + log nodes)); false (index unchanged) when memory runs out.
  bool WidenColumns(std::uint32_t extra) noexcept;

  // Visits visit(node) for every node in ascending word order. Sorting first costs
  // O(m log m + n) for m words added out of order since the last call (in place, should
  // the merge buffer be refused).
  template <class Visitor>
  void ForEachInOrder(Visitor&& visit) {
    SortOrder();
    const std::uint32_t* order = m_order.Data();
    for (std::size_t i = 0; i < m_order.Size(); ++i) visit(order[i]);
  }
  // Visits visit(node) for every node in insertion order.
  template <class Visitor>
  void ForEachNode(Visitor&& visit) const {
    for (std::size_t node = 0; node < m_arena.Size(); node += RecordUnits(m_arena[node])) {
      visit(static_cast<std::uint32_t>(node));
    }
  }

  // Empties the index and releases its memory; the columns stay.
  void Clear() noexcept;

  static std::size_t Clamp(std::size_t length) noexcept {
    return length < kMaxWordUnits ? length : kMaxWordUnits;
  }
  // Word order: -1, 0 or 1, units compared unsigned, a proper prefix first.
  static int CompareWords(const char16_t* pLeft, std::size_t leftLength, const char16_t* pRight,
                          std::size_t rightLength) noexcept;
  // The hash of a word's units (FNV-1a, then a 32-bit finaliser).
  static std::uint32_t HashWord(const char16_t* pWord, std::size_t length) noexcept;

 private:
  // A record: [length][total][columns counts][length units, padded to 32 bits].
  static constexpr std::size_t kHeader = 2;
  struct Slot {
    std::uint32_t hash;
    std::uint32_t node;  // record offset + 1; 0 = empty
  };

  std::size_t RecordUnits(std::size_t length) const noexcept {
    return kHeader + m_columns + (length + 1) / 2;
  }
  const char16_t* Units(std::uint32_t node) const noexcept {
    return reinterpret_cast<const char16_t*>(m_arena.Data() + node + kHeader + m_columns);
  }
  // The slot holding the word, or the empty slot that ends its probe run.
  std::size_t Probe(const char16_t* pWord, std::size_t length, std::uint32_t hash) const noexcept;
  bool GrowTable(std::size_t minimumSlots) noexcept;
  bool Less(std::uint32_t left, std::uint32_t right) const noexcept;
  void SortOrder() noexcept;

  std::uint32_t m_columns = 0;
  std::uint32_t m_count = 0;
  TGrowBuffer<std::uint32_t> m_arena;  // the records, back to back
  TGrowBuffer<std::uint32_t> m_order;  // nodes; the first m_sorted ascending
  std::size_t m_sorted = 0;
  Slot* m_slots = nullptr;  // Owned; m_slotCount (a power of two) entries.
  std::size_t m_slotCount = 0;
};

}  // namespace nsEngineBayesClassifier
