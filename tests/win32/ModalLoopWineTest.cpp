// The dialog's modal loop on the real platform: it ends however the dialog is ended, by another
// thread's sent message as well as by the user, when its window is destroyed under it, and when
// WM_QUIT arrives; it leaves every window as it found it. This thread plays the caller; a second
// thread acts on the dialog.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "AllocationFailure.hpp"
#include "DialogDriver.hpp"
#include "KeyProbe.hpp"
#include "SettingsKey.hpp"
#include "fConfig.hpp"
#include "plugin/ModuleState.hpp"
#include "plugin/Plugin.hpp"

namespace tovrel {
namespace {

using test::User;
using test::WaitFor;

// Hands this thread's messages on until `done` holds or the deadline passes.
template <typename Condition>
bool PumpUntil(Condition done, DWORD timeoutMs = 10000) {
  const ULONGLONG deadline = GetTickCount64() + probe::OnThisMachine(timeoutMs);
  while (!done()) {
    if (GetTickCount64() >= deadline) return false;
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    Sleep(5);
  }
  return true;
}

BOOL CALLBACK CountFormWindow(HWND window, LPARAM count) {
  char name[64] = {};
  GetClassNameA(window, name, sizeof name);
  if (std::string(name) == kConfigLayout.Name) ++*reinterpret_cast<int*>(count);
  return TRUE;
}

// The dialog windows of this thread, shown or not.
int FormWindows() {
  int count = 0;
  EnumThreadWindows(GetCurrentThreadId(), &CountFormWindow, reinterpret_cast<LPARAM>(&count));
  return count;
}

bool FormClassRegistered() {
  WNDCLASSEXA info{};
  info.cbSize = sizeof info;
  return GetClassInfoExA(GetModuleHandleA(nullptr), kConfigLayout.Name, &info) != FALSE;
}

BOOL CALLBACK NeedsPaint(HWND window, LPARAM any) {
  if (GetUpdateRect(window, nullptr, FALSE)) *reinterpret_cast<bool*>(any) = true;
  return TRUE;
}

// The dialog and its controls are drawn: no paint is pending that would wake its loop anyway.
bool Drawn(HWND dialog) {
  bool pending = GetUpdateRect(dialog, nullptr, FALSE) != FALSE;
  EnumChildWindows(dialog, &NeedsPaint, reinterpret_cast<LPARAM>(&pending));
  return !pending;
}

class ModalLoopTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(owner_.BringToFront()); }
  void TearDown() override {
    EXPECT_EQ(FormWindows(), 0) << "no dialog window outlives its form";
    EXPECT_FALSE(FormClassRegistered()) << "the class goes with the last form";
  }
  // The caller's own window, active when the dialog opens.
  probe::ProbeWindow owner_{"TovrelTestOwner"};
};

// Shows a created form modally while `act` runs on a second thread once the dialog is up.
int ShowWith(TfrmConfig& form, const std::function<void(const User&)>& act) {
  return test::PlayUser([&] { return form.ShowModal(); }, act);
}

