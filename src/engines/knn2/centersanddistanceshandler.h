// CentersAndDistancesHandler: the cluster collection of a training run together with the
// center-to-center and center-to-item distance matrices, kept in step: appending, merging,
// removing a cluster and recomputing one update the matrices' lines and elements with it.
// Ownership: owns the clusters and matrices; borrows the items. Threads: one training run.
#pragma once

#include <cstdint>
#include <vector>

#include "engines/knn2/cluster.h"
#include "engines/knn2/distancematrix.h"
#include "engines/knn2/itemdescriptor.h"

class CentersAndDistancesHandler {
 public:
  explicit CentersAndDistancesHandler(std::vector<ItemDescriptor>& items);

  // A new cluster whose (borrowed) center is item's set; its matrix lines are added.
  void AppendCenterFromItem(std::uint32_t item);
  // Recomputes cluster k's center from its items, its distances and margin inputs, and its
  // row of center distances.
  void ChangeOneClustersToHisAverage(std::uint32_t k);
  // Moves j's items into i, removes j and marks i for recomputation (its margin 0).
  // KnnInconsistency on bad indexes.
  void Merge2Clusters(std::uint32_t i, std::uint32_t j);
  // Recomputes every cluster marked for recomputation.
  void RecomputeMarked();
  void RemoveCluster(std::uint32_t k);
  // Recomputes every cluster's extended margin from the all-cluster means.
  void UpdateMargins();
  // Between these two, appending and recomputing leave the center distances stale and the
  // end measures every pair once: c^2 / 2 distances instead of one full row per change.
  void DeferCenterDistances() noexcept { m_deferred = true; }
  void FillCenterDistances();
  // KnnInconsistency "The number of clusters in the cluster collection differs from the
  // number of lines in the distance matrixes" when out of step.
  void CheckConsistency() const;

  std::vector<Cluster>& Clusters() noexcept { return m_clusters; }
  SymetricDistanceMatrix& CenterDistances() noexcept { return m_centerDistances; }
  AsymetricDistanceMatrix& CentersToItems() noexcept { return m_centersToItems; }

 private:
  void UpdateCenterRow(std::uint32_t k);

  std::vector<ItemDescriptor>& m_items;
  std::vector<Cluster> m_clusters;
  SymetricDistanceMatrix m_centerDistances;
  AsymetricDistanceMatrix m_centersToItems;
  bool m_deferred = false;
};
