// The word finder's search: a Levenshtein dynamic programme over the text with one column
// of word-length + 1 costs per text position. The column's top entry is 0 where a match may
// start for free (word starts, capitals, non-letters) and word-length x 100 elsewhere, so a
// word can begin anywhere but is cheaper at a word start; each end position whose bottom
// entry is within the threshold is a hit. Hits are then ranked by cost and hits that end
// within 1.5 x word length of a better one are dropped as the same occurrence.
// Cost: O(text x word) time; two columns on the stack (the word is at most 126 characters)
// and at most 269 hits, no allocation per text position. Study is O(text).
// Tested by tests/engines/levenshtein/word_finder_test.cpp.
#include "engines/levenshtein/word_finder.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "common/asfile.h"
#include "common/astrace.h"
#include "common/ustring.h"

namespace {

// The highest cost a cost file may give (in units of 1.0): keeps every sum of the
// programme far inside 32 bits.
constexpr float kMaxFileCost = 1000.0f;
constexpr std::int32_t kMaxCost = static_cast<std::int32_t>(kMaxFileCost) * CWordFinder::kUnit;
// Per word character: the cost of starting a match at a position that is no word start.
constexpr std::int32_t kInnerStartCost = CWordFinder::kUnit / 10;

bool IsLowerLetter(char16_t unit) noexcept { return unit >= u'a' && unit <= u'z'; }

bool HasWide(const char16_t* text, std::size_t length) noexcept {
  for (std::size_t i = 0; i < length; ++i) {
    if (text[i] > 0xFF) return true;
  }
  return false;
}

// Reads the values of one cost line the way "%c", " " and "%d"/"%f" of scanf would, without
// depending on the C locale's decimal point.
class CLineReader {
 public:
  explicit CLineReader(std::string_view text) noexcept : m_text(text) {}

  bool Char(char& out) noexcept {
    if (m_text.empty()) return false;
    out = m_text.front();
    m_text.remove_prefix(1);
    return true;
  }
  CLineReader& SkipSpace() noexcept {
    while (!m_text.empty() && std::strchr(" \t\n\v\f\r", m_text.front()) != nullptr) {
      m_text.remove_prefix(1);
    }
    return *this;
  }
  bool Int(std::int32_t& out) noexcept { return Number(out); }
  bool Float(float& out) noexcept { return Number(out); }

 private:
  template <class T>
  bool Number(T& out) noexcept {
    SkipSpace();
    if (!m_text.empty() && m_text.front() == '+') m_text.remove_prefix(1);
    const auto [end, error] = std::from_chars(m_text.data(), m_text.data() + m_text.size(), out);
    if (error != std::errc()) return false;
    m_text.remove_prefix(static_cast<std::size_t>(end - m_text.data()));
    return true;
  }

  std::string_view m_text;
};

}  // namespace

CWordFinder::CStudy::~CStudy() { ascommon::as_free(m_skip); }

CWordFinder::CWordFinder() {
  AS_TRACE(3, ">>> CWordFinder Constructor: allocting a lot of resources...");
  AS_TRACE(3, "Populating structures....");
  for (int i = 0; i < 256; ++i) {
    m_thin[i] = kUnit;
    m_lower[i] = static_cast<std::uint8_t>(i >= 'A' && i <= 'Z' ? i + ('a' - 'A') : i);
    for (int j = 0; j < 256; ++j) m_pair[i][j] = i == j ? 0 : kUnit;
  }
  for (int c = 'a'; c <= 'z'; ++c) {
    m_pair[c][c - 32] = 0;
    m_pair[c - 32][c] = 0;
  }
  AS_TRACE(3, "<<< CWordFinder Constructor leaving...");
}

CWordFinder::~CWordFinder() { AS_TRACE(3, "<<< CWordFinder destructor: done!"); }

void CWordFinder::SetThinCost(std::int32_t code, std::int32_t cost) {
  if (code < 0 || code > 0xFF) {
    AS_TRACE(3, "Warning! The char cost cannot be set because it exceeds 0xFF !");
    return;
  }
  m_thin[code] = std::clamp(cost, 0, kMaxCost);
}

void CWordFinder::SetPairCost(std::int32_t first, std::int32_t second, std::int32_t cost) {
  if (first < 0 || first > 0xFF || second < 0 || second > 0xFF) {
    AS_TRACE(3, "Warning! did not set the char cost for the pair %d = %d, because one of them "
                "exceeds 0xFF", first, second);
    return;
  }
  m_pair[first][second] = m_pair[second][first] = std::clamp(cost, 0, kMaxCost);
}

