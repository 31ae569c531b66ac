#include "WineBench.hpp"

#include <windows.h>

#include <algorithm>
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

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double Quantile(std::vector<double> values, double q) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[static_cast<std::size_t>(q * static_cast<double>(values.size() - 1))];
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

HookCost MeasureHookCost(int repetitions, int batch) {
  HookCost cost;
  cost.Repetitions = repetitions;
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
  std::vector<double> ratios;
  bool complete = true;
  RetrieveBatch(batch);  // warm-up
  for (int rep = 0; rep < repetitions && complete; ++rep) {
    double perMessage[3] = {};
    for (int step = 0; step < 3; ++step) {
      const int setup = (rep + step) % 3;  // a rotating order: drift hits all three alike
      if (setup == 1) install();
      if (setup == 2) plugin.Initialize(0, "bench-user", 0);
      perMessage[setup] = RetrieveBatch(batch);
      if (setup == 1) remove();
      if (setup == 2) plugin.Uninitialize();
      complete = complete && perMessage[setup] > 0;
    }
    for (int setup = 0; setup < 3; ++setup) samples[setup].push_back(perMessage[setup]);
    ratios.push_back(perMessage[2] / perMessage[1]);
  }
  plugin.Unload();
  FreeLibrary(passThrough);
  cost.NoHookUs = Median(samples[0]);
  cost.PassThroughUs = Median(samples[1]);
  cost.PluginUs = Median(samples[2]);
  cost.SpreadPercent = (Quantile(ratios, 0.75) - Quantile(ratios, 0.25)) / 2 * 100;
  cost.Complete = complete;
  return cost;
}

LoadCost MeasureLoadCost(int repetitions) {
  LoadCost cost;
  cost.Repetitions = repetitions;
  std::vector<double> plugin, empty, loadOnly;
  bool complete = true;
  for (int rep = 0; rep < repetitions && complete; ++rep) {
    for (int step = 0; step < 3; ++step) {
      const int which = (rep + step) % 3;
      if (which == 2) {
        const double start = Now();
        HMODULE module = LoadLibraryA("tovrel.dll");
        complete = complete && module != nullptr;
        if (module != nullptr) FreeLibrary(module);
        loadOnly.push_back(Now() - start);
      } else if (which == 0) {
        const double start = Now();
        host::PluginApi api;
        complete = complete && api.Load();
        if (api.Module != nullptr) {
          api.Initialize(0, "bench-user", 0);
          api.Uninitialize();
          api.Unload();
        }
        plugin.push_back(Now() - start);
      } else {
        const double start = Now();
        HMODULE module = LoadLibraryA("empty.dll");
        complete = complete && module != nullptr;
        if (module != nullptr) FreeLibrary(module);
        empty.push_back(Now() - start);
      }
    }
  }
  cost.PluginUs = Median(plugin);
  cost.EmptyUs = Median(empty);
  cost.PluginLoadOnlyUs = Median(loadOnly);
  cost.Complete = complete;
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
  cost.MedianMs = Median(samples);
  cost.Complete = complete;
  return cost;
}

std::string Report(const HookCost& hook, const LoadCost& load, const DialogCost& dialog) {
  char text[2048];
  const double cb = hook.PluginUs / hook.PassThroughUs;
  const double ca = hook.PluginUs / hook.NoHookUs;
  const double loadRatio = load.PluginUs / load.EmptyUs;
  std::snprintf(text, sizeof text,
                "| measure (Wine, medians) | figure | target |\n"
                "|---|---|---|\n"
                "| (a) no hook, per keyboard message | %.1f us | |\n"
                "| (b) pass-through hook from a DLL, per message | %.1f us | |\n"
                "| (c) tovrel.dll's hook, per message | %.1f us | |\n"
                "| c/b (spread +-%.1f%%; %d repetitions x %d messages) | %.3f | <= 1.03: %s |\n"
                "| c/a | %.3f | |\n"
                "| load + Initialize + Uninitialize + unload, tovrel.dll | %.0f us | |\n"
                "| load + unload only, tovrel.dll | %.0f us | |\n"
                "| load + unload, empty DLL | %.0f us | |\n"
                "| ratio to the empty DLL (%d repetitions) | %.2f | <= 1.5: %s |\n"
                "| Configure until the dialog is visible (%d repetitions) | %.1f ms | |\n",
                hook.NoHookUs, hook.PassThroughUs, hook.PluginUs, hook.SpreadPercent,
                hook.Repetitions, hook.MessagesPerRepetition, cb, cb <= 1.03 ? "met" : "MISSED", ca,
                load.PluginUs, load.PluginLoadOnlyUs, load.EmptyUs, load.Repetitions, loadRatio,
                loadRatio <= 1.5 ? "met" : "MISSED", dialog.Repetitions, dialog.MedianMs);
  return text;
}

}  // namespace tovrel::bench
