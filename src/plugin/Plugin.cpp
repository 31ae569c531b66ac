#include "plugin/Plugin.hpp"

#include <cstring>
#include <memory>
#include <string_view>

#include "AnsiText.hpp"
#include "plugin/HookInstall.hpp"
#include "plugin/HookRecord.hpp"
#include "plugin/ModuleState.hpp"
#include "toolkit/Form.hpp"
#include "uPreferences.hpp"

namespace tovrel {

std::u16string UserKey;
// The name fits the string's own buffer: made at load without allocating, it cannot throw.
std::string PluginDisplayName = "Tovrel plugin";  // NOLINT(cert-err58-cpp)
TfrmConfig* frmConfig = nullptr;

bool PluginInitialize(const char* userId) noexcept {
  try {
    if (userId == nullptr || !FromAnsi(userId, UserKey)) UserKey.clear();
  } catch (...) {
    // Out of memory for the identifier: the settings are those of an empty one.
    UserKey.clear();
  }
  LoadSettings(UserKey, ModuleSettings);
  InstallHook();
  return true;
}

bool PluginUninitialize() noexcept {
  return RemoveHook();
}

void PluginConfigure() noexcept {
  try {
    // Freed on every way out, the failing ones included.
    auto form = std::make_unique<TfrmConfig>();
    frmConfig = form.get();
    form->Create();
    form->Settings = ModuleSettings;
    if (form->ShowModal() == kDialogResultOK) {
      // The filter reads the module's settings at every event: the next key follows these.
      ModuleSettings = form->Settings;
      SaveSettings(UserKey, PackSettings(ModuleSettings));
    }
  } catch (...) {
    // The dialog could not be made or shown: nothing changes.
  }
  frmConfig = nullptr;
}

bool PluginPublishInfo(char* buffer) noexcept {
  if (buffer == nullptr) return false;
  std::memcpy(buffer, PluginDisplayName.c_str(), PluginDisplayName.size() + 1);
  return true;
}

void ModuleStart(platform::Instance instance) noexcept {
  ModuleInstance = instance;
  ModuleSettings = {0, 0, 0};
  UserKey.clear();
  PluginDisplayName.assign("Tovrel plugin");  // fits the string's own buffer: no allocation
  platform::DisableThreadNotifications(instance);
  // Asked once, at start: it chooses the dialog's face.
  toolkit::OsPlatformId();
  ModuleAttachDetach(1);
}

void ModuleUnload() noexcept {
  ModuleAttachDetach(0);
  std::u16string().swap(UserKey);
  std::string().swap(PluginDisplayName);
}

}  // namespace tovrel
