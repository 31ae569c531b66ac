#include "FakePlatform.hpp"

#include <algorithm>
#include <cstring>
#include <new>
#include <string_view>
#include <utility>

#include "AllocationControl.hpp"
#include "FakeCodePage.hpp"
#include "uConstants.hpp"

namespace tovrel::fake {

FakeSystem& FakeSystem::Get() {
  static FakeSystem system;
  return system;
}

void FakeSystem::Reset() {
  *this = FakeSystem();
  // Room for what a test records, so that recording inside a hook call never allocates.
  Messages.reserve(256);
  NextHookCalls.reserve(256);
}

bool FakeSystem::ConsumeFailure(Op op) {
  ++calls_[Index(op)];
  int& countdown = countdowns_[Index(op)];
  if (countdown > 0 && --countdown == 0) return true;
  auto it = failures_.find(op);
  if (it == failures_.end() || it->second == 0) return false;
  --it->second;
  return true;
}

platform::Window FakeSystem::AddWindow(std::string className) {
  const auto window = static_cast<platform::Window>(nextId_++);
  windows_.emplace(window, std::move(className));
  return window;
}

platform::Window FakeSystem::QueryForeground() {
  ++ForegroundQueries;
  const platform::Window answer = foreground_;
  if (std::exchange(activationPending_, false)) foreground_ = activateAfterQuery_;
  return answer;
}

const std::string* FakeSystem::ClassOf(platform::Window window) const {
  auto it = windows_.find(window);
  return it == windows_.end() ? nullptr : &it->second;
}

platform::ImeState FakeSystem::FocusIme() const {
  if (!ImeLoaded) return {0, 0};
  const auto composition = Compositions.find(Focus);
  const auto lists = CandidateLists.find(Focus);
  return {composition == Compositions.end() ? 0 : composition->second,
          lists == CandidateLists.end() ? 0u : static_cast<std::uint32_t>(lists->second)};
}

platform::ScreenRect FakeSystem::WorkAreaOf(platform::Window window) const {
  const platform::ScreenRect primary =
      Monitors.empty() ? platform::ScreenRect{} : Monitors[0].WorkArea;
  auto placed = placed_.find(window);
  if (placed == placed_.end()) return primary;
  const platform::ScreenRect& rect = placed->second;
  long long largest = 0;
  platform::ScreenRect found = primary;
  for (const Monitor& monitor : Monitors) {
    const long long width =
        std::min(rect.Right, monitor.Bounds.Right) - std::max(rect.Left, monitor.Bounds.Left);
    const long long height =
        std::min(rect.Bottom, monitor.Bounds.Bottom) - std::max(rect.Top, monitor.Bounds.Top);
    if (width > 0 && height > 0 && width * height > largest) {
      largest = width * height;
      found = monitor.WorkArea;
    }
  }
  return found;
}

HookHandle FakeSystem::InstallHook(platform::HookProc proc, platform::Instance module,
                                   std::uint32_t threadId) {
  if (ConsumeFailure(Op::SetKeyboardHook) || proc == nullptr) return 0;
  const auto handle = static_cast<HookHandle>(nextId_++);
  Hooks.insert(Hooks.begin(), InstalledHook{handle, proc, module, threadId});
  return handle;
}

bool FakeSystem::RemoveHook(HookHandle hook) {
  auto it = std::find_if(Hooks.begin(), Hooks.end(),
                         [hook](const InstalledHook& h) { return h.Handle == hook; });
  if (it == Hooks.end()) return false;
  Hooks.erase(it);
  return true;
}

LResult FakeSystem::DeliverKey(int code, WParam key, LParam flags) {
  // The system marks a key that goes down as it queues the event, before any hook sees it.
  const bool pressed = (static_cast<std::uint32_t>(flags) & kKeyReleasedFlag) == 0;
  if (pressed && key < WentDownSinceAsked.size()) WentDownSinceAsked[key] = true;
  return CallHooks(code, key, flags);
}

LResult FakeSystem::CallHooks(int code, WParam key, LParam flags) {
  auto it = std::find_if(Hooks.begin(), Hooks.end(),
                         [this](const InstalledHook& h) { return h.ThreadId == ThreadId; });
  return it == Hooks.end() ? 0 : it->Proc(code, key, flags);
}

LResult FakeSystem::PeekThenTakeKey(WParam key, LParam flags) {
  const LResult peeked = DeliverKey(kHcNoRemove, key, flags);
  if (peeked != 0) return peeked;  // swallowed: no longer queued
  return CallHooks(kHcAction, key, flags);
}

void FakeSystem::ReceiveMessage(const SentMessage& message) {
  Messages.push_back(message);
  if (message.Message != kWmSysCommand || message.WParamValue != kScMinimize ||
      message.Target != foreground_) {
    return;
  }
  // Looking up allocates nothing, so a hook call that minimizes stays free of allocations.
  auto it = activateWhenMinimized_.find(message.Target);
  if (it != activateWhenMinimized_.end()) foreground_ = it->second;
}

platform::Mapping FakeSystem::CreateMapping(const char* name, std::uint32_t size) {
  if (ConsumeFailure(Op::CreateMapping)) return platform::Mapping::None;
  auto& slot = mappings_[name];
  if (!slot) {
    slot = std::make_unique<MappingObject>();
    slot->Name = name;
    slot->Memory = std::make_unique<std::uint64_t[]>((size + 7) / 8);
  }
  ++slot->Handles;
  const std::uintptr_t handle = nextId_++;
  mappingHandles_.emplace(handle, slot.get());
  return static_cast<platform::Mapping>(handle);
}

platform::Mapping FakeSystem::OpenMapping(const char* name) {
  if (ConsumeFailure(Op::OpenMapping)) return platform::Mapping::None;
  auto it = mappings_.find(name);
  if (it == mappings_.end()) return platform::Mapping::None;
  ++it->second->Handles;
  const std::uintptr_t handle = nextId_++;
  mappingHandles_.emplace(handle, it->second.get());
  return static_cast<platform::Mapping>(handle);
}

void* FakeSystem::MapView(platform::Mapping mapping) {
  auto it = mappingHandles_.find(static_cast<std::uintptr_t>(mapping));
  if (it == mappingHandles_.end() || ConsumeFailure(Op::MapView)) return nullptr;
  ++it->second->Views;
  return it->second->Memory.get();
}

void FakeSystem::UnmapView(const void* view) {
  for (auto& [name, object] : mappings_) {
    if (object->Memory.get() == view && object->Views > 0) {
      --object->Views;
      Release(object.get());
      return;
    }
  }
}

void FakeSystem::CloseMapping(platform::Mapping mapping) {
  auto it = mappingHandles_.find(static_cast<std::uintptr_t>(mapping));
  if (it == mappingHandles_.end()) return;
  MappingObject* object = it->second;
  mappingHandles_.erase(it);
  --object->Handles;
  Release(object);
}

void FakeSystem::Release(MappingObject* object) {
  // A mapping lives while any handle or view holds it, as on the real system.
  if (object->Handles == 0 && object->Views == 0) mappings_.erase(object->Name);
}

std::uint32_t FakeSystem::MappingWord(const std::string& name) const {
  auto it = mappings_.find(name);
  if (it == mappings_.end()) return 0;
  std::uint32_t word = 0;
  std::memcpy(&word, it->second->Memory.get(), sizeof word);
  return word;
}

int FakeSystem::MappedViews() const {
  int views = 0;
  for (const auto& [name, object] : mappings_) views += object->Views;
  return views;
}

}  // namespace tovrel::fake

