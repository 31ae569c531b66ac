// Constants shared across the plug-in's units.
#pragma once

#include <cstdint>

namespace tovrel {

// What Escape does in a conversation window. The values are the item positions of the
// configuration dialog's action list; any other stored byte behaves as DoNothing.
enum EscAction : std::uint8_t {
  DoNothing = 0,
  MinimizeIMWindow = 1,
};

// Results of the configuration dialog's modal display (the platform's IDOK and IDCANCEL).
inline constexpr int kDialogResultOK = 1;
inline constexpr int kDialogResultCancel = 2;

// Window classes of the messenger client, matched byte for byte and case-sensitively.
inline constexpr char kConversationWindowClass[] = "IMWindowClass";
inline constexpr char kMainWindowClass[] = "MSBLWindowClass";

// Virtual-key code of Escape (VK_ESCAPE).
inline constexpr std::uint32_t kVkEscape = 27;

// Bit 31 of a keyboard hook's keystroke flags: set while the key is being released.
inline constexpr std::uint32_t kKeyReleasedFlag = 0x80000000u;
// Bit 30: the key was down before this event; set on every auto-repeated press.
inline constexpr std::uint32_t kKeyWasDownFlag = 0x40000000u;

// The minimize command: WM_SYSCOMMAND with SC_MINIMIZE and 0.
inline constexpr std::uint32_t kWmSysCommand = 0x0112;
inline constexpr std::uintptr_t kScMinimize = 0xF020;

// Returned by the keyboard hook instead of passing an event on.
inline constexpr std::intptr_t kSwallowResult = 1;

// WH_KEYBOARD: the thread keyboard hook.
inline constexpr int kWhKeyboard = 2;

// The keyboard hook's codes for an event: HC_ACTION when the thread takes it from its queue,
// HC_NOREMOVE when the thread only peeks at it and leaves it queued.
inline constexpr int kHcAction = 0;
inline constexpr int kHcNoRemove = 3;

}  // namespace tovrel
