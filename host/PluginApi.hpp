// The plug-in as a host sees it: a DLL loaded by name and its five exports, called with the
// Windows calling convention exactly as the messenger add-on host calls them.
#pragma once

#include <windows.h>

#include <cstdint>

namespace tovrel::host {

struct PluginApi {
  using InitializeFn = std::uint32_t(__stdcall*)(std::uint32_t, const char*, std::uint32_t);
  using UninitializeFn = std::uint32_t(__stdcall*)();
  using ConfigureFn = void(__stdcall*)();
  using PublishInfoFn = std::uint32_t(__stdcall*)(char*, std::uint32_t, std::uint32_t);
  using ParseCommandFn = std::uint32_t(__stdcall*)(std::uint32_t, std::uint32_t, std::uint32_t,
                                                   std::uint32_t);

  HMODULE Module = nullptr;
  InitializeFn Initialize = nullptr;
  UninitializeFn Uninitialize = nullptr;
  ConfigureFn Configure = nullptr;
  PublishInfoFn PublishInfo = nullptr;
  ParseCommandFn ParseCommand = nullptr;

  // Loads the DLL and looks every export up by name. False, with nothing loaded, when the DLL or
  // one of its exports is missing.
  bool Load(const char* path = "tovrel.dll") {
    Module = LoadLibraryA(path);
    if (Module == nullptr) return false;
    Initialize = Find<InitializeFn>("Initialize");
    Uninitialize = Find<UninitializeFn>("Uninitialize");
    Configure = Find<ConfigureFn>("Configure");
    PublishInfo = Find<PublishInfoFn>("PublishInfo");
    ParseCommand = Find<ParseCommandFn>("ParseCommand");
    if (Initialize && Uninitialize && Configure && PublishInfo && ParseCommand) return true;
    Unload();
    return false;
  }
  void Unload() {
    if (Module != nullptr) FreeLibrary(Module);
    *this = PluginApi{};
  }

 private:
  template <typename Fn>
  Fn Find(const char* name) const {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(Module, name)));
  }
};

}  // namespace tovrel::host
