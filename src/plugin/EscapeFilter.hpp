// The Escape-key decision: a pure function of the settings, the event and the foreground
// window's class name. It needs no platform, so it is table-tested directly and inlined into the
// hook callback.
#pragma once

#include <cstdint>
#include <string_view>

#include "uConstants.hpp"
#include "uPreferences.hpp"

namespace tovrel {

struct FilterVerdict {
  bool Swallow;   // return 1 instead of passing the event on
  bool Minimize;  // send the foreground window the minimize command first

  friend bool operator==(const FilterVerdict&, const FilterVerdict&) = default;
};

inline constexpr FilterVerdict kPassOn{false, false};

// True when the decision depends on the foreground window: an Escape event with a non-negative
// hook code while the plug-in is enabled. Every other event is passed on without looking at any
// window; the key is tested first, which keeps the per-keystroke cost of ordinary typing to one
// comparison.
constexpr bool ConsultsForegroundWindow(const PluginSettings& settings, int code,
                                        std::uintptr_t key) noexcept {
  return key == kVkEscape && settings.EnablePlugin != 0 && code >= 0;
}

// Whether this is the hook's last call for the key event. A thread that peeks at a key without
// removing it (HC_NOREMOVE) and later takes it (HC_ACTION) has the hook called twice for the same
// event; a key swallowed at the peek is removed from the queue and is never taken. So the call
// that takes the key is the last one, and so is a peek that swallows it.
constexpr bool IsLastCallForEvent(int code, bool swallowed) noexcept {
  return code == kHcAction || (code == kHcNoRemove && swallowed);
}

// The last Escape press this hook decided on, which the release of the key pairs with: the window
// in front at the press, and whether a release in that window may minimize it. It may when the
// press was swallowed in a conversation window, or passed on in the main window with the main
// window's minimize on. A press in any other window, or one a menu loop or an IME took, arms
// nothing: its release, wherever it lands, minimizes nothing.
struct EscapePress {
  std::uintptr_t Window;  // 0: none
  bool Armed;

  friend bool operator==(const EscapePress&, const EscapePress&) = default;
};

inline constexpr EscapePress kNoPress{0, false};

// What the hook knows of an Escape event besides the key and the foreground window's class.
struct EscapeScene {
  std::uintptr_t Foreground = 0;     // the window whose class is given; 0 for none
  EscapePress LastPress = kNoPress;  // what the hook remembers of the last press
  // The thread is in a menu loop, or its focus window has an IME composition or candidate list
  // open: the key is theirs. It is passed on, and nothing is minimized.
  bool TakenByMenuOrIme = false;
  // The thread is moving or sizing a window: the press is the loop's, which ends on it and puts
  // the window back, so it is passed on and arms nothing. A release then minimizes nothing; in a
  // conversation window it is still swallowed, as every release there is.
  bool InMoveSizeLoop = false;
  // Escape went down since the hook last looked, and not for this thread: the key went up and
  // down again where this hook never saw it. A release now is that other press's, and pairs with
  // nothing remembered here. Consulted for releases only; a press and its repeats set it too.
  bool PressedElsewhere = false;
};

// A press and its release both seen by this hook with one window in front, no menu loop and no
// composition: the ordinary scene.
inline constexpr EscapeScene kPressSeenInThisWindow{1, {1, true}, false};

// Whether the release's press was seen by this hook with the same window in front, and armed,
// with no other press of the key since, and no move or size loop running.
constexpr bool ReleasePairsWithPress(const EscapeScene& scene) noexcept {
  return scene.LastPress.Armed && !scene.PressedElsewhere && !scene.InMoveSizeLoop &&
         scene.Foreground != 0 && scene.LastPress.Window == scene.Foreground;
}

// The windows Escape is decided for, told apart by their class names once per event.
enum class WindowKind : std::uint8_t { Other, Conversation, Main };

constexpr WindowKind KindOfClass(std::string_view foregroundClass) noexcept {
  if (foregroundClass == kConversationWindowClass) return WindowKind::Conversation;
  if (foregroundClass == kMainWindowClass) return WindowKind::Main;
  return WindowKind::Other;
}

// `released` is bit 31 of the keystroke flags. The kind of window is found only when
// ConsultsForegroundWindow holds. Every non-negative code is swallowed alike; the minimize is
// sent once per key event, at its last call, and only for a release whose press this hook saw in
// the same window. In any other kind of window Escape is passed on, whatever a menu loop or an
// IME would say: they are asked about only for the two messenger windows.
constexpr FilterVerdict FilterKeyEvent(const PluginSettings& settings, int code, std::uintptr_t key,
                                       bool released, WindowKind window,
                                       const EscapeScene& scene) noexcept {
  if (!ConsultsForegroundWindow(settings, code, key) || scene.TakenByMenuOrIme) return kPassOn;
  if (scene.InMoveSizeLoop && !released) return kPassOn;
  const bool minimizeOnRelease =
      settings.ESCAction == MinimizeIMWindow && released && ReleasePairsWithPress(scene);
  if (window == WindowKind::Conversation) {
    // Both the press and the release are swallowed in a conversation window, whatever the action:
    // a release without its press too, since the window never saw that press.
    return FilterVerdict{true, minimizeOnRelease && IsLastCallForEvent(code, true)};
  }
  if (window == WindowKind::Main) {
    // The main window always gets the key; the minimize comes in addition, when the key is taken.
    return FilterVerdict{false, minimizeOnRelease && settings.MinimizeMsgrMainWin != 0 &&
                                    IsLastCallForEvent(code, false)};
  }
  return kPassOn;
}

constexpr FilterVerdict FilterKeyEvent(const PluginSettings& settings, int code, std::uintptr_t key,
                                       bool released, std::string_view foregroundClass,
                                       const EscapeScene& scene) noexcept {
  return FilterKeyEvent(settings, code, key, released, KindOfClass(foregroundClass), scene);
}

// The decision for the ordinary scene.
constexpr FilterVerdict FilterKeyEvent(const PluginSettings& settings, int code, std::uintptr_t key,
                                       bool released, std::string_view foregroundClass) noexcept {
  return FilterKeyEvent(settings, code, key, released, foregroundClass, kPressSeenInThisWindow);
}

// What the hook remembers once a call for an Escape event that it filtered is done. A press
// records the window in front and whether its release may minimize it; its auto-repeats
// (`repeated`: bit 30 of the flags, the key was down already) keep what it left, wherever they
// land, so a key held down while a dialog closes, or pressed before this thread had it, pairs
// with nothing. The last call for a release forgets the press, so a second release pairs with
// nothing; a peek that passes a release on keeps it for the call that takes the key, disarmed
// when the release does not pair with it.
constexpr EscapePress RememberEscapePress(const PluginSettings& settings, int code, bool released,
                                          bool repeated, WindowKind window,
                                          const EscapeScene& scene,
                                          const FilterVerdict& verdict) noexcept {
  if (released) {
    if (IsLastCallForEvent(code, verdict.Swallow)) return kNoPress;
    return EscapePress{scene.LastPress.Window,
                       scene.LastPress.Armed && !scene.PressedElsewhere && !scene.InMoveSizeLoop};
  }
  if (repeated) return scene.LastPress;
  const bool mainWindowMinimizes =
      settings.ESCAction == MinimizeIMWindow && settings.MinimizeMsgrMainWin != 0;
  const bool armed =
      !scene.TakenByMenuOrIme && !scene.InMoveSizeLoop &&
      (window == WindowKind::Conversation || (window == WindowKind::Main && mainWindowMinimizes));
  return EscapePress{scene.Foreground, armed};
}

}  // namespace tovrel
