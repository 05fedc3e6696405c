// is_knn_categ through the engines handle: no model gives 0.0, one analysis per context for
// any number of conditions, and the history created once for many threads.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

// The test context first: it names the host's AItem, which the rule headers would shadow.
#include "engines/codeheur/test_context.h"
#include "engines/assl/exec_structs.h"
#include "engines/assl/rules/knncategcondition.h"
#include "engines/knn2/knn_fixture.h"
#include "engines/knn2/knnengine.h"
#include "support/trace_capture.h"

namespace {

struct MailContext : zztest::CTestContext {
  assl::CKnnResult knn;
  assl::CKnnResult* GetKnnResult() noexcept override { return &knn; }
};

// An engines handle over folder, with rules loaded and the heuristics engine.
struct Engines {
  assl::CEnginesHandle handle;
  explicit Engines(const std::u16string& folder) {
    handle.SetDataFolder(folder.c_str());
    handle.LoadRuleFiles(nullptr, 0);
    handle.CreateCodeHeurEngine();
  }
};

std::unique_ptr<assl::KNNCategCondition> Condition(const char* category, int threshold) {
  auto condition = std::make_unique<assl::KNNCategCondition>(threshold);
  condition->SetCategory(category);
  return condition;
}

TEST(KnnConditionTest, NoModelGivesZeroAndOneAnalysisServesEveryCondition) {
  knntest::ModelDir model;
  MailContext mail;
  mail.AddPart(false, u"hi", "N");  // the root and one part: 20 after LINIAR
  {
    Engines empty(model.dir.Wide());
    EXPECT_EQ(Condition("one", 0)->Evaluate(&empty.handle, &mail), 0.0);
    EXPECT_EQ(empty.handle.GetKnnHistory(), nullptr);
    EXPECT_FALSE(mail.knn.computed);
  }
  model.Write("0.3\n6\n1 H_MAIL_PARTS_COUNT LINIAR 100 10 0\n",
              "0.3\n0 1 1\none 0 5 0 20\nthree 0 5 0 40\n");
  Engines engines(model.dir.Wide());
  zztest::TraceCapture trace;
  const struct { const char* category; int threshold; double expected; } rows[] = {
      {"one", 100, 1.0}, {"one", 101, 0.0}, {"three", 0, 0.0}, {"One", 1, 0.0}, {"one", 0, 1.0}};
  for (const auto& row : rows) {
    EXPECT_EQ(Condition(row.category, row.threshold)->Evaluate(&engines.handle, &mail), row.expected)
        << row.category << " " << row.threshold;
  }
  EXPECT_EQ(trace.Count("KNN_ANALYZE inside CKNNAnalyzer"), 1);
  EXPECT_STREQ(mail.knn.category.c_str(), "one");
  MailContext three;  // the root and three parts: 40 after LINIAR
  for (int i = 0; i < 3; ++i) three.AddPart(false, u"x", "N");
  EXPECT_EQ(Condition("three", 100)->Evaluate(&engines.handle, &three), 1.0);
}

TEST(KnnConditionTest, HistoryIsCreatedOnceForConcurrentThreads) {
  knntest::ModelDir model;
  model.Write(knntest::kFeatures, knntest::kClusters);
  Engines engines(model.dir.Wide());
  std::vector<CAHistory*> seen(8, nullptr);
  std::vector<CKNNAnalyzer*> analyzers(8, nullptr);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      seen[t] = engines.handle.GetKnnHistory();
      analyzers[t] = engines.handle.GetKnnAnalyzer();
    });
  }
  for (auto& thread : threads) thread.join();
  ASSERT_NE(seen[0], nullptr);
  for (int t = 1; t < 8; ++t) {
    EXPECT_EQ(seen[t], seen[0]);
    EXPECT_EQ(analyzers[t], analyzers[0]);
  }
  EXPECT_EQ(seen[0]->GetSourceKind(0), static_cast<std::uint32_t>(kSourceAsslExpression));
  EXPECT_EQ(analyzers[0]->GetHistory(), seen[0]);
}

}  // namespace
