// The KNN history's model: feature definitions with their normalisation, the clusters and
// the search. Search walks the clusters in name order and measures each with a cut-off at
// the cluster's weighted limit: O(clusters x features) feature distances at most, no heap
// allocation beyond what a string feature's distance needs. Tested by
// tests/engines/knn2/history_test.cpp.
#include "engines/knn2/cahistory.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "common/astrace.h"
#include "engines/codeheur/codeheurengine.h"
#include "engines/feature/intfeature.h"
#include "engines/feature/ustringfeature.h"

namespace {

std::int32_t Truncate(float value) noexcept {
  if (!(value == value)) return 0;
  if (value >= 2147483647.0f) return 2147483647;
  if (value <= -2147483648.0f) return -2147483647 - 1;
  return static_cast<std::int32_t>(value);
}

void NeedParams(const std::vector<float>& params, std::size_t count) {
  if (params.size() != count) {
    AS_THROW(0, ASException, "Different number of normalization params, %d != %d",
             static_cast<int>(params.size()), static_cast<int>(count));
  }
}

std::int32_t NormalLog(std::int32_t value, const std::vector<float>& params) {
  NeedParams(params, 3);
  const float maxY = params[0], maxX = params[1], minX = params[2];
  if (!(maxY > 0.0f && maxX > 0.0f && minX <= maxX)) {
    AS_THROW(0, ASException, "Improper quotas: MAX_SCALE_Y = %f, MAX_SCALE_X = %f, MIN_SCALE_X = %f",
             static_cast<double>(maxY), static_cast<double>(maxX), static_cast<double>(minX));
  }
  const float v = std::min(static_cast<float>(value), maxX);
  const float d = std::max(0.0f, v - minX);
  const float range = std::log(maxX - minX);
  if (d == 0.0f || !(range > 0.0f)) return 0;
  const std::int32_t result = Truncate(std::log(d) * maxY / range);
  return result < 0 ? 0 : result;
}

std::int32_t BoolMap(std::int32_t value, const std::vector<float>& params) {
  NeedParams(params, 2);
  return Truncate(value != 0 ? params[0] : params[1]);
}

std::int32_t Linear(std::int32_t value, const std::vector<float>& params) {
  NeedParams(params, 3);
  const float maxY = params[0];
  if (!(maxY > 0.0f)) {
    AS_THROW(0, ASException, "Improper quota: MAX_SCALE_Y = %f", static_cast<double>(maxY));
  }
  AS_TRACE(3, "initial_val=%d", static_cast<int>(value));
  float y = static_cast<float>(value) * params[1] + params[2];
  y = std::min(y, maxY);
  if (y < 0.0f) y = 0.0f;
  return Truncate(y);
}

}  // namespace

CAHistory::CAHistory() = default;
CAHistory::~CAHistory() = default;

void CAHistory::AddClusters(const ClusterMap& clusters) {
  for (const auto& [name, cluster] : clusters) m_clusters[name] = cluster;
}

const ascommon::sstring& CAHistory::GetFeatureName(std::uint32_t index) const {
  if (index >= m_definitions.size()) throw InvalidIndexException();
  const ascommon::sstring& name = m_definitions[index].name;
  if (name.status() != 0 || name.is_null()) AS_THROW_CODE(0, ASException, -3, "Internal error");
  return name;
}

std::uint32_t CAHistory::GetSourceKind(std::uint32_t index) const {
  if (index >= m_definitions.size()) throw InvalidIndexException();
  return m_definitions[index].sourceKind;
}

std::int32_t CAHistory::SetSourceKind(std::uint32_t index, std::uint32_t kind) noexcept {
  if (index >= m_definitions.size()) return -301;
  m_definitions[index].sourceKind = kind;
  return 0;
}

void CAHistory::MarkFeatureSources(const CCodeHeurEngine& heuristics) {
  for (FeatureDefinition& definition : m_definitions) {
    definition.sourceKind =
        heuristics.Exists(definition.name.c_str()) ? kSourceHeuristic : kSourceAsslExpression;
  }
}

void CAHistory::SetWeights(float wAvg, float wMax, float wDiff) noexcept {
  m_wAvg = wAvg;
  m_wMax = wMax;
  m_wDiff = wDiff;
}

void CAHistory::ClearAssignedItems() noexcept {
  for (auto& entry : m_clusters) entry.second.ClearItems();
}

std::int32_t CAHistory::Normalize(const char* function, std::int32_t value,
                                  const std::vector<float>& params) {
  if (function == nullptr) function = "";
  if (std::strcmp(function, "NORMAL") == 0) return NormalLog(value, params);
  if (std::strcmp(function, "BOOL") == 0) return BoolMap(value, params);
  if (std::strcmp(function, "LINIAR") == 0) return Linear(value, params);
  AS_THROW(0, ASException, "Unknown verb = %s__", function);
}

