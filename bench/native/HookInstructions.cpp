// Delivers N events along one hook path, for tools/bench-native to count the instructions under
// callgrind: collection is switched on only inside DeliverEvents, and the difference between two
// runs with different N gives the instructions per event, free of every one-time cost. Fails
// when delivering allocated from the heap.
//
// Usage: hook_instructions PATH EVENTS   (PATH: floor, other-key, escape-conversation, ...)
#include <cstdio>
#include <cstdlib>
#include <string>

#include "AllocationControl.hpp"
#include "HookScene.hpp"

namespace {

using tovrel::platform::HookProc;
using tovrel::platform::LParam;
using tovrel::platform::LResult;
using tovrel::platform::WParam;

}  // namespace

// Named without mangling, for callgrind's --toggle-collect.
extern "C" [[gnu::noinline]] LResult tovrel_bench_deliver(HookProc proc, int code, WParam key,
                                                          LParam flags, long events) {
  LResult sum = 0;
  for (long i = 0; i < events; ++i) sum += proc(code, key, flags);
  return sum;
}

int main(int argc, char** argv) {
  const tovrel::bench::HookPath* path = argc == 3 ? tovrel::bench::FindHookPath(argv[1]) : nullptr;
  const long events = argc == 3 ? std::strtol(argv[2], nullptr, 10) : 0;
  if (path == nullptr || events <= 0) {
    std::fprintf(stderr, "usage: hook_instructions PATH EVENTS\n");
    for (const auto& p : tovrel::bench::HookPaths()) {
      std::fprintf(stderr, "  %-24s %s\n", p.Id, p.Description);
    }
    return 2;
  }

  const tovrel::bench::HookScene scene(*path, static_cast<std::size_t>(events));
  tovrel::test::CountAllocations(true);
  const LResult sum = tovrel_bench_deliver(path->Proc, tovrel::bench::HookScene::kCode, path->Key,
                                           path->Flags, events);
  const int allocations = tovrel::test::Allocations();
  tovrel::test::CountAllocations(false);
  if (allocations != 0) {
    std::fprintf(stderr, "hook path %s: %d heap allocations\n", path->Id, allocations);
    return 1;
  }
  std::printf("%s: %ld events, answers summing to %ld\n", path->Id, events, static_cast<long>(sum));
  return 0;
}
