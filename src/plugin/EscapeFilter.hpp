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

// `released` is bit 31 of the keystroke flags. `foregroundClass` is read only when
// ConsultsForegroundWindow holds. Every non-negative code is swallowed alike; the minimize is
// sent once per key event, at its last call.
constexpr FilterVerdict FilterKeyEvent(const PluginSettings& settings, int code, std::uintptr_t key,
                                       bool released, std::string_view foregroundClass) noexcept {
  if (!ConsultsForegroundWindow(settings, code, key)) return kPassOn;
  const bool minimizeOnRelease = settings.ESCAction == MinimizeIMWindow && released;
  if (foregroundClass == kConversationWindowClass) {
    // Both the press and the release are swallowed in a conversation window, whatever the action.
    return FilterVerdict{true, minimizeOnRelease && IsLastCallForEvent(code, true)};
  }
  if (foregroundClass == kMainWindowClass) {
    // The main window always gets the key; the minimize comes in addition, when the key is taken.
    return FilterVerdict{false, minimizeOnRelease && settings.MinimizeMsgrMainWin != 0 &&
                                    IsLastCallForEvent(code, false)};
  }
  return kPassOn;
}

}  // namespace tovrel
