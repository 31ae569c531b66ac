#include "HookScene.hpp"

#include <cstdio>
#include <cstdlib>

#include "FakePlatform.hpp"
#include "PassThroughHook.hpp"
#include "plugin/HookInstall.hpp"
#include "plugin/HookRecord.hpp"
#include "plugin/KeyboardHook.hpp"
#include "plugin/ModuleState.hpp"
#include "uConstants.hpp"

namespace tovrel::bench {

namespace {

constexpr platform::LParam kPress = 0x00010001;
const auto kRelease = static_cast<platform::LParam>(static_cast<std::int32_t>(0xC0010001u));
constexpr platform::WParam kKeyA = 'A';

const HookPath kPaths[] = {
    {.Id = "floor",
     .Description = "pass-through hook (floor)",
     .Proc = &PassThroughHookProc,
     .Settings = {1, DoNothing, 0},
     .Key = kKeyA,
     .Flags = kPress,
     .ForegroundClass = kConversationWindowClass},
    {.Id = "other-key",
     .Description = "other key",
     .Proc = &KeyboardHookProc,
     .Settings = {1, DoNothing, 0},
     .Key = kKeyA,
     .Flags = kPress,
     .ForegroundClass = kConversationWindowClass},
    {.Id = "escape-conversation",
     .Description = "Escape, conversation window",
     .Proc = &KeyboardHookProc,
     .Settings = {1, DoNothing, 0},
     .Key = kVkEscape,
     .Flags = kPress,
     .ForegroundClass = kConversationWindowClass,
     .Swallowed = true},
    {.Id = "escape-other-window",
     .Description = "Escape, other window",
     .Proc = &KeyboardHookProc,
     .Settings = {1, DoNothing, 0},
     .Key = kVkEscape,
     .Flags = kPress,
     .ForegroundClass = "Notepad"},
    {.Id = "escape-release-minimize",
     .Description = "Escape released, conversation window, minimize",
     .Proc = &KeyboardHookProc,
     .Settings = {1, MinimizeIMWindow, 0},
     .Key = kVkEscape,
     .Flags = kRelease,
     .ForegroundClass = kConversationWindowClass,
     .Swallowed = true,
     .Minimizes = true,
     .AfterPress = true},
};

void Require(bool holds, const char* path, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "hook path %s: %s\n", path, what);
  std::abort();
}

}  // namespace

std::span<const HookPath> HookPaths() noexcept {
  return kPaths;
}

const HookPath* FindHookPath(std::string_view id) noexcept {
  for (const HookPath& path : kPaths) {
    if (id == path.Id) return &path;
  }
  return nullptr;
}

HookScene::HookScene(const HookPath& path, std::size_t events) : path_(path) {
  fake::FakeSystem& system = fake::FakeSystem::Get();
  system.Reset();
  system.NextHookCalls.reserve(events + 1);
  system.Messages.reserve(events + 1);
  system.NextHookResult = kNextHookResult;
  // The fake system was reset: whatever an earlier run held is forgotten, not released.
  static_cast<void>(HookRecView.Release());
  static_cast<void>(HookRecMapping.Release());
  ModuleSettings = path.Settings;
  Require(InstallHook(), path.Id, "the hook installs");
  PassThroughHandle = HookRecView->HookHandle;
  const platform::Window window = system.AddWindow(path.ForegroundClass);
  system.SetForeground(window);
  press_ = EscapePress{static_cast<std::uintptr_t>(window), true};

  const platform::LResult result = Deliver();
  Require(result == (path.Swallowed ? kSwallowResult : kNextHookResult), path.Id,
          "answers as described");
  Require(system.NextHookCalls.size() == (path.Swallowed ? 0u : 1u), path.Id,
          "passes the event on as described");
  Require(system.Messages.size() == (path.Minimizes ? 1u : 0u), path.Id, "minimizes as described");
  ForgetRecords();
}

HookScene::~HookScene() {
  RemoveHook();
  ModuleSettings = PluginSettings{0, 0, 0};
  PassThroughHandle = 0;
}

void HookScene::ForgetRecords() noexcept {
  fake::FakeSystem& system = fake::FakeSystem::Get();
  system.NextHookCalls.clear();
  system.Messages.clear();
}

}  // namespace tovrel::bench
