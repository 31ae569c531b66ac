// tovrel-wine-bench.exe [--smoke] [OUTPUT.md]: the benchmarks on the real platform; prints the
// figures and writes them as a Markdown table. --smoke runs each one only a few times.
#include <cstdio>
#include <cstring>
#include <string>

#include "WineBench.hpp"

int main(int argc, char** argv) {
  bool smoke = false;
  const char* output = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--smoke") == 0) {
      smoke = true;
    } else {
      output = argv[i];
    }
  }
  using namespace tovrel::bench;
  const HookCost hook = MeasureHookCost(smoke ? 3 : 61, smoke ? 20 : 200);
  const LoadCost load = MeasureLoadCost(smoke ? 3 : 41);
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
