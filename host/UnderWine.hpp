// Whether the program runs under Wine: Wine's ntdll exports wine_get_version, Windows' does not.
// The test programs keep Wine's own measures and knobs there and use the system's elsewhere.
#pragma once

#include <windows.h>

namespace tovrel::probe {

using WineVersionFunction = const char*(__cdecl*)();

// Wine's version ("8.0"), or nullptr on Windows.
inline const char* WineVersion() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  if (ntdll == nullptr) return nullptr;
  // GetProcAddress returns a generic function pointer; this one is Wine's documented signature.
  const auto function = reinterpret_cast<WineVersionFunction>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version")));
  return function != nullptr ? function() : nullptr;
}

inline bool UnderWine() {
  return WineVersion() != nullptr;
}

}  // namespace tovrel::probe
