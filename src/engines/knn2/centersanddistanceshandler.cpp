// The training clusters with their matrices kept in step. Appending or recomputing a
// cluster measures its center against every other center: O(clusters) feature-set
// distances (or one pass over all pairs for a batch of changes, FillCenterDistances); merging and removing move O(clusters^2) triangle cells at worst. Tested by
// tests/engines/knn2/training_test.cpp.
#include "engines/knn2/centersanddistanceshandler.h"

#include "common/astrace.h"

CentersAndDistancesHandler::CentersAndDistancesHandler(std::vector<ItemDescriptor>& items)
    : m_items(items), m_centersToItems(0, static_cast<std::uint32_t>(items.size())) {}

void CentersAndDistancesHandler::CheckConsistency() const {
  if (m_clusters.size() != m_centerDistances.GetNumberOfElems() ||
      m_clusters.size() != m_centersToItems.GetNumberOfLines()) {
    AS_THROW(0, KnnInconsistency,
             "The number of clusters in the cluster collection differs from the number of lines "
             "in the distance matrixes");
  }
  if (m_centersToItems.GetNumberOfColumns() != m_items.size()) {
    AS_THROW(0, KnnInconsistency,
             "Inconsitency between the number of collumns of the asymetric matrixes!");
  }
}

void CentersAndDistancesHandler::FillCenterDistances() {
  m_deferred = false;
  for (std::uint32_t k = 0; k < m_clusters.size(); ++k) {
    for (std::uint32_t j = 0; j <= k; ++j) {
      m_centerDistances.Set(k, j, j == k ? 0.0f : m_clusters[k].DistanceToCluster(m_clusters[j]));
    }
  }
}

void CentersAndDistancesHandler::UpdateCenterRow(std::uint32_t k) {
  if (m_deferred) return;
  for (std::uint32_t j = 0; j < m_clusters.size(); ++j) {
    m_centerDistances.Set(k, j, j == k ? 0.0f : m_clusters[k].DistanceToCluster(m_clusters[j]));
  }
}

void CentersAndDistancesHandler::AppendCenterFromItem(std::uint32_t item) {
  CheckConsistency();
  if (item >= m_items.size()) {
    AS_THROW(0, KnnInconsistency,
             "Inconsitency between the clusters collection's to be added size, and it's matrixes size!");
  }
  m_clusters.emplace_back(const_cast<CFeatureSet*>(m_items[item].fSet), false, true);
  m_centerDistances.AddElement();
  m_centersToItems.AddLine();
  UpdateCenterRow(static_cast<std::uint32_t>(m_clusters.size() - 1));
}

void CentersAndDistancesHandler::ChangeOneClustersToHisAverage(std::uint32_t k) {
  if (k >= m_clusters.size()) {
    AS_THROW(0, KnnInconsistency, "There are only %d clusters!", static_cast<int>(m_clusters.size()));
  }
  Cluster& cluster = m_clusters[k];
  cluster.ComputeCalculableAverage();
  cluster.ComputeStatistics();
  for (ItemDescriptor* item : cluster.GetItems()) item->clusterIndex = k;
  UpdateCenterRow(k);
}

void CentersAndDistancesHandler::RemoveCluster(std::uint32_t k) {
  CheckConsistency();
  if (k >= m_clusters.size()) {
    AS_THROW(0, KnnInconsistency, "There are only %d clusters!", static_cast<int>(m_clusters.size()));
  }
  m_clusters.erase(m_clusters.begin() + k);
  m_centerDistances.Remove(k);
  m_centersToItems.Remove(k);
}

void CentersAndDistancesHandler::Merge2Clusters(std::uint32_t i, std::uint32_t j) {
  if (i == j || i >= m_clusters.size() || j >= m_clusters.size()) {
    AS_THROW(0, KnnInconsistency, "Something went terribly wrong when merging two clusters!");
  }
  m_clusters[i].TakeItems(m_clusters[j]);
  RemoveCluster(j);
  const std::uint32_t survivor = j < i ? i - 1 : i;
  m_clusters[survivor].SetExtendedMargin(0.0f);
  m_clusters[survivor].MarkForRecomputation();
}

void CentersAndDistancesHandler::RecomputeMarked() {
  for (std::uint32_t k = 0; k < m_clusters.size(); ++k) {
    if (!m_clusters[k].IsCenterComputed() && !m_clusters[k].GetItems().empty()) {
      ChangeOneClustersToHisAverage(k);
    }
  }
}

void CentersAndDistancesHandler::UpdateMargins() {
  if (m_clusters.empty()) return;
  float sumAverage = 0.0f, sumMax = 0.0f;
  for (const Cluster& cluster : m_clusters) {
    const float average = cluster.GetCurrentAverageDistance();
    const float maximum = cluster.GetCurrentMaxDistance();
    if (average >= 0.001f) sumAverage += average;
    if (maximum >= 0.001f) sumMax += maximum;
  }
  const float count = static_cast<float>(m_clusters.size());
  for (Cluster& cluster : m_clusters) cluster.ComputeExtendedMargin(sumAverage / count, sumMax / count);
}
