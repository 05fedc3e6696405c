// What the "knn" commands share: labelled folders of items from the command line, the items
// of a file (the messages of an .eml or mbox file, or one page of an .html/.htm file), the
// features of each item measured as a KNN model's feature definitions prescribe, and the
// labels file that names the category of each cluster.
//
// CKnnFeatureMeter owns an engines handle of its own (the regular-expression library, the
// code heuristics and an empty rule engine, which FillFeatureSet needs for expression
// features) and the charset converter of the message parts. Not thread-safe: one command,
// one thread. Tested by tests/host/knn_command_test.cpp.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/stringconversion.h"
#include "engines/feature/featureset.h"
#include "engines/feature/fsutils.h"

namespace assl {
class CEnginesHandle;
}

namespace zzhost {

// The file names of the labels file and of the model files, in the model's folder.
inline constexpr char kKnnLabelsFile[] = "vi2labels.dat";
inline constexpr char kKnnFeaturesFileName[] = "vi2features.dat";
inline constexpr char kKnnClustersFileName[] = "vi2clusters.dat";

// Items larger than this are refused (the mail reader's and the page reader's limit).
inline constexpr std::size_t kMaxKnnItemBytes = std::size_t{64} << 20;

struct LabelledFolder {
  std::string category;
  std::string folder;
};

// "CATEGORY=DIR": UsageError (for command) when either side is empty or the category holds a
// blank (the labels file separates its fields with blanks).
LabelledFolder ParseLabelledFolder(const std::string& arg, const std::string& command);

// The regular files of a folder (not its subfolders, not hidden files), in name order.
// HostError when the folder cannot be listed.
std::vector<std::string> FolderFiles(const std::string& folder);

// One cluster's line of the labels file: its name, the category most of its training items
// came from, and how many of them did.
struct ClusterLabel {
  std::string cluster;
  std::string category;
  std::uint64_t count = 0;
};

// Writes "NAME CATEGORY COUNT" lines. HostError when the file cannot be written.
void WriteLabels(const std::string& path, const std::vector<ClusterLabel>& labels);
// cluster name -> category; an absent file gives an empty map with found false. HostError for
// a line that is not "NAME CATEGORY COUNT" (FILE:LINE: message).
std::map<std::string, std::string> ReadLabels(const std::string& path, bool* found);

class CKnnFeatureMeter {
 public:
  // Loads the regular-expression library and the charset library from librariesDir and
  // creates the heuristics. HostError when they cannot be set up.
  explicit CKnnFeatureMeter(const std::u16string& librariesDir);
  ~CKnnFeatureMeter();
  CKnnFeatureMeter(const CKnnFeatureMeter&) = delete;
  CKnnFeatureMeter& operator=(const CKnnFeatureMeter&) = delete;

  // The handle the history's Exists marking and FillFeatureSet use. Owned.
  assl::CEnginesHandle* Engines() { return m_engines.get(); }

  // Called per item with its source ("FILE", or "FILE#N" for the Nth message of an mbox)
  // and its feature set (named by the source; the callback may keep it).
  using ItemVisitor = std::function<void(const std::string& source, std::unique_ptr<CFeatureSet>)>;
  // Measures every item of the file: a page when the name ends in .html or .htm, else the
  // messages of an .eml or mbox file. HostError (with the source) for an unreadable file; an
  // item whose features cannot be measured is reported through failed and skipped.
  void MeasureFile(const std::string& path, const IFeatureDefinitions& definitions,
                   const ItemVisitor& visit,
                   const std::function<void(const std::string& message)>& failed);

 private:
  std::unique_ptr<CFeatureSet> Measure(const std::string& source,
                                       const IFeatureDefinitions& definitions,
                                       assl::ContextInterface& context);

  std::unique_ptr<assl::CEnginesHandle> m_engines;
  ascommon::CStringConversion m_converter;
};

// The text form of one feature as the history files write it (Serialize).
std::string FeatureText(const CAFeature& feature);

}  // namespace zzhost
