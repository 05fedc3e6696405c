// CSummaryFeature distance: an edit distance whose costs depend on the symbols. Structural
// symbols (B, E, U, s) cost 30 to insert or delete, N 20, the rest 10; substitutions between
// related symbols (N, U, W) cost less than between unrelated ones. Rows as in
// ustringfeature.cpp: O(m * n) time, 3 * (n + 1) cells.
// Tested by tests/engines/feature/feature_test.cpp.
#include "engines/feature/summaryfeature.h"

#include <algorithm>

#include "common/astrace.h"

namespace {

std::uint32_t IndelCost(char16_t symbol) noexcept {
  switch (static_cast<char>(symbol & 0xFF)) {
    case 'B': case 'E': case 'U': case 's': return 30;
    case 'N': return 20;
    default: return 10;
  }
}

std::uint32_t SubstitutionCost(char16_t from, char16_t to) noexcept {
  const char x = static_cast<char>(from & 0xFF);
  const char y = static_cast<char>(to & 0xFF);
  switch (x) {
    case 'B': case 'E': case 's': return y == x ? 0 : 30;
    case 'N': return y == 'N' ? 0 : y == 'U' ? 20 : y == 'W' ? 12 : 10;
    case 'U': return y == 'U' ? 0 : y == 'N' ? 20 : y == 'W' ? 12 : 10;
    case 'W': return y == 'W' ? 0 : y == 'N' ? 12 : y == 'U' ? 16 : 10;
    default: return 10;
  }
}

}  // namespace

std::uint32_t CSummaryFeature::ComputeDistance(const CAFeature& other) const {
  const auto* summary = dynamic_cast<const CSummaryFeature*>(&other);
  if (summary == nullptr)
    AS_THROW(0, ASBadFeatureType,
             "CSummaryFeature::ComputeDistance did not receive a CSummaryFeature* !");
  AS_TRACE(3, "Inside %s", "CSummaryFeature::ComputeDistance");
  const char16_t* a = m_value.c_str();
  const char16_t* b = summary->m_value.c_str();
  const std::uint64_t m = m_value.length();
  const std::uint64_t n = summary->m_value.length();
  AS_TRACE(3, "m=%d, n=%d", static_cast<int>(m), static_cast<int>(n));
  if (m == 0) return static_cast<std::uint32_t>(n);
  if (n == 0) return static_cast<std::uint32_t>(m);

  feature_detail::CDistanceRows rows(n + 1);
  std::uint32_t* first = rows.Row(0);
  first[0] = 0;
  for (std::uint64_t j = 1; j <= n; ++j) first[j] = first[j - 1] + IndelCost(b[j - 1]);
  for (std::uint64_t i = 1; i <= m; ++i) {
    std::uint32_t* row = rows.Row(i);
    const std::uint32_t* up = rows.Row(i - 1);
    const std::uint32_t* up2 = rows.Row(i - 2);  // meaningful from i = 2 on
    row[0] = up[0] + IndelCost(a[i - 1]);
    for (std::uint64_t j = 1; j <= n; ++j) {
      // Deleting a[i-1] adds the whole column-0 value of this row, not just its own cost.
      std::uint32_t best = std::min(up[j] + row[0], row[j - 1] + IndelCost(b[j - 1]));
      best = std::min(best, up[j - 1] + SubstitutionCost(a[i - 1], b[j - 1]));
      if (i >= 2 && j >= 2) {
        const std::uint32_t swapped = up2[j - 2] + 10 + SubstitutionCost(a[i - 2], b[j - 1]) +
                                      SubstitutionCost(a[i - 1], b[j - 2]);
        best = std::min(best, swapped);
      }
      row[j] = best;
    }
  }
  return rows.Row(m)[n] / 10;
}

CAFeature* CSummaryFeature::Clone() const {
  auto* copy = new CSummaryFeature();
  try {
    copy->SetString(m_value);
  } catch (...) {
    delete copy;
    throw;
  }
  return copy;
}
