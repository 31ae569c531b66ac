// tovrel-wine-bench.exe [--smoke] [--budget SECONDS] [OUTPUT.md]: the benchmarks on the real
// platform; prints the figures and writes them as a Markdown table. Each ratio is repeated until
// its 95% interval is within ±2% of its median, or for at most SECONDS (default 60) each.
// --smoke runs each measure only a few times, to show that it runs.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "WineBench.hpp"

int main(int argc, char** argv) {
  using namespace tovrel::bench;
  bool smoke = false;
  Budget budget;
  const char* output = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--smoke") == 0) {
      smoke = true;
    } else if (std::strcmp(argv[i], "--budget") == 0 && i + 1 < argc) {
      budget.Seconds = std::atof(argv[++i]);
    } else {
      output = argv[i];
    }
  }
  if (smoke) budget = {.Seconds = 0, .MinRepetitions = 3, .MaxRepetitions = 3};
  const HookCost hook = MeasureHookCost(budget, smoke ? 20 : 200);
  const LoadCost load = MeasureLoadCost(budget);
  const DialogCost dialog = MeasureDialogCost(smoke ? 1 : 11);
  const std::string report = Report(hook, load, dialog);
  std::fputs(report.c_str(), stdout);
  if (output != nullptr) {
    if (FILE* file = std::fopen(output, "w")) {
      std::fputs(report.c_str(), file);
      std::fclose(file);
    }
  }
  return hook.Complete && load.Complete && dialog.Complete ? 0 : 1;
}
