#include "WineBench.hpp"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <thread>
#include <vector>

#include "KeyProbe.hpp"
#include "PluginApi.hpp"

namespace tovrel::bench {
namespace {

constexpr DWORD kDeadlineMs = 60000;

double Now() {
  static const double frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) * 1e6 / frequency;  // microseconds
}

double Median(const std::vector<double>& sorted) {
  if (sorted.empty()) return 0;
  const std::size_t middle = sorted.size() / 2;
  return sorted.size() % 2 != 0 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
}

// Repeats `repetition` until the estimate of the series `judged` is within the budget's
// precision, or the budget is spent; false when a repetition failed.
template <typename Repetition>
bool Repeat(const Budget& budget, Repetition repetition, const std::vector<double>& judged,
            double& seconds) {
  const double start = Now();
  for (int rep = 0; rep < budget.MaxRepetitions; ++rep) {
    if (!repetition(rep)) return false;
    seconds = (Now() - start) / 1e6;
    if (rep + 1 < budget.MinRepetitions) continue;
    if (seconds >= budget.Seconds) break;
    // Sorting thousands of samples after every repetition would cost more than a repetition.
    if ((rep + 1) % 16 != 0) continue;
    const Estimate estimate = EstimateMedian(judged);
    if (estimate.HasInterval && estimate.HalfWidthPercent() <= budget.Precision * 100) break;
  }
  return true;
}

std::string Interval(const Estimate& e, int decimals) {
  char text[128];
  if (!e.HasInterval) {
    std::snprintf(text, sizeof text, "%.*f (no interval: %d samples)", decimals, e.Median,
                  e.Samples);
  } else {
    std::snprintf(text, sizeof text, "%.*f [%.*f, %.*f] (±%.1f%%)", decimals, e.Median, decimals,
                  e.Low, decimals, e.High, e.HalfWidthPercent());
  }
  return text;
}

std::string Judged(const Estimate& ratio, double target) {
  const Verdict verdict = Judge(ratio, target);
  char text[160];
  if (verdict == Verdict::Inconclusive && ratio.HasInterval) {
    std::snprintf(text, sizeof text, "inconclusive: [%.3f, %.3f] holds %.2f", ratio.Low, ratio.High,
                  target);
  } else {
    std::snprintf(text, sizeof text, "%s", VerdictText(verdict));
  }
  return text;
}

// Sends `batch` events of a non-Escape key (presses and releases alternating) and retrieves them
// all on this thread; microseconds per message, or a negative value when they did not all arrive.
double RetrieveBatch(int batch) {
  std::vector<INPUT> inputs(static_cast<std::size_t>(batch));
  for (int i = 0; i < batch; ++i) {
    INPUT& input = inputs[static_cast<std::size_t>(i)];
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = 'A';
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyA('A', 0));
    input.ki.dwFlags = i % 2 != 0 ? KEYEVENTF_KEYUP : 0;
  }
  const double start = Now();
  if (SendInput(static_cast<UINT>(batch), inputs.data(), sizeof(INPUT)) !=
      static_cast<UINT>(batch)) {
    return -1;
  }
  int retrieved = 0;
  const ULONGLONG deadline = GetTickCount64() + kDeadlineMs;
  MSG message;
  while (retrieved < batch) {
    if (PeekMessageA(&message, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE)) {
      if (message.message == WM_KEYDOWN || message.message == WM_KEYUP) ++retrieved;
      continue;
    }
    if (GetTickCount64() > deadline) return -1;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_KEY);
  }
  return (Now() - start) / batch;
}

}  // namespace

double Estimate::HalfWidthPercent() const {
  return Median > 0 ? (High - Low) / 2 / Median * 100 : 0;
}

// The interval from the order statistics: with n samples, the ranks n/2 ± 1.96·√n/2 (the
// binomial's normal approximation) hold the median with 95% confidence, whatever the samples'
// distribution.
Estimate EstimateMedian(std::vector<double> samples) {
  Estimate estimate;
  estimate.Samples = static_cast<int>(samples.size());
  if (samples.empty()) return estimate;
  std::sort(samples.begin(), samples.end());
  estimate.Median = Median(samples);
  estimate.Low = estimate.High = estimate.Median;
  if (samples.size() < 10) return estimate;
  const double n = static_cast<double>(samples.size());
  const double reach = 1.96 * std::sqrt(n) / 2;
  const auto low = static_cast<std::size_t>(std::max(1.0, std::floor(n / 2 - reach)));
  const auto high = static_cast<std::size_t>(std::min(n, std::ceil(n / 2 + 1 + reach)));
  estimate.Low = samples[low - 1];  // ranks count from 1
  estimate.High = samples[high - 1];
  estimate.HasInterval = true;
  return estimate;
}

