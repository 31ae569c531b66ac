// The floor for the plug-in's hook: a keyboard hook that only passes each event on, registered
// exactly as the plug-in registers its own (from a DLL, with the DLL's instance, for the calling
// thread).
#include <windows.h>

namespace {

HINSTANCE g_instance = nullptr;
HHOOK g_hook = nullptr;

LRESULT CALLBACK PassThrough(int code, WPARAM key, LPARAM flags) {
  return CallNextHookEx(g_hook, code, key, flags);
}

}  // namespace

extern "C" __declspec(dllexport) BOOL InstallPassThrough() {
  if (g_hook == nullptr) {
    g_hook = SetWindowsHookExA(WH_KEYBOARD, PassThrough, g_instance, GetCurrentThreadId());
  }
  return g_hook != nullptr;
}

extern "C" __declspec(dllexport) void RemovePassThrough() {
  if (g_hook != nullptr) UnhookWindowsHookEx(g_hook);
  g_hook = nullptr;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) g_instance = instance;
  return TRUE;
}
