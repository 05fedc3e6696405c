// CPrescanIndex: the engine's literal pre-scan. Each regex match condition on a page text
// that has required literals (requiredliteral.h) gets a slot; per page, the first
// condition that asks about a text scans that text once for the literals of every
// condition on it, and a condition none of whose literals occurs is a miss without its
// regex.
//
// The texts, one automaton pair (exact and caseless) each: the page raw or parsed, each as
// it is or lower-cased, the URL, and the seven element texts. Texts that a condition
// lower-cases itself (REGEX_INSENSITIVE on the URL or element texts) are left out, since
// Unicode lower-casing can make ASCII letters out of other characters.
// Ownership: the engine owns its index; a context owns its CPrescanState (acontextif.h).
// Threads: Add and Build once while the engine initialises; afterwards the index is
// immutable and MayOccur may run on any number of threads, each on its own context.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engines/assl/prefilter/literalset.h"

namespace assl {

class ContextInterface;
class CPrescanIndex;

// What one context has scanned for its current item: per text, whether it was scanned,
// which text, and the bits of the literals found. Used by one thread.
class CPrescanState {
 public:
  // Forgets every scan (a new item, or a new run of the rules).
  void Reset() noexcept;

 private:
  friend class CPrescanIndex;
  struct CText {
    bool scanned = false;
    const char* data = nullptr;
    std::size_t size = 0;
    std::vector<std::uint64_t> found[2];  // exact, caseless
  };
  const CPrescanIndex* m_owner = nullptr;  // Not owned: the index these bits belong to.
  std::vector<CText> m_texts;
};

class CPrescanIndex {
 public:
  static constexpr std::uint32_t kNone = UINT32_MAX;
  static constexpr std::uint32_t kTexts = 12;
  // Literals longer than this are cut: every piece of a required literal is required too,
  // and the automaton stays small.
  static constexpr std::size_t kMaxLiteral = 32;
  // A text with fewer conditions is not pre-scanned: a scan costs about what a few regexes
  // with a literal cost (the regex library finds a literal start fast itself).
  static constexpr std::size_t kMinConditions = 16;

  // The text a match condition reads (its where, how and part-mode codes), or kNone when
  // the condition is not pre-scanned.
  static std::uint32_t TextOf(std::int32_t where, std::int32_t how, std::int32_t partMode);
  // Whether the pre-scan is on: the environment variable ZAZOZOR_PRESCAN, "0" turns it off.
  static bool Enabled() noexcept;

  CPrescanIndex();

  // A slot for the literals on text (kNone when nothing is gained: no text, no literal, an
  // empty one, automaton full). Before Build only.
  std::uint32_t Add(std::uint32_t text, const std::vector<std::string>& literals, bool caseless);
  // Makes the automata of the texts with at least kMinConditions slots; the slots of other
  // texts always answer true.
  void Build();
  std::size_t SlotCount() const noexcept { return m_slots.size(); }

  // False only when every literal of the slot is absent from data[0..size), the text of the
  // slot's kind for the context's current item; scans that text on its first question.
  // When memory runs out the answer is true (the regex then decides).
  bool MayOccur(ContextInterface* context, std::uint32_t slot, const char* data,
                std::size_t size) const noexcept;

 private:
  struct CSlot {
    std::uint32_t text;
    std::uint32_t set;    // 0 exact, 1 caseless
    std::uint32_t begin;  // the slot's literal ids in that set: m_ids[begin..end)
    std::uint32_t end;
  };
  std::vector<CSlot> m_slots;
  std::vector<std::uint32_t> m_ids;
  std::vector<CLiteralSet> m_sets;  // per text: exact, then caseless
  bool m_scanned[kTexts] = {};      // per text: whether Build made its automata
};

}  // namespace assl
