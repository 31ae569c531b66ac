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

// Whether the IME of the focus window wants Escape: to cancel its composition, or to close a
// candidate or prediction list it shows with no composition.
bool ImeWantsEscape(const platform::ImeState& ime) noexcept {
  return ime.Composition > 0 || ime.CandidateLists > 0;
}

// An Escape event the filter applies to: the foreground window's class, the press this hook
// remembers, any menu, move or size loop or IME, and any press of the key this hook did not see
// decide, and the verdict is carried out. Kept out of line, so that every other keystroke passes
// through the callback without a stack frame.
[[gnu::noinline]] platform::LResult FilterEscapeEvent(const PluginSettings& settings, int code,
                                                      platform::WParam key,
                                                      platform::LParam flags) noexcept {
  const platform::Window foreground = platform::ForegroundWindow();
  const ClassName name = GetWindowClassName(foreground);
  const WindowKind window =
      KindOfClass(std::string_view(name.Text, static_cast<std::size_t>(name.Length)));
  const bool released = (static_cast<std::uint32_t>(flags) & kKeyReleasedFlag) != 0;
  EscapeScene scene{static_cast<std::uintptr_t>(foreground), LastEscapePress, false};
  // The thread's loops, its focus window's IME and the key's other presses are asked about only
  // where the key could be swallowed or minimize: elsewhere it is passed on whatever they say.
  if (window != WindowKind::Other) {
    const platform::ThreadLoops loops = platform::ThreadModalLoops();
    scene.TakenByMenuOrIme = loops.Menu || ImeWantsEscape(platform::FocusImeState());
    scene.InMoveSizeLoop = loops.MoveSize;
    // Asked at every Escape event here, so a press clears what it set itself, and what a release
    // finds is a press since: one that went to another thread, whose release this hook never saw
    // either. Unlike a time bound, it holds however long a key is held or a thread takes to
    // retrieve its keys.
    scene.PressedElsewhere = platform::KeyWentDownSinceAsked(kVkEscape);
  }
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
