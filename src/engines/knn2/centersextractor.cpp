// Centers extraction, an iterative center-based clustering:
//   start from n / AVGITEMSPERCLUSTER (at least MIN_ITERATION_CENTERS_NR) items picked at
//   random as centers; then per generation assign every item to its nearest center within
//   the join radius (items beyond it start new clusters), recompute each center from its
//   members, merge clusters whose limits overlap and dissolve single-item clusters that
//   another cluster covers. It stops after MAX_ITERATIONS generations, at a generation that
//   changes nothing, or when for CONSTANT_FOR_GENERATIONS_THRESHOLD generations the cluster
//   count has stayed the same or has not fallen below its lowest so far.
// Cost per generation: O(items x centers) feature-set distances (cut off early), one
// measurement of every pair of centers and O(centers^2) merge tests on the center
// triangle; memory O(items + centers^2) floats.
// Tested by tests/engines/knn2/training_test.cpp.
#include "engines/knn2/centersextractor.h"

#include <algorithm>
#include <cfloat>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <atomic>
#include <map>
#include <mutex>
#include <random>

#include "common/astrace.h"
#include "engines/knn2/centersanddistanceshandler.h"
#include "engines/knn2/mailassigner.h"

namespace {

std::once_flag g_tuneOnce;
std::map<std::uint32_t, std::int32_t>* g_tune = nullptr;  // never changed once installed

std::atomic<bool> g_seeded{false};
std::atomic<std::uint32_t> g_seed{0};

std::int64_t Now() { return static_cast<std::int64_t>(std::time(nullptr)); }

void CheckTime(std::int64_t start, std::int32_t limit) {
  if (Now() - start > limit) {
    AS_THROW(0, IterationTimeExceeded, "S-a depasit durata maxima, setata la %d\n",
             static_cast<int>(limit));
  }
}

}  // namespace

void InstallTuneDefaults() {
  std::call_once(g_tuneOnce, [] {
    g_tune = new std::map<std::uint32_t, std::int32_t>{
        {AVGITEMSPERCLUSTER, 10}, {MIN_ITERATION_CENTERS_NR, 5},
        {CONSTANT_FOR_GENERATIONS_THRESHOLD, 10}, {MAX_ITERATIONS, 1000},
        {MERGE_THRESHHOLD, 50}, {ITERATION_MAX_TIME, 6000},
        {COMMON_SENSE_CLUSTER_MERGE_PERCENT, 50}};
  });
}

std::int32_t GetTuneVar(std::uint32_t id) {
  if (g_tune != nullptr) {
    const auto found = g_tune->find(id);
    if (found != g_tune->end()) return found->second;
  }
  AS_THROW(0, BadSetting, "The required feature does not exist!");
}

bool ShouldMerge(float li, float lj, float d, std::int32_t mergeThreshold,
                 float commonSenseDistance) {
  const float threshold = static_cast<float>(mergeThreshold);
  const float calcd = (li + lj) * threshold / 100.0f + (100.0f - threshold) * li / 100.0f;
  AS_TRACE(3, "dst = %f", static_cast<double>(d));
  AS_TRACE(3, "calcd_dist = %f", static_cast<double>(calcd));
  return calcd >= d || commonSenseDistance > d;
}

CentersExtractor::CentersExtractor() { InstallTuneDefaults(); }

void CentersExtractor::SetSeed(std::uint32_t seed) noexcept {
  g_seed.store(seed);
  g_seeded.store(true);
}

