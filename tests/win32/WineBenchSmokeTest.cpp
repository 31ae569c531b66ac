// A short run of each benchmark on the real platform, so that the full run stays runnable, and
// the statistics its verdicts rest on.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "WineBench.hpp"

namespace tovrel {
namespace {

using bench::Estimate;
using bench::Verdict;

TEST(WineBenchSmoke, EveryMeasureCompletesAndPrintsItsTable) {
  const bench::Budget smoke{.Seconds = 0, .MinRepetitions = 3, .MaxRepetitions = 3};
  const bench::HookCost hook = bench::MeasureHookCost(smoke, 20);
  ASSERT_TRUE(hook.Complete);
  EXPECT_EQ(hook.CB.Samples, 3);
  EXPECT_GT(hook.PluginUs.Median, 0);
  const bench::LoadCost load = bench::MeasureLoadCost(smoke);
  ASSERT_TRUE(load.Complete);
  EXPECT_GT(load.Ratio.Median, 0);
  EXPECT_EQ(load.InitializeUs.Samples, 3) << "each step of the plug-in's cycle timed each time";
  EXPECT_GT(load.LoadUs.Median + load.InitializeUs.Median, 0);
  const bench::DialogCost dialog = bench::MeasureDialogCost(1);
  ASSERT_TRUE(dialog.Complete);
  const std::string table = bench::Report(hook, load, dialog);
  std::printf("%s", table.c_str());
  EXPECT_NE(table.find("| c/b, paired"), std::string::npos);
  // Three repetitions tell nothing: the table must say so rather than call a verdict.
  EXPECT_NE(table.find("| inconclusive |"), std::string::npos) << table;
}

TEST(WineBenchSmoke, TheIntervalHoldsTheMedianAndNarrowsWithMoreSamples) {
  std::vector<double> few, many;
  for (int i = 0; i < 20; ++i) few.push_back(1.0 + (i % 10) * 0.01);
  for (int i = 0; i < 2000; ++i) many.push_back(1.0 + (i % 10) * 0.01);
  const Estimate a = bench::EstimateMedian(few);
  const Estimate b = bench::EstimateMedian(many);
  ASSERT_TRUE(a.HasInterval && b.HasInterval);
  EXPECT_LE(a.Low, a.Median);
  EXPECT_GE(a.High, a.Median);
  EXPECT_LT(a.Low, a.High) << "20 samples spread over 10 values leave room";
  EXPECT_LT(b.HalfWidthPercent(), a.HalfWidthPercent() / 4);
  EXPECT_LE(b.Low, b.Median);
  EXPECT_GE(b.High, b.Median);
  EXPECT_FALSE(bench::EstimateMedian({1.0, 2.0, 3.0}).HasInterval);
}

TEST(WineBenchSmoke, AVerdictNeedsTheWholeIntervalOnOneSide) {
  const auto ratio = [](double low, double high) {
    return Estimate{
        .Median = (low + high) / 2, .Low = low, .High = high, .Samples = 100, .HasInterval = true};
  };
  EXPECT_EQ(bench::Judge(ratio(0.98, 1.02), 1.03), Verdict::Met);
  EXPECT_EQ(bench::Judge(ratio(1.04, 1.10), 1.03), Verdict::Missed);
  EXPECT_EQ(bench::Judge(ratio(1.00, 1.05), 1.03), Verdict::Inconclusive);
  EXPECT_EQ(bench::Judge(Estimate{.Median = 0.5, .Low = 0.5, .High = 0.5, .Samples = 3}, 1.03),
            Verdict::Inconclusive);
}

}  // namespace
}  // namespace tovrel
