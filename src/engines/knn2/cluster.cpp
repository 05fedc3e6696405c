// Clusters: distances between a center and items or other centers, the statistics of the
// members and the recomputed center. A new center costs O(n) per integer feature and
// O(min(n, 64) x n) string distances per string or summary feature (the candidate members
// are at most 64, spread over the list, so large clusters stay linear). Tested by
// tests/engines/knn2/matrix_cluster_test.cpp and training_test.cpp.
#include "engines/knn2/cluster.h"

#include <algorithm>
#include <cfloat>
#include <memory>

#include "common/astrace.h"

namespace {
constexpr std::size_t kMaxCenterCandidates = 64;
}

Cluster::Cluster(CFeatureSet* center, bool owned, bool computed) noexcept
    : m_center(center), m_owned(owned), m_computed(computed) {}

Cluster::Cluster(const Cluster& other) { *this = other; }

Cluster& Cluster::operator=(const Cluster& other) {
  if (this == &other) return *this;
  if (other.m_owned && other.m_center != nullptr && !other.m_computed) {
    AS_THROW(0, BadCluster, "The received Cluster owns a FeatureSet that is not computed!");
  }
  CFeatureSet* center = other.m_center;
  if (other.m_owned && center != nullptr) center = center->Clone();
  Release();
  m_center = center;
  m_owned = other.m_owned;
  m_computed = other.m_computed;
  m_stats = other.m_stats;
  m_items = other.m_items;
  return *this;
}

Cluster::Cluster(Cluster&& other) noexcept { *this = std::move(other); }

Cluster& Cluster::operator=(Cluster&& other) noexcept {
  if (this == &other) return *this;
  Release();
  m_center = other.m_center;
  m_owned = other.m_owned;
  m_computed = other.m_computed;
  other.m_center = nullptr;
  other.m_owned = false;
  m_stats = other.m_stats;
  m_items = std::move(other.m_items);
  return *this;
}

Cluster::~Cluster() { Release(); }

void Cluster::Release() noexcept {
  if (m_owned) delete m_center;
  m_center = nullptr;
  m_owned = false;
}

void Cluster::SetCenter(CFeatureSet* center, bool owned, bool computed) noexcept {
  if (center != m_center) Release();
  m_center = center;
  m_owned = owned;
  m_computed = computed;
}

float Cluster::GetCurrentAverageDistance() const {
  if (!m_stats.avg) AS_THROW(0, ASException, "CurrentAverageDistance was not set nor computed");
  return *m_stats.avg;
}

float Cluster::GetCurrentMaxDistance() const {
  if (!m_stats.max) AS_THROW(0, ASException, "CurrentMaxDistance was not set nor computed");
  return *m_stats.max;
}

float Cluster::GetExtendedMargin() const {
  if (!m_stats.margin) AS_THROW(0, ASException, "The extended margin was not set nor computed");
  return *m_stats.margin;
}

void Cluster::ComputeExtendedMargin(float meanAverage, float meanMax) {
  const float margin = std::min(meanAverage, 2.0f * meanAverage - GetCurrentMaxDistance() -
                                                 GetCurrentAverageDistance() + meanMax);
  SetExtendedMargin(margin < 0.0f ? 0.0f : margin);
}

float Cluster::WeightedLimit(float wAvg, float wMax, float wDiff) const {
  return GetCurrentAverageDistance() * wAvg + GetCurrentMaxDistance() * wMax +
         GetExtendedMargin() * wDiff;
}

float Cluster::DistanceToItem(const CFeatureSet& item, const float* limit) const {
  if (m_center == nullptr) AS_THROW(0, BadCluster, "The cluster has no center!");
  const float distance = m_center->ComputeDistance(item, limit);
  AS_TRACE(3, "__Max dist = %f, Avg dist = %f", static_cast<double>(m_stats.max.value_or(0.0f)),
           static_cast<double>(m_stats.avg.value_or(0.0f)));
  return distance;
}

