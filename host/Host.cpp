// A test host for tovrel.dll: loads it by name as the messenger add-on host does, and shows a
// conversation window and a main window of the messenger's classes.
//
//   tovrel-host.exe [USER]        by hand: F2 in either window opens the configuration; every
//                                 Escape event is reported on the console
//   tovrel-host.exe --demo [DIR]  the scripted demo: a table of what Escape does under each
//                                 setting, a change made in the dialog, a screenshot in DIR
//   tovrel-host.exe --hold USER   prints "started" and waits for a line on its input, then
//                                 initializes, prints "ready <process id>" and waits for another
//                                 line before it uninitializes (used by the tests, which start
//                                 it ahead of need: a start is slow where 32-bit code is emulated)
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "CrashReport.hpp"
#include "KeyProbe.hpp"
#include "PluginApi.hpp"
#include "Screenshot.hpp"
#include "SettingsKey.hpp"

namespace tovrel::host {
namespace {

constexpr char kConversationClass[] = "IMWindowClass";
constexpr char kMainClass[] = "MSBLWindowClass";
constexpr char kDialogCaption[] = "Tovrel plugin configuration";

#ifndef TOVREL_VERSION
#error "TOVREL_VERSION (the project's version) is set by the build"
#endif

void PrintBanner() {
  std::printf("tovrel-host %s, the test host for tovrel.dll\n\n", TOVREL_VERSION);
}

void PrintSettings(const std::string& user) {
  std::printf("  HKEY_CURRENT_USER\\%s\n", SettingsKeyOf(user).c_str());
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, SettingsKeyOf(user).c_str(), 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    std::printf("    (missing)\n");
    return;
  }
  for (const char* name : {"EnablePlugin", "ESCAction", "MinimizeMsgrMainWin"}) {
    DWORD value = 0;
    DWORD size = sizeof value;
    DWORD type = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) ==
        ERROR_SUCCESS) {
      std::printf("    %-20s REG_DWORD %lu\n", name, value);
    }
  }
  RegCloseKey(key);
}

// One Escape press and release in each window, as a table row.
void PrintEscapeRow(const char* setting, probe::ProbeWindow& conversation,
                    probe::ProbeWindow& main) {
  std::string cells[2];
  probe::ProbeWindow* windows[2] = {&conversation, &main};
  for (int i = 0; i < 2; ++i) {
    probe::ProbeWindow& window = *windows[i];
    if (window.Minimized()) ShowWindow(window.Handle(), SW_RESTORE);
    if (!window.BringToFront()) {
      cells[i] = "(not in front)";
      continue;
    }
    const probe::EscapeOutcome outcome = probe::SendEscape(window);
    cells[i] = !outcome.Completed
                   ? "(no answer)"
                   : probe::Describe(outcome.PressDelivered && outcome.ReleaseDelivered,
                                     outcome.MinimizedByRelease);
  }
  std::printf("| %-40s | %-22s | %-22s |\n", setting, cells[0].c_str(), cells[1].c_str());
  std::fflush(stdout);
}

