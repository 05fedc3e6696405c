// CCategoryGate: for the keys of one URL, which of up to 21 category databases may list
// them, answered from one 8-byte word per key, so that a filter with many lists looks up
// only the lists that may answer yes.
//
// Why: a URL is looked up in up to eighteen lists, three pieces each, and nearly every
// lookup misses. Eighteen lists of 100,000 keys take some 90 MB of tables; 54 table probes
// per URL are 54 trips to memory. The gate keeps, per key, one 64-bit word in which every
// (list, piece) pair that holds the key has set two bits (a Bloom filter per list and
// piece, all sharing the word): one word per distinct piece text (one to three per URL)
// says which lists to probe for which piece. About 32 bits per (list, piece, key) keep a
// pair's false "maybe" near 0.4%, so a URL on no list costs one to three cache misses and
// a URL on one list that plus the probes of that list.
// Exactness is the databases': the gate never leaves out a list that holds the key, and a
// "maybe" is settled by the list's own lookup.
// Cost: Build O(keys of all lists); Candidates O(pieces * lists) register work plus one
// word per piece. Memory: 4 bytes per key of the lists it was built over.
//
// Ownership: the gate owns its word array; it keeps no pointer to the databases, which
// must not change while the gate is used for them (the filter rebuilds it after a load).
// Threads: Candidates is const and safe for concurrent readers; Build needs exclusive
// access.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/asmemory.h"
#include "engines/urldb2/categorykey.h"

namespace ascommon {

class CURLCategoryDB;

class CCategoryGate : public CASAllocated {
 public:
  // Two bits for each (list, piece) pair in a 64-bit word: 21 lists of three pieces.
  static constexpr std::size_t kMaxLists = 21;

  CCategoryGate() noexcept;
  ~CCategoryGate();
  CCategoryGate(const CCategoryGate&) = delete;
  CCategoryGate& operator=(const CCategoryGate&) = delete;

  // Builds the gate over lists[0, count); list i answers to bit i, null entries hold
  // nothing. 0; -1 when count exceeds kMaxLists; -2 when memory runs out. After a failure
  // the gate is empty and answers "no list" for everything: do not use it.
  std::int32_t Build(const CURLCategoryDB* const* lists, std::size_t count) noexcept;

  // masks[p] for each piece p of the probe: bit i is set when list i may hold that piece's
  // key (always when it does; never for a list that holds no key). Absent pieces get 0.
  void Candidates(const CCategoryProbe& probe,
                  std::uint32_t masks[kCategoryPieceCount]) const noexcept;

 private:
  // The fold of a key: its high bits choose the word, a second fold the bit positions.
  std::uint64_t Fold(std::uint64_t key) const noexcept {
    return (key ^ m_seed) * 0x9E3779B97F4A7C15ull;
  }
  std::uint64_t WordOf(std::uint64_t fold) const noexcept {
    return static_cast<std::uint64_t>((static_cast<unsigned __int128>(fold) * m_wordCount) >> 64);
  }
  // The two bits of pair j = list * 3 + piece in a key's word: double hashing with odd
  // steps, so the pairs' first bits all differ from one another, and so do their second.
  struct Steps {
    unsigned a, b, c, d;
  };
  static Steps StepsOf(std::uint64_t fold) noexcept {
    const std::uint64_t x = (fold ^ (fold >> 29)) * 0xBF58476D1CE4E5B9ull;
    return Steps{static_cast<unsigned>(x >> 58), static_cast<unsigned>(x >> 52) | 1u,
                 static_cast<unsigned>(x >> 46), static_cast<unsigned>(x >> 40) | 1u};
  }
  static std::uint64_t BitsOf(const Steps& s, unsigned pair) noexcept {
    return (std::uint64_t{1} << ((s.a + pair * s.b) & 63)) |
           (std::uint64_t{1} << ((s.c + pair * s.d) & 63));
  }

  std::uint64_t* m_words = nullptr;  // Owned; m_wordCount words.
  std::uint64_t m_wordCount = 0;
  std::size_t m_listCount = 0;
  std::uint32_t m_listsWithKeys = 0;  // bit i: list i was given and holds a key
  std::uint64_t m_seed;
};

}  // namespace ascommon
