// CIntFeature: distance, rounded-mean centre and decimal text form.
// Tested by tests/engines/feature/feature_test.cpp.
#include "engines/feature/intfeature.h"

#include <cmath>
#include <cstdio>

#include "common/astrace.h"

namespace feature_detail {

bool ReadDecimal(const char* text, std::uint32_t& pos, std::uint32_t end,
                 std::int32_t& value) noexcept {
  std::uint64_t i = pos;
  while (i <= end && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i <= end && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  const std::uint64_t firstDigit = i;
  std::int64_t magnitude = 0;
  for (; i <= end && text[i] >= '0' && text[i] <= '9'; ++i) {
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > 2147483648LL) return false;
  }
  if (i == firstDigit) return false;
  const std::int64_t signedValue = negative ? -magnitude : magnitude;
  if (signedValue > 2147483647LL) return false;
  value = static_cast<std::int32_t>(signedValue);
  pos = static_cast<std::uint32_t>(i);
  return true;
}

}  // namespace feature_detail

std::uint32_t CIntFeature::ComputeDistance(const CAFeature& other) const {
  const auto* number = dynamic_cast<const CIntFeature*>(&other);
  if (number == nullptr)
    AS_THROW(0, ASBadFeatureType, "Wrong feature type received for feature distance!");
  // The difference wraps as 32-bit integers do, then its absolute value is taken.
  const std::uint32_t difference =
      static_cast<std::uint32_t>(m_value) - static_cast<std::uint32_t>(number->m_value);
  return static_cast<std::int32_t>(difference) < 0 ? 0u - difference : difference;
}

CAFeature* CIntFeature::ComputeCenter(ascommon::CArray<CAFeature*>& others) const {
  const float n = static_cast<float>(others.GetSize() + 1);
  float mean = static_cast<float>(m_value) / n;
  for (std::uint64_t i = 0; i < others.GetSize(); ++i) {
    const auto* number = dynamic_cast<const CIntFeature*>(others[i]);
    if (number == nullptr)
      AS_THROW(0, ASBadFeatureType, "Invalid feature type! Dynamic cast failed!");
    mean += static_cast<float>(number->m_value) / n;
  }
  float rounded = std::floor(mean);
  if (mean - rounded > 0.5f) rounded = std::ceil(mean);
  // Float rounding may carry a mean of values near the ends just past the 32-bit range.
  std::int32_t value;
  if (rounded >= 2147483647.0f) {
    value = 2147483647;
  } else if (rounded <= -2147483648.0f) {
    value = -2147483647 - 1;
  } else {
    value = static_cast<std::int32_t>(rounded);
  }
  others.RemoveAll();
  return new CIntFeature(value);
}

CAFeature* CIntFeature::Clone() const { return new CIntFeature(m_value); }

void CIntFeature::Deserialize(const char* text, std::uint32_t& pos, std::uint32_t end) {
  if (pos > end || text == nullptr || text[0] == '\0' || end == 0)
    AS_THROW(0, ASException, "Bad string: %s, or begining: %d, or end: %d!", text,
             static_cast<int>(pos), static_cast<int>(end));
  std::int32_t value = 0;
  if (!feature_detail::ReadDecimal(text, pos, end, value))
    AS_THROW(0, ASException, "Unable to extract int value from %s", text);
  m_value = value;
  ++pos;  // the separator after the number
}

ascommon::sstring CIntFeature::Serialize() const {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%d", static_cast<int>(m_value));
  return ascommon::sstring(digits);
}
