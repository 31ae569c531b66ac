// What tovrel.dll costs on the real platform, measured side by side in one process: the keyboard
// hook per message the thread retrieves, loading and unloading, and opening the dialog.
#pragma once

#include <string>

namespace tovrel::bench {

struct HookCost {
  double NoHookUs = 0;       // (a) per keyboard message, no hook on the thread
  double PassThroughUs = 0;  // (b) a hook that only calls CallNextHookEx, from a DLL
  double PluginUs = 0;       // (c) tovrel.dll's hook, initialized and enabled
  double SpreadPercent = 0;  // half the interquartile range of c/b over the repetitions
  int Repetitions = 0;
  int MessagesPerRepetition = 0;
  bool Complete = false;  // every message was retrieved in time
};

// Sends `batch` non-Escape key events per repetition with SendInput, under each of (a), (b) and
// (c) in turn, rotating their order from repetition to repetition; the medians per message.
HookCost MeasureHookCost(int repetitions, int batch);

struct LoadCost {
  double PluginUs = 0;  // LoadLibrary + Initialize + Uninitialize + FreeLibrary of tovrel.dll
  double EmptyUs = 0;   // LoadLibrary + FreeLibrary of an empty DLL
  double PluginLoadOnlyUs = 0;  // LoadLibrary + FreeLibrary of tovrel.dll, for the breakdown
  int Repetitions = 0;
  bool Complete = false;
};

LoadCost MeasureLoadCost(int repetitions);

struct DialogCost {
  double MedianMs = 0;  // from the call to Configure until the dialog is visible
  int Repetitions = 0;
  bool Complete = false;
};

DialogCost MeasureDialogCost(int repetitions);

// The figures as a Markdown table, with the targets beside them.
std::string Report(const HookCost& hook, const LoadCost& load, const DialogCost& dialog);

}  // namespace tovrel::bench
