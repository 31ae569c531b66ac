// The Wine runner's own program: "crash" reads through a bad pointer, "hang" never ends, and
// "work" measures the machine for the Wine tests' time limits: it does a fixed amount of the
// work the tests do (windows, messages, text measured, registry values) three times and prints
// the shortest time and the time in all, in milliseconds: the program's speed once its code has run
// (where 32-bit code is emulated, its first run also pays for translating that code). No test of
// the plug-in runs it.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "CrashReport.hpp"

namespace {

// One round of what a Wine test does most: a window made, sent messages and destroyed; text
// measured on a DC; a registry value written, read and deleted.
bool OneRound(HKEY key) {
  HWND window = CreateWindowExA(0, "STATIC", "calibration", WS_POPUP, 0, 0, 100, 20, nullptr,
                                nullptr, GetModuleHandleA(nullptr), nullptr);
  if (window == nullptr) return false;
  char text[32] = {};
  SendMessageA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("When ESC is pressed"));
  SendMessageA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  HDC dc = GetDC(window);
  SIZE size{};
  GetTextExtentPoint32A(dc, text, static_cast<int>(std::strlen(text)), &size);
  ReleaseDC(window, dc);
  DestroyWindow(window);
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
  const DWORD value = static_cast<DWORD>(size.cx);
  DWORD read = 0, bytes = sizeof read;
  return RegSetValueExA(key, "v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                        sizeof value) == ERROR_SUCCESS &&
         RegQueryValueExA(key, "v", nullptr, nullptr, reinterpret_cast<BYTE*>(&read), &bytes) ==
             ERROR_SUCCESS &&
         read == value && RegDeleteValueA(key, "v") == ERROR_SUCCESS;
}

int Work() {
  constexpr int kRounds = 150;
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\tovrel-calibration", 0, nullptr, 0,
                      KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return 3;
  }
  LARGE_INTEGER frequency{};
  QueryPerformanceFrequency(&frequency);
  long long shortest = -1, total = 0;
  bool ok = true;
  for (int pass = 0; pass < 3 && ok; ++pass) {
    LARGE_INTEGER start{}, end{};
    QueryPerformanceCounter(&start);
    for (int i = 0; i < kRounds && ok; ++i) ok = OneRound(key);
    QueryPerformanceCounter(&end);
    const long long ms = (end.QuadPart - start.QuadPart) * 1000 / frequency.QuadPart;
    if (shortest < 0 || ms < shortest) shortest = ms;
    total += ms;
  }
  RegCloseKey(key);
  RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\tovrel-calibration");
  if (!ok) return 4;
  std::printf("work %lld ms, %lld ms in all\n", shortest, total);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  tovrel::probe::EndAtOnceOnCrash();
  if (argc == 2 && std::strcmp(argv[1], "work") == 0) return Work();
  if (argc == 2 && std::strcmp(argv[1], "crash") == 0) {
    std::puts("crashing");
    std::fflush(stdout);
    // An address the compiler cannot see through: page zero, never mapped.
    volatile std::uintptr_t address = 0x10;
    return *reinterpret_cast<volatile int*>(address);
  }
  if (argc == 2 && std::strcmp(argv[1], "hang") == 0) {
    std::puts("hanging");
    std::fflush(stdout);
    for (;;) {
      Sleep(INFINITE);
    }
  }
  std::fputs("usage: misbehave work|crash|hang\n", stderr);
  return 2;
}
