// CLiteralSet: which of a set of byte strings occur in a text, found in one pass.
//
// Literals are added, then Build makes the automaton; after Build the set is immutable and
// any number of threads may Scan it at once. A caseless set folds ASCII letters of the text
// as it reads them (the literals are stored ASCII-lower-cased); other bytes compare as they
// are. Owns its tables; Scan keeps nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace assl {

class CLiteralSet {
 public:
  static constexpr std::uint32_t kNone = UINT32_MAX;
  // The automaton's bound: literals past it are refused (Add gives kNone).
  static constexpr std::size_t kMaxStates = 1u << 20;

  explicit CLiteralSet(bool caseless = false) noexcept : m_caseless(caseless) {}

  // The id of literal (equal literals share one id; ids count from 0), or kNone for an
  // empty literal, past kMaxStates, or after Build.
  std::uint32_t Add(std::string_view literal);
  // Makes the automaton over the literals added: O(states * byte classes) time and memory.
  void Build();

  std::size_t Count() const noexcept { return m_literals.size(); }
  // Words of a bitset that holds one bit per literal.
  std::size_t Words() const noexcept { return (m_literals.size() + 63) / 64; }
  bool Caseless() const noexcept { return m_caseless; }

  // Sets bit id of found (Words() words, not cleared here) for every literal that occurs
  // in text[0..size). One table step per byte, plus one step per literal end found.
  void Scan(const char* text, std::size_t size, std::uint64_t* found) const noexcept;

 private:
  bool m_caseless;
  bool m_built = false;
  std::vector<std::string> m_literals;
  std::unordered_map<std::string, std::uint32_t> m_ids;
  std::size_t m_trieBytes = 0;  // bound on the states Build makes
  std::uint16_t m_classes = 1;  // byte classes; class 0 holds bytes in no literal
  std::uint16_t m_classOf[256] = {};
  // Per state and class: the next state's row offset (state * m_classes) shifted left by
  // one, its low bit set when that state ends a literal.
  std::vector<std::uint32_t> m_next;
  // Per state: the first of its own literal ends in m_outIds and the next state down its
  // suffix chain that ends a literal (0: none).
  std::vector<std::uint32_t> m_outBegin;
  std::vector<std::uint32_t> m_outIds;
  std::vector<std::uint32_t> m_outLink;
};

}  // namespace assl
