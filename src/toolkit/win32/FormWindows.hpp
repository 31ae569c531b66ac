// The form's windows on Win32: the record every file of this folder works on, and what those files
// share. Private to toolkit/win32; nothing else includes it.
//
// The files, one duty each:
//   theme_context_win32.cpp   what the toolkit looks up in the system: the themed controls'
//                             activation context, in which Create makes the windows, and the
//                             system's version
//   form_build_win32.cpp      the windows built from the layout: fonts, text measured as the
//                             controls draw it, scaling to the density, placing, creating and
//                             re-fonting the controls, widths that fit their text, tab order
//   dialog_manager_win32.cpp  the window procedure as a dialog's: focus and Tab, the default
//                             button and its look, Enter and Escape, the messages other programs
//                             send any dialog, the controls' state shown and read back, the
//                             focus and underline cues
//   modal_loop_win32.cpp      ShowModal: owner and placement, the thread's windows disabled, the
//                             loop and its message filter, its end, the activation given back
// The handles' owners are here.
//
// Every control is a direct child of the form, placed by adding its parent's position, so that
// notifications reach the form without subclassing and the group box is painted as in any
// dialog: first created, beneath its controls. The form keeps its own tab order, built from the
// layout's per-parent tab orders, and handles Tab, Enter and Escape itself in its message loop.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <span>

#include "Memory.hpp"
#include "platform/Owned.hpp"
#include "toolkit/Form.hpp"

extern "C" IMAGE_DOS_HEADER __ImageBase;  // the linker's name for the module's own image

// What the files share is inline here or a member of the record, and each file's helpers have
// internal linkage: the DLL is one program to the link-time optimizer, but the linker counts
// every external symbol of a DLL as visible from outside, so a free function with external
// linkage stays in it whole, and is called the long way, beside any copy inlined.
namespace tovrel::toolkit::win32 {

// The module this toolkit is linked into: its window class and its manifest live there.
inline HINSTANCE ThisModule() noexcept {
  return reinterpret_cast<HINSTANCE>(&__ImageBase);
}

// The handles the toolkit holds, each with its owner.
inline void DeleteFont(HFONT font) noexcept {
  ::DeleteObject(font);
}
inline void DestroyFormWindow(HWND window) noexcept {
  ::DestroyWindow(window);
}
// Fails, and leaves the class, while another form of the class still has its window; the last
// form to go unregisters it, so that no class outlives the module's code.
inline void UnregisterFormClass(const char* name) noexcept {
  ::UnregisterClassA(name, ThisModule());
}
void ReleaseContext(HANDLE context) noexcept;  // form_system_win32.cpp

using OwnedFont = platform::Owned<HFONT, &DeleteFont>;
using OwnedActCtx = platform::Owned<HANDLE, &ReleaseContext>;           // null for none
using OwnedClass = platform::Owned<const char*, &UnregisterFormClass>;  // by its name
using OwnedWindow = platform::Owned<HWND, &DestroyFormWindow>;

struct Scaler {
  int numerator = 1;
  int denominator = 1;
  int operator()(int value) const noexcept { return ::MulDiv(value, numerator, denominator); }
};

}  // namespace tovrel::toolkit::win32

namespace tovrel::toolkit {

struct TForm::Windows {
  TForm& owner;
  // Released in the reverse order: the window (its controls go with it) before the font they
  // use, the class and the context they were made in.
  win32::OwnedActCtx themeContext;
  win32::OwnedClass formClass;
  win32::OwnedFont font;
  win32::OwnedWindow formWindow;  // the form's own; null once destroyed
  Array<HWND> controls;           // by layout position: children of the form's window
  Array<HWND> tabOrder;
  win32::Scaler scale;           // from the layout's pixels to the screen's
  HWND focus = nullptr;          // given back the focus when the form is activated again
  HWND defaultButton = nullptr;  // the layout's default button, or DM_SETDEFID's; null: none
  HWND defaultLook = nullptr;    // the push button drawn as the default one
  bool looping = false;          // the modal loop runs
  bool inLoopDispatch = false;   // the loop itself is handing a message on
  bool wakePosted = false;       // the loop has been woken for the result
  WORD cuesShown = 0;            // the UISF_ cues the keyboard has revealed since the form showed

  explicit Windows(TForm& owning) noexcept : owner(owning) {}
  Windows(const Windows&) = delete;
  Windows& operator=(const Windows&) = delete;
  ~Windows() {
    // The window's last messages, while it is destroyed, find no form to reach.
    if (formWindow) ::SetWindowLongPtrA(formWindow.Get(), GWLP_USERDATA, 0);
  }

  // Building and layout (form_build_win32.cpp).
  [[nodiscard]] bool Build() noexcept;
  [[nodiscard]] bool AppendTabStops(int parent) noexcept;
  [[nodiscard]] bool Refont() noexcept;
  int DroppedHeight(const ControlLayout& list) const noexcept;
  int WidthNeeded(std::size_t index) const noexcept;
  int RoomUpTo(std::size_t index, const Array<RECT>& placed) const noexcept;
  // The dialog manager (dialog_manager_win32.cpp).
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT Handle(UINT message, WPARAM wparam, LPARAM lparam) noexcept;
  void Sync() noexcept;
  int IndexOf(HWND candidate) const noexcept;
  int FindOption(std::uint8_t option) const noexcept;
  bool IsPushButton(HWND candidate) const noexcept;
  void ShowDefaultOn(HWND button) noexcept;
  void DefaultLookFollowsFocus() noexcept;
  void SetDefaultButton(int id) noexcept;
  void MoveFocus(bool backwards) noexcept;
  void NextControl(WPARAM wparam, LPARAM lparam) noexcept;
  void ReadControls() noexcept;
  void Press(std::size_t button) noexcept;
  void RevealCues(WORD cues) noexcept;
  bool IsFormWindow(HWND candidate) const noexcept;
  bool DialogKey(const MSG& message) noexcept;
  void Act(void (*action)(TForm&, std::size_t, int), std::size_t index, int value) noexcept;
  // The modal loop (modal_loop_win32.cpp).
  void Destroyed() noexcept;
  void WakeForResult() noexcept;
  void RunModalLoop() noexcept;
  void EndModal(const Array<HWND>& disabled, HWND activeBefore) const noexcept;
};

}  // namespace tovrel::toolkit
