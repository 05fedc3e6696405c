// CWordIndex: hash-indexed word nodes with a lazily sorted order (see the header for the
// layout and its costs). Tested by tests/engines/bayesclassifier/bwordindex_test.cpp.
#include "engines/bayesclassifier/bwordindex.h"

#include <algorithm>
#include <cstring>

namespace nsEngineBayesClassifier {

namespace {

constexpr std::size_t kMinimumSlots = 1024;

}  // namespace

int CWordIndex::CompareWords(const char16_t* pLeft, std::size_t leftLength, const char16_t* pRight,
                             std::size_t rightLength) noexcept {
  const std::size_t shorter = leftLength < rightLength ? leftLength : rightLength;
  for (std::size_t i = 0; i < shorter; ++i) {
    if (pLeft[i] != pRight[i]) return pLeft[i] < pRight[i] ? -1 : 1;
  }
  if (leftLength == rightLength) return 0;
  return leftLength < rightLength ? -1 : 1;
}

std::uint32_t CWordIndex::HashWord(const char16_t* pWord, std::size_t length) noexcept {
  std::uint32_t h = 2166136261u;
  for (std::size_t i = 0; i < length; ++i) h = (h ^ pWord[i]) * 16777619u;
  h ^= h >> 16;
  h *= 0x85EBCA6Bu;
  h ^= h >> 13;
  h *= 0xC2B2AE35u;
  return h ^ (h >> 16);
}

bool CWordIndex::SetColumns(std::uint32_t columns) noexcept {
  if (m_count != 0) return false;
  m_columns = columns;
  return true;
}

bool CWordIndex::Reserve(std::size_t words, std::size_t units) noexcept {
  if (words > kMaxWords) words = kMaxWords;
  std::size_t slots = m_slotCount < kMinimumSlots ? kMinimumSlots : m_slotCount;
  while (slots / 2 < words) slots *= 2;
  return GrowTable(slots) && m_order.EnsureExtra(words) &&
         m_arena.EnsureExtra(words * (kHeader + m_columns) + units / 2 + words);
}

std::size_t CWordIndex::Probe(const char16_t* pWord, std::size_t length,
                              std::uint32_t hash) const noexcept {
  const std::size_t mask = m_slotCount - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const Slot& slot = m_slots[i];
    if (slot.node == 0) return i;
    if (slot.hash != hash) continue;
    const std::uint32_t node = slot.node - 1;
    if (m_arena[node] == length && CompareWords(Units(node), length, pWord, length) == 0) return i;
  }
}

std::int64_t CWordIndex::Find(const char16_t* pWord, std::size_t length,
                              std::uint32_t hash) const noexcept {
  if (m_slotCount == 0) return kNotFound;
  length = Clamp(length);
  const std::size_t slot = Probe(pWord, length, hash);
  return m_slots[slot].node == 0 ? kNotFound : static_cast<std::int64_t>(m_slots[slot].node) - 1;
}

bool CWordIndex::GrowTable(std::size_t minimumSlots) noexcept {
  if (minimumSlots <= m_slotCount) return true;
  Slot* slots = ascommon::as_alloc_array_nt<Slot>(minimumSlots);
  if (slots == nullptr) return false;
  for (std::size_t i = 0; i < minimumSlots; ++i) slots[i] = Slot{0, 0};
  const std::size_t mask = minimumSlots - 1;
  for (std::size_t i = 0; i < m_slotCount; ++i) {
    if (m_slots[i].node == 0) continue;
    std::size_t j = m_slots[i].hash & mask;
    while (slots[j].node != 0) j = (j + 1) & mask;
    slots[j] = m_slots[i];
  }
  ascommon::as_free(m_slots);
  m_slots = slots;
  m_slotCount = minimumSlots;
  return true;
}

