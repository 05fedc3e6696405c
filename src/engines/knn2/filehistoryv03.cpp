// The two text files of a version "0.3" KNN history.
//
// Load: both files are read line by line (trailing blanks, CR and LF stripped) into a fresh
// model, which replaces the history's only when every line read well; O(total bytes) plus
// the feature parsing. Save: each file is written beside its final name and renamed over
// it, so a reader never meets half a file.
//
// The check line: Serialize writes, as the first definition line of the features file, the
// comment "# check D C DIGEST" (D definitions, C clusters, DIGEST the MD5 of every
// definition and cluster line after it, each followed by "\n"). Comment lines are skipped
// by every reader of the format; this one lets the load refuse a model whose files were cut
// at a line end or whose numbers were changed, which the line syntax alone cannot show.
// Files without a check line (written by hand) load as before. Tested by
// tests/engines/knn2/history_test.cpp.
#include "engines/knn2/filehistoryv03.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "common/astrace.h"
#include "common/md5.h"
#include "engines/feature/intfeature.h"
#include "engines/feature/summaryfeature.h"
#include "zzplat/paths.h"

namespace {

constexpr const char* kCheckPrefix = "# check ";
constexpr const char16_t* kDetailsFile = u"clusters_details.knn";

// The text between blanks (spaces and tabs) from pos; pos moves past it. Empty at the end.
std::string NextToken(const std::string& line, std::size_t& pos) {
  while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
  const std::size_t start = pos;
  while (pos < line.size() && line[pos] != ' ' && line[pos] != '\t') ++pos;
  return line.substr(start, pos - start);
}

bool ParseFloat(const std::string& token, float& value) {
  if (token.empty()) return false;
  const char* first = token.c_str();
  if (*first == '+') ++first;
  const auto [end, error] = std::from_chars(first, token.c_str() + token.size(), value);
  return error == std::errc() && end == token.c_str() + token.size() && std::isfinite(value);
}

bool ParseUnsigned(const std::string& token, std::uint32_t& value) {
  const auto [end, error] = std::from_chars(token.c_str(), token.c_str() + token.size(), value);
  return !token.empty() && error == std::errc() && end == token.c_str() + token.size();
}

bool ParseInt(const std::string& token, std::int32_t& value) {
  const auto [end, error] = std::from_chars(token.c_str(), token.c_str() + token.size(), value);
  return !token.empty() && error == std::errc() && end == token.c_str() + token.size();
}

std::string FormatFloat(float value) {
  char buffer[32];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 3);
  return std::string(buffer, result.ptr);
}

void Strip(std::string& line) {
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r' ||
                           line.back() == '\n')) {
    line.pop_back();
  }
}

// The longest model line read (a center of long string features stays far below it).
constexpr std::size_t kMaxModelLine = 1 << 20;

// One line, unstripped; ASException when it is longer than kMaxModelLine.
bool GetLine(std::ifstream& in, std::string& line) {
  if (!std::getline(in, line)) return false;
  if (line.size() > kMaxModelLine) {
    AS_THROW(0, ASException, "A KNN model line is longer than %d bytes!", static_cast<int>(kMaxModelLine));
  }
  return true;
}

bool ReadLine(std::ifstream& in, std::string& line) {
  if (!GetLine(in, line)) return false;
  Strip(line);
  return true;
}

bool IsBlankLine(const std::string& line) {
  return line.find_first_not_of(" \r\n\t\v\f") == std::string::npos;
}

std::string DigestHex(ascommon::CMD5& md5) {
  std::uint8_t digest[ascommon::CMD5::kDigestSize];
  md5.Final(digest);
  char hex[2 * sizeof digest + 1];
  for (std::size_t i = 0; i < sizeof digest; ++i) std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
  return hex;
}

CAFeature* NewFeature(std::uint32_t valueKind) {
  switch (valueKind) {
    case kKnnInt: return new CIntFeature();
    case kKnnString: return new CUStringFeature();
    case kKnnSummary: return new CSummaryFeature();
    default: AS_THROW(0, ASException, "Unclear Feature type %d", static_cast<int>(valueKind));
  }
}

