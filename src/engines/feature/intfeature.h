// CIntFeature: a feature holding a signed 32-bit number (counts and flags of an item); its
// distance is the absolute difference and the centre of several is their rounded mean.
// Ownership and threads as for every CAFeature (cafeature.h).
#pragma once

#include <cstdint>

#include "engines/feature/cafeature.h"

class CIntFeature : public CAFeature {
 public:
  CIntFeature() noexcept = default;
  explicit CIntFeature(std::int32_t value) noexcept : m_value(value) {}

  std::int32_t GetInfo() const noexcept { return m_value; }
  void SetInfo(std::int32_t value) noexcept { m_value = value; }

  // |this - other| in 32-bit two's complement; ASBadFeatureType for another feature class.
  std::uint32_t ComputeDistance(const CAFeature& other) const override;
  // The mean of this value and the list's, an exact half rounded down; the list is emptied.
  CAFeature* ComputeCenter(ascommon::CArray<CAFeature*>& others) const override;
  CAFeature* Clone() const override;
  // Reads a decimal number at pos (blanks before it skipped) within text[0..end], then skips
  // one separator: pos ends one past the character after the number.
  void Deserialize(const char* text, std::uint32_t& pos, std::uint32_t end) override;
  ascommon::sstring Serialize() const override;
  bool IsNumeric() const noexcept override { return true; }

 private:
  std::int32_t m_value = 0;
};

namespace feature_detail {
// Reads [blanks][sign]digits from text[pos..end] into value (32-bit range). On success pos
// is the index after the last digit. False when there is no digit or the number overflows.
bool ReadDecimal(const char* text, std::uint32_t& pos, std::uint32_t end,
                 std::int32_t& value) noexcept;
}  // namespace feature_detail
