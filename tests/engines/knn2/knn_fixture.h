// Shared verbs of the KNN tests: a model folder with hand-written files, feature sets of
// numbers and strings, loading a history and naming what it threw.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engines/feature/intfeature.h"
#include "engines/feature/ustringfeature.h"
#include "engines/knn2/filehistoryv03.h"
#include "support/scratch_dir.h"
#include "support/what_of.h"

namespace knntest {

// Two numbers (the first normalised LINIAR 50 2 -10) and a string; clusters alpha and beta.
inline const char* kFeatures = "0.3\n6\n# counts and a subject\n1 Size LINIAR 50 2 -10\n1 Lines NONE\n3 Subject NONE 1\n";
inline const char* kClusters = "0.3\n0 1 1\nalpha 2 5 1 10 3 5_hello\nbeta 1 4 0 40 20 3_abc\n";

// A set of numbers, then strings ("x" for each '|'-free text), named name.
inline std::unique_ptr<CFeatureSet> Set(std::vector<int> numbers, std::vector<std::u16string> texts = {},
                                        const char* name = "") {
  auto set = std::make_unique<CFeatureSet>();
  for (int n : numbers) set->AddFeature(new CIntFeature(n));
  for (const auto& t : texts) {
    auto* feature = new CUStringFeature();
    feature->SetString(t.c_str());
    set->AddFeature(feature);
  }
  set->SetName(name);
  return set;
}

struct ModelDir {
  zztest::ScratchDir dir;
  void Write(const std::string& features, const std::string& clusters) {
    zztest::WriteBytes(dir / "vi2features.dat", features);
    zztest::WriteBytes(dir / "vi2clusters.dat", clusters);
  }
  std::unique_ptr<CKNNFileHistoryv03> History() {
    auto history = std::make_unique<CKNNFileHistoryv03>(dir.Wide().c_str(), kKnnClustersFile, kKnnFeaturesFile);
    history->SetDetailsFolder(dir.Wide().c_str());
    return history;
  }
};

// The exception text of loading history, or "(no exception)".
inline std::string Load(CAHistory& history) {
  return zztest::WhatOf([&] { history.DeSerialize(); });
}

}  // namespace knntest
