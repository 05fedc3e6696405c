// Multi-literal search (Aho-Corasick): a trie of the literals whose missing edges are filled
// with the edges of the longest proper suffix state, so the scan takes exactly one table
// step per text byte. Bytes that occur in no literal share class 0, so a row has one entry
// per distinct literal byte plus one. Build: O(states * classes) time and 4 bytes per entry
// (a thousand literals of twelve bytes with sixty classes: under 3 MiB). Scan: O(text +
// literal ends found). Tested by tests/engines/assl/prefilter_test.cpp.
#include "engines/assl/prefilter/literalset.h"

namespace assl {

namespace {

unsigned char FoldAscii(unsigned char byte) noexcept {
  return byte >= 'A' && byte <= 'Z' ? static_cast<unsigned char>(byte | 0x20) : byte;
}

}  // namespace

std::uint32_t CLiteralSet::Add(std::string_view literal) {
  if (m_built || literal.empty()) return kNone;
  std::string key(literal);
  if (m_caseless) {
    for (char& c : key) c = static_cast<char>(FoldAscii(static_cast<unsigned char>(c)));
  }
  const auto found = m_ids.find(key);
  if (found != m_ids.end()) return found->second;
  if (m_trieBytes + key.size() >= kMaxStates) return kNone;
  const auto id = static_cast<std::uint32_t>(m_literals.size());
  m_trieBytes += key.size();
  m_ids.emplace(key, id);
  m_literals.push_back(std::move(key));
  return id;
}

void CLiteralSet::Build() {
  if (m_built) return;
  m_built = true;
  std::uint16_t classOf[256] = {};
  m_classes = 1;
  for (const std::string& literal : m_literals) {
    for (const char c : literal) {
      std::uint16_t& cls = classOf[static_cast<unsigned char>(c)];
      if (cls == 0) cls = m_classes++;
    }
  }
  for (int b = 0; b < 256; ++b) {
    const auto byte = static_cast<unsigned char>(b);
    m_classOf[b] = classOf[m_caseless ? FoldAscii(byte) : byte];
  }
  const std::uint32_t width = m_classes;

  // The trie: go[state * width + class], kNone for a missing edge.
  std::vector<std::uint32_t> go(width, kNone);
  std::vector<std::vector<std::uint32_t>> own(1);
  for (std::uint32_t id = 0; id < m_literals.size(); ++id) {
    std::uint32_t state = 0;
    for (const char c : m_literals[id]) {
      std::uint32_t& edge = go[state * width + classOf[static_cast<unsigned char>(c)]];
      if (edge == kNone) {
        edge = static_cast<std::uint32_t>(own.size());
        own.emplace_back();
        go.resize(go.size() + width, kNone);
      }
      state = go[state * width + classOf[static_cast<unsigned char>(c)]];
    }
    own[state].push_back(id);
  }
  const auto states = static_cast<std::uint32_t>(own.size());

  // Breadth first, so a state's suffix state is complete before the state itself.
  std::vector<std::uint32_t> fail(states, 0);
  m_outLink.assign(states, 0);
  std::vector<std::uint32_t> order;
  order.reserve(states);
  for (std::uint32_t c = 0; c < width; ++c) {
    if (go[c] == kNone) {
      go[c] = 0;
    } else {
      order.push_back(go[c]);
    }
  }
  for (std::size_t at = 0; at < order.size(); ++at) {
    const std::uint32_t state = order[at];
    for (std::uint32_t c = 0; c < width; ++c) {
      std::uint32_t& edge = go[state * width + c];
      const std::uint32_t viaSuffix = go[fail[state] * width + c];
      if (edge == kNone) {
        edge = viaSuffix;
        continue;
      }
      fail[edge] = viaSuffix;
      m_outLink[edge] = own[viaSuffix].empty() ? m_outLink[viaSuffix] : viaSuffix;
      order.push_back(edge);
    }
  }

  m_outBegin.assign(states + 1, 0);
  m_outIds.clear();
  for (std::uint32_t s = 0; s < states; ++s) {
    m_outBegin[s] = static_cast<std::uint32_t>(m_outIds.size());
    m_outIds.insert(m_outIds.end(), own[s].begin(), own[s].end());
  }
  m_outBegin[states] = static_cast<std::uint32_t>(m_outIds.size());
  m_next.resize(go.size());
  for (std::size_t i = 0; i < go.size(); ++i) {
    const std::uint32_t target = go[i];
    const bool ends = !own[target].empty() || m_outLink[target] != 0;
    m_next[i] = (target * width) << 1 | (ends ? 1u : 0u);
  }
}

void CLiteralSet::Scan(const char* text, std::size_t size, std::uint64_t* found) const noexcept {
  if (m_literals.empty() || m_next.empty() || text == nullptr) return;
  const std::uint32_t* next = m_next.data();
  const std::uint32_t width = m_classes;
  std::uint32_t row = 0;
  for (std::size_t i = 0; i < size; ++i) {
    const std::uint32_t entry = next[row + m_classOf[static_cast<unsigned char>(text[i])]];
    row = entry >> 1;
    if ((entry & 1) == 0) continue;
    for (std::uint32_t state = row / width; state != 0; state = m_outLink[state]) {
      for (std::uint32_t k = m_outBegin[state]; k < m_outBegin[state + 1]; ++k) {
        found[m_outIds[k] >> 6] |= std::uint64_t{1} << (m_outIds[k] & 63);
      }
    }
  }
}

}  // namespace assl
