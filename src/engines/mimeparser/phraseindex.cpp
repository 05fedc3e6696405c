// Phrase index: lower-case the body once, cut it into tokens, intern each token (FNV-1a hash,
// linear probing, table kept at most half full) and append its id to the kind's sequence,
// linking the previous occurrence of the id to this one. A phrase is cut and interned
// (lookup only) the same way and checked at its first token's occurrences.
// Tested by tests/engines/mimeparser/mime_facilitator_test.cpp.
#include "engines/mimeparser/phraseindex.h"

#include <cstring>
#include <new>

#include "common/strutils.h"

namespace mimeparser {

namespace {

bool IsHighSurrogate(char16_t unit) noexcept { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) noexcept { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Units of the word character at text[i] (1 or 2), or 0 when it separates.
std::size_t WordUnits(const char16_t* text, std::size_t i, std::size_t length) noexcept {
  const char16_t unit = text[i];
  if (unit >= u'0' && unit <= u'9') return 1;
  if (IsHighSurrogate(unit) && i + 1 < length && IsLowSurrogate(text[i + 1])) {
    const char32_t code = 0x10000 + ((char32_t{unit} - 0xD800) << 10) + (text[i + 1] - 0xDC00);
    return ascommon::IsLetter(code) ? 2 : 0;
  }
  return ascommon::IsLetter(unit) ? 1 : 0;
}

std::uint32_t HashUnits(const char16_t* token, std::size_t length) noexcept {
  std::uint32_t hash = 2166136261u;
  for (std::size_t i = 0; i < length; ++i) hash = (hash ^ token[i]) * 16777619u;
  return hash;
}

}  // namespace

template <class Visitor>
void CPhraseIndex::ForEachToken(const char16_t* text, std::size_t length,
                                std::vector<char16_t>& scratch, Visitor&& visit) const {
  if (text == nullptr || length == 0) return;
  scratch.assign(text, text + length);
  ascommon::WideLowerInPlace(scratch.data(), length);
  const char16_t* lower = scratch.data();
  std::size_t i = 0;
  while (i < length) {
    std::size_t units = WordUnits(lower, i, length);
    if (units == 0) {
      ++i;
      continue;
    }
    const std::size_t start = i;
    do {
      i += units;
    } while (i < length && (units = WordUnits(lower, i, length)) != 0);
    visit(lower + start, i - start);
  }
}

std::uint32_t CPhraseIndex::Find(const char16_t* token, std::size_t length,
                                 std::uint32_t hash) const {
  if (m_slots.empty()) return kNone;
  const std::size_t mask = m_slots.size() - 1;
  for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
    const std::uint32_t entry = m_slots[slot];
    if (entry == 0) return kNone;
    const Word& word = m_words[entry - 1];
    if (word.hash == hash && word.length == length &&
        std::memcmp(m_pool.data() + word.offset, token, length * sizeof(char16_t)) == 0) {
      return entry - 1;
    }
  }
}

void CPhraseIndex::Grow() {
  std::vector<std::uint32_t> slots(m_slots.empty() ? 1024 : m_slots.size() * 2, 0);
  const std::size_t mask = slots.size() - 1;
  for (std::uint32_t id = 0; id < m_words.size(); ++id) {
    std::size_t slot = m_words[id].hash & mask;
    while (slots[slot] != 0) slot = (slot + 1) & mask;
    slots[slot] = id + 1;
  }
  m_slots.swap(slots);
}

std::uint32_t CPhraseIndex::Intern(const char16_t* token, std::size_t length) {
  const std::uint32_t hash = HashUnits(token, length);
  const std::uint32_t found = Find(token, length, hash);
  if (found != kNone) return found;
  if ((m_words.size() + 1) * 2 > m_slots.size()) Grow();
  // Pool first: a failure after it leaves unused characters, never a word past the pool.
  const auto offset = static_cast<std::uint32_t>(m_pool.size());
  m_pool.insert(m_pool.end(), token, token + length);
  const auto id = static_cast<std::uint32_t>(m_words.size());
  m_words.push_back(Word{offset, static_cast<std::uint32_t>(length), hash, {kNone, kNone},
                         {kNone, kNone}});
  const std::size_t mask = m_slots.size() - 1;
  std::size_t slot = hash & mask;
  while (m_slots[slot] != 0) slot = (slot + 1) & mask;
  m_slots[slot] = id + 1;
  return id;
}

std::int32_t CPhraseIndex::AddBody(int kind, const char16_t* text, std::size_t length) {
  if (kind < 0 || kind >= kKinds) return -1;
  std::vector<std::uint32_t>& sequence = m_sequence[kind];
  std::vector<std::uint32_t>& next = m_next[kind];
  try {
    std::vector<char16_t> scratch;
    bool separated = sequence.empty();
    ForEachToken(text, length, scratch, [&](const char16_t* token, std::size_t units) {
      if (!separated) {  // tokens of two bodies are never consecutive
        sequence.push_back(kNone);
        next.push_back(kNone);
        separated = true;
      }
      const std::uint32_t id = Intern(token, units);
      const auto position = static_cast<std::uint32_t>(sequence.size());
      sequence.push_back(id);
      next.push_back(kNone);
      Word& word = m_words[id];
      if (word.first[kind] == kNone) {
        word.first[kind] = position;
      } else {
        next[word.last[kind]] = position;
      }
      word.last[kind] = position;
    });
  } catch (const std::bad_alloc&) {
    // Keep the two sequences the same length so the links stay inside them.
    if (next.size() > sequence.size()) next.resize(sequence.size());
    while (sequence.size() > next.size()) sequence.pop_back();
    return -2;
  }
  return 0;
}

bool CPhraseIndex::HasPhrase(int kind, const char16_t* phrase, std::size_t length) const {
  if (kind < 0 || kind >= kKinds) return false;
  std::vector<std::uint32_t> ids;
  bool missing = false;
  try {
    std::vector<char16_t> scratch;
    ForEachToken(phrase, length, scratch, [&](const char16_t* token, std::size_t units) {
      const std::uint32_t id = missing ? kNone : Find(token, units, HashUnits(token, units));
      missing = missing || id == kNone || m_words[id].first[kind] == kNone;
      ids.push_back(id);
    });
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (missing || ids.empty()) return false;
  const std::vector<std::uint32_t>& sequence = m_sequence[kind];
  const std::vector<std::uint32_t>& next = m_next[kind];
  for (std::uint32_t at = m_words[ids[0]].first[kind]; at != kNone; at = next[at]) {
    if (sequence.size() - at < ids.size()) break;  // later occurrences have even less room
    std::size_t j = 1;
    while (j < ids.size() && sequence[at + j] == ids[j]) ++j;
    if (j == ids.size()) return true;
  }
  return false;
}

}  // namespace mimeparser
