// CFeatureSet: distance with an early cut-off, indexed access, callbacks and cloning.
// Distance: one feature distance per slot, O(sum of the feature distances' costs).
// Tested by tests/engines/feature/feature_test.cpp.
#include "engines/feature/featureset.h"

#include <memory>

#include "common/astrace.h"

CFeatureSet::~CFeatureSet() {
  for (std::uint64_t i = 0; i < m_features.GetSize(); ++i) delete m_features[i];
}

float CFeatureSet::ComputeDistance(const CFeatureSet& other, const float* limit) const {
  const std::uint64_t count = m_features.GetSize();
  if (count != other.m_features.GetSize())
    AS_THROW(0, ASAbnormalFeatureSet, "Different number of features between FeatureSets: %d != %d ",
             static_cast<int>(count), static_cast<int>(other.m_features.GetSize()));
  float sum = 0.0f;
  for (std::uint64_t i = 0; i < count; ++i) {
    const CAFeature* local = m_features[i];
    const CAFeature* foreign = other.m_features[i];
    if (local == nullptr) AS_THROW(0, ASException, "Empty local Feature!");
    if (foreign == nullptr) AS_THROW(0, ASException, "Empty foreign Feature!");
    sum += static_cast<float>(local->ComputeDistance(*foreign));
    if (limit != nullptr && *limit >= 0.0f && sum > *limit) {
      AS_TRACE(3, "Returned intermediary distance!");
      throw sum;
    }
  }
  return sum;
}

const CAFeature* CFeatureSet::GetFeature(std::uint32_t index) const {
  if (index >= m_features.GetSize())
    AS_THROW(0, ASBadFeatureNumber,
             "Feature %d was requested, but there are only %d features available",
             static_cast<int>(index), static_cast<int>(m_features.GetSize()));
  return m_features[index];
}

CAFeature* CFeatureSet::GetFeature(std::uint32_t index) {
  return const_cast<CAFeature*>(static_cast<const CFeatureSet*>(this)->GetFeature(index));
}

std::int32_t CFeatureSet::AddFeature(CAFeature* feature) { return m_features.Add(feature); }

void CFeatureSet::ForEachFeature(FeatureCallback callback, void* argument) {
  for (std::uint64_t i = 0; i < m_features.GetSize(); ++i) {
    if (m_features[i] == nullptr)
      AS_THROW(0, ASEmptyFeature, "FeatureSet contains empty features!");
    callback(m_features[i], argument);
  }
}

void CFeatureSet::DeleteFeature(CAFeature*& feature, void* argument) {
  AS_TRACE_UNUSED("DeleteFeature", argument != nullptr ? "argument" : "null");
  delete feature;
  feature = nullptr;
}

CFeatureSet* CFeatureSet::Clone() const {
  std::unique_ptr<CFeatureSet> copy(new CFeatureSet());
  if (copy->SetName("___") != 0 || copy->m_name.assign(m_name) != 0)
    AS_THROW(0, ASMemException, "memory problems");
  for (std::uint64_t i = 0; i < m_features.GetSize(); ++i) {
    std::unique_ptr<CAFeature> feature(m_features[i] != nullptr ? m_features[i]->Clone() : nullptr);
    if (feature == nullptr || copy->AddFeature(feature.get()) != 0)
      AS_THROW(0, ASAbnormalFeatureSet, "Unable cu add cloned features!");
    feature.release();
  }
  return copy.release();
}
