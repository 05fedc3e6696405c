// CAHistory: the trained model of the KNN engine: the feature definitions (how each feature
// of an item is measured and normalised) and the named clusters, with the search that
// places an item among them. CKNNFileHistory / CKNNFileHistoryv03 keep it in text files.
// Ownership: the history owns its clusters (and their centers) and its definitions.
// Threads: once loaded, Search and the definition accessors are safe for any number of
// concurrent readers; loading, AddClusters and SetSourceKind need the caller's exclusion.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "common/ustring.h"
#include "engines/feature/fsutils.h"
#include "engines/knn2/cluster.h"

class CCodeHeurEngine;

// Search statuses.
enum KnnSearchStatus : std::int32_t {
  kInsideClusterAvgDst = 0,   // within a cluster's average distance
  kInsideClusterMaxDst = 1,   // (never produced)
  kInsideClusterExtDst = 2,   // within a cluster's weighted limit
  kOutsideClusters = 3,       // outside every cluster
};

// Value kinds of a feature definition.
enum KnnValueKind : std::uint32_t { kKnnInt = 1, kKnnString = 3, kKnnSummary = 5 };

struct FeatureDefinition {
  ascommon::sstring name;
  std::uint32_t valueKind = 0;
  std::uint32_t sourceKind = kSourceUnset;
  ascommon::sstring function;       // "NONE", "NORMAL", "BOOL", "LINIAR"
  std::vector<float> params;
};

using ClusterMap = std::map<ascommon::sstring, Cluster>;  // iterated in name order

class CAHistory : public IFeatureDefinitions {
 public:
  CAHistory();
  ~CAHistory() override;
  CAHistory(const CAHistory&) = delete;
  CAHistory& operator=(const CAHistory&) = delete;

  virtual void DeSerialize() = 0;
  virtual void Serialize() = 0;
  // Copies every (name, cluster) pair of clusters into the history (same names replaced).
  virtual void AddClusters(const ClusterMap& clusters);
  // Places an item: a KnnSearchStatus, the chosen cluster's name and the item's distance
  // to it. O(clusters x features); each cluster's distance stops early at its limit.
  virtual std::int32_t Search(const CFeatureSet& item, ascommon::sstring& category,
                              float& distance) const = 0;

  // IFeatureDefinitions. GetFeatureName / GetSourceKind throw InvalidIndexException (-301).
  std::uint32_t GetFeatureCount() const override {
    return static_cast<std::uint32_t>(m_definitions.size());
  }
  const ascommon::sstring& GetFeatureName(std::uint32_t index) const override;
  std::uint32_t GetSourceKind(std::uint32_t index) const override;
  // The definition's normalisation (trace "Normalizam feature-ul %d : %s"): a string
  // feature gets a DistanceNormalizator with its single parameter, an integer feature is
  // mapped by its function. ASException with the normalisation messages.
  void ApplyNormalization(std::uint32_t index, CAFeature& feature) const override;
  // 0, or -301 when index is out of range.
  std::int32_t SetSourceKind(std::uint32_t index, std::uint32_t kind) noexcept;
  // Each definition becomes a heuristic feature (2) when heuristics has a heuristic of its
  // name, else an ASSL-expression feature (1).
  void MarkFeatureSources(const CCodeHeurEngine& heuristics);
  const std::vector<FeatureDefinition>& GetDefinitions() const noexcept { return m_definitions; }

  const ClusterMap& GetClusters() const noexcept { return m_clusters; }
  float GetPondereClusterAvgDists() const noexcept { return m_wAvg; }
  float GetPondereClusterMaxDists() const noexcept { return m_wMax; }
  float GetPondereClusterDiffDists() const noexcept { return m_wDiff; }
  // Weights of the clusters' limits; a new history has 0, 1, 1 (limit = maximum + margin).
  void SetWeights(float wAvg, float wMax, float wDiff) noexcept;
  // The history's distance scale: the first parameters of the normalised features plus 100
  // per unnormalised string or summary feature.
  float GetScale() const noexcept { return m_totalScale; }
  // Forgets the items the clusters were trained with (their sets belong to the trainer).
  void ClearAssignedItems() noexcept;

  // Mean and median of the clusters' average and maximum distances (training reports).
  struct Statistics { float avgMean, avgMedian, maxMean, maxMedian; };
  Statistics ComputeStatistics() const;

  // The integer normalisation functions: value v through name with params. ASException
  // with the messages of each function ("Different number of normalization params, %d !=
  // 3", "Improper quotas: ...", "Unknown verb = %s__").
  static std::int32_t Normalize(const char* function, std::int32_t value,
                                const std::vector<float>& params);

 protected:
  // The search over the clusters shared by the file histories.
  std::int32_t SearchClusters(const CFeatureSet& item, ascommon::sstring& category,
                              float& distance) const;
  // Adds a definition's share to the total scale.
  static float ScaleOf(const FeatureDefinition& definition) noexcept;

  ClusterMap m_clusters;
  std::vector<FeatureDefinition> m_definitions;
  float m_wAvg = 0.0f, m_wMax = 1.0f, m_wDiff = 1.0f;
  float m_totalScale = 0.0f;
};
