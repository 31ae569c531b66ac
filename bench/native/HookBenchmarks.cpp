// Time per keyboard event of the Escape decision alone, of each path through the hook callback,
// and of the pass-through floor, on the fake platform. Each benchmark reports its time per event
// (ns_per_event), its ratio to the floor (x_floor) and the heap allocations made while it ran
// (allocs); the program fails when any of them allocated.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>

#include "AllocationControl.hpp"
#include "HookScene.hpp"
#include "plugin/EscapeFilter.hpp"

namespace {

using tovrel::PluginSettings;
using tovrel::bench::HookPath;
using tovrel::bench::HookScene;

double floorNsPerEvent = 0;  // set by the floor's benchmark, which runs first
bool allocated = false;

// Runs `event` once per iteration, with allocations counted, and reports the figures.
template <typename Event>
void Measure(benchmark::State& state, bool isFloor, Event&& event) {
  tovrel::test::CountAllocations(true);
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) event();
  const auto elapsed = std::chrono::steady_clock::now() - start;
  const int allocations = tovrel::test::Allocations();
  tovrel::test::CountAllocations(false);

  const double ns = std::chrono::duration<double, std::nano>(elapsed).count() /
                    static_cast<double>(state.iterations());
  state.counters["ns_per_event"] = ns;
  if (isFloor) floorNsPerEvent = ns;
  if (floorNsPerEvent > 0) state.counters["x_floor"] = ns / floorNsPerEvent;
  state.counters["allocs"] = allocations;
  if (allocations != 0) {
    allocated = true;
    state.SkipWithError("heap allocation on a hook path");
  }
}

void HookProcBenchmark(benchmark::State& state, const HookPath* path) {
  // Room for every event of the largest run would be too much; the records are cleared instead,
  // on the floor's path as on every other.
  const HookScene scene(*path, 1);
  Measure(state, std::string_view(path->Id) == "floor", [&scene] {
    benchmark::DoNotOptimize(scene.Deliver());
    HookScene::ForgetRecords();
  });
}

struct FilterCase {
  const char* Id;
  PluginSettings Settings;
  std::uintptr_t Key;
  bool Released;
  std::string_view Class;
};

const FilterCase kFilterCases[] = {
    {"other-key", {1, tovrel::DoNothing, 0}, 'A', false, tovrel::kConversationWindowClass},
    {"escape-conversation", {1, tovrel::DoNothing, 0}, 27, false, "IMWindowClass"},
    {"escape-other-window", {1, tovrel::DoNothing, 0}, 27, false, "Notepad"},
    {"escape-release-minimize", {1, tovrel::MinimizeIMWindow, 0}, 27, true, "IMWindowClass"},
};

void FilterBenchmark(benchmark::State& state, const FilterCase* c) {
  PluginSettings settings = c->Settings;
  int code = 0;
  std::uintptr_t key = c->Key;
  bool released = c->Released;
  std::string_view className = c->Class;
  Measure(state, false, [&] {
    // Inputs the compiler must read afresh each time, as the hook callback's are.
    benchmark::DoNotOptimize(settings);
    benchmark::DoNotOptimize(code);
    benchmark::DoNotOptimize(key);
    benchmark::DoNotOptimize(released);
    benchmark::DoNotOptimize(className);
    tovrel::FilterVerdict verdict =
        tovrel::FilterKeyEvent(settings, code, key, released, className);
    benchmark::DoNotOptimize(verdict);
  });
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
  for (const HookPath& path : tovrel::bench::HookPaths()) {
    const std::string name = std::string_view(path.Id) == "floor"
                                 ? std::string("PassThroughHookProc")
                                 : std::string("KeyboardHookProc/") + path.Id;
    benchmark::RegisterBenchmark(name.c_str(), HookProcBenchmark, &path);
  }
  for (const FilterCase& c : kFilterCases) {
    const std::string name = std::string("FilterKeyEvent/") + c.Id;
    benchmark::RegisterBenchmark(name.c_str(), FilterBenchmark, &c);
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (allocated) {
    std::fprintf(stderr, "hook_benchmarks: a hook path allocated from the heap\n");
    return 1;
  }
  return 0;
}
