// Cluster: a named group of similar items: a center feature set, the average and maximum
// distance of its members from the center and an extended margin, and (while training) the
// items assigned to it.
// Ownership: the center is owned when the cluster says so (a loaded or computed center) and
// borrowed otherwise (an item's set chosen as a first center); assigned items are not owned.
// Threads: const operations may run from any number of threads (the history's Search does);
// the mutating ones belong to one training run.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "engines/feature/featureset.h"
#include "engines/knn2/itemdescriptor.h"

class Cluster {
 public:
  Cluster() noexcept = default;
  // center: owned when owned is set. computed: the center is a finished feature set.
  Cluster(CFeatureSet* center, bool owned, bool computed) noexcept;
  // Copies center (a clone when owned, the pointer when borrowed), distances, flags and the
  // list of assigned items (still not owned).
  // BadCluster "The received Cluster owns a FeatureSet that is not computed!" when the
  // source owns a center that is not computed.
  Cluster(const Cluster& other);
  Cluster& operator=(const Cluster& other);
  Cluster(Cluster&& other) noexcept;
  Cluster& operator=(Cluster&& other) noexcept;
  ~Cluster();

  const CFeatureSet* GetCenter() const noexcept { return m_center; }
  // Replaces the center (the previous one is deleted when owned).
  void SetCenter(CFeatureSet* center, bool owned, bool computed) noexcept;
  bool IsCenterComputed() const noexcept { return m_computed; }
  // The center no longer fits the members (after a merge) until recomputed.
  void MarkForRecomputation() noexcept { m_computed = false; }

  // ASException "CurrentAverageDistance was not set nor computed", "CurrentMaxDistance was
  // not set nor computed", "The extended margin was not set nor computed".
  float GetCurrentAverageDistance() const;
  float GetCurrentMaxDistance() const;
  float GetExtendedMargin() const;
  bool IsAverageSet() const noexcept { return m_stats.avg.has_value(); }
  bool IsMaxSet() const noexcept { return m_stats.max.has_value(); }
  void SetCurrentAverageDistance(float value) noexcept { m_stats.avg = value; }
  void SetCurrentMaxDistance(float value) noexcept { m_stats.max = value; }
  void SetExtendedMargin(float value) noexcept { m_stats.margin = value; }
  // margin = min(A, 2A - max - avg + M), 0 when negative; A and M are the means over all
  // clusters of the average and maximum distances. Both distances must be set.
  void ComputeExtendedMargin(float meanAverage, float meanMax);
  // avg x wAvg + max x wMax + margin x wDiff.
  float WeightedLimit(float wAvg, float wMax, float wDiff) const;

  // Feature-set distance from the center to an item; with limit >= 0 the computation stops
  // by throwing the partial sum (a float) as soon as it exceeds *limit.
  float DistanceToItem(const CFeatureSet& item, const float* limit) const;
  // The same sum without throwing: stops as soon as it exceeds limit (when limit >= 0),
  // sets cut and returns the partial sum. Errors as for the feature-set distance. The
  // search and the assignment use it: a thrown float costs an allocation and an unwind.
  float DistanceWithin(const CFeatureSet& item, float limit, bool& cut) const;
  float DistanceToCluster(const Cluster& other) const;

  // ASAbnormalFeatureSet "NULL item provided!".
  void AddItem(ItemDescriptor* item);
  const std::vector<ItemDescriptor*>& GetItems() const noexcept { return m_items; }
  void ClearItems() noexcept { m_items.clear(); }
  // Moves the other cluster's items into this one.
  void TakeItems(Cluster& other);

  // A new center from the assigned items: integer features the rounded mean, string and
  // summary features the member whose largest distance to the others is least. The center
  // becomes owned and computed. Needs at least one item.
  void ComputeCalculableAverage();
  // CurrentMaxDistance and CurrentAverageDistance (cut to three decimals) of the members
  // from the center; each member's secondDistance becomes its distance to the center.
  void ComputeStatistics();

 private:
  void Release() noexcept;

  CFeatureSet* m_center = nullptr;  // Owned when m_owned.
  bool m_owned = false;
  bool m_computed = false;
  // The members' distance statistics, each absent until set or computed.
  struct Statistics {
    std::optional<float> avg, max, margin;
  } m_stats;
  std::vector<ItemDescriptor*> m_items;  // Not owned.
};
