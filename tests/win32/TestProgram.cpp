#include "TestProgram.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

#include "CrashReport.hpp"
#include "UnderWine.hpp"

namespace tovrel::test {
namespace {

// Everything below is touched by the time limit's thread, a crash and a console's control
// handler as well as the main thread: under one lock, without the C runtime's stdio (its lock may
// be held by the thread the time limit ends).
CRITICAL_SECTION g_lock;
char g_case[256] = {};
HANDLE g_children[4] = {};
DWORD g_limitSeconds = 0;
LONG g_starting = 0;  // processes being started that are to end with the program

void Write(const char* text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, static_cast<DWORD>(std::strlen(text)), &written,
            nullptr);
}

// ---- Windows only: the Sticky Keys shortcut (five presses of Shift) is off while the program
// runs. The dialogs' cases press Shift, a dozen dialogs in a row; the shortcut's question would
// take the foreground. Changed for this session only (no SPIF_UPDATEINIFILE), and put back.
STICKYKEYS g_stickyKeys{};
LONG g_stickyKeysChanged = 0;

void StickyKeysShortcutOff() {
  g_stickyKeys.cbSize = sizeof g_stickyKeys;
  if (!SystemParametersInfoA(SPI_GETSTICKYKEYS, sizeof g_stickyKeys, &g_stickyKeys, 0) ||
      (g_stickyKeys.dwFlags & SKF_HOTKEYACTIVE) == 0) {
    return;
  }
  STICKYKEYS off = g_stickyKeys;
  off.dwFlags &= ~static_cast<DWORD>(SKF_HOTKEYACTIVE);
  if (SystemParametersInfoA(SPI_SETSTICKYKEYS, sizeof off, &off, 0)) g_stickyKeysChanged = 1;
}

BOOL WINAPI OnConsoleControl(DWORD) {
  RestoreTheSystem();
  return FALSE;  // the default handler ends the process
}
// ---- end of Windows only.

DWORD WINAPI EndAtTheTimeLimit(void*) {
  Sleep(g_limitSeconds * 1000);
  EnterCriticalSection(&g_lock);
  char line[400];
  std::snprintf(line, sizeof line,
                "\ntime limit of %lu s reached during %s: ended, exit code 124\n", g_limitSeconds,
                g_case[0] != '\0' ? g_case : "no case (between cases)");
  Write(line);
  LeaveCriticalSection(&g_lock);
  // A process still starting (Wine's CreateProcess returns once it has come up: a minute where
  // 32-bit code is emulated) is waited for, for five minutes at most, and then ended too.
  for (int i = 0; i < 600 && InterlockedCompareExchange(&g_starting, 0, 0) > 0; ++i) Sleep(500);
  EnterCriticalSection(&g_lock);
  for (HANDLE& child : g_children) {
    if (child == nullptr) continue;
    TerminateProcess(child, 124);
    WaitForSingleObject(child, 5000);
    std::snprintf(line, sizeof line, "ended process %lu, which it started\n", GetProcessId(child));
    Write(line);
    child = nullptr;
  }
  RestoreTheSystem();
  TerminateProcess(GetCurrentProcess(), 124);
  return 0;
}

void StartTheTimeLimit() {
  char text[16] = {};
  const DWORD length = GetEnvironmentVariableA("TOVREL_TIME_LIMIT_S", text, sizeof text);
  if (length == 0) return;
  char* end = nullptr;
  const unsigned long seconds = std::strtoul(text, &end, 10);
  if (length >= sizeof text || end == text || *end != '\0' || seconds == 0 || seconds > 86400) {
    std::fprintf(stderr, "TOVREL_TIME_LIMIT_S=%s is not a number of seconds (1 to 86400)\n", text);
    std::exit(2);
  }
  g_limitSeconds = static_cast<DWORD>(seconds);
  HANDLE thread = CreateThread(nullptr, 0, &EndAtTheTimeLimit, nullptr, 0, nullptr);
  if (thread == nullptr) {
    std::fprintf(stderr, "the time limit's thread could not start\n");
    std::exit(2);
  }
  CloseHandle(thread);
}

using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);

