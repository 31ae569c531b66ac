// The form shown modally, as the system's dialogs are: owned by the window active before it and
// placed on that window's monitor, the thread's other windows disabled while its own message loop
// runs, ended however the form ends, and the activation given back.
#include <windows.h>

#include <algorithm>
#include <cstdint>

#include "Memory.hpp"
#include "toolkit/Form.hpp"
#include "toolkit/win32/FormWindows.hpp"
#include "uConstants.hpp"

namespace tovrel::toolkit {

// The form's window is gone: its controls went with it. A loop that still runs ends with Cancel
// and touches none of them again.
void TForm::Windows::Destroyed() noexcept {
  static_cast<void>(formWindow.Release());  // gone already
  std::fill(controls.begin(), controls.end(), nullptr);
  tabOrder.Clear();
  focus = defaultButton = defaultLook = nullptr;
  if (looping) owner.ModalResult = kDialogResultCancel;
  WakeForResult();
}

// A result set inside a message the loop did not hand on itself (one sent by another thread, or
// from inside the system's message retrieval) is not seen until the retrieval returns: an empty
// message ends the wait at once, as the system's own dialogs do.
void TForm::Windows::WakeForResult() noexcept {
  if (!looping || inLoopDispatch || wakePosted || owner.ModalResult == 0) return;
  wakePosted = ::PostThreadMessageA(::GetCurrentThreadId(), WM_NULL, 0, 0) != FALSE;
}

namespace {

struct ThreadWindows {
  HWND except;
  Array<HWND> windows;
  bool complete = true;  // false when memory ran out before every window was seen
};

BOOL CALLBACK CollectEnabled(HWND window, LPARAM context) {
  auto* collected = reinterpret_cast<ThreadWindows*>(context);
  if (window != collected->except && ::IsWindowVisible(window) && ::IsWindowEnabled(window)) {
    if (!collected->windows.Push(window)) {
      collected->complete = false;
      return FALSE;
    }
  }
  return TRUE;
}

// The window that owns a form shown while `active` was active: that window while it is visible,
// else the nearest visible window that owns it. A hidden window (a tray icon's, say) owns no
// form: the form would have no taskbar button and no visible window to be found by. Null: none.
HWND VisibleOwner(HWND active) noexcept {
  HWND owner = active;
  while (owner != nullptr && !::IsWindowVisible(owner)) {
    owner = reinterpret_cast<HWND>(::GetWindowLongPtrA(owner, GWLP_HWNDPARENT));
  }
  return owner;
}

}  // namespace

// Until a result is set, WM_QUIT arrives or the form's window is destroyed.
void TForm::Windows::RunModalLoop() noexcept {
  MSG message{};
  while (owner.ModalResult == 0) {
    if (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE) == FALSE) {
      // Nothing waits: before the loop waits, the owner is told, as the system's dialogs tell
      // it, so that a host that does its idle work then goes on doing it while the form is open.
      // Its handler may end the form.
      auto* ownerWindow =
          reinterpret_cast<HWND>(::GetWindowLongPtrA(formWindow.Get(), GWLP_HWNDPARENT));
      if (ownerWindow != nullptr) {
        ::SendMessageA(ownerWindow, WM_ENTERIDLE, MSGF_DIALOGBOX,
                       reinterpret_cast<LPARAM>(formWindow.Get()));
      }
      if (owner.ModalResult != 0) return;
      if (::GetMessageA(&message, nullptr, 0, 0) == -1) {
        owner.ModalResult = kDialogResultCancel;
        return;
      }
    }
    if (message.message == WM_QUIT) {
      // WM_QUIT belongs to the thread's own loop: end the form and pass it on.
      ::PostQuitMessage(static_cast<int>(message.wParam));
      owner.ModalResult = kDialogResultCancel;
      return;
    }
    // As in the system's own modal loops, the thread's message filters see each message first,
    // and one that a filter took goes no further.
    if (::CallMsgFilterA(&message, MSGF_DIALOGBOX)) continue;
    inLoopDispatch = true;
    // Alt goes on to the window, once it has revealed the underlines.
    if (message.message == WM_SYSKEYDOWN && message.wParam == VK_MENU &&
        IsFormWindow(message.hwnd)) {
      RevealCues(UISF_HIDEACCEL);
    }
    if (!DialogKey(message)) {
      ::TranslateMessage(&message);
      ::DispatchMessageA(&message);
    }
    inLoopDispatch = false;
    if (!formWindow) return;  // destroyed: the result is Cancel
    DefaultLookFollowsFocus();
  }
}

