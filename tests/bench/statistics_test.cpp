#include "statistics.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace TessarnBench;

TEST(Statistics, MedianOfRunsIsTheMiddleOneOrNothingWhenARunFailed)
{
    EXPECT_EQ(median({3.0, 1.0, 2.0}), 2.0);
    EXPECT_EQ(median({5.0}), 5.0);
    EXPECT_TRUE(std::isnan(median({1.0, notMeasured, 3.0})));
    EXPECT_TRUE(std::isnan(median({}))) << "a target with no runs";
}

TEST(Statistics, PercentileTakesTheNearestRankOfTheSortedSamples)
{
    std::vector<double> values;
    for (int i = 20; i >= 1; --i)
        values.push_back(i);
    EXPECT_EQ(percentile(values, 0.0), 1.0);
    EXPECT_EQ(percentile(values, 0.95), 19.0);
    EXPECT_EQ(percentile(values, 1.0), 20.0);
}
