// The configuration dialog's logic from any packed settings: SetControls, then what a user can
// do with the enabled controls, then OK. A model of the controls, kept here, says what each step
// must leave: the enabling rules after every step, and the settings OK stores. Without "set as
// default" the dialog touches no registry; with it, every profile gets the stored settings.
//
// Input, front to back (fields past the end read as zero):
//   4 bytes   the packed settings given to SetControls, little-endian
//   byte      bit 0: "set as default for all users" is ticked before OK
//   then up to 64 steps, one byte each, by its value modulo 4:
//     0 click "Enable plugin"; 1 pick the list item given by the next byte (signed);
//     2 click "Minimize main window"; 3 SetControls again with the next 4 bytes
#include <cstdint>
#include <iterator>
#include <string>

#include "FakePlatform.hpp"
#include "FuzzInput.hpp"
#include "fConfig.hpp"

namespace {

using tovrel::PackedSettings;
using tovrel::PluginSettings;
using tovrel::TfrmConfig;
using tovrel::fake::FakeRegistry;
using tovrel::fake::FakeSystem;
using tovrel::fuzz::FuzzInput;
using tovrel::fuzz::Require;

constexpr int kMaxSteps = 64;
constexpr int kItemCount = 2;  // "do nothing", "minimize IM window"

// What the controls must show.
struct Model {
  bool Enabled = false;
  int Selection = -1;
  bool MainWindow = false;

  // Each byte's meaning: the flags are set when not 0, an action that is no item's position
  // selects nothing, and the fourth byte is ignored.
  void Set(PackedSettings value) {
    Enabled = (value & 0xFF) != 0;
    const auto action = static_cast<int>(value >> 8 & 0xFF);
    Selection = action < kItemCount ? action : -1;
    MainWindow = (value >> 16 & 0xFF) != 0;
  }
};

void CheckControls(const TfrmConfig& form, const Model& model) {
  Require(form.cbEnablePlug.Checked == model.Enabled, "Enable plugin shows the setting");
  Require(form.cbxAction.ItemIndex == model.Selection, "the list shows the action");
  Require(form.cbMinimizeMainWin.Checked == model.MainWindow, "Minimize main window shows it");
  Require(form.lbl1.Enabled == model.Enabled && form.cbxAction.Enabled == model.Enabled,
          "the label and the list are enabled exactly while the plug-in is");
  Require(form.cbMinimizeMainWin.Enabled == (model.Enabled && model.Selection == 1),
          "Minimize main window is enabled exactly while enabled with the minimize action");
  Require(form.cbEnablePlug.Enabled && form.cbSetAsDefault.Enabled && form.btnOK.Enabled,
          "the other controls stay enabled");
}

const char* const kProfiles[] = {"alice", "Bob Smith"};

std::string SettingsKeyOf(const std::string& profile) {
  return "Software\\Quorvel\\MsgPlus2\\" + profile + "\\Preferences\\Plugins\\tovrel.dll";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FakeSystem& system = FakeSystem::Get();
  system.Reset();
  FakeRegistry& registry = system.Registry;
  for (const char* profile : kProfiles) {
    registry.AddKey(std::string("Software\\Quorvel\\MsgPlus2\\") + profile);
  }
  FuzzInput input(data, size);

  TfrmConfig form;
  Model model;
  const PackedSettings first = input.U32();
  form.SetControls(first);
  model.Set(first);
  CheckControls(form, model);

  const bool setAsDefault = (input.Byte() & 1) != 0;
  for (int step = 0; step < kMaxSteps && input.Remaining() > 0; ++step) {
    switch (input.Byte() % 4) {
      case 0:
        form.Click(tovrel::kCbEnablePlug);
        model.Enabled = !model.Enabled;
        break;
      case 1: {
        const auto index = static_cast<int>(static_cast<std::int8_t>(input.Byte()));
        if (!form.cbxAction.Enabled) break;  // a disabled list takes no choice
        form.Select(tovrel::kCbxAction, index);
        model.Selection = index >= 0 && index < kItemCount ? index : -1;
        break;
      }
      case 2:
        if (!form.cbMinimizeMainWin.Enabled) break;  // nor does a disabled check box
        form.Click(tovrel::kCbMinimizeMainWin);
        model.MainWindow = !model.MainWindow;
        break;
      default: {
        const PackedSettings value = input.U32();
        form.SetControls(value);
        model.Set(value);
        break;
      }
    }
    CheckControls(form, model);
  }

  if (setAsDefault) form.Click(tovrel::kCbSetAsDefault);
  Require(form.cbSetAsDefault.Checked == setAsDefault, "Set as default shows its tick");
  const int accessesBefore = registry.Accesses;
  form.btnOKClick();

  Require(form.ModalResult == tovrel::kDialogResultOK, "OK closes with the OK result");
  // The action stored for no selection is 255, which behaves as "do nothing".
  const PluginSettings stored{
      static_cast<std::uint8_t>(model.Enabled ? 1 : 0),
      static_cast<std::uint8_t>(model.Selection < 0 ? 255 : model.Selection),
      static_cast<std::uint8_t>(model.MainWindow ? 1 : 0)};
  Require(form.Settings == stored, "OK stores what the controls show");
  CheckControls(form, model);

  if (!setAsDefault) {
    Require(registry.Accesses == 0 && accessesBefore == 0, "the dialog alone touches no registry");
    return 0;
  }
  Require(registry.OpenKeys() == 0, "applying to all profiles leaves no key open");
  Require(registry.Writes.size() == 3 * std::size(kProfiles), "three values for every profile");
  for (const char* profile : kProfiles) {
    const std::string key = SettingsKeyOf(profile);
    Require(registry.Dword(key, "EnablePlugin") == stored.EnablePlugin &&
                registry.Dword(key, "ESCAction") == stored.ESCAction &&
                registry.Dword(key, "MinimizeMsgrMainWin") == stored.MinimizeMsgrMainWin,
            "every profile holds the stored settings");
  }
  return 0;
}