float Cluster::DistanceWithin(const CFeatureSet& item, float limit, bool& cut) const {
  if (m_center == nullptr) AS_THROW(0, BadCluster, "The cluster has no center!");
  cut = false;
  const std::uint32_t count = m_center->GetFeatureCount();
  // Mismatched counts and empty slots: the set's own distance raises their errors.
  if (item.GetFeatureCount() != count) return m_center->ComputeDistance(item, nullptr);
  float sum = 0.0f;
  for (std::uint32_t i = 0; i < count; ++i) {
    const CAFeature* local = m_center->GetFeature(i);
    const CAFeature* foreign = item.GetFeature(i);
    if (local == nullptr || foreign == nullptr) return m_center->ComputeDistance(item, nullptr);
    sum += static_cast<float>(local->ComputeDistance(*foreign));
    if (limit >= 0.0f && sum > limit) {
      cut = true;
      return sum;
    }
  }
  return sum;
}

float Cluster::DistanceToCluster(const Cluster& other) const {
  if (m_center == nullptr || other.m_center == nullptr) {
    AS_THROW(0, BadCluster, "The cluster has no center!");
  }
  return m_center->ComputeDistance(*other.m_center, nullptr);
}

void Cluster::AddItem(ItemDescriptor* item) {
  if (item == nullptr) AS_THROW(0, ASAbnormalFeatureSet, "NULL item provided!");
  m_items.push_back(item);
}

void Cluster::TakeItems(Cluster& other) {
  m_items.insert(m_items.end(), other.m_items.begin(), other.m_items.end());
  other.m_items.clear();
}

void Cluster::ComputeCalculableAverage() {
  if (m_items.empty()) AS_THROW(0, BadCluster, "The cluster has no items to average!");
  const CFeatureSet& first = *m_items.front()->fSet;
  const std::uint32_t features = first.GetFeatureCount();
  auto average = std::make_unique<CFeatureSet>();
  const std::size_t n = m_items.size();
  const std::size_t candidates = std::min(n, kMaxCenterCandidates);
  for (std::uint32_t f = 0; f < features; ++f) {
    std::unique_ptr<CAFeature> feature;
    if (first.GetFeature(f)->IsNumeric()) {
      ascommon::CArray<CAFeature*> others;
      for (std::size_t k = 1; k < n; ++k) {
        if (others.Add(const_cast<CAFeature*>(m_items[k]->fSet->GetFeature(f))) != 0) {
          AS_THROW(0, ASMemException, "memory problems");
        }
      }
      feature.reset(first.GetFeature(f)->ComputeCenter(others));
    } else {
      // The member whose largest distance to the others is least.
      AS_TRACE(3, "pre for mins.size()= %d, sz= %d, mLen= %d", static_cast<int>(candidates),
               static_cast<int>(n), static_cast<int>(features));
      std::size_t best = 0;
      std::uint32_t bestWorst = UINT32_MAX;
      for (std::size_t c = 0; c < candidates; ++c) {
        const std::size_t member = c * n / candidates;
        const CAFeature* mine = m_items[member]->fSet->GetFeature(f);
        std::uint32_t worst = 0;
        for (std::size_t k = 0; k < n && worst < bestWorst; ++k) {
          worst = std::max(worst, mine->ComputeDistance(*m_items[k]->fSet->GetFeature(f)));
        }
        if (worst < bestWorst) {
          bestWorst = worst;
          best = member;
        }
      }
      AS_TRACE(3, "Inserted pair!");
      feature.reset(m_items[best]->fSet->GetFeature(f)->Clone());
    }
    if (feature == nullptr) {
      AS_TRACE(0, "Logical Error! Should not reach this point");
      AS_THROW(0, BadCluster, "Unable to compute the center's feature %d", static_cast<int>(f));
    }
    if (average->AddFeature(feature.get()) != 0) AS_THROW(0, ASMemException, "memory problems");
    feature.release();
  }
  AS_TRACE(3, "_incompleteCalculatedAverage.GetNumberOfFeatures() = %d",
           static_cast<int>(average->GetFeatureCount()));
  SetCenter(average.release(), true, true);
}

void Cluster::ComputeStatistics() {
  const float n = static_cast<float>(m_items.size());
  float maximum = 0.0f;
  float average = 0.0f;
  for (ItemDescriptor* item : m_items) {
    const float d = DistanceToItem(*item->fSet, nullptr);
    item->secondDistance = d;
    maximum = std::max(maximum, d);
    average += d / n;
  }
  SetCurrentMaxDistance(maximum);
  SetCurrentAverageDistance(
      static_cast<float>(static_cast<std::uint32_t>(average * 1000.0f)) / 1000.0f);
}
