// What tovrel.dll costs on the real platform, measured side by side in one process: the keyboard
// hook per message the thread retrieves, loading and unloading, and opening the dialog.
//
// Every figure that has a target is a ratio of two set-ups measured back to back in the same
// repetition, so that whatever else the machine does reaches both alike. The figure is the median
// of those per-repetition ratios, with a 95% confidence interval for that median; repetitions go
// on until the interval is narrow enough or the time budget is spent. A target is called met or
// missed only when the whole interval lies on one side of it.
#pragma once

#include <string>
#include <vector>

namespace tovrel::bench {

// A median with its 95% confidence interval, from the order statistics of the samples.
struct Estimate {
  double Median = 0;
  double Low = 0;   // lower end of the interval; equal to the median when it cannot be told
  double High = 0;  // upper end
  int Samples = 0;
  bool HasInterval = false;  // too few samples give no interval
  // Half the interval's width, as a percentage of the median.
  double HalfWidthPercent() const;
};

Estimate EstimateMedian(std::vector<double> samples);

enum class Verdict { Met, Missed, Inconclusive };
// Met when the whole interval is at or below `target`, missed when all of it is above.
Verdict Judge(const Estimate& ratio, double target);
const char* VerdictText(Verdict verdict);

// When to stop repeating: the interval within ±`Precision` of the median, or the budget spent.
struct Budget {
  double Seconds = 60;
  double Precision = 0.02;
  int MinRepetitions = 20;
  int MaxRepetitions = 100000;
};

struct HookCost {
  Estimate NoHookUs;       // (a) per keyboard message, no hook on the thread
  Estimate PassThroughUs;  // (b) a hook that only calls CallNextHookEx, from a DLL
  Estimate PluginUs;       // (c) tovrel.dll's hook, initialized and enabled
  Estimate CB;             // c/b per repetition
  Estimate CA;             // c/a per repetition
  double Seconds = 0;
  int MessagesPerRepetition = 0;
  bool Complete = false;  // every message was retrieved in time
};

// Sends `batch` non-Escape key events per repetition with SendInput, under each of (a), (b) and
// (c) in turn, rotating their order from repetition to repetition.
HookCost MeasureHookCost(const Budget& budget, int batch);

struct LoadCost {
  Estimate PluginUs;          // LoadLibrary + Initialize + Uninitialize + FreeLibrary of tovrel.dll
  Estimate EmptyUs;           // LoadLibrary + FreeLibrary of an empty DLL
  Estimate PluginLoadOnlyUs;  // LoadLibrary + FreeLibrary of tovrel.dll, for the breakdown
  // The steps of the plug-in's cycle, each timed on its own within it.
  Estimate LoadUs;          // LoadLibrary and the five exports looked up by name
  Estimate InitializeUs;    // Initialize
  Estimate UninitializeUs;  // Uninitialize
  Estimate UnloadUs;        // FreeLibrary
  Estimate Ratio;           // plugin/empty per repetition
  double Seconds = 0;
  bool Complete = false;
};

LoadCost MeasureLoadCost(const Budget& budget);

struct DialogCost {
  double MedianMs = 0;  // from the call to Configure until the dialog is visible
  int Repetitions = 0;
  bool Complete = false;
};

DialogCost MeasureDialogCost(int repetitions);

inline constexpr double kHookTarget = 1.03;  // c/b
inline constexpr double kLoadTarget = 1.5;   // load-to-unload against the empty DLL

// The figures as a Markdown table, with the targets and verdicts beside them.
std::string Report(const HookCost& hook, const LoadCost& load, const DialogCost& dialog);

}  // namespace tovrel::bench