std::string FeaturesText(const CFeatureSet& set) {
  std::string text;
  for (std::uint32_t i = 0; i < set.GetFeatureCount(); ++i) {
    const ascommon::sstring serialized = set.GetFeature(i)->Serialize();
    text += ' ';
    text.append(serialized.is_null() ? "" : serialized.c_str(), serialized.length());
  }
  return text;
}

std::string DefinitionLine(const FeatureDefinition& definition) {
  std::string line = std::to_string(definition.valueKind) + ' ' + definition.name.c_str() + ' ' +
                     (definition.function.is_null() ? "NONE" : definition.function.c_str());
  for (float param : definition.params) line += ' ' + FormatFloat(param);
  return line;
}

// A file written next to its final name and renamed over it.
class AtomicTextFile {
 public:
  explicit AtomicTextFile(const ascommon::usstring& path)
      : m_path(zzplat::LocalPath(path.c_str())), m_temp(m_path + ".tmp") {
    m_out.open(m_temp, std::ios::binary | std::ios::trunc);
    if (!m_out) AS_THROW(0, ASException, "unable to create %S file", path.c_str());
  }
  ~AtomicTextFile() {
    if (!m_done) std::remove(m_temp.c_str());
  }
  std::ofstream& Stream() { return m_out; }
  void Commit(const ascommon::usstring& path) {
    m_out.close();
    if (!m_out || std::rename(m_temp.c_str(), m_path.c_str()) != 0) {
      AS_THROW(0, ASException, "unable to write %S file", path.c_str());
    }
    m_done = true;
  }

 private:
  std::string m_path, m_temp;
  std::ofstream m_out;
  bool m_done = false;
};

}  // namespace

CKNNFileHistoryv03::CKNNFileHistoryv03(const ascommon::usstring& directory,
                                       const ascommon::usstring& clustersFile,
                                       const ascommon::usstring& featuresFile)
    : CKNNFileHistory(directory, clustersFile) {
  AS_TRACE(3, "starting %s constructor", "CKNNFileHistoryv03");
  if (directory.status() != 0 || directory.is_null()) {
    AS_THROW(0, ASException, "KNN History received a broken _directory path!");
  }
  if (JoinPath(directory, featuresFile, m_featuresPath) != 0) {
    AS_THROW(0, ASException, "Unable to concatenate %S with %S", directory.c_str(),
             featuresFile.is_null() ? u"" : featuresFile.c_str());
  }
  AS_TRACE(3, "finishing %s constructor", "CKNNFileHistoryv03");
}

CKNNFileHistoryv03::~CKNNFileHistoryv03() = default;

void CKNNFileHistoryv03::SetDetailsFolder(const ascommon::usstring& folder) {
  if (m_detailsFolder.assign(folder) != 0) AS_THROW(0, ASMemException, "memory problems");
}

