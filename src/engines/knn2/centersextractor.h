// CentersExtractor: builds clusters from training items by generations of: assign the
// items to centers, recompute the centers, merge similar clusters, resolve solitary
// centers; bounded by the tuning variables. The tuning variables are a process-wide table
// installed once with their defaults by the first extractor.
// Ownership: the extractor keeps nothing between runs; the returned clusters own their
// centers and borrow the items' sets. Threads: GetTuneVar is safe from any thread; one
// Extract per extractor at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "engines/knn2/cahistory.h"
#include "engines/knn2/itemdescriptor.h"

enum KnnTuneVar : std::uint32_t {
  AVGITEMSPERCLUSTER = 0,
  MIN_ITERATION_CENTERS_NR = 1,
  CONSTANT_FOR_GENERATIONS_THRESHOLD = 2,
  MAX_ITERATIONS = 3,
  MERGE_THRESHHOLD = 4,
  ITERATION_MAX_TIME = 5,
  COMMON_SENSE_CLUSTER_MERGE_PERCENT = 6,
};

// Installs the defaults once per process (10, 5, 10, 1000, 50, 6000, 50).
void InstallTuneDefaults();
// BadSetting "The required feature does not exist!" for an id that is not in the table.
std::int32_t GetTuneVar(std::uint32_t id);

// The merge rule of two clusters with weighted limits li, lj whose centers are d apart.
bool ShouldMerge(float li, float lj, float d, std::int32_t mergeThreshold,
                 float commonSenseDistance);

class CentersExtractor {
 public:
  // Installs the tuning defaults.
  CentersExtractor();
  // Seeds the initial choice of centers of every later Extract in the process (without it,
  // each Extract seeds from the time). The generator is the extractor's own, so threads
  // that draw from the C runtime's generator meanwhile cannot change the result.
  static void SetSeed(std::uint32_t seed) noexcept;
  // The time (seconds since 1970) that prefixes the cluster names instead of the clock, so
  // that a seeded training writes the same model byte for byte.
  void SetNamesTime(std::int64_t seconds) noexcept { m_namesTime = seconds; m_namesTimeSet = true; }
  // Called once per generation with its number and the cluster count.
  using Progress = std::function<void(std::uint32_t generation, std::uint32_t clusters)>;
  void SetProgress(Progress progress) { m_progress = std::move(progress); }

  // Clusters of the items, named "<seconds since 1970>_<index>", each with its distances
  // and extended margin set and its items assigned. history gives the weights and scale.
  ClusterMap Extract(std::vector<ItemDescriptor>& items, const CAHistory& history);
  std::uint32_t GetGenerations() const noexcept { return m_generations; }
  // The most centers of any generation of the last Extract, and the most bytes its distance
  // matrices held then (triangle cells plus an estimated 48 bytes per sparse-line cell).
  std::uint32_t GetPeakCenters() const noexcept { return m_peakCenters; }
  std::uint64_t GetPeakMatrixBytes() const noexcept { return m_peakMatrixBytes; }

 private:
  Progress m_progress;
  std::uint32_t m_generations = 0;
  std::uint32_t m_peakCenters = 0;
  std::uint64_t m_peakMatrixBytes = 0;
  std::int64_t m_namesTime = 0;
  bool m_namesTimeSet = false;
};