// Another thread's sent message (an automation client, an accessibility tool, the host) ends the
// dialog at once, though nothing is posted to the dialog's thread and no input arrives. The same
// client first set every control with messages that notify no one: OK stores what they show,
// and the enabling rules follow them.
TEST_F(ModalLoopTest, SentMessagesFromAnotherThreadEndTheDialogWithinASecond) {
  const struct {
    const char* Name;
    std::function<void(const User&)> Send;
    int Result;
  } rows[] = {
      {"WM_CLOSE", [](const User& u) { SendMessageA(u.Dialog, WM_CLOSE, 0, 0); },
       kDialogResultCancel},
      {"BM_CLICK Cancel",
       [](const User& u) { SendMessageA(u.Child("Button", "Cancel"), BM_CLICK, 0, 0); },
       kDialogResultCancel},
      {"BM_CLICK OK", [](const User& u) { SendMessageA(u.Child("Button", "OK"), BM_CLICK, 0, 0); },
       kDialogResultOK},
      {"WM_COMMAND IDCANCEL",
       [](const User& u) { SendMessageA(u.Dialog, WM_COMMAND, IDCANCEL, 0); }, kDialogResultCancel},
      {"WM_COMMAND IDOK", [](const User& u) { SendMessageA(u.Dialog, WM_COMMAND, IDOK, 0); },
       kDialogResultOK},
      {"Enter", [](const User& u) { u.Key(VK_RETURN); }, kDialogResultOK},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Name);
    TfrmConfig form;
    ASSERT_TRUE(form.Create());
    form.Settings = {0, DoNothing, 0};
    ULONGLONG elapsed = 0;
    const int result = ShowWith(form, [&](const User& u) {
      ASSERT_TRUE(WaitFor([&] { return Drawn(u.Dialog); }));
      HWND minimize = u.Child("Button", "Minimize Messenger main window too");
      SendMessageA(u.Child("ComboBox", nullptr), CB_SETCURSEL, MinimizeIMWindow, 0);
      for (HWND box : {u.Child("Button", "Enable plugin"), minimize}) {
        SendMessageA(box, BM_SETCHECK, BST_CHECKED, 0);
      }
      const ULONGLONG sent = GetTickCount64();
      row.Send(u);
      EXPECT_TRUE(WaitFor([&] { return u.Ended(); }, 1000)) << "still open after a second";
      elapsed = GetTickCount64() - sent;
      if (row.Result == kDialogResultOK) {
        EXPECT_TRUE(IsWindowEnabled(minimize)) << "the enabling rules ran on what was read";
      }
    });
    EXPECT_EQ(result, row.Result);
    EXPECT_LT(elapsed, probe::OnThisMachine(1000));
    const PluginSettings stored = row.Result == kDialogResultOK
                                      ? PluginSettings{1, MinimizeIMWindow, 1}
                                      : PluginSettings{0, DoNothing, 0};
    EXPECT_EQ(form.Settings, stored) << "OK stores what the controls show, Cancel nothing";
  }
}

// Destroyed by a timer of the caller's thread while its loop runs: Configure ends as by Cancel,
// after the user had changed every control, and leaves no window disabled and nothing behind.
TEST_F(ModalLoopTest, DestroyedOnTheCallersThread_EndsConfigureWithNothingChanged) {
  static std::atomic<bool> destroyNow{false};
  static std::atomic<int> destroyed{0};
  destroyNow = false;
  destroyed = 0;
  const std::string user = "tovrel-destroyed-dialog";
  RegDeleteKeyA(HKEY_CURRENT_USER, host::SettingsKeyOf(user).c_str());
  ASSERT_TRUE(UserKey.Assign(u"tovrel-destroyed-dialog"));
  const PluginSettings before{1, DoNothing, 0};
  ModuleSettings = before;
  probe::ProbeWindow other("TovrelTestSecond");
  ASSERT_TRUE(owner_.BringToFront());

  struct Timer {
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
      if (!destroyNow || destroyed != 0) return;
      HWND dialog = FindWindowA(kConfigLayout.Name, kConfigCaption);
      if (dialog != nullptr && DestroyWindow(dialog)) ++destroyed;
    }
  };
  const UINT_PTR timer = SetTimer(nullptr, 0, 20, &Timer::Tick);
  ASSERT_NE(timer, 0u);
  User driver;
  driver.DialogThread = GetCurrentThreadId();
  std::atomic<bool> returned{false};
  std::thread acting([&] {
    if (!test::WaitForDialog(driver, kConfigCaption)) {
      ADD_FAILURE() << "the dialog did not appear";
      return;
    }
    SendMessageA(driver.Child("Button", "Enable plugin"), BM_CLICK, 0, 0);
    SendMessageA(driver.Child("Button", "Set this configuration as default for all users"),
                 BM_CLICK, 0, 0);
    destroyNow = true;
    // A loop that runs on after its window is gone is ended from outside, and the test fails.
    if (!WaitFor([&] { return returned.load(); }, 3000)) {
      ADD_FAILURE() << "Configure did not return once its dialog was destroyed";
      PostThreadMessageA(driver.DialogThread, WM_QUIT, 0, 0);
    }
  });
  PluginConfigure();
  returned = true;
  acting.join();
  KillTimer(nullptr, timer);
  MSG quit;
  PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);

  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(ModuleSettings, before) << "ends as Cancel does";
  HKEY key = nullptr;
  EXPECT_NE(RegOpenKeyExA(HKEY_CURRENT_USER, host::SettingsKeyOf(user).c_str(), 0, KEY_READ, &key),
            ERROR_SUCCESS)
      << "nothing saved";
  if (key != nullptr) RegCloseKey(key);
  EXPECT_TRUE(IsWindowEnabled(owner_.Handle())) << "no window is left disabled";
  EXPECT_TRUE(IsWindowEnabled(other.Handle())) << "no window is left disabled";
  EXPECT_EQ(GetActiveWindow(), owner_.Handle()) << "the window active before is active again";
  EXPECT_EQ(frmConfig, nullptr);
  UserKey.Release();
  ModuleSettings = {0, 0, 0};
}