// Plays the user in the dialog from a second thread: picks "minimize IM window", ticks the main
// window box, saves a screenshot and confirms with OK.
void ChangeInDialog(DWORD dialogThread, const std::string& screenshot) {
  HWND dialog = nullptr;
  const bool shown = probe::WaitFor([&] {
    dialog = FindWindowA(nullptr, kDialogCaption);
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    return dialog != nullptr && IsWindowVisible(dialog) && GetGUIThreadInfo(dialogThread, &info) &&
           GetParent(info.hwndFocus) == dialog;
  });
  if (!shown) {
    std::printf("  the dialog did not appear\n");
    return;
  }
  // As the user picks it: the Down key, to which the list answers by telling the dialog.
  HWND list = FindWindowExA(dialog, nullptr, "ComboBox", nullptr);
  SendMessageA(list, WM_KEYDOWN, VK_DOWN, 1);
  SendMessageA(list, WM_KEYUP, VK_DOWN, static_cast<LPARAM>(0xC0000001u));
  SendMessageA(FindWindowExA(dialog, nullptr, "Button", "Minimize Messenger main window too"),
               BM_CLICK, 0, 0);
  RedrawWindow(dialog, nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  if (probe::SaveWindowPng(dialog, screenshot)) {
    std::printf("  screenshot of the dialog: %s\n", screenshot.c_str());
  }
  std::printf(
      "  chose \"minimize IM window\", ticked \"Minimize Messenger main window too\", OK\n");
  SendMessageA(FindWindowExA(dialog, nullptr, "Button", "OK"), BM_CLICK, 0, 0);
}

int Demo(const std::string& directory) {
  PrintBanner();
  PluginApi plugin;
  if (!plugin.Load()) {
    std::printf("tovrel.dll could not be loaded\n");
    return 1;
  }
  char name[64] = {};
  plugin.PublishInfo(name, 0, 0);
  const std::string user = "demo-user";
  std::printf("Loaded \"%s\" (tovrel.dll); user profile \"%s\".\n\n", name, user.c_str());

  probe::ProbeWindow conversation(kConversationClass);
  probe::ProbeWindow main(kMainClass);
  std::printf("What Escape (press and release) does in each window:\n\n");
  std::printf("| %-40s | %-22s | %-22s |\n", "setting", kConversationClass, kMainClass);
  std::printf("|%s|%s|%s|\n", std::string(42, '-').c_str(), std::string(24, '-').c_str(),
              std::string(24, '-').c_str());
  const struct {
    const char* Name;
    DWORD Enable, Action, MainToo;
  } rows[] = {
      {"plug-in disabled", 0, 1, 1},
      {"enabled, Escape does nothing", 1, 0, 1},
      {"enabled, minimize IM window", 1, 1, 0},
      {"enabled, minimize IM and main window", 1, 1, 1},
  };
  for (const auto& row : rows) {
    WriteSettings(user, row.Enable, row.Action, row.MainToo);
    plugin.Uninitialize();
    plugin.Initialize(0, user.c_str(), 0);  // loads the settings just written
    PrintEscapeRow(row.Name, conversation, main);
  }

  std::printf("\nConfigure, starting from \"enabled, Escape does nothing\":\n");
  WriteSettings(user, 1, 0, 0);
  plugin.Uninitialize();
  plugin.Initialize(0, user.c_str(), 0);
  conversation.BringToFront();
  std::thread userThread(ChangeInDialog, GetCurrentThreadId(), directory + "\\demo-dialog.png");
  plugin.Configure();
  userThread.join();
  std::printf("\nAfter OK, at once:\n\n");
  PrintEscapeRow("as confirmed in the dialog", conversation, main);
  std::printf("\nStored for the user:\n");
  PrintSettings(user);

  plugin.Uninitialize();
  plugin.Unload();
  std::printf("\nUninitialized and unloaded.\n");
  return 0;
}

// Reports every Escape event the thread retrieves: called before the plug-in's hook, it asks the
// plug-in (the next hook) and tells what became of the event.
HHOOK g_reporter = nullptr;

LRESULT CALLBACK ReportEscape(int code, WPARAM key, LPARAM flags) {
  const LRESULT result = CallNextHookEx(g_reporter, code, key, flags);
  if (code >= 0 && key == VK_ESCAPE) {
    HWND foreground = GetForegroundWindow();
    char cls[64] = {};
    GetClassNameA(foreground, cls, sizeof cls);
    const bool released = (static_cast<DWORD>(flags) & 0x80000000u) != 0;
    std::printf("Escape %s in %s: %s%s\n", released ? "release" : "press", cls,
                result != 0 ? "swallowed" : "delivered", IsIconic(foreground) ? ", minimized" : "");
    std::fflush(stdout);
  }
  return result;
}

int ByHand(const std::string& user) {
  PrintBanner();
  PluginApi plugin;
  if (!plugin.Load()) {
    std::printf("tovrel.dll could not be loaded\n");
    return 1;
  }
  plugin.Initialize(0, user.c_str(), 0);
  g_reporter = SetWindowsHookExA(WH_KEYBOARD, ReportEscape, nullptr, GetCurrentThreadId());
  probe::ProbeWindow conversation(kConversationClass);
  probe::ProbeWindow main(kMainClass);
  std::printf(
      "User \"%s\". Press Escape in either window; F2 opens the configuration; close a "
      "window to quit.\n",
      user.c_str());
  std::fflush(stdout);
  MSG message;
  while (IsWindow(conversation.Handle()) && IsWindow(main.Handle()) &&
         GetMessageA(&message, nullptr, 0, 0) > 0) {
    if (message.message == WM_KEYDOWN && message.wParam == VK_F2) {
      plugin.Configure();
      continue;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  UnhookWindowsHookEx(g_reporter);
  plugin.Uninitialize();
  plugin.Unload();
  return 0;
}

int Hold(const std::string& user) {
  std::printf("started\n");
  std::fflush(stdout);
  char line[16];
  if (std::fgets(line, sizeof line, stdin) == nullptr) return 3;
  PluginApi plugin;
  if (!plugin.Load()) return 1;
  plugin.Initialize(0, user.c_str(), 0);
  std::printf("ready %lu\n", GetCurrentProcessId());
  std::fflush(stdout);
  std::fgets(line, sizeof line, stdin);
  const std::uint32_t removed = plugin.Uninitialize();
  plugin.Unload();
  return removed == 1 ? 0 : 2;
}

}  // namespace
}  // namespace tovrel::host

int main(int argc, char** argv) {
  tovrel::probe::EndAtOnceOnCrash();
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "--demo") return tovrel::host::Demo(argc > 2 ? argv[2] : ".");
  if (mode == "--hold") return tovrel::host::Hold(argc > 2 ? argv[2] : "");
  return tovrel::host::ByHand(argc > 1 ? argv[1] : "default");
}
