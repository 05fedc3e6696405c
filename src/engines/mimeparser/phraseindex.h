// CPhraseIndex: the word tokens of a message's text bodies, per body kind (text/plain,
// text/html), for phrase lookups ("buy now", "v1agra") that ignore case.
//
// A token is a maximal run of word characters: Unicode letters (ascommon::IsLetter, a
// surrogate pair tested as its code point) and the digits 0-9; everything else separates.
// Tokens are lower-cased with ascommon::WideLowerInPlace. A phrase is split the same way; a
// one-token phrase is found when any body of the kind holds the token, a longer one when
// some body holds its tokens consecutively (separators between them do not matter; tokens
// of two bodies are never consecutive).
// Structure: distinct tokens are interned once (open-addressing hash table over a character
// pool); each kind keeps its token sequence as ids, and for every position the next position
// of the same id, so a phrase is checked only where its first token occurs.
// Cost: AddBody O(text length) amortised; a one-token lookup O(token length); a longer
// phrase O(phrase length + occurrences of its first token * tokens in the phrase).
// Memory: the distinct tokens, plus 8 bytes per token of text.
// Ownership: owns its tables (standard containers). Threads: built by one thread, then
// read-only; const lookups are safe from any number of threads.
// Tested by tests/engines/mimeparser/mime_facilitator_test.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mimeparser {

class CPhraseIndex {
 public:
  enum Kind : int { kPlain = 0, kHtml = 1, kKinds = 2 };

  // Adds the tokens of one body of kind. Returns 0, -1 for a bad kind, -2 when memory runs
  // out (the index then misses part of this body).
  std::int32_t AddBody(int kind, const char16_t* text, std::size_t length);
  // Whether a body of kind holds the phrase (see above). A phrase without tokens is never
  // found.
  bool HasPhrase(int kind, const char16_t* phrase, std::size_t length) const;

  std::size_t DistinctTokens() const noexcept { return m_words.size(); }
  std::size_t TokenCount(int kind) const noexcept {
    return kind >= 0 && kind < kKinds ? m_sequence[kind].size() : 0;
  }

 private:
  static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

  struct Word {
    std::uint32_t offset;              // into m_pool
    std::uint32_t length;
    std::uint32_t hash;
    std::uint32_t first[kKinds];       // first position in each kind's sequence, or kNone
    std::uint32_t last[kKinds];        // last position (to link the next occurrence)
  };

  // Calls visit(lowered token, length) for each token of text; the token is valid only
  // during the call. Uses scratch for the lower-case copy.
  template <class Visitor>
  void ForEachToken(const char16_t* text, std::size_t length, std::vector<char16_t>& scratch,
                    Visitor&& visit) const;
  std::uint32_t Find(const char16_t* token, std::size_t length, std::uint32_t hash) const;
  std::uint32_t Intern(const char16_t* token, std::size_t length);
  void Grow();

  std::vector<char16_t> m_pool;        // the distinct tokens, back to back
  std::vector<Word> m_words;           // id -> token
  std::vector<std::uint32_t> m_slots;  // hash table of ids + 1 (0 = empty), power of two
  std::vector<std::uint32_t> m_sequence[kKinds];  // token ids in text order, kNone between bodies
  std::vector<std::uint32_t> m_next[kKinds];      // next position of the same id, or kNone
};

}  // namespace mimeparser