// The version Windows is (or Wine reports), not the one GetVersionEx gives a program without the
// manifest entries of the latest versions.
OSVERSIONINFOW TrueVersion() {
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
  const auto function = reinterpret_cast<RtlGetVersionFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlGetVersion")));
  if (function == nullptr || function(&version) != 0) version.dwMajorVersion = 0;
  return version;
}

}  // namespace

std::string PlatformLine() {
  const OSVERSIONINFOW version = TrueVersion();
  const char* wine = probe::WineVersion();
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  const int monitors = GetSystemMetrics(SM_CMONITORS);
  char line[300];
  std::snprintf(line, sizeof line,
                "platform: Windows %lu.%lu.%lu, %s%s; ANSI code page %u; %d DPI; %d monitor%s; ",
                version.dwMajorVersion, version.dwMinorVersion, version.dwBuildNumber,
                wine != nullptr ? "Wine " : "not Wine", wine != nullptr ? wine : "", GetACP(), dpi,
                monitors, monitors == 1 ? "" : "s");
  std::string text = line;
  text += g_limitSeconds != 0 ? "time limit " + std::to_string(g_limitSeconds) + " s"
                              : std::string("no time limit");
  return text;
}

void PrepareTheRun() {
  InitializeCriticalSection(&g_lock);
  probe::g_beforeCrashEnds = &RestoreTheSystem;
  probe::EndAtOnceOnCrash();
  StartTheTimeLimit();
  if (!probe::UnderWine()) {
    StickyKeysShortcutOff();
    SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
  }
}

void RestoreTheSystem() {
  if (InterlockedExchange(&g_stickyKeysChanged, 0) != 0) {
    SystemParametersInfoA(SPI_SETSTICKYKEYS, sizeof g_stickyKeys, &g_stickyKeys, 0);
  }
}

void CaseRunning(const char* name) {
  EnterCriticalSection(&g_lock);
  std::snprintf(g_case, sizeof g_case, "%s", name != nullptr ? name : "");
  LeaveCriticalSection(&g_lock);
}

void StartingAProcess() {
  InterlockedIncrement(&g_starting);
}

void EndsWithTheProgram(HANDLE process) {
  EnterCriticalSection(&g_lock);
  HANDLE* slot = std::find(std::begin(g_children), std::end(g_children), nullptr);
  if (process != nullptr && slot != std::end(g_children)) *slot = process;
  LeaveCriticalSection(&g_lock);
  InterlockedDecrement(&g_starting);
}

void LetGo(const void* process) {
  EnterCriticalSection(&g_lock);
  std::replace_if(
      std::begin(g_children), std::end(g_children),
      [process](const void* child) { return child == process; }, nullptr);
  LeaveCriticalSection(&g_lock);
}

const char* WhyOnlyUnderWine() {
  if (probe::UnderWine()) return nullptr;
  struct Knob {
    const char* Name;
    const char* Why;
  };
  static constexpr Knob kKnobs[] = {
      {"TOVREL_WINE_DPI",
       "a run at another DPI is Wine's: on Windows a DPI change needs a sign-out"},
      {"TOVREL_WINE_CODEPAGE",
       "a run under another ANSI code page is Wine's: on Windows the code page is the system "
       "locale's, changed with a restart"},
      {"TOVREL_WINE_VERSION",
       "a run under another Windows version is Wine's: Windows versions are not emulated"},
      {"TOVREL_WINE_SCREENS",
       "the two-monitor run is Wine's: on Windows the machine's own monitors are used"},
  };
  for (const Knob& knob : kKnobs) {
    const char* value = std::getenv(knob.Name);
    if (value != nullptr && *value != '\0') return knob.Why;
  }
  return nullptr;
}

}  // namespace tovrel::test
