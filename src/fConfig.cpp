#include "fConfig.hpp"

#include <iterator>
#include <string>
#include <vector>

#include "AnsiText.hpp"
#include "platform/Owned.hpp"
#include "platform/platform.hpp"

namespace tovrel {

namespace {

using OwnedRegKey = platform::Owned<platform::RegKey, &platform::CloseRegistryKey>;

constexpr char kHostRegistryRoot[] = "Software\\Quorvel\\MsgPlus2";

// All subkey names, taken before anything is written, so that writing cannot change the list.
std::vector<std::string> ProfileNames(platform::RegKey root) {
  std::vector<std::string> names;
  std::uint32_t count = 0;
  std::uint32_t longest = 0;
  if (platform::QueryRegistrySubkeys(root, &count, &longest) != platform::kRegSuccess) {
    return names;
  }
  names.reserve(count);
  std::vector<char> buffer(static_cast<std::size_t>(longest) + 1);
  for (std::uint32_t index = 0; index < count; ++index) {
    auto length = static_cast<std::uint32_t>(buffer.size());
    if (platform::EnumRegistrySubkey(root, index, buffer.data(), &length) ==
        platform::kRegSuccess) {
      names.emplace_back(buffer.data(), length);
    }
  }
  return names;
}

}  // namespace

void ApplyToAllProfiles(PackedSettings settings) noexcept {
  try {
    OwnedRegKey root;
    if (platform::OpenRegistryKey(platform::kCurrentUser, kHostRegistryRoot, root.Put()) !=
        platform::kRegSuccess) {
      return;
    }
    // Every subkey is taken for a profile, whatever its name, the current user's included.
    std::u16string userKey;
    for (const std::string& name : ProfileNames(root.Get())) {
      if (FromAnsi(name, userKey)) SaveSettings(userKey, settings);
    }
  } catch (...) {
    // Out of memory for the name list: the profiles are left as they were.
  }
}

TfrmConfig::TfrmConfig() {
  cbEnablePlug.OnClick = &TfrmConfig::cbEnablePlugClick;
  cbxAction.ItemCount = static_cast<int>(std::size(kActionItems));
  cbxAction.ItemIndex = DoNothing;
  cbxAction.OnChange = &TfrmConfig::cbxActionChange;
}

void TfrmConfig::SetChecked(TCheckBox& box, bool checked) {
  if (box.Checked == checked) return;
  box.Checked = checked;
  if (box.OnClick != nullptr) (this->*box.OnClick)();
}

void TfrmConfig::SetItemIndex(TComboBox& list, int index) {
  list.ItemIndex = index >= 0 && index < list.ItemCount ? index : -1;
}

void TfrmConfig::FormShow() {
  SetControls(PackSettings(Settings));
}

void TfrmConfig::SetControls(PackedSettings value) {
  const PluginSettings fields = UnpackSettings(value);
  SetChecked(cbEnablePlug, fields.EnablePlugin != 0);
  SetItemIndex(cbxAction, fields.ESCAction);
  SetChecked(cbMinimizeMainWin, fields.MinimizeMsgrMainWin != 0);
  cbEnablePlugClick();
  cbxActionChange();
}

// Disabling a control never changes its state: OK still reads it.
void TfrmConfig::cbEnablePlugClick() {
  lbl1.Enabled = cbEnablePlug.Checked;
  cbxAction.Enabled = cbEnablePlug.Checked;
  cbxActionChange();
}

void TfrmConfig::cbxActionChange() {
  cbMinimizeMainWin.Enabled = cbxAction.ItemIndex == MinimizeIMWindow && cbEnablePlug.Checked;
}

void TfrmConfig::btnOKClick() {
  Settings.EnablePlugin = cbEnablePlug.Checked ? 1 : 0;
  // No selection (-1) is stored as 255, which behaves as DoNothing.
  Settings.ESCAction = static_cast<std::uint8_t>(cbxAction.ItemIndex & 0xFF);
  Settings.MinimizeMsgrMainWin = cbMinimizeMainWin.Checked ? 1 : 0;
  if (cbSetAsDefault.Checked) ApplyToAllProfiles(PackSettings(Settings));
  ModalResult = kDialogResultOK;
}

void TfrmConfig::btnCancelClick() {
  ModalResult = kDialogResultCancel;
}

}  // namespace tovrel