namespace {

// What one load reads, taken over by the history only when complete.
struct LoadedModel {
  std::vector<FeatureDefinition> definitions;
  ClusterMap clusters;
  float wAvg = 0.0f, wMax = 0.0f, wDiff = 0.0f;
  float scale = 0.0f;
  std::string checkLine;  // "# check ..." when the file has one
  ascommon::CMD5 md5;
};

void ReadVersion(std::ifstream& in, const ascommon::usstring& path, std::string& version) {
  std::string line;
  std::size_t pos = 0;
  if (!ReadLine(in, line) || (version = NextToken(line, pos)).empty()) {
    AS_THROW(0, ASException, "Unable to read the history version from  %S ", path.c_str());
  }
  if (version != kKnnHistoryVersion) {
    AS_THROW(0, ASException, "Different History version %s != %s!", version.c_str(),
             kKnnHistoryVersion);
  }
}

void ReadDefinitions(std::ifstream& in, const ascommon::usstring& path, LoadedModel& model) {
  std::string line;
  if (!ReadLine(in, line)) {
    AS_THROW(0, ASException, "Unable to read the last feature from %S file!", path.c_str());
  }
  AS_TRACE(3, "KNN last feature line = %s", line.c_str());
  std::size_t pos = 0;
  std::int32_t last = 0;
  if (!ParseInt(NextToken(line, pos), last)) {
    AS_THROW(0, ASException, "Unable to read the last feature from %S file!", path.c_str());
  }
  if (last != kKnnLastFeature) {
    AS_THROW(0, ASException,
             "The last feature read from the file is different than the one in the engine %d != %d",
             static_cast<int>(last), static_cast<int>(kKnnLastFeature));
  }
  bool first = true;
  while (ReadLine(in, line)) {
    if (first && line.rfind(kCheckPrefix, 0) == 0) model.checkLine = line;
    first = false;
    if (!line.empty() && line[0] == '#') continue;
    model.md5.Update(line.data(), line.size());
    model.md5.Update("\n", 1);
    FeatureDefinition definition;
    pos = 0;
    if (!ParseUnsigned(NextToken(line, pos), definition.valueKind)) {
      AS_THROW(0, ASException, "Unable to read feature type from %S file!", path.c_str());
    }
    const std::string name = NextToken(line, pos);
    if (name.empty() || definition.name.assign(name.c_str()) != 0) {
      AS_THROW(0, ASException, "Unable to read feature names from %S file!", path.c_str());
    }
    const std::string function = NextToken(line, pos);
    if (function.empty() || definition.function.assign(function.c_str()) != 0) {
      AS_THROW(0, ASException,
               "Unable to read feature normalization function's names from %S file!",
               path.c_str());
    }
    for (std::string token = NextToken(line, pos); !token.empty(); token = NextToken(line, pos)) {
      float param = 0.0f;
      if (!ParseFloat(token, param)) {
        AS_THROW(0, ASException, "Unable to read the normalization function params from %S file!",
                 path.c_str());
      }
      definition.params.push_back(param);
    }
    definition.sourceKind = kSourceUnset;
    model.definitions.push_back(std::move(definition));
  }
}

void ReadWeights(std::ifstream& in, const ascommon::usstring& path, LoadedModel& model) {
  std::string line;
  const bool read = ReadLine(in, line);
  AS_TRACE(3, "KNN ponderi line = %s", read ? line.c_str() : "");
  std::size_t pos = 0;
  if (!read || !ParseFloat(NextToken(line, pos), model.wAvg)) {
    AS_THROW(0, ASException, "Unable to read PondereClusterAvgDists from %S file!", path.c_str());
  }
  if (!ParseFloat(NextToken(line, pos), model.wMax)) {
    AS_THROW(0, ASException, "Unable to read PondereClusterMaxDists from %S file!", path.c_str());
  }
  if (!ParseFloat(NextToken(line, pos), model.wDiff)) {
    AS_THROW(0, ASException, "Unable to read PondereClusterDiffDists from %S file!", path.c_str());
  }
  AS_TRACE(3, "ponderile sunt: %f %f %f", static_cast<double>(model.wAvg),
           static_cast<double>(model.wMax), static_cast<double>(model.wDiff));
}

void ReadClusters(std::ifstream& in, const ascommon::usstring& path, LoadedModel& model) {
  std::string line;
  while (GetLine(in, line)) {
    AS_TRACE(3, "line=%s__", line.c_str());
    Strip(line);
    AS_TRACE(3, "chomped line=%s__", line.c_str());
    if (IsBlankLine(line)) {
      AS_THROW(0, ASException, "Unable to read the feature list from %S file!", path.c_str());
    }
    model.md5.Update(line.data(), line.size());
    model.md5.Update("\n", 1);
    std::size_t pos = 0;
    const std::string name = NextToken(line, pos);
    ascommon::sstring clusterName;
    if (name.empty() || clusterName.assign(name.c_str()) != 0) {
      AS_THROW(0, ASException, "Unable to read cluster names from %S file!", path.c_str());
    }
    float average = 0.0f, maximum = 0.0f, margin = 0.0f;
    if (!ParseFloat(NextToken(line, pos), average)) {
      AS_THROW(0, ASException, "Unable to read cluster avg distance from %S file!", path.c_str());
    }
    if (!ParseFloat(NextToken(line, pos), maximum)) {
      AS_THROW(0, ASException, "Unable to read cluster max distance from %S file!", path.c_str());
    }
    if (!ParseFloat(NextToken(line, pos), margin)) {
      AS_THROW(0, ASException, "Unable to read cluster extended margin distance from %S file!",
               path.c_str());
    }
    auto center = std::make_unique<CFeatureSet>();
    std::uint32_t at = static_cast<std::uint32_t>(pos + 1);
    const std::uint32_t end = static_cast<std::uint32_t>(line.size() - 1);
    for (const FeatureDefinition& definition : model.definitions) {
      std::unique_ptr<CAFeature> feature(NewFeature(definition.valueKind));
      feature->Deserialize(line.c_str(), at, end);
      // A string center measures with its definition's factor, as the trained center (a
      // member's clone) did: a model classifies the same after a reload.
      if (definition.valueKind == kKnnString && definition.params.size() == 1) {
        feature->SetDistanceNormalizator(new DistanceNormalizator(definition.params[0]));
      }
      if (center->AddFeature(feature.get()) != 0) AS_THROW(0, ASMemException, "memory problems");
      feature.release();
    }
    AS_TRACE(3, "FeatureSet nr of features = %d", static_cast<int>(center->GetFeatureCount()));
    Cluster cluster(center.release(), true, true);
    cluster.SetCurrentAverageDistance(average);
    cluster.SetCurrentMaxDistance(maximum);
    cluster.SetExtendedMargin(margin);
    model.clusters[clusterName] = std::move(cluster);
  }
}

// Opens a file, creating it empty when it does not exist (its name is then noted).
void OpenOrCreate(const ascommon::usstring& path, std::ifstream& in, std::u16string& created) {
  const std::string local = zzplat::LocalPath(path.c_str());
  in.open(local, std::ios::binary);
  if (in) return;
  AS_TRACE(3, "%S file does not exist - will attempt to create an empty file", path.c_str());
  if (!std::ofstream(local, std::ios::binary | std::ios::trunc)) {
    AS_THROW(0, ASException, "unable to create %S file", path.c_str());
  }
  AS_TRACE(3, "An empty %S file was created", path.c_str());
  in.open(local, std::ios::binary);
  if (!created.empty()) created += u' ';
  created += path.c_str();
}

}  // namespace

