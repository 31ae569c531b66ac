// A short run of each benchmark on the real platform, so that the full run stays runnable.
#include <gtest/gtest.h>

#include <cstdio>

#include "WineBench.hpp"

namespace tovrel {
namespace {

TEST(WineBenchSmoke, EveryMeasureCompletesWithPlausibleFigures) {
  const bench::HookCost hook = bench::MeasureHookCost(3, 20);
  ASSERT_TRUE(hook.Complete);
  EXPECT_GT(hook.NoHookUs, 0);
  EXPECT_GT(hook.PassThroughUs, 0);
  EXPECT_GT(hook.PluginUs, 0);
  const bench::LoadCost load = bench::MeasureLoadCost(3);
  ASSERT_TRUE(load.Complete);
  EXPECT_GT(load.PluginUs, 0);
  EXPECT_GT(load.EmptyUs, 0);
  const bench::DialogCost dialog = bench::MeasureDialogCost(1);
  ASSERT_TRUE(dialog.Complete);
  EXPECT_GT(dialog.MedianMs, 0);
  std::printf("%s", bench::Report(hook, load, dialog).c_str());
}

}  // namespace
}  // namespace tovrel
