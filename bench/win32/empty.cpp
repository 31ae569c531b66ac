// An empty DLL from the same toolchain and options as tovrel.dll: what loading and unloading any
// DLL costs.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
  return TRUE;
}
