// ItemDescriptor: one item taking part in training: its feature set and the two distances
// the centers extraction keeps for it (the join radius of the next assignment and the
// distance to its own center) with the index of its cluster.
// Ownership: the feature set is not owned and must outlive the descriptor. Threads: one
// training run at a time owns its descriptors.
#pragma once

#include <cfloat>
#include <cstdint>

#include "common/astrace.h"
#include "engines/feature/featureset.h"

struct ItemDescriptor {
  // ASException "Null pointer provided to ItemDescriptor" for a null set.
  explicit ItemDescriptor(const CFeatureSet* set) : fSet(set) {
    if (set == nullptr) AS_THROW(0, ASException, "Null pointer provided to ItemDescriptor");
  }
  // The training item's file name (the feature set's name).
  const char* GetCorrespondingFileName() const noexcept {
    return fSet->GetName().is_null() ? "" : fSet->GetName().c_str();
  }

  const CFeatureSet* fSet;               // Not owned.
  float firstDistance = FLT_MAX;         // join radius: the walk stops at a center this close
  float secondDistance = FLT_MAX;        // distance to the center of its cluster
  std::uint32_t clusterIndex = 0;
};
