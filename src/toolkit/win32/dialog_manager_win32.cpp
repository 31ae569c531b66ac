// The dialog manager of the form's window: its window procedure, the focus and the tab order,
// the default button and its look, the dialog keys (Tab, Enter, Escape), the messages other
// programs send any dialog (IDOK and IDCANCEL, WM_NEXTDLGCTL, DM_GETDEFID and DM_SETDEFID), the
// form's state
// shown on the controls and read back from them before a button's handler runs, and the focus
// and underline cues.
#include <windows.h>

#include <algorithm>
#include <cstddef>

#include "toolkit/Form.hpp"
#include "toolkit/win32/FormWindows.hpp"
#include "uConstants.hpp"

namespace tovrel::toolkit {

namespace {

bool KeyDown(int key) noexcept {
  return (::GetKeyState(key) & 0x8000) != 0;
}

}  // namespace

// The controls show their state: enabled, checked, selected.
void TForm::Windows::Sync() noexcept {
  if (!formWindow) return;  // destroyed: nothing left to show
  const FormLayout& layout = owner.layout_;
  for (std::size_t index = 0; index < layout.Controls.size(); ++index) {
    const TControl& state = owner.Control(index);
    HWND control = controls[index];
    if ((::IsWindowEnabled(control) != FALSE) != state.Enabled) {
      ::EnableWindow(control, state.Enabled ? TRUE : FALSE);
    }
    switch (layout.Controls[index].Kind) {
      case ControlKind::CheckBox: {
        const bool checked = ::SendMessageA(control, BM_GETCHECK, 0, 0) == BST_CHECKED;
        if (checked != state.Checked) {
          ::SendMessageA(control, BM_SETCHECK, state.Checked ? BST_CHECKED : BST_UNCHECKED, 0);
        }
        break;
      }
      case ControlKind::DropDownList:
        if (::SendMessageA(control, CB_GETCURSEL, 0, 0) != state.ItemIndex) {
          ::SendMessageA(control, CB_SETCURSEL, static_cast<WPARAM>(state.ItemIndex), 0);
        }
        break;
      default:
        break;
    }
  }
}

int TForm::Windows::IndexOf(HWND candidate) const noexcept {
  const auto* found = std::find(controls.begin(), controls.end(), candidate);
  return found == controls.end() ? -1 : static_cast<int>(found - controls.begin());
}

int TForm::Windows::FindOption(std::uint8_t option) const noexcept {
  const auto& all = owner.layout_.Controls;
  for (std::size_t index = 0; index < all.size(); ++index) {
    if ((all[index].Options & option) != 0) return static_cast<int>(index);
  }
  return -1;
}

bool TForm::Windows::IsPushButton(HWND candidate) const noexcept {
  const int index = IndexOf(candidate);
  return index >= 0 &&
         owner.layout_.Controls[static_cast<std::size_t>(index)].Kind == ControlKind::Button;
}

// The focused push button is drawn as the default one; elsewhere the form's default button is.
void TForm::Windows::ShowDefaultOn(HWND button) noexcept {
  if (button == defaultLook) return;
  if (defaultLook != nullptr) ::SendMessageA(defaultLook, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
  if (button != nullptr) ::SendMessageA(button, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
  defaultLook = button;
}

void TForm::Windows::DefaultLookFollowsFocus() noexcept {
  HWND focused = ::GetFocus();
  if (IndexOf(focused) >= 0) ShowDefaultOn(IsPushButton(focused) ? focused : defaultButton);
}

// DM_SETDEFID, as the dialog manager takes it: the push button with that identifier becomes the
// default one, which DM_GETDEFID names and Enter presses, and is drawn so unless another push
// button has the focus; an identifier of none of the form's push buttons leaves it none.
void TForm::Windows::SetDefaultButton(int id) noexcept {
  HWND button = ::GetDlgItem(formWindow.Get(), id);
  defaultButton = IsPushButton(button) ? button : nullptr;
  HWND focused = ::GetFocus();
  ShowDefaultOn(IsPushButton(focused) ? focused : defaultButton);
}

void TForm::Windows::MoveFocus(bool backwards) noexcept {
  if (tabOrder.empty()) return;
  const auto count = static_cast<int>(tabOrder.size());
  auto* current = std::find(tabOrder.begin(), tabOrder.end(), ::GetFocus());
  int position = current == tabOrder.end() ? (backwards ? 0 : count - 1)
                                           : static_cast<int>(current - tabOrder.begin());
  for (int step = 0; step < count; ++step) {
    position = (position + (backwards ? count - 1 : 1)) % count;
    HWND candidate = tabOrder[static_cast<std::size_t>(position)];
    if (::IsWindowEnabled(candidate) && ::IsWindowVisible(candidate)) {
      ::SetFocus(candidate);
      return;
    }
  }
}

// WM_NEXTDLGCTL, as the dialog manager takes it: the focus to the control in wparam when lparam
// says so, else to the next or (wparam non-zero) the previous tab stop; the default look follows.
void TForm::Windows::NextControl(WPARAM wparam, LPARAM lparam) noexcept {
  if (LOWORD(lparam) != 0) {
    auto* target = reinterpret_cast<HWND>(wparam);
    if (IndexOf(target) >= 0) ::SetFocus(target);
  } else {
    MoveFocus(wparam != 0);
  }
  DefaultLookFollowsFocus();
}

// The controls' own state taken into the form's, as the user's changes are, with the handlers of
// what changed: another program may have set a control with a message that notifies no one
// (BM_SETCHECK, CB_SETCURSEL), and the form stores what the controls show.
void TForm::Windows::ReadControls() noexcept {
  for (std::size_t at = 0; at < controls.size() && formWindow; ++at) {
    TControl& state = owner.Control(at);
    const ControlKind kind = owner.layout_.Controls[at].Kind;
    if (kind == ControlKind::CheckBox) {
      owner.SetChecked(state, ::SendMessageA(controls[at], BM_GETCHECK, 0, 0) == BST_CHECKED);
    } else if (kind == ControlKind::DropDownList) {
      const auto item = static_cast<int>(::SendMessageA(controls[at], CB_GETCURSEL, 0, 0));
      if (item != state.ItemIndex) owner.Select(at, item);
    }
  }
}

// A push button clicked, by whatever route: its handler finds the form as the controls show it.
void TForm::Windows::Press(std::size_t button) noexcept {
  ReadControls();
  Act([](TForm& target, std::size_t at, int) { target.Click(at); }, button, 0);
}

// Focus rectangles and accelerator underlines stay hidden until the keyboard is used, where the
// system hides them: the first keyboard navigation reveals the focus, Alt the underlines, on the
// form and every control, once each while the form is shown.
void TForm::Windows::RevealCues(WORD cues) noexcept {
  if ((cuesShown & cues) == cues || !formWindow) return;
  cuesShown = static_cast<WORD>(cuesShown | cues);
  ::SendMessageA(formWindow.Get(), WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, cues), 0);
}

// The form's own window or one of its controls.
bool TForm::Windows::IsFormWindow(HWND candidate) const noexcept {
  return formWindow &&
         (candidate == formWindow.Get() || ::GetParent(candidate) == formWindow.Get());
}

// Tab, Enter and Escape for the form's windows. Enter and Escape are dialog keys only with Shift,
// Ctrl and Alt released and every drop-down list closed; a modified one is dropped.
bool TForm::Windows::DialogKey(const MSG& message) noexcept {
  if (message.message != WM_KEYDOWN || !IsFormWindow(message.hwnd)) return false;
  const bool shift = KeyDown(VK_SHIFT);
  const bool ctrl = KeyDown(VK_CONTROL);
  const bool alt = KeyDown(VK_MENU);
  switch (message.wParam) {
    case VK_TAB:
      if (ctrl || alt) return false;
      RevealCues(UISF_HIDEFOCUS);
      MoveFocus(shift);
      return true;
    case VK_RETURN:
    case VK_ESCAPE: {
      for (std::size_t index = 0; index < controls.size(); ++index) {
        if (owner.layout_.Controls[index].Kind == ControlKind::DropDownList &&
            ::SendMessageA(controls[index], CB_GETDROPPEDSTATE, 0, 0) != 0) {
          return false;  // the open list takes the key
        }
      }
      if (shift || ctrl || alt) return true;
      int button = -1;
      if (message.wParam == VK_ESCAPE) {
        button = FindOption(kCancelButton);
      } else if (IsPushButton(::GetFocus())) {
        button = IndexOf(::GetFocus());
      } else if (defaultButton != nullptr) {
        button = IndexOf(defaultButton);
      }
      if (button >= 0 && ::IsWindowEnabled(controls[static_cast<std::size_t>(button)])) {
        Press(static_cast<std::size_t>(button));
      }
      return true;
    }
    default:
      return false;
  }
}

// Runs a user's action from the window procedure or the loop; the controls then show what its
// handlers made of the form's state.
void TForm::Windows::Act(void (*action)(TForm&, std::size_t, int), std::size_t index,
                         int value) noexcept {
  action(owner, index, value);
  Sync();
}

LRESULT CALLBACK TForm::Windows::Procedure(HWND window, UINT message, WPARAM wparam,
                                           LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lparam);
    ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<Windows*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
  if (self == nullptr || self->formWindow.Get() != window) {
    return ::DefWindowProcA(window, message, wparam, lparam);
  }
  if (message == WM_NCDESTROY) {
    // The last message the form's window gets, whoever destroys it.
    ::SetWindowLongPtrA(window, GWLP_USERDATA, 0);
    self->Destroyed();
    return ::DefWindowProcA(window, message, wparam, lparam);
  }
  const LRESULT result = self->Handle(message, wparam, lparam);
  self->WakeForResult();
  return result;
}

LRESULT TForm::Windows::Handle(UINT message, WPARAM wparam, LPARAM lparam) noexcept {
  switch (message) {
    case WM_COMMAND: {
      const int index = IndexOf(reinterpret_cast<HWND>(lparam));
      if (index < 0 && lparam == 0 && (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL)) {
        // IDOK and IDCANCEL, as another program asks any dialog to end: the default or the
        // cancel button is clicked, as Enter or Escape would.
        const int button = FindOption(LOWORD(wparam) == IDOK ? kDefaultButton : kCancelButton);
        if (button >= 0 && ::IsWindowEnabled(controls[static_cast<std::size_t>(button)])) {
          Press(static_cast<std::size_t>(button));
        }
        return 0;
      }
      if (index < 0) break;
      const auto position = static_cast<std::size_t>(index);
      const ControlKind kind = owner.layout_.Controls[position].Kind;
      const int code = HIWORD(wparam);
      if (code == BN_CLICKED && kind == ControlKind::CheckBox) {
        const int checked = ::SendMessageA(controls[position], BM_GETCHECK, 0, 0) == BST_CHECKED;
        Act([](TForm& target, std::size_t at,
               int state) { target.SetChecked(target.Control(at), state != 0); },
            position, checked);
      } else if (code == BN_CLICKED && kind == ControlKind::Button) {
        Press(position);
      } else if (code == CBN_SELCHANGE && kind == ControlKind::DropDownList) {
        const auto selection =
            static_cast<int>(::SendMessageA(controls[position], CB_GETCURSEL, 0, 0));
        Act([](TForm& target, std::size_t at, int item) { target.Select(at, item); }, position,
            selection);
      }
      return 0;
    }
    case WM_ACTIVATE:
      if (LOWORD(wparam) == WA_INACTIVE) {
        HWND focused = ::GetFocus();
        if (IndexOf(focused) >= 0) focus = focused;
      } else if (focus != nullptr) {
        ::SetFocus(focus);
      }
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(font.Get());
    case DM_GETDEFID:
      // As the dialog manager answers: the default button's identifier, while there is one.
      return defaultButton != nullptr
                 ? MAKELONG(::GetWindowLongPtrA(defaultButton, GWLP_ID), DC_HASDEFID)
                 : 0;
    case DM_SETDEFID:
      SetDefaultButton(static_cast<int>(wparam));
      return TRUE;
    case WM_NEXTDLGCTL:
      NextControl(wparam, lparam);
      return 0;
    case WM_CLOSE:
      // The close box, the system menu's Close and Alt+F4.
      owner.ModalResult = kDialogResultCancel;
      return 0;
    default:
      break;
  }
  return ::DefWindowProcA(formWindow.Get(), message, wparam, lparam);
}

}  // namespace tovrel::toolkit
