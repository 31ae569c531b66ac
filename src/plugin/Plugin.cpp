#include "plugin/Plugin.hpp"

#include <cstddef>
#include <cstring>
#include <type_traits>

#include "AnsiText.hpp"
#include "Memory.hpp"
#include "plugin/HookInstall.hpp"
#include "plugin/HookRecord.hpp"
#include "plugin/ModuleState.hpp"
#include "toolkit/Form.hpp"
#include "uPreferences.hpp"

namespace tovrel {

constinit HeldText16 UserKey;
static_assert(std::is_trivially_destructible_v<HeldText16>,
              "nothing of the module-wide state is left to run at the process's exit");
constinit char PluginDisplayName[16] = {};  // set by the library's start
constinit TfrmConfig* frmConfig = nullptr;

namespace {

constexpr char kDisplayName[] = "Tovrel plugin";

template <std::size_t Size>
void CopyDisplayName(const char (&name)[Size]) noexcept {
  static_assert(Size <= sizeof PluginDisplayName, "the name and its NUL fit");
  std::memcpy(PluginDisplayName, name, Size);
}

}  // namespace

bool PluginInitialize(const char* userId) noexcept {
  // A failed conversion, out of memory included, leaves the identifier empty: the settings are
  // then those of an empty one.
  if (userId == nullptr || !FromAnsi(userId, UserKey)) UserKey.Clear();
  LoadSettings(UserKey, ModuleSettings);
  LastEscapePress = kNoPress;
  InstallHook();
  return true;
}

bool PluginUninitialize() noexcept {
  return RemoveHook();
}

void PluginConfigure() noexcept {
  // Freed on every way out, the failing ones included. A dialog that cannot be made or shown
  // changes nothing.
  auto form = Unique<TfrmConfig>::Make();
  if (!form) return;
  frmConfig = form.Get();
  if (form->Create()) {
    form->Settings = ModuleSettings;
    if (form->ShowModal() == kDialogResultOK) {
      // The filter reads the module's settings at every event: the next key follows these.
      ModuleSettings = form->Settings;
      SaveSettings(UserKey, PackSettings(ModuleSettings));
    }
  }
  frmConfig = nullptr;
}

bool PluginPublishInfo(char* buffer) noexcept {
  if (buffer == nullptr) return false;
  std::memcpy(buffer, PluginDisplayName, std::strlen(PluginDisplayName) + 1);
  return true;
}

void ModuleStart(platform::Instance instance) noexcept {
  ModuleInstance = instance;
  ModuleSettings = {0, 0, 0};
  UserKey.Release();
  CopyDisplayName(kDisplayName);
  platform::DisableThreadNotifications(instance);
  // Asked once, at start: it chooses the dialog's face.
  toolkit::OsPlatformId();
  ModuleAttachDetach(1);
}

void ModuleUnload() noexcept {
  ModuleAttachDetach(0);
  UserKey.Release();
  CopyDisplayName("");
}

}  // namespace tovrel
