// CBayesFilter: classifies page text into the categories of a trained word dictionary, and
// trains and maintains that dictionary on command.
//
// Process, command 0: the page text (30001) and the label texts (30003) go through the
// classifier; the chosen category's name (or "white" for a level-0 category) lands under
// 31001 and the score under 31002. Command 35 trains the dictionary with the same texts
// for the category named under 34001 in bbext. ProcessCommand adds categories (34), prints
// (36), prunes (37, 39) and converts a word list into a dictionary file (38).
// The dictionary is "pcdic.dat" in the shared data folder when that file is not empty,
// else "bayescsf.dat"; it is read whole on reload and written back (when changed) by
// DestroySharedData, by a reload that finds the file changed, and by commands 37 and 39.
//
// Threads: shared data (BayesSharedData) is guarded by the filter's locker. Process holds
// it read-only, so classifications of many threads run in parallel; training (command 35)
// also runs under the read-only lock and relies on the classifier's own reader-writer
// lock (ebayes.h), which serialises dictionary changes against every reader.
// ReloadSharedData and ProcessCommand hold the locker exclusively. Unlike the list filters
// it processes every item it is given, whatever the session tables say.
// Ownership: the block owns the classifier; item texts are read in place, never kept.
// Tested by tests/zazozor/bayesfilter_test.cpp.
#pragma once

#include <cstdint>

#include "afilter.h"

namespace nsEngineBayesClassifier {
class CBFilter;
struct CBayesText;
}

namespace nsHttpModules {

struct BayesSharedData : ascommon::CASAllocated {
  nsEngineBayesClassifier::CBFilter* classifier = nullptr;  // Owned.
  ascommon::usstring dictionary_path;
  std::uint8_t dictionary_loaded = 0;
  std::int64_t last_size = -1;
};

class CBayesFilter : public CAFilter {
 public:
  explicit CBayesFilter(const ascommon::usstring& name);
  ~CBayesFilter() override;

  void ReloadSessionSettings(std::uint32_t) override {}
  void* CreateSessionData() override;
  void DestroySessionData(void* pData) override;
  bool IsEnabled(std::uint32_t sessionId) override;
  // The block with its classifier; null when the block cannot be allocated. Raises when
  // the classifier cannot be made (the block is then released).
  void* CreateSharedData() override;
  // Writes a changed dictionary back to its file (limit 0, mode 0) and releases the block.
  // When that write fails everything is still released, and then ASException "[Parental
  // Bayes] Problems writing the dictionary" is raised with the dictionary's status, so a
  // caller that trained learns that the training was not saved.
  void DestroySharedData(void* pData) override;
  void ReloadSharedData() override;
  void HostReservedOp1() override {}
  void HostReservedOp2() override {}
  std::uint8_t GetFilterCode() override { return 100; }
  void Process(std::uint32_t sessionId, AItem* pItem, std::uint32_t command) override;
  void ProcessCommand(std::uint32_t sessionId, std::uint32_t command,
                      ascommon::CBlackBox* pParams) override;

 private:
  using Texts = ascommon::CArray<nsEngineBayesClassifier::CBayesText>;
  static void Classify(nsEngineBayesClassifier::CBFilter& classifier, AItem& item,
                       const Texts& texts);
  static void Train(nsEngineBayesClassifier::CBFilter& classifier, AItem& item,
                    const Texts& texts);
  static void AddCategories(nsEngineBayesClassifier::CBFilter& classifier,
                            const ascommon::CBlackBox& params);
  static void CloseWithLimit(BayesSharedData& shared, const ascommon::CBlackBox& params,
                             std::int32_t mode);
};

}  // namespace nsHttpModules
