// CUStringFeature: edit distance with transpositions and the length-prefixed UTF-8 form.
// The distance fills the classic table row by row, keeping only rows i-2..i (a transposition
// looks two rows back): O(m * n) time, 3 * (n + 1) cells.
// Tested by tests/engines/feature/feature_test.cpp.
#include "engines/feature/ustringfeature.h"

#include <algorithm>
#include <cstdio>

#include "common/astrace.h"
#include "common/convert.h"
#include "engines/feature/intfeature.h"

namespace feature_detail {

CDistanceRows::CDistanceRows(std::uint64_t rowLength) {
  for (std::uint32_t*& row : m_rows) {
    row = ascommon::as_alloc_array_nt<std::uint32_t>(rowLength);
    if (row == nullptr) {
      for (std::uint32_t*& allocated : m_rows) ascommon::as_free(allocated);
      AS_THROW(0, ASException, "Unable to alloc!");
    }
  }
}

CDistanceRows::~CDistanceRows() {
  for (std::uint32_t* row : m_rows) ascommon::as_free(row);
}

}  // namespace feature_detail

void CUStringFeature::SetString(const ascommon::usstring& value) {
  if (m_value.assign(value) != 0) AS_THROW(0, ASMemException, "memory problems");
}

std::uint32_t CUStringFeature::ComputeDistance(const CAFeature& other) const {
  const auto* text = dynamic_cast<const CUStringFeature*>(&other);
  if (text == nullptr)
    AS_THROW(0, ASBadFeatureType,
             "CUStringFeature::ComputeDistance did not receive a CUStringFeature* !");
  const char16_t* a = m_value.c_str();
  const char16_t* b = text->m_value.c_str();
  const std::uint64_t m = m_value.length();
  const std::uint64_t n = text->m_value.length();
  if (m == 0) return static_cast<std::uint32_t>(n);
  if (n == 0) return static_cast<std::uint32_t>(m);

  feature_detail::CDistanceRows rows(n + 1);
  std::uint32_t* first = rows.Row(0);
  for (std::uint64_t j = 0; j <= n; ++j) first[j] = static_cast<std::uint32_t>(j);
  for (std::uint64_t i = 1; i <= m; ++i) {
    std::uint32_t* row = rows.Row(i);
    const std::uint32_t* up = rows.Row(i - 1);
    const std::uint32_t* up2 = rows.Row(i - 2);  // meaningful from i = 2 on
    row[0] = static_cast<std::uint32_t>(i);
    for (std::uint64_t j = 1; j <= n; ++j) {
      std::uint32_t best = std::min(up[j] + 1, row[j - 1] + 1);
      best = std::min(best, up[j - 1] + (a[i - 1] != b[j - 1] ? 1u : 0u));
      if (i >= 3 && j >= 3) {
        const std::uint32_t swapped = up2[j - 2] + 1 + (a[i - 2] != b[j - 1] ? 1u : 0u) +
                                      (a[i - 1] != b[j - 2] ? 1u : 0u);
        best = std::min(best, swapped);
      }
      row[j] = best;
    }
  }
  std::uint32_t distance = rows.Row(m)[n];
  if (m_normalizator != nullptr) {
    AS_TRACE(3, "Normalized");
    m_normalizator->Normalize(distance);
  }
  return distance;
}

CAFeature* CUStringFeature::ComputeCenter(ascommon::CArray<CAFeature*>& others) const {
  others.RemoveAll();
  return nullptr;
}

CAFeature* CUStringFeature::Clone() const {
  auto* copy = new CUStringFeature();
  try {
    copy->SetString(m_value);
    if (m_normalizator != nullptr)
      copy->SetDistanceNormalizator(new DistanceNormalizator(*m_normalizator));
  } catch (...) {
    delete copy;
    throw;
  }
  return copy;
}

void CUStringFeature::Deserialize(const char* text, std::uint32_t& pos, std::uint32_t end) {
  if (pos >= end || text == nullptr || text[0] == '\0' || end == 0)
    AS_THROW(0, ASException, "Bad string: %s, or begining: %d, or end: %d!", text,
             static_cast<int>(pos), static_cast<int>(end));
  std::uint32_t at = pos;
  std::int32_t length = 0;
  if (!feature_detail::ReadDecimal(text, at, end, length))
    AS_THROW(0, ASException, "Unable to extract int value from %s", text);
  // The separator, then exactly length bytes, all inside text[0..end].
  if (at > end || text[at] != '_' || length < 0 ||
      static_cast<std::uint64_t>(at) + static_cast<std::uint64_t>(length) > end)
    AS_THROW(0, ASException, "Bad string: %s, or begining: %d, or end: %d!", text,
             static_cast<int>(pos), static_cast<int>(end));
  ascommon::usstring value;
  if (ascommon::Utf8ToUsstring(text + at + 1, static_cast<std::size_t>(length), value) != 0)
    AS_THROW(0, ASException, "Conversion to usstring failed for %s", text);
  m_value = std::move(value);
  pos = at + 1 + static_cast<std::uint32_t>(length);
}

ascommon::sstring CUStringFeature::Serialize() const {
  ascommon::sstring utf8;
  if (ascommon::UsstringToUtf8(m_value, utf8) != 0)
    AS_THROW(0, ASException, "Conversion to UTF-8 failed for a string feature");
  char prefix[24];
  std::snprintf(prefix, sizeof prefix, "%zu_", utf8.length());
  ascommon::sstring text(prefix);
  if (text.append(utf8.c_str(), utf8.length()) != 0)
    AS_THROW(0, ASMemException, "memory problems");
  return text;
}
