// Shows, on the running system, what the plug-in's keyboard hook does with Escape: for each
// messenger window class and each setting, one press and one release, and what the window got.
#include <cstdio>

#include "KeyProbe.hpp"
#include "plugin/HookRecord.hpp"
#include "plugin/ModuleState.hpp"
#include "uConstants.hpp"

namespace {

using tovrel::PluginSettings;

struct Setting {
  const char* Label;
  PluginSettings Value;
};

constexpr Setting kSettings[] = {
    {"disabled", {0, tovrel::MinimizeIMWindow, 1}},
    {"do nothing", {1, tovrel::DoNothing, 0}},
    {"do nothing, main window too", {1, tovrel::DoNothing, 1}},
    {"minimize", {1, tovrel::MinimizeIMWindow, 0}},
    {"minimize, main window too", {1, tovrel::MinimizeIMWindow, 1}},
};

constexpr const char* kClasses[] = {tovrel::kConversationWindowClass, tovrel::kMainWindowClass,
                                    "Notepad"};

}  // namespace

int main() {
  tovrel::ModuleInstance = static_cast<tovrel::platform::Instance>(
      reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr)));
  if (!tovrel::InstallHook()) {
    std::puts("the keyboard hook could not be installed");
    return 1;
  }
  std::printf("Keyboard hook installed on thread %lu; record %s\n\n", GetCurrentThreadId(),
              tovrel::HookRecMappingName().Text);
  std::printf("%-16s %-28s %-22s %-22s\n", "window class", "setting", "Escape press",
              "Escape release");

  int failures = 0;
  for (const char* cls : kClasses) {
    for (const Setting& setting : kSettings) {
      tovrel::ModuleSettings = setting.Value;
      tovrel::probe::ProbeWindow window(cls);
      if (!window.BringToFront()) {
        std::printf("%-16s %-28s could not bring the window to the foreground\n", cls,
                    setting.Label);
        ++failures;
        continue;
      }
      const auto outcome = tovrel::probe::SendEscape(window);
      if (!outcome.Completed) ++failures;
      std::printf(
          "%-16s %-28s %-22s %-22s%s\n", cls, setting.Label,
          tovrel::probe::Describe(outcome.PressDelivered, outcome.MinimizedByPress).c_str(),
          tovrel::probe::Describe(outcome.ReleaseDelivered, outcome.MinimizedByRelease).c_str(),
          outcome.Completed ? "" : "  (timed out)");
    }
  }
  tovrel::RemoveHook();
  std::puts("\nKeyboard hook removed.");
  return failures == 0 ? 0 : 1;
}
