// The module's exports and its library entry point: the Windows calling convention, names and
// ordinals (tovrel.def), and nothing else. All the work is in plugin/Plugin.cpp.
#include <cstdint>

#include "plugin/Plugin.hpp"

namespace {

// The loader's notifications (DLL_PROCESS_DETACH and DLL_PROCESS_ATTACH).
constexpr unsigned long kProcessDetach = 0;
constexpr unsigned long kProcessAttach = 1;

}  // namespace

extern "C" {

// The arguments the host passes and the module does not use are never read; the called function
// removes them all from the stack.
std::uint32_t __stdcall Initialize(std::uint32_t, const char* userId, std::uint32_t) {
  return tovrel::PluginInitialize(userId) ? 1 : 0;
}

std::uint32_t __stdcall Uninitialize() {
  return tovrel::PluginUninitialize() ? 1 : 0;
}

void __stdcall Configure() {
  tovrel::PluginConfigure();
}

std::uint32_t __stdcall PublishInfo(char* buffer, std::uint32_t, std::uint32_t) {
  return tovrel::PluginPublishInfo(buffer) ? 1 : 0;
}

std::uint32_t __stdcall ParseCommand(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {
  return 0;  // the module offers no commands
}

// The DLL's entry point itself (the link names it): no C runtime start-up runs before or after it,
// so a load runs the library's start and nothing else, and an unload the unload. Thread
// notifications are switched off by the start. When the process is ending (`reserved` non-null
// at detach), other threads are gone and the system frees everything: nothing is released then.
int __stdcall DllMain(void* instance, unsigned long reason, const void* reserved) {
  if (reason == kProcessAttach) {
    tovrel::ModuleStart(
        static_cast<tovrel::platform::Instance>(reinterpret_cast<std::uintptr_t>(instance)));
  } else if (reason == kProcessDetach && reserved == nullptr) {
    tovrel::ModuleUnload();
  }
  return 1;  // the load never fails on account of the hook record
}

}  // extern "C"
