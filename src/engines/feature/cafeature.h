// CAFeature: one measured property of an item (a whole number, a wide string or a layout
// summary), the unit the KNN engine compares items by; CAFeatureType names the kind of
// feature a heuristic fills. DistanceNormalizator scales a string distance by a factor.
// Ownership: a feature owns its normalizator. Threads: a feature belongs to one feature set
// and one thread at a time; distances only read both features.
#pragma once

#include <cstdint>

#include "common/array.h"
#include "common/asmemory.h"
#include "common/ustring.h"

enum CAFeatureType : std::int32_t {
  kFeatureNone = 0,     // the heuristic only answers conditions
  kFeatureInt = 1,      // CIntFeature
  kFeatureUString = 4,  // CUStringFeature
  kFeatureSummary = 5,  // CSummaryFeature
};

class DistanceNormalizator : public ascommon::CASAllocated {
 public:
  explicit DistanceNormalizator(float factor) noexcept;
  DistanceNormalizator(const DistanceNormalizator& other) noexcept;
  virtual void Normalize(std::uint32_t& distance) const noexcept;
  virtual ~DistanceNormalizator();
  float GetFactor() const noexcept { return m_factor; }

 private:
  float m_factor;
};

class CAFeature : public ascommon::CASAllocated {
 public:
  CAFeature() noexcept = default;
  CAFeature(const CAFeature&) = delete;
  // Base-part assignment: the target's normalizator is replaced by a copy of the source's.
  CAFeature& operator=(const CAFeature& other);

  virtual std::uint32_t ComputeDistance(const CAFeature& other) const = 0;
  // A new feature at the centre of this one and the list (which is emptied), or null.
  virtual CAFeature* ComputeCenter(ascommon::CArray<CAFeature*>& others) const = 0;
  virtual CAFeature* Clone() const = 0;
  virtual void Deserialize(const char* text, std::uint32_t& pos, std::uint32_t end) = 0;
  virtual ascommon::sstring Serialize() const = 0;
  virtual bool IsNumeric() const noexcept = 0;
  // Takes ownership of normalizator (the previous one is deleted).
  virtual void SetDistanceNormalizator(DistanceNormalizator* normalizator) noexcept;
  virtual const DistanceNormalizator* GetDistanceNormalizator() const noexcept;
  virtual ~CAFeature();

 protected:
  DistanceNormalizator* m_normalizator = nullptr;  // Owned.
};
