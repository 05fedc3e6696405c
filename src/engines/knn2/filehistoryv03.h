// CKNNFileHistoryv03: the KNN history in its two text files of version "0.3": the cluster
// file ("vi2clusters.dat": version, the three weights, one cluster per line) and the feature
// definitions file ("vi2features.dat": version, the marker 6, one definition per line).
// DeSerialize reads both into a fresh model and takes it over only when every line read
// well, so a failed load leaves the history as it was. Serialize rewrites both and writes
// "clusters_details.knn" into the details folder (default: the working directory).
// Ownership and threads as for CAHistory (cahistory.h).
#pragma once

#include "common/ustring.h"
#include "engines/knn2/filehistory.h"

inline constexpr const char16_t* kKnnClustersFile = u"vi2clusters.dat";
inline constexpr const char16_t* kKnnFeaturesFile = u"vi2features.dat";
inline constexpr const char* kKnnHistoryVersion = "0.3";
inline constexpr std::int32_t kKnnLastFeature = 6;

class CKNNFileHistoryv03 : public CKNNFileHistory {
 public:
  // ASException "KNN History received a broken _directory path!" for a directory it cannot
  // use, "Unable to concatenate %S with %S", and those of CKNNFileHistory.
  CKNNFileHistoryv03(const ascommon::usstring& directory, const ascommon::usstring& clustersFile,
                     const ascommon::usstring& featuresFile);
  ~CKNNFileHistoryv03() override;

  // Loads both files (missing ones are created empty and the load fails); ASException with
  // the message of the first line that does not read.
  void DeSerialize() override;
  // Writes both files and the details file; ASException "Different number of features %d
  // != %d" when a cluster's center does not have one feature per definition.
  void Serialize() override;
  std::int32_t Search(const CFeatureSet& item, ascommon::sstring& category,
                      float& distance) const override;
  float GetTotalScale() const noexcept { return m_totalScale; }

  // Loads only feature definitions from a file of the features format (the clusters are
  // dropped): the starting point of a training run. Same messages as DeSerialize.
  void ReadFeatureDefinitions(const ascommon::usstring& path);
  const ascommon::usstring& GetFeaturesPath() const noexcept { return m_featuresPath; }
  // Where Serialize writes "clusters_details.knn" (empty: the working directory).
  void SetDetailsFolder(const ascommon::usstring& folder);

 private:
  ascommon::usstring m_featuresPath;
  ascommon::usstring m_detailsFolder;
};