namespace {

struct Tuning {
  std::int32_t avgItems, minCenters, constantGenerations, maxIterations, mergeThreshold,
      maxTime, commonSensePercent;
};

Tuning ReadTuning() {
  Tuning t{};
  t.avgItems = GetTuneVar(AVGITEMSPERCLUSTER);
  t.minCenters = GetTuneVar(MIN_ITERATION_CENTERS_NR);
  t.constantGenerations = GetTuneVar(CONSTANT_FOR_GENERATIONS_THRESHOLD);
  t.maxIterations = GetTuneVar(MAX_ITERATIONS);
  t.mergeThreshold = GetTuneVar(MERGE_THRESHHOLD);
  t.maxTime = GetTuneVar(ITERATION_MAX_TIME);
  t.commonSensePercent = GetTuneVar(COMMON_SENSE_CLUSTER_MERGE_PERCENT);
  AS_TRACE(3, "GetTuneVar(AVGITEMSPERCLUSTER) = %d", t.avgItems);
  AS_TRACE(3, "GetTuneVar(MIN_ITERATION_CENTERS_NR) = %d", t.minCenters);
  AS_TRACE(3, "GetTuneVar(CONSTANT_FOR_GENERATIONS_THRESHOLD) = %d", t.constantGenerations);
  AS_TRACE(3, "GetTuneVar(MAX_ITERATIONS) = %d", t.maxIterations);
  AS_TRACE(3, "GetTuneVar(MERGE_THRESHHOLD) = %d", t.mergeThreshold);
  AS_TRACE(3, "GetTuneVar(ITERATION_MAX_TIME) = %d", t.maxTime);
  AS_TRACE(3, "GetTuneVar(COMMON_SENSE_CLUSTER_MERGE_PERCENT) = %d", t.commonSensePercent);
  return t;
}

// Merges every pair of clusters the merge rule joins; true when any merged.
bool MergeSimilarClusters(CentersAndDistancesHandler& handler, const CAHistory& history,
                          const Tuning& tuning) {
  if (tuning.mergeThreshold > 100) {
    AS_THROW(0, ASException, "MERGE_THRESHHOLD = %d > 100", tuning.mergeThreshold);
  }
  const std::int32_t percent =
      tuning.commonSensePercent > 100 ? 0 : tuning.commonSensePercent;
  const float commonSense = static_cast<float>(percent) * history.GetScale() / 100.0f;
  AS_TRACE(3, "MinCommonSenseClusterMergeDist = %f", static_cast<double>(commonSense));
  const float wAvg = history.GetPondereClusterAvgDists();
  const float wMax = history.GetPondereClusterMaxDists();
  const float wDiff = history.GetPondereClusterDiffDists();
  bool merged = false;
  auto& clusters = handler.Clusters();
  for (std::uint32_t i = 0; i < clusters.size(); ++i) {
    for (std::uint32_t j = i + 1; j < clusters.size();) {
      const float li = clusters[i].WeightedLimit(wAvg, wMax, wDiff);
      const float lj = clusters[j].WeightedLimit(wAvg, wMax, wDiff);
      const float d = handler.CenterDistances().Get(i, j);
      if (!ShouldMerge(li, lj, d, tuning.mergeThreshold, commonSense)) {
        ++j;
        continue;
      }
      AS_TRACE(3, "se merge-uiesc cei 2 clusteri");
      handler.Merge2Clusters(i, j);  // j's place now holds the next cluster
      merged = true;
    }
  }
  // One recomputation per surviving cluster, however many it absorbed.
  handler.RecomputeMarked();
  handler.UpdateMargins();
  return merged;
}

// Dissolves the single-item clusters whose item another cluster's limit covers; the item
// joins that cluster in the next generation.
bool EESolitaryCenters(CentersAndDistancesHandler& handler, const CAHistory& history,
                       float joinRadius) {
  bool modified = false;
  auto& clusters = handler.Clusters();
  for (std::uint32_t k = 0; k < clusters.size();) {
    bool dissolve = false;
    if (clusters[k].GetItems().size() == 1 && clusters.size() > 1) {
      const CFeatureSet& item = *clusters[k].GetItems().front()->fSet;
      for (std::uint32_t j = 0; j < clusters.size() && !dissolve; ++j) {
        if (j == k) continue;
        const float limit = clusters[j].WeightedLimit(history.GetPondereClusterAvgDists(),
                                                      history.GetPondereClusterMaxDists(),
                                                      history.GetPondereClusterDiffDists());
        const float d = clusters[j].DistanceToItem(item, nullptr);
        dissolve = d <= limit && d <= joinRadius;
      }
    }
    if (dissolve) {
      handler.RemoveCluster(k);
      modified = true;
    } else {
      ++k;
    }
  }
  if (modified) {
    AS_TRACE(3, "have_modified = true;");
  } else {
    AS_TRACE(3, "have_modified == false;");
  }
  return modified;
}

// Drops the clusters left without members, moves every other center to its members'
// average, then measures the center distances and margins again.
void RecomputeCenters(CentersAndDistancesHandler& handler) {
  auto& clusters = handler.Clusters();
  for (std::uint32_t k = 0; k < clusters.size();) {
    if (clusters[k].GetItems().empty()) {
      handler.RemoveCluster(k);
      continue;
    }
    handler.ChangeOneClustersToHisAverage(k);
    ++k;
  }
  handler.FillCenterDistances();
  handler.UpdateMargins();
}

}  // namespace