void CKNNFileHistoryv03::DeSerialize() {
  AS_TRACE(3, "CKNNFileHistoryv03::DeSerialize");
  std::ifstream clustersIn, featuresIn;
  std::u16string created;
  OpenOrCreate(m_clustersPath, clustersIn, created);
  OpenOrCreate(m_featuresPath, featuresIn, created);
  if (!created.empty()) {
    AS_THROW(0, ASException, "the following data files were missing and were created with 0 size: %S",
             created.c_str());
  }
  std::string clustersVersion, featuresVersion;
  ReadVersion(clustersIn, m_clustersPath, clustersVersion);
  ReadVersion(featuresIn, m_featuresPath, featuresVersion);
  if (clustersVersion != featuresVersion) {
    AS_THROW(0, ASException, "Different versions between cls file and feats file %s != %s!",
             clustersVersion.c_str(), featuresVersion.c_str());
  }
  auto model = std::make_unique<LoadedModel>();
  ReadWeights(clustersIn, m_clustersPath, *model);
  ReadDefinitions(featuresIn, m_featuresPath, *model);
  for (const FeatureDefinition& definition : model->definitions) model->scale += ScaleOf(definition);
  ReadClusters(clustersIn, m_clustersPath, *model);
  // Clusters measured by no feature: the features file lost its definitions.
  if (model->definitions.empty() && !model->clusters.empty()) {
    AS_THROW(0, ASException, "The features file %S holds no definitions for the clusters of %S!",
             m_featuresPath.c_str(), m_clustersPath.c_str());
  }
  if (!model->checkLine.empty()) {
    const std::string expected = std::string(kCheckPrefix) +
                                 std::to_string(model->definitions.size()) + ' ' +
                                 std::to_string(model->clusters.size()) + ' ' +
                                 DigestHex(model->md5);
    if (model->checkLine != expected) {
      AS_THROW(0, ASException, "The files %S and %S do not match their check line: truncated or changed!",
               m_featuresPath.c_str(), m_clustersPath.c_str());
    }
  }
  m_definitions.swap(model->definitions);
  m_clusters.swap(model->clusters);
  SetWeights(model->wAvg, model->wMax, model->wDiff);
  m_totalScale = model->scale;
}

