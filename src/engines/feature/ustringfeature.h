// CUStringFeature: a feature holding a wide string; its distance is the edit distance with
// adjacent transpositions, scaled by the feature's normalizator when it has one. Its text
// form is the UTF-8 byte length, '_' and the UTF-8 bytes.
// Ownership and threads as for every CAFeature (cafeature.h).
#pragma once

#include <cstdint>

#include "engines/feature/cafeature.h"

class CUStringFeature : public CAFeature {
 public:
  CUStringFeature() noexcept = default;

  virtual void SetString(const ascommon::usstring& value);  // ASMemException when out of memory
  virtual ascommon::usstring GetString() const { return m_value; }
  const ascommon::usstring& GetValue() const noexcept { return m_value; }

  // Edit distance over UTF-16 units: O(m * n) time, three rows of n + 1 cells (ASException
  // "Unable to alloc!" when they cannot be allocated); ASBadFeatureType for a non-string.
  std::uint32_t ComputeDistance(const CAFeature& other) const override;
  // Strings have no centre: the list is emptied and null returned.
  CAFeature* ComputeCenter(ascommon::CArray<CAFeature*>& others) const override;
  CAFeature* Clone() const override;  // value and normalizator
  // Reads "L_" and L UTF-8 bytes at pos within text[0..end]; pos ends just after them.
  void Deserialize(const char* text, std::uint32_t& pos, std::uint32_t end) override;
  ascommon::sstring Serialize() const override;
  bool IsNumeric() const noexcept override { return false; }

 protected:
  ascommon::usstring m_value;
};

namespace feature_detail {
// Three rows of row-length cells of a distance table, freed on every path.
class CDistanceRows {
 public:
  explicit CDistanceRows(std::uint64_t rowLength);  // ASException "Unable to alloc!"
  ~CDistanceRows();
  CDistanceRows(const CDistanceRows&) = delete;
  CDistanceRows& operator=(const CDistanceRows&) = delete;
  // Row i of the table (i >= 0), kept in a ring of three.
  std::uint32_t* Row(std::uint64_t i) const noexcept { return m_rows[i % 3]; }

 private:
  std::uint32_t* m_rows[3] = {nullptr, nullptr, nullptr};  // Owned.
};
}  // namespace feature_detail
