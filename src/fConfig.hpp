// The configuration dialog: its layout, its handlers and its enabling rules.
//
// The handlers work on plain control state (checked, enabled, selection), so they run and are
// tested without any window. The window toolkit builds the dialog from the layout, mirrors that
// state onto the real controls and reports the user's changes back through the same handlers.
#pragma once

#include <string_view>

#include "toolkit/Form.hpp"
#include "uConstants.hpp"
#include "uPreferences.hpp"

namespace tovrel {

using toolkit::TControl;

// The texts of the action list; an item's position is the EscAction value it stands for.
inline constexpr const char* kActionItems[] = {
    "do nothing (prevent Messenger from minimizing IM window)",
    "minimize IM window",
};

// The dialog's caption, which is also its group box's text.
inline constexpr char kConfigCaption[] = "Tovrel plugin configuration";

class TfrmConfig : public toolkit::TForm {
 public:
  TfrmConfig() noexcept;

  // Written by the caller before the dialog is shown, read back after an OK result.
  PluginSettings Settings{0, 0, 0};

  TControl gbConfig;
  TControl cbEnablePlug;
  TControl lbl1;
  TControl cbxAction;
  TControl cbMinimizeMainWin;
  TControl btnOK;
  TControl btnCancel;
  TControl cbSetAsDefault;

  void FormCreate();
  void FormShow();
  void SetControls(PackedSettings value);
  void cbEnablePlugClick();
  void cbxActionChange();
  void btnOKClick();
  void btnCancelClick();
};

// The dialog's controls, as positions in its layout.
enum ConfigControl : std::size_t {
  kGbConfig,
  kLbl1,
  kCbEnablePlug,
  kCbxAction,
  kCbMinimizeMainWin,
  kBtnOK,
  kBtnCancel,
  kCbSetAsDefault,
  kConfigControlCount
};

// The form and its controls as laid out at 96 pixels per inch, in creation order.
extern const toolkit::FormLayout kConfigLayout;

// Writes `settings` into every profile key under the host's registry root, in the registry's
// enumeration order. Nothing happens when the root cannot be opened with full access.
void ApplyToAllProfiles(PackedSettings settings) noexcept;

}  // namespace tovrel
