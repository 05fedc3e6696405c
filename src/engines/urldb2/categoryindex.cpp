// CCategoryGate: one 64-bit word per key, two bits per (list, piece) that holds the key.
// Build sizes the words from the lists' key counts (two keys per word) and sets the bits;
// Candidates reads one word per piece and tests two bits per list, without branches.
// Tested by tests/engines/urldb2/categorygate_test.cpp.
#include "engines/urldb2/categorygate.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "engines/urldb2/urlcategorydb.h"

namespace ascommon {

CCategoryGate::CCategoryGate() noexcept
    : m_seed(static_cast<std::uint64_t>(
                 std::chrono::steady_clock::now().time_since_epoch().count()) *
                 0xD1B54A32D192ED03ull ^
             reinterpret_cast<std::uintptr_t>(this)) {}

CCategoryGate::~CCategoryGate() { as_free(m_words); }

std::int32_t CCategoryGate::Build(const CURLCategoryDB* const* lists, std::size_t count) noexcept {
  if (count > kMaxLists) return -1;
  as_free(m_words);
  m_words = nullptr;
  m_wordCount = 0;
  m_listCount = 0;
  m_listsWithKeys = 0;
  std::uint64_t pairs = 0;
  std::uint32_t listsWithKeys = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (lists[i] == nullptr) continue;
    for (std::size_t p = 0; p < kCategoryPieceCount; ++p) {
      const std::uint64_t keys = lists[i]->GetCount(static_cast<ECategoryPiece>(p));
      pairs += keys;
      if (keys != 0) listsWithKeys |= std::uint32_t{1} << i;
    }
  }
  const std::uint64_t words = std::max<std::uint64_t>(1, (pairs + 1) / 2);
  std::uint64_t* array = as_alloc_array_nt<std::uint64_t>(words);
  if (array == nullptr) return -2;
  std::memset(array, 0, words * sizeof(std::uint64_t));
  m_words = array;
  m_wordCount = words;
  m_listCount = count;
  m_listsWithKeys = listsWithKeys;
  for (std::size_t i = 0; i < count; ++i) {
    if (lists[i] == nullptr) continue;
    for (std::size_t p = 0; p < kCategoryPieceCount; ++p) {
      const auto pair = static_cast<unsigned>(i * kCategoryPieceCount + p);
      lists[i]->GetSet(static_cast<ECategoryPiece>(p)).ForEach([&](std::uint64_t key) {
        const std::uint64_t fold = Fold(key);
        m_words[WordOf(fold)] |= BitsOf(StepsOf(fold), pair);
      });
    }
  }
  return 0;
}

void CCategoryGate::Candidates(const CCategoryProbe& probe,
                               std::uint32_t masks[kCategoryPieceCount]) const noexcept {
  // The words first (independent loads; a piece whose text equals another's reads the
  // same word), then the bit tests.
  std::uint64_t words[kCategoryPieceCount] = {};
  std::uint64_t folds[kCategoryPieceCount] = {};
  for (std::size_t p = 0; p < kCategoryPieceCount; ++p) {
    if (!probe.present[p] || m_wordCount == 0) continue;
    folds[p] = Fold(probe.keys[p]);
    words[p] = m_words[WordOf(folds[p])];
  }
  for (std::size_t p = 0; p < kCategoryPieceCount; ++p) {
    masks[p] = 0;
    if (words[p] == 0) continue;
    const Steps steps = StepsOf(folds[p]);
    std::uint32_t mask = 0;
    for (unsigned i = 0; i < m_listCount; ++i) {
      const std::uint64_t bits = BitsOf(steps, static_cast<unsigned>(i * kCategoryPieceCount + p));
      mask |= static_cast<std::uint32_t>((words[p] & bits) == bits) << i;
    }
    masks[p] = mask & m_listsWithKeys;
  }
}

}  // namespace ascommon