// A form destroyed before it is shown ends at once with Cancel, and disables nothing.
TEST_F(ModalLoopTest, DestroyedBeforeItIsShown_EndsWithCancel) {
  TfrmConfig form;
  ASSERT_TRUE(form.Create());
  HWND window = FindWindowA(kConfigLayout.Name, kConfigCaption);
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(DestroyWindow(window));
  EXPECT_EQ(form.ShowModal(), kDialogResultCancel);
  EXPECT_TRUE(IsWindowEnabled(owner_.Handle()));
}

TEST_F(ModalLoopTest, CreatedTwice_KeepsOneSetOfWindows) {
  {
    TfrmConfig form;
    ASSERT_TRUE(form.Create());
    HWND first = FindWindowA(kConfigLayout.Name, kConfigCaption);
    EXPECT_TRUE(form.Create()) << "the form has its windows";
    EXPECT_EQ(FormWindows(), 1) << "the second call is refused";
    EXPECT_EQ(FindWindowA(kConfigLayout.Name, kConfigCaption), first);
    EXPECT_EQ(ShowWith(form, [](const User& u) { SendMessageA(u.Dialog, WM_CLOSE, 0, 0); }),
              kDialogResultCancel);
  }
  // TearDown: no window and no class left.
}

// Memory running out while the windows are built, whichever allocation it is: Create answers
// false and leaves no window behind, and the same form is then created whole.
TEST_F(ModalLoopTest, OutOfMemoryWhileCreatingLeavesNoWindowAndCanBeCreatedAgain) {
  int refusedRuns = 0;
  for (int n = 1; n < 40; ++n) {
    SCOPED_TRACE("allocation " + std::to_string(n));
    TfrmConfig form;
    test::FailAllocationsOnThisThread(n);
    const bool created = form.Create();
    const int refusals = test::RefusedAllocations();
    test::FailAllocationsOnThisThread(0);
    if (refusals == 0) {
      EXPECT_TRUE(created);
      break;
    }
    ++refusedRuns;
    EXPECT_FALSE(created);
    EXPECT_EQ(FormWindows(), 0) << "no window is left";
    EXPECT_EQ(form.ShowModal(), kDialogResultCancel) << "nothing to show";
    ASSERT_TRUE(form.Create());
    EXPECT_EQ(FormWindows(), 1);
  }
  EXPECT_GE(refusedRuns, 3) << "the form's record and its lists were each refused";
}

