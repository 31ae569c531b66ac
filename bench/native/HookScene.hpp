// The hook paths that the benchmarks time and tools/bench-native counts instructions of, and the
// fake system each one runs on.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "platform/platform.hpp"
#include "plugin/EscapeFilter.hpp"
#include "plugin/ModuleState.hpp"
#include "uPreferences.hpp"

namespace tovrel::bench {

struct HookPath {
  const char* Id;           // as the command line and the result tables name it
  const char* Description;  // for people
  platform::HookProc Proc;
  PluginSettings Settings;
  platform::WParam Key;
  platform::LParam Flags;
  const char* ForegroundClass;
  bool Swallowed = false;   // answered 1 instead of passed on
  bool Minimizes = false;   // sends the foreground window the minimize command
  bool AfterPress = false;  // a release whose press the hook saw in the same window
};

// The floor first, then the hook callback's paths.
std::span<const HookPath> HookPaths() noexcept;
// The path of that id, or null.
const HookPath* FindHookPath(std::string_view id) noexcept;

// The fake system set up for one path: the module's settings, the hook installed, a foreground
// window of the path's class, and room recorded for `events` events, so that recording what the
// hook does never allocates. The constructor delivers one event and aborts with a message unless
// it took the path described.
class HookScene {
 public:
  HookScene(const HookPath& path, std::size_t events);
  ~HookScene();
  HookScene(const HookScene&) = delete;
  HookScene& operator=(const HookScene&) = delete;

  // A path after a press remembers that press again first: a store, timed with the callback.
  platform::LResult Deliver() const noexcept {
    if (path_.AfterPress) LastEscapePress = press_;
    return path_.Proc(kCode, path_.Key, path_.Flags);
  }
  // Forgets what the fake recorded, keeping the room: for loops longer than `events`.
  static void ForgetRecords() noexcept;

  static constexpr int kCode = 0;  // HC_ACTION
  static constexpr platform::LResult kNextHookResult = 0x5A5A;

 private:
  const HookPath& path_;
  EscapePress press_ = kNoPress;
};

}  // namespace tovrel::bench
