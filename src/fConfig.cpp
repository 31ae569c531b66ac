#include "fConfig.hpp"

#include <cstring>
#include <string_view>

#include "AnsiText.hpp"
#include "Memory.hpp"
#include "platform/platform.hpp"

namespace tovrel {

namespace {

using platform::OwnedRegKey;

constexpr char kHostRegistryRoot[] = "Software\\Quorvel\\MsgPlus2";

// A key name has at most 255 UTF-16 units, and an ANSI code page takes at most 3 bytes for one
// (2 in a double-byte code page, 3 with UTF-8 as the ANSI code page).
constexpr std::size_t kLongestKeyName = 255;
constexpr std::size_t kMostBytesPerUnit = 3;
// Beyond this no name is fetched: the registry holds none so long.
constexpr std::size_t kLargestNameBuffer = std::size_t{64} * 1024;

enum class Fetched { Name, None, OutOfMemory };

// The name of the subkey at `index`, grown into a larger buffer when it does not fit.
Fetched FetchName(platform::RegKey root, std::uint32_t index, Array<char>& buffer,
                  std::uint32_t& length) noexcept {
  for (;;) {
    length = static_cast<std::uint32_t>(buffer.size());
    const platform::RegStatus status =
        platform::EnumRegistrySubkey(root, index, buffer.data(), &length);
    if (status == platform::kRegSuccess) return Fetched::Name;
    if (status != platform::kRegMoreData || buffer.size() >= kLargestNameBuffer) {
      return Fetched::None;
    }
    if (!buffer.Resize(buffer.size() * 2)) return Fetched::OutOfMemory;
  }
}

// All subkey names, taken before anything is written, so that writing cannot change the list:
// one after the other, each with its NUL. A name with a NUL inside cannot be opened through 8-bit
// text and is left out. False when memory runs out before the list is whole.
bool ProfileNames(platform::RegKey root, Array<char>& names) noexcept {
  std::uint32_t count = 0;
  std::uint32_t longest = 0;
  if (platform::QueryRegistrySubkeys(root, &count, &longest) != platform::kRegSuccess) {
    return true;  // no names to take
  }
  // The longest-name figure counts UTF-16 units while the names come in bytes: room for the
  // longest name in the widest code page.
  Array<char> buffer;
  if (!buffer.Resize((longest > kLongestKeyName ? longest : kLongestKeyName) * kMostBytesPerUnit +
                     1)) {
    return false;
  }
  for (std::uint32_t index = 0; index < count; ++index) {
    std::uint32_t length = 0;
    const Fetched fetched = FetchName(root, index, buffer, length);
    if (fetched == Fetched::OutOfMemory) return false;
    if (fetched == Fetched::None || std::memchr(buffer.data(), '\0', length) != nullptr) continue;
    const char end = '\0';
    if (!names.Append(buffer.data(), length) || !names.Push(end)) return false;
  }
  return true;
}

// Whether the key SaveSettings would write under for `userKey` is an existing subkey of the
// root. A name enumerated with characters the code page lacks comes back with default
// characters, and a profile may be deleted in the meantime: neither is created anew.
bool ProfileExists(platform::RegKey root, std::u16string_view userKey) noexcept {
  Text name;
  if (!ToAnsi(userKey, name) || name.empty()) return false;  // the empty name is the root
  OwnedRegKey profile;
  return platform::OpenRegistryKey(root, name.c_str(), profile.Put()) == platform::kRegSuccess;
}

}  // namespace

void ApplyToAllProfiles(PackedSettings settings) noexcept {
  OwnedRegKey root;
  if (platform::OpenRegistryKey(platform::kCurrentUser, kHostRegistryRoot, root.Put()) !=
      platform::kRegSuccess) {
    return;
  }
  // Out of memory for the name list: the profiles are left as they were.
  Array<char> names;
  if (!ProfileNames(root.Get(), names)) return;
  // Every existing subkey is taken for a profile, whatever its name, the current user's
  // included; the plug-in's own key beneath it is created when missing.
  Text16 userKey;
  for (std::size_t at = 0; at < names.size();) {
    const std::string_view name(names.data() + at);
    at += name.size() + 1;
    if (FromAnsi(name, userKey) && ProfileExists(root.Get(), userKey)) {
      SaveSettings(userKey, settings);
    }
  }
}

namespace {

using toolkit::ControlKind;
using toolkit::ControlLayout;
using toolkit::Handler;
using toolkit::TForm;

template <TControl TfrmConfig::*Field>
constexpr TControl TForm::*State = static_cast<TControl TForm::*>(Field);

template <void (TfrmConfig::*Method)()>
constexpr Handler On = static_cast<Handler>(Method);

using enum toolkit::Anchor;

// Pixels at 96 pixels per inch, for a layout font in which "0" is 13 pixels high. The children
// of the group box are placed in its client area; tab order counts within the parent.
constexpr ControlLayout kConfigControls[kConfigControlCount] = {
    {.Name = "gbConfig",
     .Kind = ControlKind::GroupBox,
     .Left = 8,
     .Top = 8,
     .Width = 457,
     .Height = 105,
     .Anchors = kAnchorLeft | kAnchorTop | kAnchorRight | kAnchorBottom,
     .TabOrder = 0,
     .Text = kConfigCaption,
     .State = State<&TfrmConfig::gbConfig>},
    // As wide as its text in the final font: the face chosen at creation is wider than the
    // layout's, and there are 110 pixels before the action list.
    {.Name = "lbl1",
     .Kind = ControlKind::Label,
     .Parent = kGbConfig,
     .Left = 26,
     .Top = 48,
     .Width = 103,
     .Height = 13,
     .Text = "When ESC is pressed",
     .Options = toolkit::kAutoWidth,
     .State = State<&TfrmConfig::lbl1>,
     .LabelFor = kCbxAction},
    {.Name = "cbEnablePlug",
     .Kind = ControlKind::CheckBox,
     .Parent = kGbConfig,
     .Left = 8,
     .Top = 24,
     .Width = 97,
     .Height = 17,
     .TabOrder = 0,
     .Text = "Enable plugin",
     .State = State<&TfrmConfig::cbEnablePlug>,
     .OnClick = On<&TfrmConfig::cbEnablePlugClick>},
    {.Name = "cbxAction",
     .Kind = ControlKind::DropDownList,
     .Parent = kGbConfig,
     .Left = 136,
     .Top = 44,
     .Width = 313,
     .Height = 21,
     .Anchors = kAnchorLeft | kAnchorTop | kAnchorRight,
     .TabOrder = 1,
     .State = State<&TfrmConfig::cbxAction>,
     .OnChange = On<&TfrmConfig::cbxActionChange>,
     .Items = kActionItems,
     .ItemHeight = 13,
     .ItemIndex = DoNothing},
    {.Name = "cbMinimizeMainWin",
     .Kind = ControlKind::CheckBox,
     .Parent = kGbConfig,
     .Left = 136,
     .Top = 72,
     .Width = 214,
     .Height = 17,
     .TabOrder = 2,
     .Text = "Minimize Messenger main window too",
     .State = State<&TfrmConfig::cbMinimizeMainWin>},
    {.Name = "btnOK",
     .Kind = ControlKind::Button,
     .Left = 312,
     .Top = 120,
     .Width = 73,
     .Height = 25,
     .Anchors = kAnchorRight | kAnchorBottom,
     .TabOrder = 1,
     .Text = "OK",
     .Options = toolkit::kDefaultButton,
     .State = State<&TfrmConfig::btnOK>,
     .OnClick = On<&TfrmConfig::btnOKClick>},
    {.Name = "btnCancel",
     .Kind = ControlKind::Button,
     .Left = 392,
     .Top = 120,
     .Width = 73,
     .Height = 25,
     .Anchors = kAnchorRight | kAnchorBottom,
     .TabOrder = 2,
     .Text = "Cancel",
     .Options = toolkit::kCancelButton,
     .State = State<&TfrmConfig::btnCancel>,
     .OnClick = On<&TfrmConfig::btnCancelClick>},
    {.Name = "cbSetAsDefault",
     .Kind = ControlKind::CheckBox,
     .Left = 8,
     .Top = 123,
     .Width = 233,
     .Height = 17,
     .Anchors = kAnchorLeft | kAnchorBottom,
     .TabOrder = 3,
     .Text = "Set this configuration as default for all users",
     .State = State<&TfrmConfig::cbSetAsDefault>},
};

// The version query's platform identifier of the NT family (VER_PLATFORM_WIN32_NT).
constexpr std::uint32_t kPlatformNT = 2;

// Logical faces: the system resolves them to its current dialog font.
const char* DialogFace() noexcept {
  return toolkit::OsPlatformId() == kPlatformNT ? "MS Shell Dlg 2" : "MS Shell Dlg";
}

}  // namespace

const toolkit::FormLayout kConfigLayout = {.Name = "TfrmConfig",
                                           .Caption = kConfigCaption,
                                           .ClientWidth = 473,
                                           .ClientHeight = 153,
                                           .FontFace = "MS Sans Serif",
                                           .FontHeight = -11,
                                           .DesignDensity = 96,
                                           .DesignZeroHeight = 13,
                                           .ScalingFace = &DialogFace,
                                           .Controls = kConfigControls,
                                           .OnCreate = On<&TfrmConfig::FormCreate>,
                                           .OnShow = On<&TfrmConfig::FormShow>};

TfrmConfig::TfrmConfig() noexcept : TForm(kConfigLayout) {
  BindControls();
}

void TfrmConfig::FormCreate() {
  toolkit::CopyFaceName(FontName, DialogFace());
  // Every font the module creates from now on starts with this face.
  toolkit::CopyFaceName(toolkit::DefaultFontFace(), FontName);
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