ClusterMap CentersExtractor::Extract(std::vector<ItemDescriptor>& items,
                                     const CAHistory& history) {
  m_generations = m_peakCenters = 0;
  m_peakMatrixBytes = 0;
  const Tuning tuning = ReadTuning();
  ClusterMap result;
  if (items.empty()) return result;
  for (const ItemDescriptor& item : items) {
    AS_TRACE(3, "(fSetsAndInfos[i].fSet).GetCorrespondingFileName() = %s",
             item.GetCorrespondingFileName());
  }
  const std::uint32_t n = static_cast<std::uint32_t>(items.size());
  AS_TRACE(1, "KNN::Numarul de feature set-uri dupa introducerea duplicatelor %d",
           static_cast<int>(n));

  // The join radius: the common-sense merge distance, or no bound without a scale.
  const std::int32_t percent = tuning.commonSensePercent > 100 ? 0 : tuning.commonSensePercent;
  float joinRadius = static_cast<float>(percent) * history.GetScale() / 100.0f;
  if (!(joinRadius > 0.0f)) joinRadius = FLT_MAX;

  CentersAndDistancesHandler handler(items);
  std::uint32_t first = tuning.avgItems > 0 ? n / static_cast<std::uint32_t>(tuning.avgItems) : 0;
  if (first < static_cast<std::uint32_t>(std::max(tuning.minCenters, 1))) {
    first = static_cast<std::uint32_t>(std::max(tuning.minCenters, 1));
  }
  if (first > n) first = n;
  std::minstd_rand random(g_seeded.load() ? g_seed.load()
                                          : static_cast<std::uint32_t>(Now()));
  std::vector<bool> chosen(n, false);
  for (std::uint32_t c = 0; c < first; ++c) {
    std::uint32_t pick = static_cast<std::uint32_t>(random()) % n;
    while (chosen[pick]) pick = (pick + 1) % n;
    chosen[pick] = true;
    AS_TRACE(3, "Creating initial Cluster!");
    handler.AppendCenterFromItem(pick);
  }

  MailAssigner assigner(items, handler.CenterDistances(), handler.CentersToItems());
  std::vector<std::uint32_t> previous;
  std::uint32_t sameCount = 0;
  std::size_t lastClusters = 0;
  std::size_t lowestClusters = SIZE_MAX;
  std::uint32_t sinceLowest = 0;
  for (std::int32_t generation = 0; generation < tuning.maxIterations; ++generation) {
    const std::int64_t generationStart = Now();
    AS_TRACE(1, "KNN::Numarul generatiei curente %d", static_cast<int>(generation));
    ++m_generations;
    auto& clusters = handler.Clusters();
    std::vector<float> oldAverages;  // storeOldAverages
    for (const Cluster& cluster : clusters) {
      oldAverages.push_back(cluster.IsAverageSet() ? cluster.GetCurrentAverageDistance() : -1.0f);
    }

    std::int64_t start = Now();
    handler.DeferCenterDistances();  // filled once after the recomputation below
    for (ItemDescriptor& item : items) item.firstDistance = joinRadius;
    for (std::uint32_t item : assigner.AssignMails(clusters)) {
      handler.AppendCenterFromItem(item);
      items[item].firstDistance = items[item].secondDistance = 0.0f;
      items[item].clusterIndex = static_cast<std::uint32_t>(clusters.size() - 1);
      clusters.back().AddItem(&items[item]);
    }
    CheckTime(start, tuning.maxTime);
    m_peakCenters = std::max(m_peakCenters, static_cast<std::uint32_t>(clusters.size()));
    m_peakMatrixBytes = std::max(m_peakMatrixBytes, handler.CenterDistances().CellBytes() +
                                                        handler.CentersToItems().StoredCells() * 48);

    start = Now();
    RecomputeCenters(handler);
    for (std::uint32_t k = 0; k < clusters.size(); ++k) {
      AS_TRACE(3, "2 cluster %d , avg = %3f, max = %3f, marg = %3f", static_cast<int>(k),
               static_cast<double>(clusters[k].GetCurrentAverageDistance()),
               static_cast<double>(clusters[k].GetCurrentMaxDistance()),
               static_cast<double>(clusters[k].GetExtendedMargin()));
    }
    CheckTime(start, tuning.maxTime);

    AS_TRACE(1, "KNN::clusters before merging %d", static_cast<int>(clusters.size()));
    const bool merged = MergeSimilarClusters(handler, history, tuning);
    AS_TRACE(1, "KNN::clusters after merging %d", static_cast<int>(clusters.size()));
    const bool dissolved = EESolitaryCenters(handler, history, joinRadius);
    if (dissolved) handler.UpdateMargins();

    AS_TRACE(1, "Durata Generatiei:%d", static_cast<int>(Now() - generationStart));
    CheckTime(generationStart, tuning.maxTime);
    if (m_progress) m_progress(static_cast<std::uint32_t>(generation),
                               static_cast<std::uint32_t>(clusters.size()));

    std::vector<std::uint32_t> assignment;
    assignment.reserve(items.size());
    for (const ItemDescriptor& item : items) assignment.push_back(item.clusterIndex);
    const bool unchanged = !merged && !dissolved && assignment == previous &&
                           clusters.size() == lastClusters;
    // Merging and re-spawning settle into a cycle of cluster counts rather than a fixed
    // point (a merged center moves, its far members spill out as new clusters, those merge
    // again), so the count rarely stays the same: the run also ends once the count has not
    // reached a new low for CONSTANT_FOR_GENERATIONS_THRESHOLD generations.
    sameCount = clusters.size() == lastClusters ? sameCount + 1 : 0;
    if (clusters.size() < lowestClusters) {
      lowestClusters = clusters.size();
      sinceLowest = 0;
    } else {
      ++sinceLowest;
    }
    AS_TRACE(3, "CONSTANT_FOR_GENERATIONS_THRESHOLD: %d of %d", static_cast<int>(sameCount),
             tuning.constantGenerations);
    previous.swap(assignment);
    lastClusters = clusters.size();
    const auto settled = static_cast<std::uint32_t>(std::max(tuning.constantGenerations, 1));
    if (unchanged || sameCount >= settled || sinceLowest >= settled) break;
  }

  // The last generation may have dissolved clusters: give every item its final cluster.
  auto& clusters = handler.Clusters();
  handler.DeferCenterDistances();
  for (ItemDescriptor& item : items) item.firstDistance = joinRadius;
  const std::vector<std::uint32_t> left = assigner.AssignMails(clusters);
  for (std::uint32_t item : left) {
    handler.AppendCenterFromItem(item);
    clusters.back().AddItem(&items[item]);
  }
  RecomputeCenters(handler);

  const long long seconds = static_cast<long long>(m_namesTimeSet ? m_namesTime : Now());
  for (std::uint32_t k = 0; k < clusters.size(); ++k) {
    char name[48];
    std::snprintf(name, sizeof name, "%lld_%u", seconds, static_cast<unsigned>(k));
    result.emplace(ascommon::sstring(name), std::move(clusters[k]));
  }
  return result;
}