std::int64_t CWordIndex::InsertOrFind(const char16_t* pWord, std::size_t length, std::uint32_t hash,
                                      bool* pCreated) noexcept {
  *pCreated = false;
  length = Clamp(length);
  if (m_slotCount != 0) {
    const std::size_t slot = Probe(pWord, length, hash);
    if (m_slots[slot].node != 0) return static_cast<std::int64_t>(m_slots[slot].node) - 1;
  }

  // A new word: make every block ready first, so nothing below can fail half-way.
  const std::size_t units = RecordUnits(length);
  if (m_count >= kMaxWords || m_arena.Size() + units >= 0xFFFFFFFFu) return kNoMemory;
  std::size_t slots = m_slotCount < kMinimumSlots ? kMinimumSlots : m_slotCount;
  while (slots / 2 < m_count + 1) slots *= 2;
  if (!GrowTable(slots) || !m_arena.EnsureExtra(units) || !m_order.EnsureExtra(1)) {
    return kNoMemory;
  }
  const auto node = static_cast<std::uint32_t>(m_arena.Size());
  std::uint32_t* record = m_arena.Append(nullptr, units);
  for (std::size_t i = 0; i < units; ++i) record[i] = 0;
  record[0] = static_cast<std::uint32_t>(length);
  if (length != 0) std::memcpy(record + kHeader + m_columns, pWord, length * sizeof(char16_t));
  ++m_count;
  // A word above the last sorted one extends the sorted prefix (a sorted file stays sorted).
  const std::size_t position = m_order.Size();
  m_order.Push(node);
  if (m_sorted == position && (position == 0 || Less(m_order[position - 1], node))) ++m_sorted;
  m_slots[Probe(pWord, length, hash)] = Slot{hash, node + 1};
  *pCreated = true;
  return node;
}

bool CWordIndex::WidenColumns(std::uint32_t extra) noexcept {
  if (extra == 0) return true;
  const std::uint32_t columns = m_columns + extra;
  if (columns < m_columns) return false;
  const std::size_t grown = m_arena.Size() + static_cast<std::size_t>(extra) * m_count;
  if (grown >= 0xFFFFFFFFu) return false;
  // Records move by `extra` units per record before them: keep the old offsets (ascending)
  // to renumber the slots and the order by binary search.
  TGrowBuffer<std::uint32_t> arena;
  TGrowBuffer<std::uint32_t> old;
  if (!arena.Reserve(grown) || !old.Reserve(m_count)) return false;
  ForEachNode([&](std::uint32_t node) {
    old.Push(node);
    const std::uint32_t* record = m_arena.Data() + node;
    arena.Append(record, kHeader + m_columns);
    for (std::uint32_t c = 0; c < extra; ++c) arena.Push(0);
    arena.Append(record + kHeader + m_columns, (record[0] + 1) / 2);
  });
  auto renumber = [&](std::uint32_t node) {
    const std::uint32_t* first = old.Data();
    const std::size_t ordinal = std::lower_bound(first, first + old.Size(), node) - first;
    return static_cast<std::uint32_t>(node + extra * ordinal);
  };
  for (std::size_t i = 0; i < m_slotCount; ++i) {
    if (m_slots[i].node != 0) m_slots[i].node = renumber(m_slots[i].node - 1) + 1;
  }
  for (std::size_t i = 0; i < m_order.Size(); ++i) m_order[i] = renumber(m_order[i]);
  m_arena.Swap(arena);
  m_columns = columns;
  return true;
}

bool CWordIndex::Less(std::uint32_t left, std::uint32_t right) const noexcept {
  return CompareWords(Units(left), m_arena[left], Units(right), m_arena[right]) < 0;
}

void CWordIndex::SortOrder() noexcept {
  const std::size_t count = m_order.Size();
  if (m_sorted == count) return;
  std::uint32_t* order = m_order.Data();
  auto less = [this](std::uint32_t a, std::uint32_t b) { return Less(a, b); };
  std::sort(order + m_sorted, order + count, less);
  auto* merged = ascommon::as_alloc_array_nt<std::uint32_t>(count);
  if (merged == nullptr) {
    std::sort(order, order + count, less);
  } else {
    std::merge(order, order + m_sorted, order + m_sorted, order + count, merged, less);
    std::copy(merged, merged + count, order);
    ascommon::as_free(merged);
  }
  m_sorted = count;
}

void CWordIndex::Clear() noexcept {
  m_arena.Release();
  m_order.Release();
  m_count = 0;
  m_sorted = 0;
  ascommon::as_free(m_slots);
  m_slots = nullptr;
  m_slotCount = 0;
}

}  // namespace nsEngineBayesClassifier
