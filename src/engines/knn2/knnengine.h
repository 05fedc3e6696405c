// The KNN engine: CKNNAnalyzer places an item (its feature set) among the clusters of a KNN
// history and answers a cluster name with a probability from 0 to 100; CKNNTrainer gathers
// items and builds new clusters into the history with the centers extraction.
// Ownership: the history is not owned and must outlive the engine. Threads: the analyzer
// only reads the history, so any number of threads may Analyze at once; the trainer's
// Analyze and Train take its resource locker (Analyze exclusively, Train read-only).
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/shared_locker.h"
#include "common/ustring.h"
#include "engines/feature/featureset.h"
#include "engines/knn2/cahistory.h"
#include "engines/knn2/itemdescriptor.h"

class CentersExtractor;

class CKNNEngine {
 public:
  virtual ~CKNNEngine();
  // -1 for null (the previous history stays); else 0.
  virtual std::int32_t SetHistory(CAHistory* history);
  virtual std::int32_t ReleaseHistory();
  // Analyzer: category and probability of the item. Trainer: gathers the item.
  virtual std::int32_t Analyze(CFeatureSet& item, ascommon::sstring& category,
                               float& probability) = 0;
  virtual std::int32_t Configure(std::uint32_t settingId, std::uint32_t value) = 0;
  virtual std::int32_t Configure(std::uint32_t settingId, const ascommon::usstring& value) = 0;
  CAHistory* GetHistory() const noexcept { return m_history; }

 protected:
  CAHistory* m_history = nullptr;  // Not owned.
};

class CKNNAnalyzer : public CKNNEngine {
 public:
  // -3 without a history; else 0. ASException "Wrong Cluster Distances: ...", "Distance
  // from average too big = %f", "Bad history search result %d!".
  std::int32_t Analyze(CFeatureSet& item, ascommon::sstring& category,
                       float& probability) override;
  // The same, also giving the item's distance to the chosen cluster's center.
  std::int32_t Analyze(const CFeatureSet& item, ascommon::sstring& category, float& probability,
                       float& distance) const;
  std::int32_t Configure(std::uint32_t settingId, std::uint32_t value) override;
  std::int32_t Configure(std::uint32_t settingId, const ascommon::usstring& value) override;

  // The probability of a search answer: status, distance h, the cluster's average avg and
  // its maximum + margin mx.
  static float Probability(std::int32_t status, float h, float avg, float mx);
};

class CKNNTrainer : public CKNNEngine {
 public:
  // outputFolder: where "Extended_clusters.dat", "caught_by_history.knn",
  // "representative_importance.dat" and "clusters_details.knn" go (empty: the working
  // directory); the first two are opened (truncated) here. Without SetSeed the initial
  // centers are chosen with a generator seeded from the time.
  explicit CKNNTrainer(const ascommon::usstring& outputFolder = ascommon::usstring());
  ~CKNNTrainer() override;

  // Gathers one item (its set's name is its file name): an item the history already places
  // is counted as caught, a duplicate of a gathered item is noted, others are cloned.
  std::int32_t Analyze(CFeatureSet& item, ascommon::sstring& category,
                       float& probability) override;
  // Leaves the history alone (the trainer writes into it).
  std::int32_t ReleaseHistory() override { return 0; }
  std::int32_t Configure(std::uint32_t settingId, std::uint32_t value) override;
  std::int32_t Configure(std::uint32_t settingId, const ascommon::usstring& value) override;

  // Builds clusters from the gathered items, adds them to the history and saves it (the
  // clusters keep listing their items while the trainer lives; the trainer's destructor
  // clears those lists, so the history must outlive the trainer). The
  // history must be a CKNNFileHistoryv03 ("Abnormal history type, unable to cast to
  // CKNNFileHistoryv03"); IterationTimeExceeded when a generation runs too long.
  void Train();

  // Seeds the choice of initial centers of every later training (reproducible training).
  static void SetSeed(std::uint32_t seed);
  // Cluster names take this time prefix instead of the clock (byte-identical models).
  void SetNamesTime(std::int64_t seconds);
  // Where the progress and report lines go besides the trace (null: nowhere; not owned).
  void SetConsole(std::FILE* console) noexcept { m_console = console; }
  std::uint32_t GetCaughtByHistory() const noexcept { return m_caught; }
  std::uint32_t GetGatheredCount() const noexcept {
    return static_cast<std::uint32_t>(m_items.size());
  }
  // Counts at most this many copies of one item in training (10).
  std::uint32_t GetCounterLimit() const noexcept { return m_counterLimit; }
  // Generations run by the last Train.
  std::uint32_t GetGenerations() const noexcept { return m_generations; }
  // The extractor's peak centers and distance-matrix bytes of the last Train.
  const CentersExtractor& GetExtractor() const noexcept { return *m_extractor; }
  // Called after each generation of Train with its number and the cluster count.
  void SetProgress(std::function<void(std::uint32_t, std::uint32_t)> progress);

 private:
  struct Gathered {
    std::unique_ptr<CFeatureSet> set;
    ascommon::sstring serialized;
    std::uint32_t count = 1;  // the item and its duplicates
  };
  void Print(const char* format, ...);
  std::FILE* OpenOutput(const char16_t* name, const char* mode);

  ascommon::shared_locker m_locker;
  std::unique_ptr<CentersExtractor> m_extractor;
  std::uint32_t m_counterLimit = 10;
  ascommon::usstring m_outputFolder;
  std::FILE* m_extended = nullptr;       // Owned: "Extended_clusters.dat".
  std::FILE* m_caughtFile = nullptr;     // Owned: "caught_by_history.knn".
  std::FILE* m_console = nullptr;        // Not owned.
  std::vector<Gathered> m_items;
  std::unordered_map<std::string, std::size_t> m_index;  // text form -> m_items index
  std::vector<ItemDescriptor> m_descriptors;  // of the last Train; the history's clusters list them
  std::uint32_t m_caught = 0;
  std::uint32_t m_generations = 0;
};
