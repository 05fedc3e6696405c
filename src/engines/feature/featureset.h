// CFeatureSet: the ordered features that describe one item (a page or a message) and a
// name; the KNN engine compares items by the distance between their sets.
// Ownership: the set owns its features (deleted with the set). Threads: a set belongs to one
// thread at a time; ComputeDistance only reads both sets.
#pragma once

#include <cstdint>

#include "common/array.h"
#include "common/asmemory.h"
#include "common/ustring.h"
#include "engines/feature/cafeature.h"

class CFeatureSet : public ascommon::CASAllocated {
 public:
  // Called for every slot of the set in order, with the caller's argument.
  using FeatureCallback = void (*)(CAFeature*& feature, void* argument);

  CFeatureSet() noexcept = default;
  ~CFeatureSet();
  CFeatureSet(const CFeatureSet&) = delete;
  CFeatureSet& operator=(const CFeatureSet&) = delete;

  // Sum of the feature distances, in order. ASAbnormalFeatureSet when the counts differ,
  // ASException "Empty local Feature!" / "Empty foreign Feature!" for a null slot. When limit
  // is given and *limit >= 0, throws the running sum (a float) as soon as it exceeds *limit:
  // callers catch float to learn that the distance is beyond their limit.
  float ComputeDistance(const CFeatureSet& other, const float* limit) const;

  // ASBadFeatureNumber "Feature %d was requested, but there are only %d features available".
  const CAFeature* GetFeature(std::uint32_t index) const;
  CAFeature* GetFeature(std::uint32_t index);
  std::uint32_t GetFeatureCount() const noexcept {
    return static_cast<std::uint32_t>(m_features.GetSize());
  }

  // Appends a feature, which the set then owns. 0, or -2 when memory runs out (the feature
  // stays the caller's).
  std::int32_t AddFeature(CAFeature* feature);
  // Calls callback for every feature in order; ASEmptyFeature at a null slot.
  void ForEachFeature(FeatureCallback callback, void* argument);
  // The callback that deletes a feature and clears its slot (argument ignored).
  static void DeleteFeature(CAFeature*& feature, void* argument);

  // A new set with the same name and a clone of every feature; ASAbnormalFeatureSet "Unable
  // cu add cloned features!" when a clone cannot be made or added.
  CFeatureSet* Clone() const;

  const ascommon::sstring& GetName() const noexcept { return m_name; }
  std::int32_t SetName(const char* name) { return m_name.assign(name); }

 private:
  ascommon::CArray<CAFeature*> m_features;  // Owned features; a null slot is an error.
  ascommon::sstring m_name;
};
