// KNN analyzer: the probability rule at and around a cluster's distances, its errors, and
// an analysis over a loaded history.
#include <gtest/gtest.h>

#include <cmath>

#include "engines/knn2/knn_fixture.h"
#include "engines/knn2/knnengine.h"

namespace {

TEST(KnnAnalyzerTest, ProbabilityFromTheSearchAnswer) {
  const struct { int status; float h, avg, mx, expected; } rows[] = {
      {0, 9, 2, 6, 100}, {2, 2, 2, 6, 100}, {2, 6, 2, 6, 1},  {2, 4, 2, 6, 51},
      {2, 8, 2, 6, -49}, {1, 3, 2, 6, 76},  {3, 1, 2, 6, 0},  {2, 2, 2, 2, 100}};
  for (const auto& row : rows) {
    EXPECT_FLOAT_EQ(CKNNAnalyzer::Probability(row.status, row.h, row.avg, row.mx), row.expected)
        << row.status << " h=" << row.h;
  }
  const struct { int status; float h, avg, mx; const char* message; } errors[] = {
      {2, 3, 2, 2, "Distance from average too big = 1.000000"},
      {2, 1, 3, 2, "Wrong Cluster Distances: max = 2.000000 , avg = 3.000000, dist from history =1.000000"},
      {2, -1, 0, 2, "Wrong Cluster Distances"},
      {7, 0, 0, 0, "Bad history search result 7!"}};
  for (const auto& row : errors) {
    const std::string what = zztest::WhatOf([&] { CKNNAnalyzer::Probability(row.status, row.h, row.avg, row.mx); });
    EXPECT_NE(what.find(row.message), std::string::npos) << what;
  }
}

TEST(KnnAnalyzerTest, AnalyzesAgainstTheHistory) {
  knntest::ModelDir model;
  model.Write(knntest::kFeatures, knntest::kClusters);
  auto history = model.History();
  ASSERT_EQ(knntest::Load(*history), "(no exception)");
  CKNNAnalyzer analyzer;
  ascommon::sstring category;
  float probability = -1;
  auto item = knntest::Set({14, 3}, {u"hello"});
  EXPECT_EQ(analyzer.Analyze(*item, category, probability), -3);
  EXPECT_EQ(analyzer.SetHistory(history.get()), 0);
  EXPECT_EQ(analyzer.SetHistory(nullptr), -1);
  EXPECT_EQ(analyzer.GetHistory(), history.get());
  EXPECT_EQ(analyzer.Analyze(*item, category, probability), 0);
  EXPECT_STREQ(category.c_str(), "alpha");
  EXPECT_FLOAT_EQ(probability, 51);  // h 4, avg 2, max 5 + margin 1
  EXPECT_EQ(analyzer.Analyze(*knntest::Set({99, 99}, {u"q"}), category, probability), 0);
  EXPECT_FLOAT_EQ(probability, 0);
}

}  // namespace
