// CSummaryFeature: a layout summary (one symbol per line, link, block ... of a message) held
// as a string feature; its distance is an edit distance weighted by the symbols, divided by
// ten. Ownership and threads as for every CAFeature (cafeature.h).
#pragma once

#include "engines/feature/ustringfeature.h"

class CSummaryFeature : public CUStringFeature {
 public:
  CSummaryFeature() noexcept = default;

  // Weighted edit distance / 10: O(m * n) time, three rows of n + 1 cells; ASBadFeatureType
  // for another feature class. No normalizator is applied.
  std::uint32_t ComputeDistance(const CAFeature& other) const override;
  CAFeature* Clone() const override;  // the string only
};