Verdict Judge(const Estimate& ratio, double target) {
  if (!ratio.HasInterval) return Verdict::Inconclusive;
  if (ratio.High <= target) return Verdict::Met;
  if (ratio.Low > target) return Verdict::Missed;
  return Verdict::Inconclusive;
}

const char* VerdictText(Verdict verdict) {
  switch (verdict) {
    case Verdict::Met:
      return "met";
    case Verdict::Missed:
      return "missed";
    case Verdict::Inconclusive:
      break;
  }
  return "inconclusive";
}

HookCost MeasureHookCost(const Budget& budget, int batch) {
  HookCost cost;
  cost.MessagesPerRepetition = batch;
  host::PluginApi plugin;
  HMODULE passThrough = LoadLibraryA("passthrough.dll");
  auto install = reinterpret_cast<BOOL (*)()>(
      reinterpret_cast<void*>(GetProcAddress(passThrough, "InstallPassThrough")));
  auto remove = reinterpret_cast<void (*)()>(
      reinterpret_cast<void*>(GetProcAddress(passThrough, "RemovePassThrough")));
  if (!plugin.Load() || install == nullptr || remove == nullptr) return cost;

  probe::ProbeWindow window("TovrelBenchWindow");
  if (!window.BringToFront()) return cost;
  plugin.Initialize(0, "bench-user", 0);  // enabled by default
  plugin.Uninitialize();

  std::vector<double> samples[3];
  std::vector<double> cb;
  std::vector<double> ca;
  RetrieveBatch(batch);  // warm-up
  const auto repetition = [&](int rep) {
    double perMessage[3] = {};
    for (int step = 0; step < 3; ++step) {
      const int setup = (rep + step) % 3;  // a rotating order: drift hits all three alike
      if (setup == 1) install();
      if (setup == 2) plugin.Initialize(0, "bench-user", 0);
      perMessage[setup] = RetrieveBatch(batch);
      if (setup == 1) remove();
      if (setup == 2) plugin.Uninitialize();
      if (perMessage[setup] <= 0) return false;
    }
    for (int setup = 0; setup < 3; ++setup) samples[setup].push_back(perMessage[setup]);
    cb.push_back(perMessage[2] / perMessage[1]);
    ca.push_back(perMessage[2] / perMessage[0]);
    return true;
  };
  cost.Complete = Repeat(budget, repetition, cb, cost.Seconds);
  plugin.Unload();
  FreeLibrary(passThrough);
  cost.NoHookUs = EstimateMedian(samples[0]);
  cost.PassThroughUs = EstimateMedian(samples[1]);
  cost.PluginUs = EstimateMedian(samples[2]);
  cost.CB = EstimateMedian(cb);
  cost.CA = EstimateMedian(ca);
  return cost;
}

LoadCost MeasureLoadCost(const Budget& budget) {
  LoadCost cost;
  std::vector<double> plugin, empty, loadOnly, ratio;
  std::vector<double> steps[4];  // load, Initialize, Uninitialize, unload
  const auto repetition = [&](int rep) {
    double times[3] = {};
    double ends[4] = {};
    for (int step = 0; step < 3; ++step) {
      const int which = (rep + step) % 3;  // 0 the plug-in's cycle, 1 the empty DLL, 2 load only
      const double start = Now();
      bool loaded = false;
      if (which == 0) {
        host::PluginApi api;
        loaded = api.Load();
        ends[0] = Now();
        if (loaded) {
          api.Initialize(0, "bench-user", 0);
          ends[1] = Now();
          api.Uninitialize();
          ends[2] = Now();
          api.Unload();
          ends[3] = Now();
          for (int i = 0; i < 4; ++i) steps[i].push_back(ends[i] - (i == 0 ? start : ends[i - 1]));
        }
      } else {
        HMODULE module = LoadLibraryA(which == 1 ? "empty.dll" : "tovrel.dll");
        loaded = module != nullptr;
        if (loaded) FreeLibrary(module);
      }
      times[which] = Now() - start;
      if (!loaded) return false;
    }
    plugin.push_back(times[0]);
    empty.push_back(times[1]);
    loadOnly.push_back(times[2]);
    ratio.push_back(times[0] / times[1]);
    return true;
  };
  cost.Complete = Repeat(budget, repetition, ratio, cost.Seconds);
  cost.PluginUs = EstimateMedian(plugin);
  cost.EmptyUs = EstimateMedian(empty);
  cost.PluginLoadOnlyUs = EstimateMedian(loadOnly);
  cost.LoadUs = EstimateMedian(steps[0]);
  cost.InitializeUs = EstimateMedian(steps[1]);
  cost.UninitializeUs = EstimateMedian(steps[2]);
  cost.UnloadUs = EstimateMedian(steps[3]);
  cost.Ratio = EstimateMedian(ratio);
  return cost;
}

