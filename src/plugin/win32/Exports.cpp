// The module's exports and its library entry point: the Windows calling convention, names and
// ordinals (tovrel.def), and nothing else. All the work is in plugin/Plugin.cpp.
#include <cstdint>

#include "plugin/Plugin.hpp"

namespace {

// The loader's notifications (DLL_PROCESS_DETACH and DLL_PROCESS_ATTACH).
constexpr unsigned long kProcessDetach = 0;
constexpr unsigned long kProcessAttach = 1;
constexpr unsigned long kThreadDetach = 3;

}  // namespace

// The C++ runtime's reserve for throwing exceptions when memory is exhausted: allocated when the
// module loads, and given back only by this call. Without it every unload would leave it behind.
// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp): the runtime's names
namespace __gnu_cxx {
void __freeres();
}  // namespace __gnu_cxx

// The threads library keeps a record, with two kernel handles, for every thread that ran the
// runtime's locks; it releases one when the thread ends, through its thread-local-storage
// callback. A thread that unloads the module does not end, so at unload the callback is run for
// it as at its end.
extern "C" void(__stdcall* const __xl_f)(void*, unsigned long, void*);
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)

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

int __stdcall DllMain(void* instance, unsigned long reason, const void* reserved) {
  if (reason == kProcessAttach) {
    tovrel::ModuleStart(
        static_cast<tovrel::platform::Instance>(reinterpret_cast<std::uintptr_t>(instance)));
  } else if (reason == kProcessDetach) {
    tovrel::ModuleUnload();
    // Only when unloaded by FreeLibrary: at process exit everything goes anyway.
    if (reserved == nullptr) {
      __gnu_cxx::__freeres();
      __xl_f(instance, kThreadDetach, nullptr);
    }
  }
  return 1;  // the load never fails on account of the hook record
}

}  // extern "C"
