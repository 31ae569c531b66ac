#include "plugin/HookRecord.hpp"

#include "plugin/KeyboardHook.hpp"
#include "plugin/ModuleState.hpp"
#include "uConstants.hpp"

namespace tovrel {

platform::Mapping HookRecMapping = platform::Mapping::None;
HookRec* HookRecView = nullptr;

namespace {

constexpr char kMappingPrefix[] = "Tovrel_HookRecMemBlock_";

// Releases this load's mapping handle, if it holds one. Closing it once the view is gone lets the
// record disappear when this load was its only holder, so a later load of the module in the same
// process starts afresh instead of mapping a stale record and refusing to hook.
void CloseHookRecMapping() noexcept {
  if (HookRecMapping != platform::Mapping::None) {
    platform::CloseMapping(HookRecMapping);
    HookRecMapping = platform::Mapping::None;
  }
}

void UnmapHookRec() noexcept {
  if (HookRecView != nullptr) {
    platform::UnmapView(HookRecView);
    HookRecView = nullptr;
  }
}

}  // namespace

MappingName HookRecMappingName() noexcept {
  MappingName name{};
  char* out = name.Text;
  for (const char* p = kMappingPrefix; *p != '\0'; ++p) *out++ = *p;

  char digits[10];  // a 32-bit number has at most 10 decimal digits
  int count = 0;
  std::uint32_t pid = platform::CurrentProcessId();
  do {
    digits[count++] = static_cast<char>('0' + pid % 10);
    pid /= 10;
  } while (pid != 0);
  while (count > 0) *out++ = digits[--count];
  *out = '\0';
  return name;
}

bool InstallHook() noexcept {
  if (HookRecView != nullptr) return false;

  const MappingName name = HookRecMappingName();
  HookRecMapping = platform::CreateMapping(name.Text, sizeof(HookRec));
  if (HookRecMapping == platform::Mapping::None) return false;

  HookRecView = static_cast<HookRec*>(platform::MapView(HookRecMapping));
  if (HookRecView == nullptr) {
    CloseHookRecMapping();
    return false;
  }

  // A refused hook stores 0: no event reaches the filter, and RemoveHook skips the removal.
  HookRecView->HookHandle =
      platform::SetKeyboardHook(&KeyboardHookProc, ModuleInstance, platform::CurrentThreadId());
  return true;
}

bool RemoveHook() noexcept {
  if (HookRecView == nullptr) return false;
  if (HookRecView->HookHandle != 0) platform::Unhook(HookRecView->HookHandle);
  HookRecView->HookHandle = 0;
  UnmapHookRec();
  CloseHookRecMapping();
  return true;
}

void ModuleAttachDetach(std::uint32_t reason) noexcept {
  constexpr std::uint32_t kProcessDetach = 0;
  constexpr std::uint32_t kProcessAttach = 1;

  if (reason == kProcessAttach) {
    if (HookRecView != nullptr) return;
    const MappingName name = HookRecMappingName();
    const platform::Mapping existing = platform::OpenMapping(name.Text);
    if (existing == platform::Mapping::None) return;  // the usual case: no earlier load
    // The view alone keeps the record mapped.
    HookRecView = static_cast<HookRec*>(platform::MapView(existing));
    platform::CloseMapping(existing);
  } else if (reason == kProcessDetach) {
    // The hook itself stays: the host uninitializes the plug-in before it unloads it.
    UnmapHookRec();
    CloseHookRecMapping();
  }
}

}  // namespace tovrel