void CAHistory::ApplyNormalization(std::uint32_t index, CAFeature& feature) const {
  if (index >= m_definitions.size()) throw InvalidIndexException();
  const FeatureDefinition& definition = m_definitions[index];
  AS_TRACE(3, "Normalizam feature-ul %d : %s", static_cast<int>(index), definition.name.c_str());
  if (definition.valueKind == kKnnString) {
    if (definition.params.size() != 1) {
      AS_THROW(0, ASException, "Abnormal number of normalization params given to string feature : %d",
               static_cast<int>(definition.params.size()));
    }
    auto* normalizator = new (std::nothrow) DistanceNormalizator(definition.params[0]);
    if (normalizator == nullptr) AS_THROW(0, ASMemException, "Unable to alloc DistanceNormalizator");
    feature.SetDistanceNormalizator(normalizator);
    return;
  }
  if (definition.valueKind != kKnnInt) {
    AS_THROW(0, ASException, "Unknown feature type sent to normalization!");
  }
  const char* function = definition.function.is_null() ? "" : definition.function.c_str();
  if (std::strcmp(function, "NONE") == 0) return;
  auto* number = dynamic_cast<CIntFeature*>(&feature);
  if (number == nullptr) AS_THROW(0, ASException, "NULL feature with verb = %s__", function);
  number->SetInfo(Normalize(function, number->GetInfo(), definition.params));
}

float CAHistory::ScaleOf(const FeatureDefinition& definition) noexcept {
  const char* function = definition.function.is_null() ? "" : definition.function.c_str();
  if (std::strcmp(function, "NONE") != 0 && std::strcmp(function, "STR") != 0) {
    return definition.params.empty() ? 0.0f : definition.params[0];
  }
  return definition.valueKind == kKnnString || definition.valueKind == kKnnSummary ? 100.0f
                                                                                  : 0.0f;
}

CAHistory::Statistics CAHistory::ComputeStatistics() const {
  std::vector<float> averages, maxima;
  for (const auto& entry : m_clusters) {
    averages.push_back(entry.second.GetCurrentAverageDistance());
    maxima.push_back(entry.second.GetCurrentMaxDistance());
  }
  auto meanAndMedian = [](std::vector<float>& values, float& mean, float& median) {
    mean = median = 0.0f;
    if (values.empty()) return;
    for (float v : values) mean += v;
    mean /= static_cast<float>(values.size());
    std::sort(values.begin(), values.end());
    const std::size_t half = values.size() / 2;
    median = values.size() % 2 ? values[half] : (values[half - 1] + values[half]) / 2.0f;
  };
  Statistics stats{};
  meanAndMedian(averages, stats.avgMean, stats.avgMedian);
  meanAndMedian(maxima, stats.maxMean, stats.maxMedian);
  AS_TRACE(3, "cluster avg = %f, med = %f", static_cast<double>(stats.avgMean),
           static_cast<double>(stats.avgMedian));
  AS_TRACE(3, "cluster max = %f, med = %f", static_cast<double>(stats.maxMean),
           static_cast<double>(stats.maxMedian));
  return stats;
}

std::int32_t CAHistory::SearchClusters(const CFeatureSet& item, ascommon::sstring& category,
                                       float& distance) const {
  if (m_clusters.empty()) {
    category.assign("");
    distance = 0.0f;
    return kOutsideClusters;
  }
  if (item.GetFeatureCount() != m_definitions.size()) {
    AS_THROW(0, ASException, "The numbers of features don't match %d != %d",
             static_cast<int>(item.GetFeatureCount()), static_cast<int>(m_definitions.size()));
  }
  const ascommon::sstring* answer = nullptr;
  float answerDistance = 0.0f;
  std::int32_t status = -1;
  for (const auto& [name, cluster] : m_clusters) {
    const float average = cluster.GetCurrentAverageDistance();
    const float limit = cluster.WeightedLimit(m_wAvg, m_wMax, m_wDiff);
    bool cut = false;
    const float d = cluster.DistanceWithin(item, limit, cut);
    AS_TRACE(3, "CAHistory::Search clusterid = %s, distance = %f , cl_avg_dist = %f, cl_max_dist = %f",
             name.c_str(), static_cast<double>(d), static_cast<double>(average),
             static_cast<double>(cluster.GetCurrentMaxDistance()));
    if (!cut && d <= average) {
      AS_TRACE(3, "res = %d", static_cast<int>(kInsideClusterAvgDst));
      category.assign(name);
      distance = d;
      return kInsideClusterAvgDst;
    }
    if (answer == nullptr) {
      answer = &name;
      answerDistance = d;
      status = cut || (limit < 0.0f && d > limit) ? kOutsideClusters : kInsideClusterExtDst;
      continue;
    }
    if (cut) continue;
    if (status == kInsideClusterExtDst) {
      if (d <= limit && d < answerDistance) {
        answer = &name;
        answerDistance = d;
      }
    } else if (status == kOutsideClusters) {
      if (d <= limit) {
        answer = &name;
        answerDistance = d;
        status = kInsideClusterExtDst;
      } else if (d < answerDistance) {
        answer = &name;
        answerDistance = d;
      }
    } else {
      AS_THROW(0, ASException,
               "Imposible scenario, status  = %d, and it should have returned by now!", status);
    }
  }
  AS_TRACE(3, "res = %d", static_cast<int>(status));
  category.assign(*answer);
  distance = answerDistance;
  return status;
}
