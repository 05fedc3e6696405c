// KNN training: a seeded run over two well-separated groups, the trainer's files, a trained
// model that loads back and classifies as in memory, and seeded runs that repeat exactly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <thread>

#include "engines/knn2/centersextractor.h"
#include "engines/knn2/knn_fixture.h"
#include "engines/knn2/knnengine.h"

namespace {

// Two numbers on a LINIAR scale of 1000 each: the common-sense merge distance is 1000.
const char* kTwoNumbers = "0.3\n6\n1 A LINIAR 1000 1 0\n1 B LINIAR 1000 1 0\n";

// Trains 30 items on a grid from (100, 100) and 30 from (900, 900) with seed.
std::unique_ptr<CKNNFileHistoryv03> Train(knntest::ModelDir& model, std::uint32_t seed) {
  zztest::WriteBytes(model.dir / "defs.dat", kTwoNumbers);
  auto history = model.History();
  history->ReadFeatureDefinitions(zztest::Wide(model.dir / "defs.dat").c_str());
  CKNNTrainer trainer(model.dir.Wide().c_str());
  CKNNTrainer::SetSeed(seed);
  trainer.SetHistory(history.get());
  for (int i = 0; i < 60; ++i) {
    const int base = i < 30 ? 100 : 900, step = i % 30;
    const std::string name = (i < 30 ? "low" : "high") + std::to_string(i);
    ascommon::sstring category;
    float probability;
    trainer.Analyze(*knntest::Set({base + step % 6 * 3, base + step / 6 * 4}, {}, name.c_str()), category, probability);
  }
  ascommon::sstring category;
  float probability;
  trainer.Analyze(*knntest::Set({100, 100}, {}, "again"), category, probability);  // a duplicate of low0
  EXPECT_EQ(trainer.GetGatheredCount(), 60u);
  trainer.Train();
  std::set<std::string> groups;
  for (const auto& [name, cluster] : history->GetClusters()) {
    std::set<std::string> members;
    for (const ItemDescriptor* item : cluster.GetItems()) members.insert(std::string(item->GetCorrespondingFileName(), 3));
    EXPECT_EQ(members.size(), 1u) << name.c_str();
    groups.insert(*members.begin());
  }
  EXPECT_EQ(groups.size(), 2u);
  return history;
}

TEST(KnnTrainingTest, TwoSeparatedGroupsGiveTwoClustersThatReloadAndClassifyTheSame) {
  knntest::ModelDir model, again;
  auto history = Train(model, 7);
  EXPECT_EQ(history->GetClusters().size(), 2u);
  EXPECT_EQ(zztest::ReadBytes(model.dir / "Extended_clusters.dat"), "low0 <=> again\n");
  EXPECT_NE(zztest::ReadBytes(model.dir / "representative_importance.dat").find("low0 _:_ 2\n"), std::string::npos);
  EXPECT_NE(zztest::ReadBytes(model.dir / "clusters_details.knn").find("high59 _:_"), std::string::npos);

  auto loaded = model.History();
  ASSERT_EQ(knntest::Load(*loaded), "(no exception)");
  CKNNAnalyzer inMemory, reloaded;
  inMemory.SetHistory(history.get());
  reloaded.SetHistory(loaded.get());
  for (int x : {95, 100, 112, 130, 500, 880, 905, 950}) {
    auto item = knntest::Set({x, x});
    ascommon::sstring a, b;
    float pa, pb;
    inMemory.Analyze(*item, a, pa);
    reloaded.Analyze(*item, b, pb);
    EXPECT_STREQ(a.c_str(), b.c_str()) << x;
    EXPECT_NEAR(pa, pb, 2.0f) << x;  // distances are kept to 3 significant digits
  }

  // A second trainer over the trained history counts what it already places.
  CKNNTrainer second(again.dir.Wide().c_str());
  second.SetHistory(loaded.get());
  ascommon::sstring category;
  float probability;
  second.Analyze(*knntest::Set({101, 101}, {}, "known"), category, probability);
  EXPECT_EQ(second.GetCaughtByHistory(), 1u);
  EXPECT_EQ(zztest::ReadBytes(again.dir / "caught_by_history.knn"), "known <- " + std::string(category.c_str()) + "\n");
}

TEST(KnnTrainingTest, TuningAndMergeRule) {
  InstallTuneDefaults();
  EXPECT_EQ(GetTuneVar(MERGE_THRESHHOLD), 50);
  EXPECT_EQ(GetTuneVar(ITERATION_MAX_TIME), 6000);
  EXPECT_EQ(zztest::WhatOf([] { GetTuneVar(7); }), "BadSetting - MESSAGE: The required feature does not exist!");
  EXPECT_TRUE(ShouldMerge(4, 2, 4.9f, 50, 0));
  EXPECT_FALSE(ShouldMerge(4, 2, 5.1f, 50, 0));
  EXPECT_TRUE(ShouldMerge(4, 2, 5.1f, 50, 5.2f));
}

TEST(KnnTrainingTest, GathersFromConcurrentThreads) {
  knntest::ModelDir model;
  zztest::WriteBytes(model.dir / "defs.dat", kTwoNumbers);
  auto history = model.History();
  history->ReadFeatureDefinitions(zztest::Wide(model.dir / "defs.dat").c_str());
  CKNNTrainer trainer(model.dir.Wide().c_str());
  trainer.SetHistory(history.get());
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {  // each item twice: once per pair of threads
        ascommon::sstring category;
        float probability;
        trainer.Analyze(*knntest::Set({t % 2, i}, {}, "x"), category, probability);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(trainer.GetGatheredCount(), 100u);
  std::string extended = zztest::ReadBytes(model.dir / "Extended_clusters.dat");
  EXPECT_EQ(std::count(extended.begin(), extended.end(), '\n'), 100);
}

}  // namespace

// One seed, a 400-item cloud, rand() drawn in between: the same file, well before the limit.
TEST(KnnTrainingTest, SeededTrainingIsRepeatableAndStopsEarly) {
  std::string files[2];
  for (int run = 0; run < 2; ++run) {
    knntest::ModelDir model;
    zztest::WriteBytes(model.dir / "defs.dat", kTwoNumbers);
    auto history = model.History();
    history->ReadFeatureDefinitions(zztest::Wide(model.dir / "defs.dat").c_str());
    CKNNTrainer trainer(model.dir.Wide().c_str());
    CKNNTrainer::SetSeed(3);
    trainer.SetNamesTime(42);
    for (int k = 0; k < run * 1000; ++k) std::rand();
    trainer.SetHistory(history.get());
    auto next = [x = 1u]() mutable { return static_cast<int>((x = x * 1103515245u + 12345u) >> 16) % 700; };
    ascommon::sstring category;
    float probability;
    for (int i = 0; i < 400; ++i) {  // denser towards the middle: sums of three draws
      trainer.Analyze(*knntest::Set({next() + next() + next(), next() + next() + next()}, {},
                                    std::to_string(i).c_str()), category, probability);
    }
    trainer.Train();
    EXPECT_LT(trainer.GetGenerations(), 100u);
    files[run] = zztest::ReadBytes(model.dir / "vi2clusters.dat");
  }
  EXPECT_EQ(files[0], files[1]);
  EXPECT_NE(files[0].find("\n42_0 "), std::string::npos);
}
