// The KNN analyzer (an item's cluster and probability from the history's search) and the
// trainer (gathering items, then the centers extraction into the history). Analyze costs
// one history search; the debug text of the features is only built when its trace line is
// kept. The trainer finds duplicates through a hash of the items' text forms: O(1) per item
// instead of a comparison with every item gathered. Tested by
// tests/engines/knn2/engine_test.cpp and training_test.cpp.
#include "engines/knn2/knnengine.h"

#include <cstdarg>
#include <ctime>
#include <string>
#include <unordered_map>

#include "common/astrace.h"
#include "engines/knn2/centersextractor.h"
#include "engines/knn2/filehistoryv03.h"
#include "zzplat/paths.h"

CKNNEngine::~CKNNEngine() = default;

std::int32_t CKNNEngine::SetHistory(CAHistory* history) {
  if (history == nullptr) return -1;
  m_history = history;
  return 0;
}

std::int32_t CKNNEngine::ReleaseHistory() {
  m_history = nullptr;
  return 0;
}

namespace {

std::string SerializeFeatures(const CFeatureSet& set, const char* separator) {
  std::string text;
  for (std::uint32_t i = 0; i < set.GetFeatureCount(); ++i) {
    const ascommon::sstring serialized = set.GetFeature(i)->Serialize();
    text.append(serialized.is_null() ? "" : serialized.c_str(), serialized.length());
    text += separator;
  }
  return text;
}

}  // namespace

float CKNNAnalyzer::Probability(std::int32_t status, float h, float avg, float mx) {
  switch (status) {
    case kInsideClusterAvgDst:
      return 100.0f;
    case kInsideClusterMaxDst:
    case kInsideClusterExtDst: {
      if (!(mx >= 0.0f && avg >= 0.0f && avg <= mx && h >= 0.0f)) {
        AS_THROW(0, ASException, "Wrong Cluster Distances: max = %f , avg = %f, dist from history =%f",
                 static_cast<double>(mx), static_cast<double>(avg), static_cast<double>(h));
      }
      float spread = mx - avg;
      if (spread < 0.0f) spread = 0.0f;
      const float excess = h - avg;
      if (spread < 1e-7f) {
        AS_TRACE(3, "It should have been InsideClusterAvgDst, since h_dist=%f, avg_dist=%f, max_dist=%f",
                 static_cast<double>(h), static_cast<double>(avg), static_cast<double>(mx));
        if (excess > 1e-7f) {
          AS_THROW(0, ASException, "Distance from average too big = %f", static_cast<double>(excess));
        }
        return 100.0f;
      }
      float probability = 101.0f - (excess / spread) * 100.0f;
      if (probability > 100.0f) probability = 100.0f;
      AS_TRACE(3, "CKNNAnalyzer::KNN_ANALYZE max_ext_dist = %f, avg_dist = %f, h_dist = %f",
               static_cast<double>(mx), static_cast<double>(avg), static_cast<double>(h));
      return probability;
    }
    case kOutsideClusters:
      return 0.0f;
    default:
      AS_THROW(0, ASException, "Bad history search result %d!", static_cast<int>(status));
  }
}

std::int32_t CKNNAnalyzer::Analyze(const CFeatureSet& item, ascommon::sstring& category,
                                   float& probability, float& distance) const {
  AS_TRACE(3, "KNN_ANALYZE inside CKNNAnalyzer");
  if (m_history == nullptr) return -3;
  if (ascommon::TraceOn(3)) {
    AS_TRACE(3, "The features are: %s", SerializeFeatures(item, " ").c_str());
  }
  float h = 0.0f;
  const std::int32_t status = m_history->Search(item, category, h);
  float avg = 0.0f, mx = 0.0f;
  if (status == kInsideClusterMaxDst || status == kInsideClusterExtDst) {
    const auto found = m_history->GetClusters().find(category);
    if (found == m_history->GetClusters().end()) {
      AS_THROW(0, ASException, "Bad history search result %d!", static_cast<int>(status));
    }
    avg = found->second.GetCurrentAverageDistance();
    mx = found->second.GetCurrentMaxDistance() + found->second.GetExtendedMargin();
  }
  probability = Probability(status, h, avg, mx);
  distance = h;
  AS_TRACE(3, "CKNNAnalyzer::KNN_ANALYZE res = %d, Probability = %f", static_cast<int>(status),
           static_cast<double>(probability));
  return 0;
}