void CKNNFileHistoryv03::ReadFeatureDefinitions(const ascommon::usstring& path) {
  std::ifstream in(zzplat::LocalPath(path.c_str()), std::ios::binary);
  if (!in) AS_THROW(0, ASException, "Unable to read the history version from  %S ", path.c_str());
  std::string version;
  ReadVersion(in, path, version);
  LoadedModel model;
  ReadDefinitions(in, path, model);
  for (const FeatureDefinition& definition : model.definitions) model.scale += ScaleOf(definition);
  m_definitions.swap(model.definitions);
  m_clusters.clear();
  m_totalScale = model.scale;
}

void CKNNFileHistoryv03::Serialize() {
  const std::size_t count = m_definitions.size();
  for (const auto& entry : m_clusters) {
    const CFeatureSet* center = entry.second.GetCenter();
    const std::size_t features = center == nullptr ? 0 : center->GetFeatureCount();
    if (count == 0 || features != count) {
      AS_THROW(0, ASException, "Different number of features %d != %d", static_cast<int>(count),
               static_cast<int>(features));
    }
  }
  if (count == 0) AS_THROW(0, ASException, "Different number of features %d != %d", 0, 0);

  ascommon::CMD5 md5;
  std::vector<std::string> definitionLines, clusterLines;
  for (const FeatureDefinition& definition : m_definitions) {
    definitionLines.push_back(DefinitionLine(definition));
    md5.Update(definitionLines.back().data(), definitionLines.back().size());
    md5.Update("\n", 1);
  }
  for (const auto& [name, cluster] : m_clusters) {
    clusterLines.push_back(std::string(name.c_str()) + ' ' +
                           FormatFloat(cluster.GetCurrentAverageDistance()) + ' ' +
                           FormatFloat(cluster.GetCurrentMaxDistance()) + ' ' +
                           FormatFloat(cluster.GetExtendedMargin()) +
                           FeaturesText(*cluster.GetCenter()));
    md5.Update(clusterLines.back().data(), clusterLines.back().size());
    md5.Update("\n", 1);
  }

  AtomicTextFile clusters(m_clustersPath);
  clusters.Stream() << kKnnHistoryVersion << "\n"
                    << FormatFloat(m_wAvg) << ' ' << FormatFloat(m_wMax) << ' '
                    << FormatFloat(m_wDiff) << "\n";
  for (const std::string& line : clusterLines) clusters.Stream() << line << "\n";
  AtomicTextFile features(m_featuresPath);
  features.Stream() << kKnnHistoryVersion << "\n" << kKnnLastFeature << "\n"
                    << kCheckPrefix << count << ' ' << m_clusters.size() << ' ' << DigestHex(md5)
                    << "\n";
  for (const std::string& line : definitionLines) features.Stream() << line << "\n";
  clusters.Commit(m_clustersPath);
  features.Commit(m_featuresPath);

  ascommon::usstring detailsPath;
  if (m_detailsFolder.empty() ? detailsPath.assign(kDetailsFile) != 0
                              : JoinPath(m_detailsFolder, kDetailsFile, detailsPath) != 0) {
    AS_THROW(0, ASMemException, "memory problems");
  }
  std::ofstream details(zzplat::LocalPath(detailsPath.c_str()), std::ios::binary | std::ios::trunc);
  if (!details) AS_THROW(0, ASException, "unable to create %S file", detailsPath.c_str());
  for (const auto& [name, cluster] : m_clusters) {
    details << name.c_str() << " :" << FeaturesText(*cluster.GetCenter()) << "\n";
    AS_TRACE(3, "nr of assigned items = %d", static_cast<int>(cluster.GetItems().size()));
    for (const ItemDescriptor* item : cluster.GetItems()) {
      AS_TRACE(3, "coresponding file name = %s", item->GetCorrespondingFileName());
      details << item->GetCorrespondingFileName() << " _:_" << FeaturesText(*item->fSet) << "\n";
    }
  }
}

std::int32_t CKNNFileHistoryv03::Search(const CFeatureSet& item, ascommon::sstring& category,
                                        float& distance) const {
  return SearchClusters(item, category, distance);
}
