#include "plugin/KeyboardHook.hpp"

#include <string_view>

#include "plugin/EscapeFilter.hpp"
#include "plugin/HookRecord.hpp"
#include "plugin/ModuleState.hpp"
#include "uConstants.hpp"

namespace tovrel {

namespace {

// The handle the next hook in the chain is called with: the record's, or 0 should this load have
// lost its record while the hook still runs.
platform::HookHandle StoredHookHandle() noexcept {
  return HookRecView ? HookRecView->HookHandle : 0;
}

}  // namespace

ClassName GetWindowClassName(platform::Window window) noexcept {
  // Only the text up to the terminating NUL is ever written or read: the Escape path does not
  // clear 256 bytes it never looks at.
  ClassName name;  // NOLINT(cppcoreguidelines-pro-type-member-init)
  name.Length = 0;
  if (window != platform::Window::None) {
    const int copied = platform::WindowClassName(window, name.Text, 255);
    // The name ends at the first NUL; a result out of range reads as no name.
    if (copied > 0 && copied < 255) name.Length = copied;
  }
  name.Text[name.Length] = '\0';
  return name;
}

namespace {

// An Escape event the filter applies to: the foreground window's class, the press this hook
// remembers and any menu loop or composition decide, and the verdict is carried out. Kept out of
// line, so that every other keystroke passes through the callback without a stack frame.
[[gnu::noinline]] platform::LResult FilterEscapeEvent(const PluginSettings& settings, int code,
                                                      platform::WParam key,
                                                      platform::LParam flags) noexcept {
  const platform::Window foreground = platform::ForegroundWindow();
  const ClassName name = GetWindowClassName(foreground);
  const WindowKind window =
      KindOfClass(std::string_view(name.Text, static_cast<std::size_t>(name.Length)));
  const bool released = (static_cast<std::uint32_t>(flags) & kKeyReleasedFlag) != 0;
  // The thread's menu loop and its focus window's IME are asked about only where the key could be
  // swallowed or minimize: elsewhere it is passed on whatever they say.
  const bool takenByMenuOrIme =
      window != WindowKind::Other && (platform::ThreadInMenuLoop() || platform::FocusComposing());
  const EscapeScene scene{static_cast<std::uintptr_t>(foreground), LastEscapePress,
                          takenByMenuOrIme};
  const FilterVerdict verdict = FilterKeyEvent(settings, code, key, released, window, scene);
  const bool repeated = (static_cast<std::uint32_t>(flags) & kKeyWasDownFlag) != 0;
  LastEscapePress = RememberEscapePress(settings, code, released, repeated, window, scene, verdict);
  // Only the window whose class was tested is ever minimized.
  if (verdict.Minimize) {
    platform::SendWindowMessage(foreground, kWmSysCommand, kScMinimize, 0);
  }
  if (verdict.Swallow) return kSwallowResult;
  return platform::CallNextHook(StoredHookHandle(), code, key, flags);
}

}  // namespace

platform::LResult TOVREL_WINAPI KeyboardHookProc(int code, platform::WParam key,
                                                 platform::LParam flags) noexcept {
  // Read in place at every event, not copied, so a change Configure makes applies to the next
  // key, and an ordinary key reads no more of it than the decision needs.
  if (ConsultsForegroundWindow(ModuleSettings, code, key)) {
    return FilterEscapeEvent(ModuleSettings, code, key, flags);
  }
  return platform::CallNextHook(StoredHookHandle(), code, key, flags);
}

}  // namespace tovrel