// Memory running out while the windows to disable are collected, whichever allocation it is,
// shows nothing and leaves every window enabled.
TEST_F(ModalLoopTest, OutOfMemoryWhileCollectingTheWindowsLeavesNoneDisabled) {
  // More windows than the first guess of the list holds, so that the list grows.
  std::vector<std::unique_ptr<probe::ProbeWindow>> crowd;
  for (int i = 0; i < 24; ++i) crowd.push_back(std::make_unique<probe::ProbeWindow>("TovrelCrowd"));
  ASSERT_TRUE(owner_.BringToFront());
  int refusedRuns = 0;
  for (int n = 1; n < 20; ++n) {
    SCOPED_TRACE("allocation " + std::to_string(n));
    TfrmConfig form;
    ASSERT_TRUE(form.Create());
    std::atomic<bool> returned{false};
    std::atomic<bool> shown{false};
    std::thread driver([&] {
      User user;
      user.DialogThread = 0;
      WaitFor([&] {
        HWND dialog = FindWindowA(kConfigLayout.Name, kConfigCaption);
        if (dialog != nullptr && IsWindowVisible(dialog)) {
          shown = true;
          SendMessageA(dialog, WM_CLOSE, 0, 0);
          return true;
        }
        return returned.load();
      });
    });
    test::FailAllocationsOnThisThread(n);
    const int result = form.ShowModal();
    const int refusals = test::RefusedAllocations();
    test::FailAllocationsOnThisThread(0);
    returned = true;
    driver.join();
    EXPECT_EQ(result, kDialogResultCancel);
    if (refusals > 0) {
      ++refusedRuns;
      EXPECT_FALSE(shown) << "nothing is shown";
      EXPECT_TRUE(IsWindowEnabled(owner_.Handle()));
      for (const auto& window : crowd) EXPECT_TRUE(IsWindowEnabled(window->Handle()));
    }
    if (refusals == 0) {
      EXPECT_TRUE(shown);
      break;
    }
  }
  EXPECT_GE(refusedRuns, 2) << "the first list and its growth were each refused";
  for (const auto& window : crowd) EXPECT_TRUE(IsWindowEnabled(window->Handle()));
}

// WM_QUIT is the thread's own loop's: the dialog ends with Cancel and posts it again. A message
// posted to the thread before it is shown first to the thread's message filters, as the system's
// dialog loops show it, with MSGF_DIALOGBOX; one a filter takes (an IDOK) goes no further.
TEST_F(ModalLoopTest, QuitDuringTheDialogEndsItAndIsPostedAgain) {
  static int filteredWith = -1;
  static bool took = false;
  filteredWith = -1;
  took = false;
  struct Filter {
    static LRESULT CALLBACK Proc(int code, WPARAM wp, LPARAM lp) {
      const UINT message = reinterpret_cast<const MSG*>(lp)->message;
      if (message == WM_APP) filteredWith = code;
      if (message == WM_COMMAND) {
        took = true;
        return 1;  // taken
      }
      return CallNextHookEx(nullptr, code, wp, lp);
    }
  };
  HHOOK filter = SetWindowsHookExA(WH_MSGFILTER, &Filter::Proc, nullptr, GetCurrentThreadId());
  ASSERT_NE(filter, nullptr);
  TfrmConfig form;
  ASSERT_TRUE(form.Create());
  EXPECT_EQ(ShowWith(form,
                     [](const User& u) {
                       PostThreadMessageA(u.DialogThread, WM_APP, 0, 0);
                       PostMessageA(u.Dialog, WM_COMMAND, IDOK, 0);
                       PostThreadMessageA(u.DialogThread, WM_QUIT, 7, 0);
                     }),
            kDialogResultCancel);
  UnhookWindowsHookEx(filter);
  EXPECT_EQ(filteredWith, MSGF_DIALOGBOX);
  EXPECT_TRUE(took) << "the filter saw the IDOK, and the dialog did not end with OK";
  MSG quit{};
  ASSERT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(quit.wParam, 7u);
}

