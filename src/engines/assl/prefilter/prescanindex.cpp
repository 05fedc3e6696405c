// Literal pre-scan: conditions register their required literals per text while the engine
// initialises; Build makes one automaton per text and case mode. Per item, the first
// question about a text scans it once into the context's bits (one table step per byte per
// automaton); later questions are a bit test per literal of the condition. Memory per
// context: one bit per literal.
// Tested by tests/engines/assl/prefilter_test.cpp.
#include "engines/assl/prefilter/prescanindex.h"

#include <cstdlib>
#include <new>

#include "engines/assl/acontextif.h"
#include "engines/assl/parser/item_codes.h"

namespace assl {

void CPrescanState::Reset() noexcept {
  for (CText& text : m_texts) text.scanned = false;
}

CPrescanIndex::CPrescanIndex() {
  m_sets.reserve(2 * kTexts);
  for (std::uint32_t i = 0; i < 2 * kTexts; ++i) m_sets.emplace_back(i % 2 == 1);
}

std::uint32_t CPrescanIndex::TextOf(std::int32_t where, std::int32_t how, std::int32_t partMode) {
  if (how != kRegex && how != kRegexInsensitive) return kNone;
  const bool lowered = how == kRegexInsensitive;
  if (where == kHtmlBody) return (partMode == kPartRaw ? 0 : 2) + (lowered ? 1 : 0);
  if (lowered) return kNone;
  if (where == kHtmlUrl) return 4;
  if (where >= kHtmlTitle && where <= kHtmlScript) return 5 + (where - kHtmlTitle);
  return kNone;
}

bool CPrescanIndex::Enabled() noexcept {
  const char* value = std::getenv("ZAZOZOR_PRESCAN");
  return value == nullptr || value[0] != '0';
}

std::uint32_t CPrescanIndex::Add(std::uint32_t text, const std::vector<std::string>& literals,
                                 bool caseless) {
  if (text >= kTexts || literals.empty()) return kNone;
  const std::uint32_t set = caseless ? 1 : 0;
  const auto begin = static_cast<std::uint32_t>(m_ids.size());
  for (const std::string& literal : literals) {
    const std::uint32_t id =
        m_sets[2 * text + set].Add(std::string_view(literal).substr(0, kMaxLiteral));
    if (id == CLiteralSet::kNone) {
      m_ids.resize(begin);
      return kNone;
    }
    m_ids.push_back(id);
  }
  m_slots.push_back({text, set, begin, static_cast<std::uint32_t>(m_ids.size())});
  return static_cast<std::uint32_t>(m_slots.size() - 1);
}

void CPrescanIndex::Build() {
  std::size_t slots[kTexts] = {};
  for (const CSlot& slot : m_slots) ++slots[slot.text];
  for (std::uint32_t text = 0; text < kTexts; ++text) {
    m_scanned[text] = slots[text] >= kMinConditions;
    for (std::uint32_t set = 0; set < 2; ++set) {
      if (m_scanned[text]) {
        m_sets[2 * text + set].Build();
      } else {
        m_sets[2 * text + set] = CLiteralSet(set == 1);
      }
    }
  }
}

bool CPrescanIndex::MayOccur(ContextInterface* context, std::uint32_t slot, const char* data,
                             std::size_t size) const noexcept {
  if (context == nullptr || slot >= m_slots.size()) return true;
  const CSlot& where = m_slots[slot];
  if (!m_scanned[where.text]) return true;
  try {
    CPrescanState& state = context->PrescanState();
    if (state.m_owner != this) {
      state.m_owner = this;
      state.m_texts.assign(kTexts, CPrescanState::CText());
    }
    CPrescanState::CText& text = state.m_texts[where.text];
    if (!text.scanned || text.data != data || text.size != size) {
      for (std::uint32_t set = 0; set < 2; ++set) {
        const CLiteralSet& literals = m_sets[2 * where.text + set];
        text.found[set].assign(literals.Words(), 0);
        literals.Scan(data, size, text.found[set].data());
      }
      text.scanned = true;
      text.data = data;
      text.size = size;
    }
    const std::vector<std::uint64_t>& found = text.found[where.set];
    for (std::uint32_t k = where.begin; k < where.end; ++k) {
      if ((found[m_ids[k] >> 6] >> (m_ids[k] & 63) & 1) != 0) return true;
    }
    return false;
  } catch (const std::bad_alloc&) {
    return true;
  }
}

}  // namespace assl