std::int32_t CKNNAnalyzer::Analyze(CFeatureSet& item, ascommon::sstring& category,
                                   float& probability) {
  float distance = 0.0f;
  return static_cast<const CKNNAnalyzer*>(this)->Analyze(item, category, probability, distance);
}

std::int32_t CKNNAnalyzer::Configure(std::uint32_t settingId, std::uint32_t value) {
  (void)settingId;
  (void)value;
  AS_TRACE_UNUSED("CKNNAnalyzer::Configure", "uSettingId, uSettingValue");
  return 0;
}

std::int32_t CKNNAnalyzer::Configure(std::uint32_t settingId, const ascommon::usstring& value) {
  (void)settingId;
  (void)value;
  return 0;
}

CKNNTrainer::CKNNTrainer(const ascommon::usstring& outputFolder)
    : m_extractor(std::make_unique<CentersExtractor>()) {
  if (m_outputFolder.assign(outputFolder) != 0) AS_THROW(0, ASMemException, "memory problems");
  m_extended = OpenOutput(u"Extended_clusters.dat", "wb");
  m_caughtFile = OpenOutput(u"caught_by_history.knn", "wb");
  if (m_caughtFile == nullptr) {
    std::fclose(m_extended);
    m_extended = nullptr;
  }
  if (m_extended == nullptr) {
    AS_THROW(0, ASException, "unable to create the training files in %S",
             m_outputFolder.is_null() ? u"." : m_outputFolder.c_str());
  }
}

CKNNTrainer::~CKNNTrainer() {
  // The history's clusters list the gathered items, which go with the trainer.
  if (m_history != nullptr) m_history->ClearAssignedItems();
  if (m_extended != nullptr) std::fclose(m_extended);
  if (m_caughtFile != nullptr) std::fclose(m_caughtFile);
}

std::FILE* CKNNTrainer::OpenOutput(const char16_t* name, const char* mode) {
  std::u16string path = m_outputFolder.is_null() ? u"" : m_outputFolder.c_str();
  if (!path.empty() && path.back() != u'\\' && path.back() != u'/') path += u'\\';
  path += name;
  return std::fopen(zzplat::LocalPath(path.c_str()).c_str(), mode);
}

void CKNNTrainer::SetProgress(std::function<void(std::uint32_t, std::uint32_t)> progress) {
  m_extractor->SetProgress(std::move(progress));
}

void CKNNTrainer::SetSeed(std::uint32_t seed) { CentersExtractor::SetSeed(seed); }

void CKNNTrainer::SetNamesTime(std::int64_t seconds) { m_extractor->SetNamesTime(seconds); }

void CKNNTrainer::Print(const char* format, ...) {
  char line[512];
  std::va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  AS_TRACE(1, "%s", line);
  if (m_console != nullptr) std::fprintf(m_console, "%s\n", line);
}

std::int32_t CKNNTrainer::Configure(std::uint32_t settingId, std::uint32_t value) {
  AS_TRACE(3, "KNN_Train CKNNTrainer::Configure uSettingId = %d, uSettingValue  = %d",
           static_cast<int>(settingId), static_cast<int>(value));
  return 0;
}

std::int32_t CKNNTrainer::Configure(std::uint32_t settingId, const ascommon::usstring& value) {
  (void)settingId;
  (void)value;
  return 0;
}

