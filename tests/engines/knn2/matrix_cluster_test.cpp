// Distance matrices and cluster distances: the triangle's shared cells and removal, the
// sparse lines' bounds, the extended margin and the members' statistics.
#include <gtest/gtest.h>

#include "engines/knn2/cluster.h"
#include "engines/knn2/distancematrix.h"
#include "engines/knn2/knn_fixture.h"
#include "engines/knn2/mailassigner.h"

namespace {

using zztest::WhatOf;

TEST(KnnMatrixTest, TriangleSharesCellsAndRemovesElements) {
  SymetricDistanceMatrix matrix(3);
  matrix.Set(0, 2, 5);
  EXPECT_EQ(matrix.Get(2, 0), 5);
  EXPECT_EQ(WhatOf([&] { matrix.Get(3, 0); }), "BadCoordonates - MESSAGE: The matrix doesn't have so many elements!");
  matrix.Set(0, 0, 1);
  matrix.Set(1, 0, 2);
  matrix.Set(2, 2, 3);
  matrix.Remove(1);
  ASSERT_EQ(matrix.GetNumberOfElems(), 2u);
  EXPECT_EQ(matrix.Get(0, 0), 1);
  EXPECT_EQ(matrix.Get(1, 0), 5);
  EXPECT_EQ(matrix.Get(1, 1), 3);

  AsymetricDistanceMatrix lines(2, 4, -1);
  lines.Set(1, 3, 7);
  EXPECT_EQ(lines.Get(1, 3), 7);
  EXPECT_EQ(lines.Get(0, 3), -1);
  EXPECT_EQ(WhatOf([&] { lines.Get(2, 0); }), "BadCoordonates - MESSAGE: AsymetricDistanceMatrix hasn't a 2 numbered line!");
  EXPECT_EQ(WhatOf([&] { lines.Set(0, 4, 1); }), "BadCoordonates - MESSAGE: AsymetricDistanceMatrix hasn't a 4 numbered column!");
  EXPECT_EQ(WhatOf([&] { lines.Remove(5); }), "BadCoordonates - MESSAGE: Line nr. 5 does not exist! The matrix only has 2 lines!");
  AsymetricDistanceMatrix empty;
  empty.Append(lines);
  EXPECT_EQ(empty.GetNumberOfColumns(), 4u);
  EXPECT_EQ(empty.Get(1, 3), 7);
  EXPECT_NE(WhatOf([&] { empty.Append(AsymetricDistanceMatrix(1, 3)); }).find("The number of columns differs"), std::string::npos);
}

TEST(KnnClusterTest, MarginAndMemberStatistics) {
  Cluster cluster;
  EXPECT_EQ(WhatOf([&] { cluster.GetCurrentAverageDistance(); }),
            "ASException - MESSAGE: CurrentAverageDistance was not set nor computed");
  EXPECT_EQ(WhatOf([&] { cluster.AddItem(nullptr); }), "ASAbnormalFeatureSet - MESSAGE: NULL item provided!");
  const struct { float avg, max, meanAvg, meanMax, margin; } rows[] = {
      {2, 4, 3, 5, 3}, {2, 6, 3, 5, 3}, {3, 8, 3, 5, 0}, {1, 3, 1.5f, 1.5f, 0.5f}};
  for (const auto& row : rows) {
    cluster.SetCurrentAverageDistance(row.avg);
    cluster.SetCurrentMaxDistance(row.max);
    cluster.ComputeExtendedMargin(row.meanAvg, row.meanMax);
    EXPECT_FLOAT_EQ(cluster.GetExtendedMargin(), row.margin) << row.avg << " " << row.max;
  }
  // Members at 1, 1 and 2 from their mean center (4): average 4/3 cut to 1.333, max 2.
  auto a = knntest::Set({4}), b = knntest::Set({4}), c = knntest::Set({7});
  std::vector<ItemDescriptor> items{ItemDescriptor(a.get()), ItemDescriptor(b.get()), ItemDescriptor(c.get())};
  for (auto& item : items) cluster.AddItem(&item);
  cluster.ComputeCalculableAverage();
  cluster.ComputeStatistics();
  EXPECT_EQ(cluster.GetCenter()->GetFeature(0)->Serialize(), "5");
  EXPECT_FLOAT_EQ(cluster.GetCurrentAverageDistance(), 1.333f);
  EXPECT_FLOAT_EQ(cluster.GetCurrentMaxDistance(), 2.0f);
  EXPECT_FLOAT_EQ(items[2].secondDistance, 2.0f);
  Cluster copy(cluster);
  EXPECT_NE(copy.GetCenter(), cluster.GetCenter());
  EXPECT_EQ(copy.GetItems().size(), 3u);
}

TEST(KnnClusterTest, ItemsJoinTheNearestCenterWithinTheirRadius) {
  auto zero = knntest::Set({0}), ten = knntest::Set({10}), near = knntest::Set({8}), far = knntest::Set({100});
  std::vector<ItemDescriptor> items{ItemDescriptor(near.get()), ItemDescriptor(far.get())};
  for (auto& item : items) item.firstDistance = 20;
  std::vector<Cluster> centers;
  centers.emplace_back(zero.get(), false, true);
  centers.emplace_back(ten.get(), false, true);
  SymetricDistanceMatrix between(2);
  AsymetricDistanceMatrix toItems(2, 2, -1);
  EXPECT_EQ(MailAssigner(items, between, toItems).AssignMails(centers), std::vector<std::uint32_t>{1});
  EXPECT_EQ(items[0].clusterIndex, 1u);
  EXPECT_EQ(toItems.Get(1, 0), 2);
  EXPECT_EQ(centers[1].GetItems().size(), 1u);
  EXPECT_TRUE(centers[0].GetItems().empty());
}

}  // namespace