DialogCost MeasureDialogCost(int repetitions) {
  DialogCost cost;
  cost.Repetitions = repetitions;
  host::PluginApi plugin;
  if (!plugin.Load()) return cost;
  std::vector<double> samples;
  bool complete = true;
  for (int rep = 0; rep < repetitions && complete; ++rep) {
    double shown = -1;
    const double start = Now();
    std::thread user([&] {
      const ULONGLONG deadline = GetTickCount64() + kDeadlineMs;
      HWND dialog = nullptr;
      while (GetTickCount64() < deadline) {
        dialog = FindWindowA(nullptr, "Tovrel plugin configuration");
        if (dialog != nullptr && IsWindowVisible(dialog)) {
          shown = Now();
          break;
        }
        SwitchToThread();
      }
      if (dialog != nullptr) PostMessageA(dialog, WM_CLOSE, 0, 0);
    });
    plugin.Configure();
    user.join();
    complete = shown > 0;
    samples.push_back((shown - start) / 1000);
  }
  plugin.Unload();
  cost.MedianMs = EstimateMedian(samples).Median;
  cost.Complete = complete;
  return cost;
}

std::string Report(const HookCost& hook, const LoadCost& load, const DialogCost& dialog) {
  std::string text =
      "| measure (Wine; medians with 95% intervals) | figure | target | verdict |\n"
      "|---|---|---|---|\n";
  const auto row = [&text](const std::string& measure, const std::string& figure,
                           const char* target, const std::string& verdict) {
    text += "| " + measure + " | " + figure + " | " + target + " | " + verdict + " |\n";
  };
  char measure[160];
  row("(a) no hook, per keyboard message, us", Interval(hook.NoHookUs, 2), "", "");
  row("(b) pass-through hook from a DLL, per message, us", Interval(hook.PassThroughUs, 2), "", "");
  row("(c) tovrel.dll's hook, per message, us", Interval(hook.PluginUs, 2), "", "");
  std::snprintf(measure, sizeof measure, "c/b, paired (%d repetitions x %d messages, %.0f s)",
                hook.CB.Samples, hook.MessagesPerRepetition, hook.Seconds);
  row(measure, Interval(hook.CB, 3), "<= 1.03", Judged(hook.CB, kHookTarget));
  row("c/a, paired", Interval(hook.CA, 3), "", "");
  row("load + Initialize + Uninitialize + unload, tovrel.dll, us", Interval(load.PluginUs, 0), "",
      "");
  row("of which load, Initialize, Uninitialize, unload, us",
      Interval(load.LoadUs, 0) + "; " + Interval(load.InitializeUs, 0) + "; " +
          Interval(load.UninitializeUs, 0) + "; " + Interval(load.UnloadUs, 0),
      "", "");
  row("load + unload only, tovrel.dll, us", Interval(load.PluginLoadOnlyUs, 0), "", "");
  row("load + unload, empty DLL, us", Interval(load.EmptyUs, 0), "", "");
  std::snprintf(measure, sizeof measure,
                "load-to-unload / empty DLL, paired (%d repetitions, %.0f s)", load.Ratio.Samples,
                load.Seconds);
  row(measure, Interval(load.Ratio, 3), "<= 1.5", Judged(load.Ratio, kLoadTarget));
  std::snprintf(measure, sizeof measure, "Configure until the dialog is visible (%d repetitions)",
                dialog.Repetitions);
  char figure[32];
  std::snprintf(figure, sizeof figure, "%.1f ms", dialog.MedianMs);
  row(measure, figure, "", "");
  return text;
}

}  // namespace tovrel::bench
