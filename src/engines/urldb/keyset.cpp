// CKeySet: keys in a chunked arena, indexed by an open-addressing table with linear probing
// (load at most 3/4, Fibonacci slot index from a 32-bit tag, backward-shift removal).
// Lookup expected O(1 + key length); insert amortised O(1 + key length); memory about
// 8 bytes per slot plus 1-5 bytes of length per key. Tested by
// tests/engines/urldb/urldb_test.cpp (against a linear-scan reference).
#include "engines/urldb/keyset.h"

#include <algorithm>
#include <cstring>

namespace ascommon {

namespace {

// Records shorter than this use a 1-byte length; longer ones 0xFF and a 4-byte length.
constexpr std::size_t kShortKey = 255;

inline std::uint64_t MulFold(std::uint64_t a, std::uint64_t b) noexcept {
  const unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
  return static_cast<std::uint64_t>(product) ^ static_cast<std::uint64_t>(product >> 64);
}

}  // namespace

std::uint32_t HashKeyBytes(const char* pKey, std::size_t length) noexcept {
  std::uint64_t h = 0x243F6A8885A308D3ull ^ length;
  while (length >= 8) {
    std::uint64_t word;
    std::memcpy(&word, pKey, 8);
    h = MulFold(h ^ word, 0x9E3779B97F4A7C15ull);
    pKey += 8;
    length -= 8;
  }
  if (length > 0) {
    std::uint64_t word = 0;
    std::memcpy(&word, pKey, length);
    h = MulFold(h ^ word, 0xBF58476D1CE4E5B9ull);
  }
  h = MulFold(h, 0x94D049BB133111EBull);
  return static_cast<std::uint32_t>(h) ^ static_cast<std::uint32_t>(h >> 32);
}

CKeySet::~CKeySet() { Clear(); }

void CKeySet::Clear() noexcept {
  for (std::uint32_t i = 0; i < m_chunkCount; ++i) as_free(m_chunks[i]);
  as_free(m_chunks);
  as_free(m_slots);
  m_chunks = nullptr;
  m_chunkCount = m_chunkSlots = 0;
  m_current = 0;
  m_currentSize = m_currentUsed = 0;
  m_slots = nullptr;
  m_capacity = m_count = 0;
  m_shift = 32;
}

void CKeySet::KeyAt(std::uint32_t ref, const char*& pKey, std::size_t& length) const noexcept {
  const char* record = m_chunks[ref >> kOffsetBits] + (ref & (kMaxChunkSize - 1));
  const auto first = static_cast<unsigned char>(record[0]);
  if (first < kShortKey) {
    length = first;
    pKey = record + 1;
  } else {
    std::uint32_t longLength;
    std::memcpy(&longLength, record + 1, 4);
    length = longLength;
    pKey = record + 5;
  }
}

std::uint32_t CKeySet::Find(const char* pKey, std::size_t length,
                            std::uint32_t tag) const noexcept {
  if (m_capacity == 0) return m_capacity;
  const std::uint32_t mask = m_capacity - 1;
  for (std::uint32_t i = SlotIndex(tag);; i = (i + 1) & mask) {
    const Slot& slot = m_slots[i];
    if (slot.ref == kEmptyRef) return m_capacity;  // the table is never full
    if (slot.tag != tag) continue;
    const char* pStored = nullptr;
    std::size_t storedLength = 0;
    KeyAt(slot.ref, pStored, storedLength);
    if (storedLength == length && (length == 0 || std::memcmp(pStored, pKey, length) == 0)) {
      return i;
    }
  }
}

bool CKeySet::Contains(const char* pKey, std::size_t length) const noexcept {
  if (m_count == 0) return false;
  return Find(pKey, length, HashKeyBytes(pKey, length)) != m_capacity;
}

CKeySet::Probe CKeySet::MakeProbe(const char* pKey, std::size_t length) noexcept {
  return Probe{pKey, length, HashKeyBytes(pKey, length)};
}

bool CKeySet::Contains(const Probe& probe) const noexcept {
  if (m_count == 0) return false;
  return Find(probe.key, probe.length, probe.hash) != m_capacity;
}

std::uint32_t CKeySet::AddChunk(std::size_t size) noexcept {
  if (m_chunkCount >= kMaxChunks) return kEmptyRef;
  if (m_chunkCount == m_chunkSlots) {
    const std::uint32_t slots = m_chunkSlots == 0 ? 16 : std::min(m_chunkSlots * 2, kMaxChunks);
    char** chunks = as_alloc_array_nt<char*>(slots);
    if (chunks == nullptr) return kEmptyRef;
    if (m_chunkCount != 0) std::memcpy(chunks, m_chunks, m_chunkCount * sizeof(char*));
    as_free(m_chunks);
    m_chunks = chunks;
    m_chunkSlots = slots;
  }
  char* chunk = static_cast<char*>(as_alloc_nt(size));
  if (chunk == nullptr) return kEmptyRef;
  m_chunks[m_chunkCount] = chunk;
  return m_chunkCount++;
}

std::uint32_t CKeySet::Store(const char* pKey, std::size_t length) noexcept {
  if (length > 0xFFFFFFFFu - 5) return kEmptyRef;
  const std::size_t header = length < kShortKey ? 1 : 5;
  const std::size_t recordSize = header + length;
  std::uint32_t chunk = 0;
  std::size_t offset = 0;
  if (recordSize > kMaxChunkSize) {  // a chunk of its own, addressed at offset 0
    chunk = AddChunk(recordSize);
    if (chunk == kEmptyRef) return kEmptyRef;
  } else {
    if (m_chunkCount == 0 || m_currentUsed + recordSize > m_currentSize) {
      // Chunks grow from 4 KB to 1 MB, so a small list costs little and a large one
      // needs few chunks. The unused tail of the previous chunk is left as it is.
      std::size_t size = m_chunkCount == 0 ? kFirstChunkSize
                                           : std::min(kMaxChunkSize, m_currentSize * 2);
      if (size < recordSize) size = kMaxChunkSize;
      const std::uint32_t index = AddChunk(size);
      if (index == kEmptyRef) return kEmptyRef;
      m_current = index;
      m_currentSize = size;
      m_currentUsed = 0;
    }
    chunk = m_current;
    offset = m_currentUsed;
    m_currentUsed += recordSize;
  }
  char* record = m_chunks[chunk] + offset;
  if (header == 1) {
    record[0] = static_cast<char>(length);
  } else {
    record[0] = static_cast<char>(0xFF);
    const auto longLength = static_cast<std::uint32_t>(length);
    std::memcpy(record + 1, &longLength, 4);
  }
  if (length != 0) std::memcpy(record + header, pKey, length);
  return (chunk << kOffsetBits) | static_cast<std::uint32_t>(offset);
}

std::int32_t CKeySet::Rehash(std::uint32_t newCapacity) noexcept {
  Slot* slots = as_alloc_array_nt<Slot>(newCapacity);
  if (slots == nullptr) return -2;
  for (std::uint32_t i = 0; i < newCapacity; ++i) slots[i] = Slot{0, kEmptyRef};
  unsigned shift = 32;
  for (std::uint32_t c = newCapacity; c > 1; c >>= 1) --shift;
  const std::uint32_t mask = newCapacity - 1;
  for (std::uint32_t i = 0; i < m_capacity; ++i) {
    const Slot& slot = m_slots[i];
    if (slot.ref == kEmptyRef) continue;
    std::uint32_t j = static_cast<std::uint32_t>((slot.tag * 0x9E3779B9u) >> shift);
    while (slots[j].ref != kEmptyRef) j = (j + 1) & mask;
    slots[j] = slot;
  }
  as_free(m_slots);
  m_slots = slots;
  m_capacity = newCapacity;
  m_shift = shift;
  return 0;
}

std::int32_t CKeySet::Reserve(std::uint32_t count) noexcept {
  std::uint64_t capacity = m_capacity == 0 ? 16 : m_capacity;
  while (std::uint64_t{count} * 4 > capacity * 3 && capacity < kMaxCapacity) capacity *= 2;
  if (capacity == m_capacity) return 0;
  return Rehash(static_cast<std::uint32_t>(capacity));
}

std::int32_t CKeySet::Insert(const char* pKey, std::size_t length) noexcept {
  const std::uint32_t tag = HashKeyBytes(pKey, length);
  if (Find(pKey, length, tag) != m_capacity) return 1;
  if ((std::uint64_t{m_count} + 1) * 4 > std::uint64_t{m_capacity} * 3) {
    const std::uint32_t newCapacity = m_capacity == 0 ? 16 : m_capacity * 2;
    if (m_capacity >= kMaxCapacity || Rehash(newCapacity) != 0) return -2;
  }
  const std::uint32_t ref = Store(pKey, length);
  if (ref == kEmptyRef) return -2;
  const std::uint32_t mask = m_capacity - 1;
  std::uint32_t i = SlotIndex(tag);
  while (m_slots[i].ref != kEmptyRef) i = (i + 1) & mask;
  m_slots[i] = Slot{tag, ref};
  ++m_count;
  return 0;
}

bool CKeySet::Remove(const char* pKey, std::size_t length) noexcept {
  std::uint32_t hole = m_count == 0 ? m_capacity : Find(pKey, length, HashKeyBytes(pKey, length));
  if (hole == m_capacity) return false;
  // Backward shift: move later members of the probe run into the hole when their home
  // slot does not lie cyclically in (hole, j], so every key stays reachable from its home.
  const std::uint32_t mask = m_capacity - 1;
  for (std::uint32_t j = (hole + 1) & mask; m_slots[j].ref != kEmptyRef; j = (j + 1) & mask) {
    const std::uint32_t home = SlotIndex(m_slots[j].tag);
    const bool between = hole <= j ? (hole < home && home <= j) : (hole < home || home <= j);
    if (!between) {
      m_slots[hole] = m_slots[j];
      hole = j;
    }
  }
  m_slots[hole] = Slot{0, kEmptyRef};
  --m_count;
  return true;
}

std::int32_t CKeySet::SortedRefs(std::uint32_t*& refs) const noexcept {
  refs = as_alloc_array_nt<std::uint32_t>(m_count == 0 ? 1 : m_count);
  if (refs == nullptr) return -2;
  std::uint32_t n = 0;
  for (std::uint32_t i = 0; i < m_capacity; ++i) {
    if (m_slots[i].ref != kEmptyRef) refs[n++] = m_slots[i].ref;
  }
  std::sort(refs, refs + n, [this](std::uint32_t left, std::uint32_t right) {
    const char* pLeft = nullptr;
    const char* pRight = nullptr;
    std::size_t leftLength = 0, rightLength = 0;
    KeyAt(left, pLeft, leftLength);
    KeyAt(right, pRight, rightLength);
    const std::size_t common = std::min(leftLength, rightLength);
    const int order = common == 0 ? 0 : std::memcmp(pLeft, pRight, common);
    return order != 0 ? order < 0 : leftLength < rightLength;
  });
  return 0;
}

}  // namespace ascommon