// The platform layer, implemented over the fake system.
namespace tovrel::platform {

using fake::FakeSystem;
using test::AllocationFailuresSuspended;

// The heap is the test program's operator new, which tests can count and run out of memory.
void* Allocate(std::size_t bytes) noexcept {
  return ::operator new(bytes, std::nothrow);
}

void Free(void* block) noexcept {
  ::operator delete(block);
}

std::uint32_t CurrentProcessId() noexcept {
  return FakeSystem::Get().ProcessId;
}
std::uint32_t CurrentThreadId() noexcept {
  return FakeSystem::Get().ThreadId;
}

void DisableThreadNotifications(Instance module) noexcept {
  const AllocationFailuresSuspended bookkeeping;
  FakeSystem::Get().ThreadNotificationsOff.push_back(module);
}

Mapping CreateMapping(const char* name, std::uint32_t size) noexcept {
  const AllocationFailuresSuspended bookkeeping;
  return FakeSystem::Get().CreateMapping(name, size);
}
Mapping OpenMapping(const char* name) noexcept {
  const AllocationFailuresSuspended bookkeeping;
  return FakeSystem::Get().OpenMapping(name);
}
void* MapView(Mapping mapping) noexcept {
  return FakeSystem::Get().MapView(mapping);
}
void UnmapView(void* view) noexcept {
  FakeSystem::Get().UnmapView(view);
}
void CloseMapping(Mapping mapping) noexcept {
  FakeSystem::Get().CloseMapping(mapping);
}

HookHandle SetKeyboardHook(HookProc proc, Instance module, std::uint32_t threadId) noexcept {
  const AllocationFailuresSuspended bookkeeping;
  return FakeSystem::Get().InstallHook(proc, module, threadId);
}
void Unhook(HookHandle hook) noexcept {
  FakeSystem::Get().RemoveHook(hook);
}

LResult CallNextHook(HookHandle hook, int code, WParam key, LParam flags) noexcept {
  FakeSystem& system = FakeSystem::Get();
  system.NextHookCalls.push_back({hook, code, key, flags});
  return system.NextHookResult;
}

Window ForegroundWindow() noexcept {
  return FakeSystem::Get().QueryForeground();
}

int WindowClassName(Window window, char* buffer, int size) noexcept {
  FakeSystem& system = FakeSystem::Get();
  ++system.ClassNameQueries;
  const std::string* name = system.ClassOf(window);
  if (name == nullptr || size <= 0) return 0;
  // GetClassNameA truncates to size-1 characters and always terminates.
  const std::size_t copied = std::min(name->size(), static_cast<std::size_t>(size - 1));
  std::memcpy(buffer, name->data(), copied);
  buffer[copied] = '\0';
  return static_cast<int>(copied);
}

LResult SendWindowMessage(Window window, std::uint32_t message, WParam wparam,
                          LParam lparam) noexcept {
  FakeSystem::Get().ReceiveMessage({window, message, wparam, lparam});
  return 0;
}

ThreadLoops ThreadModalLoops() noexcept {
  FakeSystem& system = FakeSystem::Get();
  ++system.LoopQueries;
  return {system.InMenuLoop, system.InMoveSizeLoop};
}

ImeState FocusImeState() noexcept {
  FakeSystem& system = FakeSystem::Get();
  ++system.ImeQueries;
  return system.FocusIme();
}

bool KeyWentDownSinceAsked(std::uint32_t key) noexcept {
  FakeSystem& system = FakeSystem::Get();
  ++system.KeyStateQueries;
  return key < system.WentDownSinceAsked.size() &&
         std::exchange(system.WentDownSinceAsked[key], false);
}

ScreenRect MonitorWorkArea(Window window) noexcept {
  return FakeSystem::Get().WorkAreaOf(window);
}

RegStatus CreateRegistryKey(RegKey root, const char* path, RegKey* key) noexcept {
  const AllocationFailuresSuspended bookkeeping;
  return FakeSystem::Get().Registry.Create(root, path, key);
}
RegStatus OpenRegistryKey(RegKey root, const char* path, RegKey* key) noexcept {
  const AllocationFailuresSuspended bookkeeping;
  return FakeSystem::Get().Registry.Open(root, path, key);
}
RegStatus OpenRegistryKeyToRead(RegKey root, const char* path, RegKey* key) noexcept {
  const AllocationFailuresSuspended bookkeeping;
  return FakeSystem::Get().Registry.OpenToRead(root, path, key);
}
RegStatus QueryRegistryValue(RegKey key, const char* name, std::uint32_t* type, void* data,
                             std::uint32_t* size) noexcept {
  const AllocationFailuresSuspended bookkeeping;
  return FakeSystem::Get().Registry.Query(key, name, type, data, size);
}
RegStatus SetRegistryValue(RegKey key, const char* name, std::uint32_t type, const void* data,
                           std::uint32_t size) noexcept {
  const AllocationFailuresSuspended bookkeeping;
  return FakeSystem::Get().Registry.Set(key, name, type, data, size);
}
RegStatus QueryRegistrySubkeys(RegKey key, std::uint32_t* count,
                               std::uint32_t* maxNameLength) noexcept {
  const AllocationFailuresSuspended bookkeeping;
  return FakeSystem::Get().Registry.QueryInfo(key, count, maxNameLength);
}
RegStatus EnumRegistrySubkey(RegKey key, std::uint32_t index, char* name,
                             std::uint32_t* length) noexcept {
  const AllocationFailuresSuspended bookkeeping;
  return FakeSystem::Get().Registry.Enum(key, index, name, length);
}
void CloseRegistryKey(RegKey key) noexcept {
  FakeSystem::Get().Registry.Close(key);
}

// In the fake system's ANSI code page (FakeCodePage.hpp).
int WideToAnsi(const char16_t* text, int length, char* out, int outSize) noexcept {
  if (length <= 0) return 0;
  return fake::EncodeAnsi(FakeSystem::Get().AnsiCodePage,
                          std::u16string_view(text, static_cast<std::size_t>(length)), out,
                          outSize);
}

int AnsiToWide(const char* text, int length, char16_t* out, int outSize) noexcept {
  if (length <= 0) return 0;
  return fake::DecodeAnsi(FakeSystem::Get().AnsiCodePage,
                          std::string_view(text, static_cast<std::size_t>(length)), out, outSize);
}

}  // namespace tovrel::platform