void CWordFinder::ApplyCostLine(const char* line) {
  if (line == nullptr) return;
  std::string_view text(line);
  text = text.substr(0, text.find("##"));
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
  if (text.empty()) return;
  CLineReader reader(text.substr(1));
  char first = 0;
  char second = 0;
  std::int32_t code = 0;
  std::int32_t other = 0;
  float value = 0.0f;
  // A cost is valid from 0 to kMaxFileCost; anything else makes the line malformed.
  auto cost = [&value](std::int32_t& out) {
    if (!std::isfinite(value) || value < 0.0f || value > kMaxFileCost) return false;
    out = static_cast<std::int32_t>(value * static_cast<float>(kUnit));
    return true;
  };
  std::int32_t amount = 0;
  switch (text.front()) {
    case '.':
      if (!reader.Char(first) || !reader.Float(value) || !cost(amount)) return;
      AS_TRACE(3, "Thin char: [%c], cost %.3f", first, static_cast<double>(value));
      SetThinCost(static_cast<unsigned char>(first), amount);
      return;
    case ';':
      if (!reader.Char(first) || !reader.SkipSpace().Char(second) || !reader.Float(value) ||
          !cost(amount)) {
        return;
      }
      AS_TRACE(3, "Homeomorphic characters:  [%c] and [%c], cost %.3f", first, second,
               static_cast<double>(value));
      SetPairCost(static_cast<unsigned char>(first), static_cast<unsigned char>(second), amount);
      SetPairCost(static_cast<unsigned char>(first) - 32, static_cast<unsigned char>(second),
                  amount);
      return;
    case '*':
      if (!reader.Int(code) || !reader.Float(value) || !cost(amount)) return;
      AS_TRACE(3, "Special Thin char: [%d], cost %.3f", code, static_cast<double>(value));
      SetThinCost(code, amount);
      return;
    case ':':
      if (!reader.Int(code) || !reader.Int(other) || !reader.Float(value) || !cost(amount)) {
        return;
      }
      AS_TRACE(3, "Special Homeomorphic characters:  [%d] and [%d], cost %.3f", code, other,
               static_cast<double>(value));
      SetPairCost(code, other, amount);
      SetPairCost(code - 32, other, amount);
      return;
    default:
      return;
  }
}

void CWordFinder::LoadCosts(const char16_t* directory) {
  ascommon::usstring path;
  std::int32_t status = path.assign(directory != nullptr ? directory : u"");
  const std::size_t length = path.length();
  if (status == 0 && length > 0 && path.c_str()[length - 1] != u'\\' &&
      path.c_str()[length - 1] != u'/') {
    status = path.append(u"\\");
  }
  if (status == 0) status = path.append(kCostFileName);
  if (status != 0 || ascommon::IsFile(path.c_str()) == 0) {
    AS_TRACE(3, "No word finder cost file %S: the default costs stay",
             path.c_str() != nullptr ? path.c_str() : kCostFileName);
    return;
  }
  try {
    ascommon::CASFile file(path.c_str(), u"rb");
    char line[kMaxCostLine + 1];
    while (file.gets(line, static_cast<int>(sizeof line)) != nullptr) {
      const std::size_t read = std::strlen(line);
      ApplyCostLine(line);
      // The rest of a longer line is dropped, not read as lines of its own.
      bool ended = read < kMaxCostLine || line[read - 1] == '\n';
      while (!ended && file.gets(line, static_cast<int>(sizeof line)) != nullptr) {
        const std::size_t more = std::strlen(line);
        ended = more < kMaxCostLine || line[more - 1] == '\n';
      }
    }
  } catch (const ASException&) {
    // The open failure was traced by the file; the costs read so far stay.
  }
}

std::unique_ptr<CWordFinder::CStudy> CWordFinder::Study(const char16_t* text,
                                                        std::size_t length) const {
  AS_TRACE(3, "Studying buffer...");
  if (text == nullptr) {
    AS_THROW(0, ASBadPtrException, "Invalid buffer in the Word Finder Study() method!");
  }
  std::unique_ptr<CStudy> study(new (std::nothrow) CStudy());
  if (study == nullptr) AS_THROW(0, ASMemException, "memory problems");
  study->m_text = text;
  study->m_length = length;
  if (length > kMaxTextLength) {
    AS_TRACE(3, "The max buffer len is 200K. No study structure was created");
    return study;
  }
  study->m_wide = HasWide(text, length);
  AS_TRACE(3, "Buffer %s UNICODE characters", study->m_wide ? "contains" : "does not contain");
  AS_TRACE(3, "Buffer length is: %d", static_cast<int>(length));
  study->m_skip = length == 0 ? nullptr : ascommon::as_alloc_array_nt<std::int32_t>(length);
  if (study->m_skip == nullptr) {
    AS_TRACE(3, "Could not create the char cost array : low memory or the buffer might be empty!");
    return study;
  }
  for (std::size_t i = 0; i < length; ++i) {
    study->m_skip[i] = text[i] > 0xFF ? kWideSkipCost : m_thin[text[i]];
  }
  for (std::size_t i = 1; i < length; ++i) {
    if (IsLowerLetter(text[i]) && IsLowerLetter(text[i - 1])) continue;
    if (study->m_starts.Add(static_cast<std::uint32_t>(i)) != 0) {
      AS_TRACE(3, "Could not create the start positions array... low memory or the buffer "
                  "might be empty");
      return study;
    }
  }
  AS_TRACE(3, "There are %d start positions for this buffer.",
           static_cast<int>(study->m_starts.GetSize()));
  AS_TRACE(3, "WF Study complete.");
  study->m_complete = true;
  return study;
}