// The windows disabled for the form take input again, and the window active before is active
// again if the form still was, or if the form is gone and took the activation with it. The form
// is hidden, and owned by no window any more.
void TForm::Windows::EndModal(const Array<HWND>& disabled, HWND activeBefore) const noexcept {
  for (HWND window : disabled) {
    if (::IsWindow(window)) ::EnableWindow(window, TRUE);
  }
  HWND form = formWindow.Get();
  HWND active = ::GetActiveWindow();
  const bool formWasActive = form == nullptr ? active == nullptr : active == form;
  if (formWasActive && activeBefore != nullptr && activeBefore != form &&
      ::IsWindow(activeBefore)) {
    ::SetActiveWindow(activeBefore);
  }
  if (form != nullptr) {
    ::SetWindowPos(form, nullptr, 0, 0, 0, 0,
                   SWP_HIDEWINDOW | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ::SetWindowLongPtrA(form, GWLP_HWNDPARENT, 0);
  }
}

int TForm::ShowModal() {
  if (windows_ == nullptr || !windows_->formWindow) return kDialogResultCancel;
  Windows& windows = *windows_;
  HWND form = windows.formWindow.Get();
  // The window active on this thread as the form is asked for. It owns the form while the form
  // runs: the form stays above it, and has no taskbar button or task-switcher entry of its own
  // through which the disabled window could be brought in front of it. Afterwards it is active
  // again. Without one the form runs unowned. (The themed controls' context was the form's while
  // it made its windows only: the thread's other windows, timers and hooks, which run in this
  // loop too, keep their own.)
  HWND activeBefore = ::GetActiveWindow();
  if (activeBefore == form) activeBefore = nullptr;
  ModalResult = 0;
  Run(layout_.OnShow);
  windows.Sync();

  // Every visible, enabled top-level window of this thread takes no input while the form runs.
  // All of them or none: a partial list would leave the rest usable, so memory running out
  // while it is made shows nothing.
  ThreadWindows disabled{form, {}};
  ::EnumThreadWindows(::GetCurrentThreadId(), &CollectEnabled, reinterpret_cast<LPARAM>(&disabled));
  if (!disabled.complete) {
    ModalResult = kDialogResultCancel;
    return ModalResult;
  }
  for (HWND window : disabled.windows) ::EnableWindow(window, FALSE);
  if (activeBefore != nullptr && !::IsWindow(activeBefore)) activeBefore = nullptr;
  ::SetWindowLongPtrA(form, GWLP_HWNDPARENT,
                      reinterpret_cast<LONG_PTR>(VisibleOwner(activeBefore)));

  // Centred on the monitor the user works on.
  RECT rect{};
  ::GetWindowRect(form, &rect);
  const FormOrigin origin =
      FormPosition(static_cast<platform::Window>(reinterpret_cast<std::uintptr_t>(activeBefore)),
                   rect.right - rect.left, rect.bottom - rect.top);
  windows.looping = true;
  windows.wakePosted = false;
  // Focus and accelerator cues start as the last input left them, as in the system's dialogs:
  // shown after a key, hidden after the mouse.
  windows.cuesShown = 0;
  ::SendMessageA(form, WM_CHANGEUISTATE, MAKEWPARAM(UIS_INITIALIZE, 0), 0);
  ::SetWindowPos(form, HWND_TOP, origin.Left, origin.Top, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
  if (windows.formWindow) ::SetActiveWindow(form);
  if (windows.formWindow && windows.IndexOf(::GetFocus()) < 0) {
    ::SetFocus(windows.focus);
  }
  // "Snap To": the pointer goes to the default button as the form opens, where the user asked.
  BOOL snap = FALSE;
  if (windows.defaultButton != nullptr &&
      ::SystemParametersInfoA(SPI_GETSNAPTODEFBUTTON, 0, &snap, 0) && snap) {
    RECT button{};
    ::GetWindowRect(windows.defaultButton, &button);
    ::SetCursorPos((button.left + button.right) / 2, (button.top + button.bottom) / 2);
  }

  windows.RunModalLoop();
  windows.looping = false;
  windows.EndModal(disabled.windows, activeBefore);
  return ModalResult;
}

}  // namespace tovrel::toolkit