std::int32_t CKNNTrainer::Analyze(CFeatureSet& item, ascommon::sstring& category,
                                  float& probability) {
  ascommon::auto_locker guard(&m_locker, ascommon::auto_locker::kExclusive, true);
  AS_TRACE(3, "KNN_ANALYZE inside CKNNTrainer nr of features = %d",
           static_cast<int>(item.GetFeatureCount()));
  if (m_history == nullptr) return -3;
  probability = 0.0f;
  float distance = 0.0f;
  const std::int32_t status = m_history->Search(item, category, distance);
  AS_TRACE(3, "KNN_ANALYZE inside CKNNTrainer res = %d", static_cast<int>(status));
  const char* name = item.GetName().is_null() ? "" : item.GetName().c_str();
  if (status == kInsideClusterAvgDst || status == kInsideClusterMaxDst ||
      status == kInsideClusterExtDst) {
    ++m_caught;
    AS_TRACE(3, "caughtByHistoryNumber=%d", static_cast<int>(m_caught));
    std::fprintf(m_caughtFile, "%s <- %s\n", name, category.is_null() ? "" : category.c_str());
    std::fflush(m_caughtFile);
    return 0;
  }
  std::string serialized = SerializeFeatures(item, "");
  AS_TRACE(3, "serializedContents = %s", serialized.c_str());
  const auto found = m_index.find(serialized);
  if (found != m_index.end()) {
    Gathered& stored = m_items[found->second];
    AS_TRACE(3, "fSetsAndInfos[i].serializedContents = %s", found->first.c_str());
    std::fprintf(m_extended, "%s <=> %s\n", stored.set->GetName().c_str(), name);
    std::fflush(m_extended);
    ++stored.count;
    return 0;
  }
  Gathered gathered;
  gathered.set.reset(item.Clone());
  m_index.emplace(std::move(serialized), m_items.size());
  m_items.push_back(std::move(gathered));
  return 0;
}

void CKNNTrainer::Train() {
  ascommon::auto_locker guard(&m_locker, ascommon::auto_locker::kReadOnly, true);
  AS_TRACE(3, "KNN_Train inside CKNNTrainer");
  AS_TRACE(3, "CKNNTrainer::Train:  nr de featset-uri = %d", static_cast<int>(m_items.size()));
  auto* history = dynamic_cast<CKNNFileHistoryv03*>(m_history);
  if (history == nullptr) {
    AS_THROW(0, ASException, "Abnormal history type, unable to cast to CKNNFileHistoryv03");
  }
  std::FILE* importance = OpenOutput(u"representative_importance.dat", "wb");
  if (importance == nullptr) {
    AS_THROW(0, ASException, "unable to create %S file", u"representative_importance.dat");
  }
  for (const Gathered& item : m_items) {
    std::fprintf(importance, "%s _:_ %u\n", item.set->GetName().c_str(), item.count);
  }
  std::fclose(importance);
  std::fflush(m_extended);
  std::fflush(m_caughtFile);

  const std::int64_t before = static_cast<std::int64_t>(std::time(nullptr));
  Print("TIME BEFORE  = %d", static_cast<int>(before));
  Print("CKNNTrainer::Train:The history caught %d emails", static_cast<int>(m_caught));
  AS_TRACE(3, "Begining training!");
  Print("se incepe antrenarea cu %d mail-uri", static_cast<int>(m_items.size()));
  // Each item counts once per copy seen, up to the counter limit.
  m_descriptors.clear();
  for (const Gathered& item : m_items) {
    const std::uint32_t copies = item.count < m_counterLimit ? item.count : m_counterLimit;
    for (std::uint32_t c = 0; c < copies; ++c) m_descriptors.emplace_back(item.set.get());
  }
  history->ClearAssignedItems();
  ClusterMap clusters = m_extractor->Extract(m_descriptors, *history);
  m_generations = m_extractor->GetGenerations();
  AS_TRACE(3, "Finished training!");
  const std::int64_t after = static_cast<std::int64_t>(std::time(nullptr));
  const std::int64_t lasted = after - before;
  Print("TIME AFTER  = %d", static_cast<int>(after));
  Print("Training lasted %d h, %d m, %d s", static_cast<int>(lasted / 3600),
        static_cast<int>(lasted / 60 % 60), static_cast<int>(lasted % 60));
  Print("there are %d clusters: ", static_cast<int>(clusters.size()));
  AS_TRACE(3, "resultedClusters.size() = %d", static_cast<int>(clusters.size()));
  history->AddClusters(clusters);
  history->SetDetailsFolder(m_outputFolder);
  history->Serialize();
}