template <bool kTrackStart>
std::size_t CWordFinder::Scan(const char16_t* word, std::size_t wordLength, bool narrow,
                              std::size_t textLength, const CStudy& study,
                              std::int32_t threshold, bool stopAtFirst, Hit* hits) const {
  std::int32_t columns[2][kMaxWordLength + 1];
  std::uint32_t origins[2][kMaxWordLength + 1];  // where the cheapest path to a cell began
  std::uint8_t letters[kMaxWordLength];
  std::int32_t* old = columns[0];
  std::int32_t* cur = columns[1];
  std::uint32_t* oldOrigin = origins[0];
  std::uint32_t* curOrigin = origins[1];
  const std::size_t L = wordLength;
  for (std::size_t i = 0; i <= L; ++i) {
    old[i] = static_cast<std::int32_t>(i) * kUnit;
    oldOrigin[i] = 0;
  }
  for (std::size_t i = 0; i < L; ++i) letters[i] = static_cast<std::uint8_t>(word[i]);
  const char16_t* text = study.Text();
  const std::int32_t* skip = study.SkipCosts();
  const std::uint32_t* starts = study.StartPositions().GetData();
  const std::uint64_t startCount = study.StartPositions().GetSize();
  std::uint64_t nextStart = 0;
  const std::int32_t innerStart = static_cast<std::int32_t>(L) * kInnerStartCost;
  std::size_t count = 0;
  for (std::size_t j = 1; j <= textLength; ++j) {
    while (nextStart < startCount && starts[nextStart] < j) ++nextStart;
    const bool atStart = nextStart < startCount && starts[nextStart] == j;
    cur[0] = atStart ? 0 : innerStart;
    if constexpr (kTrackStart) curOrigin[0] = static_cast<std::uint32_t>(j);
    if (!narrow) {
      for (std::size_t i = 1; i <= L; ++i) cur[i] = cur[i - 1] + kUnit;
      if constexpr (kTrackStart) std::fill(curOrigin + 1, curOrigin + L + 1, curOrigin[0]);
    } else {
      const std::int32_t* pair = m_pair[text[j - 1]];
      const std::int32_t drop = skip[j - 1];
      for (std::size_t i = 1; i <= L; ++i) {
        std::int32_t best = old[i] + drop;
        std::int32_t substitute = old[i - 1] + pair[letters[i - 1]];
        std::int32_t insert = cur[i - 1] + kUnit;
        if constexpr (kTrackStart) {
          std::uint32_t origin = oldOrigin[i];
          if (substitute < best) best = substitute, origin = oldOrigin[i - 1];
          if (insert < best) best = insert, origin = curOrigin[i - 1];
          curOrigin[i] = origin;
        } else {
          best = std::min(best, std::min(substitute, insert));
        }
        cur[i] = best;
      }
    }
    if (cur[L] <= threshold) {
      const std::uint32_t origin = kTrackStart ? curOrigin[L] : 0;
      hits[count++] = Hit{cur[L], static_cast<std::uint32_t>(j), origin};
      if (stopAtFirst || count == kMaxHits) break;
    }
    std::swap(old, cur);
    std::swap(oldOrigin, curOrigin);
  }
  return count;
}

