#include "plugin/HookInstall.hpp"

#include <utility>

#include "plugin/HookRecord.hpp"
#include "plugin/KeyboardHook.hpp"
#include "plugin/ModuleState.hpp"

namespace tovrel {

bool InstallHook() noexcept {
  if (HookRecView) return false;

  const MappingName name = HookRecMappingName();
  platform::OwnedMapping mapping(platform::CreateMapping(name.Text, sizeof(HookRec)));
  if (!mapping) return false;
  OwnedHookRecView view(static_cast<HookRec*>(platform::MapView(mapping.Get())));
  if (!view) return false;  // the mapping is closed on the way out

  // A refused hook stores 0: no event reaches the filter, and RemoveHook skips the removal. From
  // here on the record owns the hook: RemoveHook takes it back.
  platform::OwnedHook hook(
      platform::SetKeyboardHook(&KeyboardHookProc, ModuleInstance, platform::CurrentThreadId()));
  view->HookHandle = hook.Release();
  HookRecMapping.Reset(mapping.Release());
  HookRecView.Reset(view.Release());
  return true;
}

bool RemoveHook() noexcept {
  if (!HookRecView) return false;
  {
    // Taken back from the record and unhooked here, if one was stored.
    const platform::OwnedHook hook(std::exchange(HookRecView->HookHandle, 0u));
  }
  ReleaseHookRec();
  return true;
}

}  // namespace tovrel
