// The configuration dialog: its controls' state, its handlers and its enabling rules.
//
// The handlers work on plain control state (checked, enabled, selection), so they run and are
// tested without any window. The window toolkit mirrors that state onto the real controls and
// reports the user's changes back through the same handlers.
#pragma once

#include <string_view>

#include "uConstants.hpp"
#include "uPreferences.hpp"

namespace tovrel {

class TfrmConfig;

struct TLabel {
  bool Enabled = true;
};

struct TCheckBox {
  bool Checked = false;
  bool Enabled = true;
  void (TfrmConfig::*OnClick)() = nullptr;
};

// A list-only drop-down: ItemIndex is the selected position, -1 for none.
struct TComboBox {
  int ItemIndex = -1;
  int ItemCount = 0;
  bool Enabled = true;
  void (TfrmConfig::*OnChange)() = nullptr;
};

// The texts of the action list; an item's position is the EscAction value it stands for.
inline constexpr std::string_view kActionItems[] = {
    "do nothing (prevent Messenger from minimizing IM window)",
    "minimize IM window",
};

class TfrmConfig {
 public:
  TfrmConfig();

  // Written by the caller before the dialog is shown, read back after an OK result.
  PluginSettings Settings{0, 0, 0};
  // 0 while the dialog runs; then kDialogResultOK or kDialogResultCancel.
  int ModalResult = 0;

  TLabel lbl1;
  TCheckBox cbEnablePlug;
  TComboBox cbxAction;
  TCheckBox cbMinimizeMainWin;
  TCheckBox cbSetAsDefault;

  void FormShow();
  void SetControls(PackedSettings value);
  void cbEnablePlugClick();
  void cbxActionChange();
  void btnOKClick();
  void btnCancelClick();

  // Changing a check box's state, from code as by the user, runs its click handler.
  void SetChecked(TCheckBox& box, bool checked);
  // A position without an item leaves the list with no selection.
  void SetItemIndex(TComboBox& list, int index);
};

// Writes `settings` into every profile key under the host's registry root, in the registry's
// enumeration order. Nothing happens when the root cannot be opened with full access.
void ApplyToAllProfiles(PackedSettings settings) noexcept;

}  // namespace tovrel