std::unique_ptr<CWordFinder::CMatchInfo> CWordFinder::Match(const char16_t* word,
                                                            std::size_t textLength,
                                                            const CStudy* study) const {
  if (word == nullptr || word[0] == 0) {
    AS_TRACE(3, "NULL Word to search in the Word Finder:: Match method!");
    return nullptr;
  }
  if (study == nullptr || study->Text() == nullptr) {
    AS_TRACE(3, "The buffer to be searched is NULL!");
    return nullptr;
  }
  textLength = std::min(textLength, study->Length());
  const std::size_t wordLength = std::char_traits<char16_t>::length(word);
  const bool wideWord = HasWide(word, wordLength);
  if (wideWord) AS_TRACE(3, "ATTN: Bad word %s unicode characters.", "contains");
  if (word[0] == u'*') return MatchStar(word, textLength, *study);
  if (!study->IsComplete()) {
    AS_TRACE(3, "Invalid study structure passed to the WF Match() method!");
    return nullptr;
  }
  if (wordLength > kMaxWordLength) {
    AS_TRACE(3, "WARNING: CWordFinder::Match(): word too long!");
    return nullptr;
  }
  const float tolerance = wordLength < 5 ? study->tolerance / 2.0f : study->tolerance;
  const float limit = tolerance * static_cast<float>(kUnit) * static_cast<float>(wordLength);
  // NaN and negative tolerances find nothing; the programme's costs stay far below 1e9.
  const std::int32_t threshold =
      !(limit >= 0.0f) ? -1 : limit > 1e9f ? 1000000000 : static_cast<std::int32_t>(limit);
  const bool narrow = !wideWord && !study->HasWide();
  Hit hits[kMaxHits];
  const bool stopAtFirst = study->detail == kExistence;
  const std::size_t count =
      study->detail == kPositions
          ? Scan<true>(word, wordLength, narrow, textLength, *study, threshold, false, hits)
          : Scan<false>(word, wordLength, narrow, textLength, *study, threshold, stopAtFirst,
                        hits);
  if (count == 0 || stopAtFirst) {
    std::unique_ptr<CMatchInfo> info(new (std::nothrow) CMatchInfo());
    if (info == nullptr) {
      AS_TRACE(0, "Not enough memory to allocate a word finder match structure");
      return nullptr;
    }
    info->found = count != 0 ? 1 : 0;
    return info;
  }
  return Rank(word, wordLength, study->detail, hits, count);
}

std::unique_ptr<CWordFinder::CMatchInfo> CWordFinder::Rank(const char16_t* word,
                                                           std::size_t wordLength,
                                                           std::int32_t detail, Hit* hits,
                                                           std::size_t count) const {
  std::stable_sort(hits, hits + count, [](const Hit& a, const Hit& b) { return a.cost < b.cost; });
  AS_TRACE(3, "Best match on buffer: Score %d   .... Position %d (word: %S)", hits[0].cost,
           static_cast<int>(hits[0].end), word);
  std::unique_ptr<CMatchInfo> info(new (std::nothrow) CMatchInfo());
  if (info == nullptr) {
    AS_TRACE(0, "Not enough memory to allocate a word finder match structure");
    return nullptr;
  }
  const std::int64_t radius = static_cast<std::int64_t>(wordLength * 3 / 2);
  bool suppressed[kMaxHits] = {};
  for (std::size_t a = 0; a < count; ++a) {
    if (suppressed[a]) continue;
    ++info->hitCount;
    info->worstScore = std::max(info->worstScore, hits[a].cost);
    if (detail == kPositions &&
        (info->positions.Add(hits[a].end) != 0 || info->starts.Add(hits[a].start) != 0)) {
      AS_TRACE(0, "Not enough memory to allocate a word finder match structure");
      return nullptr;
    }
    for (std::size_t b = a + 1; b < count; ++b) {
      const std::int64_t distance =
          static_cast<std::int64_t>(hits[b].end) - static_cast<std::int64_t>(hits[a].end);
      if (distance <= radius && distance >= -radius) suppressed[b] = true;
    }
  }
  AS_TRACE(3, "Real hit count: %d", info->hitCount);
  info->found = 1;
  info->bestScore = hits[0].cost;
  return info;
}

std::unique_ptr<CWordFinder::CMatchInfo> CWordFinder::MatchStar(const char16_t* word,
                                                                std::size_t textLength,
                                                                const CStudy& study) const {
  const std::u16string_view needle(word + 1);
  if (needle.empty()) {
    AS_TRACE(3, "Star-word is empty after the star!");
    return nullptr;
  }
  if (textLength > kMaxTextLength) {
    AS_TRACE(3, "The max buf len for star-words is 200K. Buffer exceeds. Hence we return NULL.");
    return nullptr;
  }
  const char16_t* text = study.Text();
  const char16_t* end = text + textLength;
  const char16_t* hit = nullptr;
  // An incomplete study did not look for wide characters.
  const bool wideText = study.IsComplete() ? study.HasWide() : HasWide(text, textLength);
  if (wideText || HasWide(needle.data(), needle.size())) {
    hit = std::search(text, end, needle.begin(), needle.end());
  } else {
    hit = std::search(text, end, needle.begin(), needle.end(),
                      [this](char16_t a, char16_t b) { return m_lower[a] == m_lower[b]; });
  }
  if (hit == end) return nullptr;
  const std::uint32_t position = static_cast<std::uint32_t>(hit - text);
  AS_TRACE(3, "----> Hit star word [%S], at position %d", word, static_cast<int>(position));
  std::unique_ptr<CMatchInfo> info(new (std::nothrow) CMatchInfo());
  if (info == nullptr || info->positions.Add(position) != 0) {
    AS_THROW(0, ASMemException, "Not enough mem for a match info structure");
  }
  info->found = 1;
  return info;
}