// Another window activated and the dialog activated again: the focus is back on the control
// that had it.
TEST_F(ModalLoopTest, ReactivatedTheFocusReturnsToItsControl) {
  TfrmConfig form;
  ASSERT_TRUE(form.Create());
  form.Settings = {1, MinimizeIMWindow, 0};
  ShowWith(form, [](const User& u) {
    ASSERT_TRUE(u.Tab());
    ASSERT_TRUE(u.Tab());
    ASSERT_EQ(u.FocusName(), "Minimize Messenger main window too");
    HWND had = u.Focus();
    probe::ProbeWindow elsewhere("TovrelTestElsewhere");  // this thread's own
    ASSERT_TRUE(elsewhere.BringToFront());
    ASSERT_TRUE(PumpUntil([&] { return GetForegroundWindow() == elsewhere.Handle(); }));
    SetForegroundWindow(u.Dialog);
    EXPECT_TRUE(PumpUntil([&] { return GetForegroundWindow() == u.Dialog && u.Focus() == had; }))
        << "focus on " << u.FocusName();
    SendMessageA(u.Dialog, WM_CLOSE, 0, 0);
  });
}

// The default button is drawn as the default while the focus is on a control that is not a push
// button; a focused push button is drawn as the default itself. The focus moves by Tab and by
// what another program asks of a dialog (WM_NEXTDLGCTL: next, previous, to a control), and the
// buttons are found and the default one named as in any dialog.
TEST_F(ModalLoopTest, DefaultButtonLookFollowsTheFocus) {
  auto isDefault = [](HWND button) {
    return (GetWindowLongA(button, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
  };
  TfrmConfig form;
  ASSERT_TRUE(form.Create());
  form.Settings = {1, MinimizeIMWindow, 0};
  ShowWith(form, [&](const User& u) {
    HWND ok = u.Child("Button", "OK");
    HWND cancel = u.Child("Button", "Cancel");
    EXPECT_EQ(GetDlgItem(u.Dialog, IDOK), ok);
    EXPECT_EQ(GetDlgItem(u.Dialog, IDCANCEL), cancel);
    enum Move { None, Tab, Next, Previous, To, DefaultCancel, DefaultOk };
    const struct {
      Move By;
      const char* Focus;
      bool OkDefault;
      bool CancelDefault;
    } steps[] = {
        {None, "Enable plugin", true, false},
        {Tab, "list", true, false},
        {Next, "Minimize Messenger main window too", true, false},
        {Tab, "OK", true, false},
        {Next, "Cancel", false, true},
        {Tab, "Set this configuration as default for all users", true, false},
        {Previous, "Cancel", false, true},
        {To, "OK", true, false},
        {To, "list", true, false},
        {DefaultCancel, "list", false, true},  // DM_SETDEFID
        {Tab, "Minimize Messenger main window too", false, true},
        {DefaultOk, "Minimize Messenger main window too", true, false},
    };
    int defaultId = IDOK;
    for (const auto& step : steps) {
      if (step.By == DefaultCancel || step.By == DefaultOk) {
        defaultId = step.By == DefaultOk ? IDOK : IDCANCEL;
        EXPECT_EQ(SendMessageA(u.Dialog, DM_SETDEFID, static_cast<WPARAM>(defaultId), 0), TRUE);
      } else if (step.By == Tab) {
        ASSERT_TRUE(u.Tab());
      } else if (step.By == To) {
        HWND to = std::string(step.Focus) == "list" ? u.Child("ComboBox", nullptr)
                                                    : u.Child("Button", step.Focus);
        SendMessageA(u.Dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(to), TRUE);
      } else if (step.By != None) {
        SendMessageA(u.Dialog, WM_NEXTDLGCTL, step.By == Previous, FALSE);
      }
      ASSERT_EQ(u.FocusName(), step.Focus);
      EXPECT_EQ(SendMessageA(u.Dialog, DM_GETDEFID, 0, 0), MAKELONG(defaultId, DC_HASDEFID));
      EXPECT_TRUE(WaitFor(
          [&] {
            return isDefault(ok) == step.OkDefault && isDefault(cancel) == step.CancelDefault;
          },
          2000))
          << "focus on " << step.Focus << ": OK " << isDefault(ok) << ", Cancel "
          << isDefault(cancel);
    }
    SendMessageA(u.Dialog, WM_CLOSE, 0, 0);
  });
}

}  // namespace
}  // namespace tovrel
