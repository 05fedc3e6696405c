// KNN history: normalisation, the two model files (every malformed line, missing files,
// truncation, changed numbers, nothing half-loaded) and the search statuses.
#include <gtest/gtest.h>

#include <tuple>

#include "engines/knn2/knn_fixture.h"

namespace {

using knntest::Load;
using knntest::Set;

TEST(KnnHistoryTest, NormalisationFunctions) {
  const std::tuple<const char*, std::vector<float>, int, int> rows[] = {
      {"NORMAL", {100, 1000, 0}, 1, 0},   {"NORMAL", {100, 1000, 0}, 1000, 100},
      {"NORMAL", {100, 1000, 0}, 5000, 100}, {"NORMAL", {100, 1000, 10}, 5, 0},
      {"LINIAR", {50, 2, -10}, 3, 0},     {"LINIAR", {50, 2, -10}, 20, 30},
      {"LINIAR", {50, 2, -10}, 40, 50},   {"BOOL", {7, 3}, 9, 7}, {"BOOL", {7, 3}, 0, 3}};
  for (const auto& [function, params, value, expected] : rows) {
    EXPECT_EQ(CAHistory::Normalize(function, value, params), expected) << function << " " << value;
  }
  EXPECT_EQ(zztest::WhatOf([] { CAHistory::Normalize("NORMAL", 1, {1, 2}); }),
            "ASException - MESSAGE: Different number of normalization params, 2 != 3");
  EXPECT_EQ(zztest::WhatOf([] { CAHistory::Normalize("NORMAL", 1, {0, 2, 1}); }),
            "ASException - MESSAGE: Improper quotas: MAX_SCALE_Y = 0.000000, MAX_SCALE_X = 2.000000, MIN_SCALE_X = 1.000000");
  EXPECT_EQ(zztest::WhatOf([] { CAHistory::Normalize("SQRT", 1, {}); }), "ASException - MESSAGE: Unknown verb = SQRT__");
}

TEST(KnnHistoryTest, MalformedLinesAreRefusedAndTheLoadedModelStays) {
  knntest::ModelDir model;
  model.Write(knntest::kFeatures, knntest::kClusters);
  auto history = model.History();
  ASSERT_EQ(Load(*history), "(no exception)");
  EXPECT_EQ(history->GetClusters().size(), 2u);
  EXPECT_FLOAT_EQ(history->GetTotalScale(), 150.0f);  // LINIAR's 50 + 100 for the string
  const std::string f = "0.3\n6\n", c = "0.3\n0 1 1\n";
  const std::string good = "alpha 2 5 1 10 3 5_hello\n";
  const std::tuple<std::string, std::string, std::string> rows[] = {
      {"0.2\n6\n", c, "Different History version 0.2 != 0.3!"},
      {"0.3\n7\n", c, "different than the one in the engine 7 != 6"},
      {f, "\n", "Unable to read the history version from"},
      {f, "0.3\nx 1 1\n", "Unable to read PondereClusterAvgDists from"},
      {f, "0.3\n0 1\n", "Unable to read PondereClusterDiffDists from"},
      {f + "x Size NONE\n", c, "Unable to read feature type from"},
      {f + "1\n", c, "Unable to read feature names from"},
      {f + "1 Size\n", c, "Unable to read feature normalization function's names from"},
      {f + "1 Size NORMAL 1 y\n", c, "Unable to read the normalization function params from"},
      {knntest::kFeatures, c + " \t\n", "Unable to read the feature list from"},
      {knntest::kFeatures, c + "# note\n", "Unable to read cluster avg distance from"},
      {knntest::kFeatures, c + "alpha 2 x\n", "Unable to read cluster max distance from"},
      {knntest::kFeatures, c + "alpha 2 5 -\n", "Unable to read cluster extended margin distance from"},
      {knntest::kFeatures, c + "alpha 2 5 1 10 3\n", "Bad string"},
      {f + "2 Odd NONE\n", c + good, "Unclear Feature type 2"},
      {f, c + good, "holds no definitions for the clusters"}};
  for (const auto& [features, clusters, message] : rows) {
    model.Write(features, clusters);
    EXPECT_NE(Load(*history).find(message), std::string::npos) << message;
    EXPECT_EQ(history->GetClusters().size(), 2u) << message;
    EXPECT_EQ(history->GetFeatureCount(), 3u) << message;
  }
}

TEST(KnnHistoryTest, MissingFilesAreCreatedEmptyAndTheLoadFails) {
  knntest::ModelDir model;
  auto history = model.History();
  EXPECT_NE(Load(*history).find("the following data files were missing and were created with 0 size: "),
            std::string::npos);
  EXPECT_TRUE(zztest::fs::exists(model.dir / "vi2clusters.dat"));
  EXPECT_EQ(zztest::fs::file_size(model.dir / "vi2features.dat"), 0u);
  EXPECT_EQ(zztest::WhatOf([] { CKNNFileHistoryv03(u"", kKnnClustersFile, kKnnFeaturesFile); }),
            "ASException - MESSAGE: Empty path supplyed to Knn FileHistory");
}

TEST(KnnHistoryTest, SavedModelRefusesEveryTruncationAndAChangedNumber) {
  knntest::ModelDir model;
  model.Write(knntest::kFeatures, knntest::kClusters);
  auto history = model.History();
  ASSERT_EQ(Load(*history), "(no exception)");
  history->Serialize();
  ASSERT_EQ(Load(*history), "(no exception)");
  for (const char* name : {"vi2features.dat", "vi2clusters.dat"}) {
    const std::string whole = zztest::ReadBytes(model.dir / name);
    for (std::size_t end = whole.find('\n'); end + 1 < whole.size(); end = whole.find('\n', end + 1)) {
      zztest::WriteBytes(model.dir / name, whole.substr(0, end + 1));
      EXPECT_NE(Load(*history), "(no exception)") << name << " cut after byte " << end;
    }
    zztest::WriteBytes(model.dir / name, whole);
  }
  std::string clusters = zztest::ReadBytes(model.dir / "vi2clusters.dat");
  clusters.replace(clusters.find(" 10 "), 4, " 11 ");
  zztest::WriteBytes(model.dir / "vi2clusters.dat", clusters);
  EXPECT_NE(Load(*history).find("do not match their check line"), std::string::npos);
  EXPECT_EQ(history->GetClusters().at("alpha").GetCenter()->GetFeature(0)->Serialize(), "10");
}

TEST(KnnHistoryTest, SearchStatuses) {
  knntest::ModelDir model;
  model.Write(knntest::kFeatures, knntest::kClusters);
  auto history = model.History();
  ASSERT_EQ(Load(*history), "(no exception)");
  // alpha: center 10 3 hello, avg 2, limit 5 + 1; beta: center 40 20 abc, avg 1, limit 4.
  const std::tuple<std::vector<int>, std::u16string, int, const char*, float> rows[] = {
      {{10, 3}, u"hello", 0, "alpha", 0}, {{14, 3}, u"hello", 2, "alpha", 4},
      {{100, 100}, u"zzz", 3, "alpha", 90}, {{40, 21}, u"abc", 0, "beta", 1},
      {{42, 20}, u"abd", 2, "beta", 3}, {{12, 3}, u"hellx", 2, "alpha", 3}};
  for (const auto& [numbers, text, status, name, distance] : rows) {
    ascommon::sstring category;
    float d = -1;
    EXPECT_EQ(history->Search(*Set(numbers, {text}), category, d), status) << name << distance;
    EXPECT_STREQ(category.c_str(), name);
    EXPECT_FLOAT_EQ(d, distance) << name;
  }
  ascommon::sstring category;
  float d;
  EXPECT_NE(zztest::WhatOf([&] { history->Search(*Set({1}), category, d); }).find("The numbers of features don't match 1 != 3"),
            std::string::npos);
}

}  // namespace
