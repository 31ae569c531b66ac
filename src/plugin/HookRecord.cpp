#include "plugin/HookRecord.hpp"

#include <type_traits>

namespace tovrel {

constinit platform::HeldMapping HookRecMapping;
constinit platform::Held<HookRec*, &UnmapHookRec> HookRecView;
static_assert(std::is_trivially_destructible_v<decltype(HookRecView)> &&
                  std::is_trivially_destructible_v<decltype(HookRecMapping)>,
              "nothing of the module-wide state is left to run at the process's exit");

void UnmapHookRec(HookRec* view) noexcept {
  platform::UnmapView(view);
}

namespace {

constexpr char kMappingPrefix[] = "Tovrel_HookRecMemBlock_";

}  // namespace

// Closing the handle once the view is gone lets the record disappear when this load was its only
// holder, so a later load of the module in the same process starts afresh instead of mapping a
// stale record and refusing to hook.
void ReleaseHookRec() noexcept {
  HookRecView.Reset();
  HookRecMapping.Reset();
}

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

void ModuleAttachDetach(std::uint32_t reason) noexcept {
  constexpr std::uint32_t kProcessDetach = 0;
  constexpr std::uint32_t kProcessAttach = 1;

  if (reason == kProcessAttach) {
    if (HookRecView) return;
    const MappingName name = HookRecMappingName();
    const platform::OwnedMapping existing(platform::OpenMapping(name.Text));
    if (!existing) return;  // the usual case: no earlier load
    // The view alone keeps the record mapped; the handle just opened is closed on return.
    HookRecView.Reset(static_cast<HookRec*>(platform::MapView(existing.Get())));
  } else if (reason == kProcessDetach) {
    // The hook itself stays: the host uninitializes the plug-in before it unloads it.
    ReleaseHookRec();
  }
}

}  // namespace tovrel
