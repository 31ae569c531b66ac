// The configuration dialog on the real platform. This thread plays the caller: it owns a visible
// window, creates the dialog and shows it modally. A second thread plays the user: it finds the
// dialog by its caption, reads the focus with GetGUIThreadInfo and acts with SendInput, or with
// BM_CLICK where a click suffices.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "DialogDriver.hpp"
#include "DialogGeometry.hpp"
#include "KeyProbe.hpp"
#include "Screenshot.hpp"
#include "UnderWine.hpp"
#include "WindowsVersion.hpp"
#include "fConfig.hpp"

namespace tovrel {
namespace {

using test::User;
using test::WaitFor;

struct Outcome {
  int Result;
  PluginSettings Settings;
};

// Creates the dialog as its caller does, shows it modally on this thread with `settings`, and
// lets `act` play the user. A dialog the user leaves open is closed, and the test fails.
Outcome RunDialog(PluginSettings settings, const std::function<void(User&)>& act,
                  const char* what = "dialog") {
  TfrmConfig form;
  EXPECT_TRUE(form.Create());
  form.Settings = settings;
  const int result = test::PlayUser([&] { return form.ShowModal(); }, act, what);
  return {result, form.Settings};
}

class DialogTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(owner_.BringToFront()); }
  // The caller's own window, active when the dialog opens.
  probe::ProbeWindow owner_{"TovrelTestOwner"};
};

struct EndRow {
  const char* Name;
  std::function<void(User&)> Act;
  int Result;
};

TEST_F(DialogTest, EveryWayTheDialogEnds) {
  const EndRow rows[] = {
      {"OK click", [](User& u) { u.Click("OK"); }, kDialogResultOK},
      {"Enter", [](User& u) { u.Key(VK_RETURN); }, kDialogResultOK},
      {"Enter on OK",
       [](User& u) {
         for (int i = 0; i < 3; ++i) ASSERT_TRUE(u.Tab());
         ASSERT_EQ(u.FocusName(), "OK");
         u.Key(VK_RETURN);
       },
       kDialogResultOK},
      {"Cancel click", [](User& u) { u.Click("Cancel"); }, kDialogResultCancel},
      {"Escape", [](User& u) { u.Key(VK_ESCAPE); }, kDialogResultCancel},
      {"Enter on Cancel",
       [](User& u) {
         for (int i = 0; i < 4; ++i) ASSERT_TRUE(u.Tab());
         ASSERT_EQ(u.FocusName(), "Cancel");
         u.Key(VK_RETURN);
       },
       kDialogResultCancel},
      {"close box",
       [](User& u) {
         const POINT box = u.CloseBox();
         ASSERT_GE(box.x, 0) << "no close box on the caption";
         u.MouseClick(box);
       },
       kDialogResultCancel},
      {"system menu Close", [](User& u) { PostMessageA(u.Dialog, WM_SYSCOMMAND, SC_CLOSE, 0); },
       kDialogResultCancel},
      {"Alt+F4",
       [](User& u) {
         u.Keys({VK_MENU, VK_F4, -VK_F4, -VK_MENU});
       },
       kDialogResultCancel},
      // Not dialog keys: the dialog stays open (the Tab after them is handled), then ends
      // the other way.
      {"Ctrl+Enter does nothing",
       [](User& u) {
         u.Keys({VK_CONTROL, VK_RETURN, -VK_RETURN, -VK_CONTROL});
         ASSERT_TRUE(u.Tab());
         EXPECT_FALSE(u.Ended());
         u.Key(VK_ESCAPE);
       },
       kDialogResultCancel},
      {"Shift+Escape does nothing",
       [](User& u) {
         u.Keys({VK_SHIFT, VK_ESCAPE, -VK_ESCAPE, -VK_SHIFT});
         ASSERT_TRUE(u.Tab());
         EXPECT_FALSE(u.Ended());
         u.Click("OK");
       },
       kDialogResultOK},
  };
  for (const EndRow& row : rows) {
    SCOPED_TRACE(row.Name);
    const PluginSettings written{1, MinimizeIMWindow, 0};
    const Outcome outcome = RunDialog(written, row.Act, row.Name);
    EXPECT_EQ(outcome.Result, row.Result);
    EXPECT_EQ(outcome.Settings, written) << "nothing was changed, whichever way it ended";
  }
}

TEST_F(DialogTest, EnterAndEscapeBelongToAnOpenActionList) {
  const Outcome outcome = RunDialog({1, DoNothing, 0}, [](User& u) {
    ASSERT_TRUE(u.Tab());
    ASSERT_EQ(u.FocusName(), "list");
    HWND list = u.Focus();
    u.Keys({VK_MENU, VK_DOWN, -VK_DOWN, -VK_MENU});  // opens the list
    ASSERT_TRUE(WaitFor([&] { return SendMessageA(list, CB_GETDROPPEDSTATE, 0, 0) != 0; }));
    u.Keys({VK_DOWN, -VK_DOWN, VK_RETURN, -VK_RETURN});  // picks the second item
    ASSERT_TRUE(WaitFor([&] { return SendMessageA(list, CB_GETDROPPEDSTATE, 0, 0) == 0; }));
    ASSERT_TRUE(u.Tab());
    EXPECT_FALSE(u.Ended()) << "Enter closed the list, not the dialog";
    EXPECT_TRUE(IsWindowEnabled(u.Child("Button", "Minimize Messenger main window too")));
    u.Click("OK");
  });
  EXPECT_EQ(outcome.Result, kDialogResultOK);
  EXPECT_EQ(outcome.Settings, (PluginSettings{1, MinimizeIMWindow, 0}));
}

TEST_F(DialogTest, TabOrderAndInitialFocus) {
  const struct {
    PluginSettings Settings;
    std::vector<std::string> Order;
  } rows[] = {
      {{1, MinimizeIMWindow, 0},
       {"Enable plugin", "list", "Minimize Messenger main window too", "OK", "Cancel",
        "Set this configuration as default for all users", "Enable plugin"}},
      // Disabled controls are passed over.
      {{0, MinimizeIMWindow, 0},
       {"Enable plugin", "OK", "Cancel", "Set this configuration as default for all users",
        "Enable plugin"}},
  };
  for (const auto& row : rows) {
    RunDialog(row.Settings, [&](User& u) {
      std::vector<std::string> seen{u.FocusName()};
      for (std::size_t i = 1; i < row.Order.size(); ++i) {
        if (!u.Tab()) break;
        seen.push_back(u.FocusName());
      }
      EXPECT_EQ(seen, row.Order);
      ASSERT_TRUE(u.Tab(true));
      EXPECT_EQ(u.FocusName(), "Set this configuration as default for all users");
      u.Key(VK_ESCAPE);
    });
  }
}

TEST_F(DialogTest, ModalForTheCallingThreadsWindows) {
  probe::ProbeWindow disabledBefore("TovrelTestDisabled");
  EnableWindow(disabledBefore.Handle(), FALSE);
  probe::ProbeWindow hidden("TovrelTestHidden");
  ShowWindow(hidden.Handle(), SW_HIDE);
  ASSERT_TRUE(owner_.BringToFront());

  RunDialog({1, DoNothing, 0}, [&](User& u) {
    EXPECT_FALSE(IsWindowEnabled(owner_.Handle())) << "takes no input while the dialog runs";
    EXPECT_FALSE(IsWindowEnabled(disabledBefore.Handle()));
    EXPECT_TRUE(IsWindowEnabled(hidden.Handle())) << "only visible windows are disabled";
    u.Click("Cancel");
  });
  EXPECT_TRUE(IsWindowEnabled(owner_.Handle()));
  EXPECT_FALSE(IsWindowEnabled(disabledBefore.Handle())) << "was not disabled by the dialog";
  EXPECT_EQ(GetActiveWindow(), owner_.Handle()) << "the window active before is active again";
}

// Whether `upper` lies in front of `lower` in the z-order of top-level windows.
bool InFrontOf(HWND upper, HWND lower) {
  if (!IsWindow(lower)) return false;
  for (HWND below = GetWindow(upper, GW_HWNDNEXT); below != nullptr;
       below = GetWindow(below, GW_HWNDNEXT)) {
    if (below == lower) return true;
  }
  return false;
}

// The window active on the caller's thread when the dialog opens owns it while it is visible: the
// dialog stays in front of it, has no taskbar button of its own, and the window takes input and
// is active again afterwards. A hidden active window (a tray icon's) hands the dialog to its
// nearest visible owner, or to none. With no active window the dialog opens unowned. With "Snap
// To" on, the pointer is on the default button as the dialog opens; off, it stays where it was.
TEST_F(DialogTest, OwnedByTheWindowActiveWhenItOpens) {
  probe::ProbeWindow other("TovrelTestOther");
  probe::ProbeWindow tray("TovrelTestTray");
  probe::ProbeWindow ownedTray("TovrelTestOwnedTray");
  SetWindowLongPtrA(ownedTray.Handle(), GWLP_HWNDPARENT,
                    reinterpret_cast<LONG_PTR>(other.Handle()));
  for (HWND hidden : {tray.Handle(), ownedTray.Handle()}) ShowWindow(hidden, SW_HIDE);
  const struct {
    const char* Name;
    probe::ProbeWindow* Active;
    probe::ProbeWindow* Owner;
    bool SnapTo;
  } rows[] = {{"the caller's window", &owner_, &owner_, false},
              {"another window of the thread", &other, &other, true},
              {"a hidden window", &tray, nullptr, true},
              {"a hidden window owned by a visible one", &ownedTray, &other, false},
              {"no active window", nullptr, nullptr, false}};
  BOOL snapBefore = FALSE;
  SystemParametersInfoA(SPI_GETSNAPTODEFBUTTON, 0, &snapBefore, 0);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Name);
    HWND active = row.Active != nullptr ? row.Active->Handle() : nullptr;
    HWND owner = row.Owner != nullptr ? row.Owner->Handle() : nullptr;
    if (row.Active != nullptr && IsWindowVisible(active)) {
      ASSERT_TRUE(row.Active->BringToFront());
    } else {
      SetActiveWindow(active);
    }
    ASSERT_EQ(GetActiveWindow(), active);
    ASSERT_TRUE(
        SystemParametersInfoA(SPI_SETSNAPTODEFBUTTON, row.SnapTo ? TRUE : FALSE, nullptr, 0));
    const POINT away{3, 5};
    ASSERT_TRUE(SetCursorPos(away.x, away.y));
    RunDialog({1, DoNothing, 0}, [&](User& u) {
      RECT ok{};
      GetWindowRect(u.Child("Button", "OK"), &ok);
      const POINT snapped{(ok.left + ok.right) / 2, (ok.top + ok.bottom) / 2};
      const POINT expected = row.SnapTo ? snapped : away;
      POINT pointer{};
      EXPECT_TRUE(WaitFor([&] {
        return GetCursorPos(&pointer) && pointer.x == expected.x && pointer.y == expected.y;
      })) << "pointer at "
          << pointer.x << "," << pointer.y;
      EXPECT_EQ(GetWindow(u.Dialog, GW_OWNER), owner);
      EXPECT_EQ(GetWindowLongA(u.Dialog, GWL_EXSTYLE) & WS_EX_APPWINDOW, 0);
      // Every window of the thread raised to the top, as the taskbar or the task switcher
      // would: the owner takes the dialog along, in front of it.
      for (HWND raised : {other.Handle(), owner_.Handle()}) {
        SetWindowPos(raised, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
      }
      if (owner != nullptr) {
        EXPECT_TRUE(InFrontOf(u.Dialog, owner)) << "the dialog is never behind its owner";
      }
      u.Click("Cancel");
    });
    EXPECT_TRUE(IsWindowEnabled(owner_.Handle()));
    EXPECT_TRUE(IsWindowEnabled(other.Handle()));
    if (active != nullptr) {
      EXPECT_EQ(GetActiveWindow(), active) << "the window active before is active again";
    }
  }
  SystemParametersInfoA(SPI_SETSNAPTODEFBUTTON, snapBefore != FALSE ? TRUE : FALSE, nullptr, 0);
}

// The UI-state messages sent to the windows of this thread, seen by a WH_CALLWNDPROC hook on it.
// One at a time in the process: a hook procedure has no context of its own.
class UiStateWatch {
 public:
  UiStateWatch() {
    hook_ = SetWindowsHookExA(WH_CALLWNDPROC, &Proc, nullptr, GetCurrentThreadId());
  }
  ~UiStateWatch() {
    if (hook_ != nullptr) UnhookWindowsHookEx(hook_);
  }
  UiStateWatch(const UiStateWatch&) = delete;
  UiStateWatch& operator=(const UiStateWatch&) = delete;
  bool Watching() const { return hook_ != nullptr; }

  // Whether `window` was sent WM_CHANGEUISTATE with `action` and every one of `cues`.
  static bool Changed(HWND window, WORD action, WORD cues) {
    const std::lock_guard<std::mutex> lock(mutex_);
    return std::any_of(seen_.begin(), seen_.end(), [&](const CWPSTRUCT& m) {
      return m.hwnd == window && m.message == WM_CHANGEUISTATE && LOWORD(m.wParam) == action &&
             (HIWORD(m.wParam) & cues) == cues;
    });
  }

 private:
  static LRESULT CALLBACK Proc(int code, WPARAM wp, LPARAM lp) {
    const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lp);
    if (code == HC_ACTION && sent->message == WM_CHANGEUISTATE) {
      const std::lock_guard<std::mutex> lock(mutex_);
      seen_.push_back(*sent);
    }
    return CallNextHookEx(nullptr, code, wp, lp);
  }
  HHOOK hook_ = nullptr;
  static inline std::mutex mutex_;
  static inline std::vector<CWPSTRUCT> seen_;
};

// Focus rectangles and underlines are hidden on Windows until the keyboard is used: the dialog is
// told to set them from the last input when it opens, the first Tab reveals the focus and Alt the
// underlines. (Wine draws focus rectangles always, and its WM_QUERYUISTATE does not follow.)
TEST_F(DialogTest, TheKeyboardRevealsFocusAndUnderlines) {
  BOOL cuesAlways = FALSE;
  if (!probe::UnderWine() && SystemParametersInfoA(SPI_GETKEYBOARDCUES, 0, &cuesAlways, 0) &&
      cuesAlways) {
    GTEST_SKIP() << "this Windows shows focus rectangles and underlines always (a setting: "
                    "Ease of Access, underline access keys)";
  }
  const UiStateWatch watch;
  ASSERT_TRUE(watch.Watching());
  RunDialog({1, DoNothing, 0}, [&](User& u) {
    auto revealed = [&](WORD cues) {
      return UiStateWatch::Changed(u.Dialog, UIS_CLEAR, cues) ||
             UiStateWatch::Changed(u.Focus(), UIS_CLEAR, cues);
    };
    EXPECT_TRUE(UiStateWatch::Changed(u.Dialog, UIS_INITIALIZE, 0)) << "set up as it opened";
    EXPECT_FALSE(revealed(UISF_HIDEFOCUS)) << "nothing revealed before the keyboard is used";
    ASSERT_TRUE(u.Tab());
    EXPECT_TRUE(revealed(UISF_HIDEFOCUS)) << "the first Tab reveals the focus";
    EXPECT_FALSE(revealed(UISF_HIDEACCEL));
    // Alt with another key, so that its release does not open the system menu.
    u.Keys({VK_MENU, VK_CONTROL, -VK_CONTROL, -VK_MENU});
    EXPECT_TRUE(revealed(UISF_HIDEACCEL)) << "Alt reveals the underlines";
    ASSERT_TRUE(u.Tab(true));
    EXPECT_FALSE(u.Ended());
    u.Key(VK_ESCAPE);
  });
}

// The density this run was set up for (Wine's LogPixels), 96 unless the runner says otherwise; on
// Windows, the screen's own.
int ExpectedDensity() {
  if (!probe::UnderWine()) {
    HDC screen = GetDC(nullptr);
    const int density = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return density;
  }
  const char* value = std::getenv("TOVREL_WINE_DPI");
  return value != nullptr ? std::atoi(value) : 96;
}

SIZE Extent(HFONT font, const char* text) {
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, font);
  SIZE size{};
  GetTextExtentPoint32A(dc, text, static_cast<int>(std::strlen(text)), &size);
  SelectObject(dc, old);
  DeleteDC(dc);
  return size;
}

// Laid out at 96 pixels per inch for a font whose "0" is 13 pixels high; the action list's
// children sit in the group box at (8, 8).
struct Placed {
  const char* Class;
  const char* Text;
  bool InGroup;
  RECT Design;                  // left, top, width, height relative to the parent
  const char* Label = nullptr;  // the label a screen reader names the control after
};
const Placed kPlaced[] = {
    {"Button", "Tovrel plugin configuration", false, {8, 8, 457, 105}},
    {"Static", "When ESC is pressed", true, {26, 48, 103, 13}},
    {"Button", "Enable plugin", true, {8, 24, 97, 17}},
    {"ComboBox", nullptr, true, {136, 44, 313, 21}, "When ESC is pressed"},
    {"Button", "Minimize Messenger main window too", true, {136, 72, 214, 17}},
    {"Button", "OK", false, {312, 120, 73, 25}},
    {"Button", "Cancel", false, {392, 120, 73, 25}},
    {"Button", "Set this configuration as default for all users", false, {8, 123, 233, 17}},
};

// The name Active Accessibility gives a control without text of its own: the text of the label
// before it in z-order, passing over hidden windows, up to the first tab stop or group start.
std::string LabelBefore(HWND control) {
  for (HWND before = GetWindow(control, GW_HWNDPREV); before != nullptr;
       before = GetWindow(before, GW_HWNDPREV)) {
    if (!IsWindowVisible(before)) continue;
    char cls[64] = {};
    GetClassNameA(before, cls, sizeof cls);
    if (_stricmp(cls, "Static") == 0) return test::TextOf(before);
    if ((GetWindowLongA(before, GWL_STYLE) & (WS_TABSTOP | WS_GROUP)) != 0) break;
  }
  return "";
}

// Per density, the height of "0" in the face the dialog shows (Wine's Tahoma, which its
// "MS Shell Dlg 2" names) and the client size the 473 x 153 layout then takes.
struct ShownAt {
  int Density;
  int Zero;
  int ClientWidth;
  int ClientHeight;
};
constexpr ShownAt kShownAt[] = {
    {96, 13, 473, 153}, {120, 17, 619, 200}, {144, 21, 764, 247}, {192, 27, 982, 318}};

TEST_F(DialogTest, LayoutPlacementAndFontFollowTheScreen) {
  const int density = ExpectedDensity();
  HDC screen = GetDC(nullptr);
  ASSERT_EQ(GetDeviceCaps(screen, LOGPIXELSY), density) << "LogPixels did not take effect";
  ReleaseDC(nullptr, screen);

  const ShownAt* expected =
      std::find_if(std::begin(kShownAt), std::end(kShownAt),
                   [&](const ShownAt& row) { return row.Density == density; });
  ASSERT_NE(expected, std::end(kShownAt)) << "no figures for " << density << " DPI";
  ASSERT_EQ(test::ShownZeroHeight(density), expected->Zero) << "the face the dialog shows";
  auto scale = [&](int value) { return MulDiv(value, expected->Zero, 13); };

  RunDialog({1, MinimizeIMWindow, 1}, [&](User& u) {
    RECT client{};
    GetClientRect(u.Dialog, &client);
    EXPECT_EQ(client.right, expected->ClientWidth);
    EXPECT_EQ(client.bottom, expected->ClientHeight);

    RECT frame{};
    GetWindowRect(u.Dialog, &frame);
    EXPECT_EQ(frame.left, (GetSystemMetrics(SM_CXSCREEN) - (frame.right - frame.left)) / 2);
    EXPECT_EQ(frame.top, (GetSystemMetrics(SM_CYSCREEN) - (frame.bottom - frame.top)) / 2);
    const LONG style = GetWindowLongA(u.Dialog, GWL_STYLE);
    EXPECT_TRUE((style & WS_SYSMENU) &&
                !(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME)));
    EXPECT_EQ(GetWindow(u.Dialog, GW_OWNER), owner_.Handle()) << "the window active before";

    auto font = reinterpret_cast<HFONT>(SendMessageA(u.Dialog, WM_GETFONT, 0, 0));
    LOGFONTA face{};
    GetObjectA(font, sizeof face, &face);
    EXPECT_STREQ(face.lfFaceName, test::ExpectedDialogFace());
    EXPECT_EQ(face.lfHeight, MulDiv(-11, density, 96)) << "the face switch rescales nothing";

    RECT listRect{};
    for (const Placed& placed : kPlaced) {
      SCOPED_TRACE(placed.Text != nullptr ? placed.Text : placed.Class);
      HWND control = u.Child(placed.Class, placed.Text);
      ASSERT_NE(control, nullptr);
      if (placed.Label != nullptr) {
        EXPECT_EQ(LabelBefore(control), placed.Label) << "the label screen readers find";
      }
      EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)), font);
      RECT rect{};
      GetWindowRect(control, &rect);
      MapWindowPoints(nullptr, u.Dialog, reinterpret_cast<POINT*>(&rect), 2);
      const RECT& d = placed.Design;
      const int originX = placed.InGroup ? scale(8) : 0;
      const int originY = placed.InGroup ? scale(8) : 0;
      EXPECT_EQ(rect.left, originX + scale(d.left));
      EXPECT_EQ(rect.top, originY + scale(d.top));
      const bool isLabel = std::strcmp(placed.Class, "Static") == 0;
      const bool isList = std::strcmp(placed.Class, "ComboBox") == 0;
      // The label is as wide as its text in the final font; the list's closed height is the
      // system's, from the font.
      const int width =
          isLabel ? Extent(font, placed.Text).cx : scale(d.left + d.right) - scale(d.left);
      const bool isCheckBox = std::strcmp(placed.Class, "Button") == 0 &&
                              (GetWindowLongA(control, GWL_STYLE) & BS_TYPEMASK) == BS_AUTOCHECKBOX;
      if (isCheckBox || isList) {
        // As laid out where the text fits; wider where it does not, and then only as wide as
        // box and text need (the list's room ends short of its need: it takes all of it).
        const int need = isCheckBox ? test::CheckBoxWidthNeeded(control) : 0;
        if (rect.right - rect.left != width) {
          std::printf("At %d DPI \"%s\" widened from %d to %d\n", density,
                      isList ? "action list" : placed.Text, width,
                      static_cast<int>(rect.right - rect.left));
        }
        EXPECT_GE(rect.right - rect.left, width);
        if (isCheckBox && rect.right - rect.left > width) {
          EXPECT_EQ(rect.right - rect.left, need + 1)
              << "grown only as far as the text and the focus rectangle around it need";
        }
        if (isCheckBox) {
          EXPECT_GE(rect.right - rect.left, need);
        }
        if (isCheckBox && density != 96) {
          EXPECT_GE(rect.right - rect.left, Extent(font, placed.Text).cx + MulDiv(13, density, 96));
        }
      } else {
        EXPECT_EQ(rect.right - rect.left, width);
      }
      if (!isList) {
        EXPECT_EQ(rect.bottom - rect.top, scale(d.top + d.bottom) - scale(d.top));
      }
      if (isList) {
        listRect = rect;
        // The open list holds its longest item whole, with the list's margin of 2 pixels on each
        // side inside its border. At 96 DPI the longest item is exactly as wide as the closed box.
        int widest = 0;
        for (const char* item : kActionItems) widest = std::max<int>(widest, Extent(font, item).cx);
        const auto dropped = static_cast<int>(SendMessageA(control, CB_GETDROPPEDWIDTH, 0, 0));
        EXPECT_GE(dropped - 2 * GetSystemMetrics(SM_CXBORDER), widest + 4);
      }
    }
    RECT label{};
    GetWindowRect(u.Child("Static", "When ESC is pressed"), &label);
    MapWindowPoints(nullptr, u.Dialog, reinterpret_cast<POINT*>(&label), 2);
    // The room the layout leaves before the list holds the text at the design density; scaled,
    // the text may grow a pixel wider than the room does.
    EXPECT_LE(label.right, listRect.left + (density == 96 ? 0 : 1)) << "ends before the list";

    const std::string png = "config-dialog-" + std::to_string(density) + "dpi.png";
    EXPECT_TRUE(test::SaveDialogPng(u.Dialog, png)) << png;
    u.Key(VK_ESCAPE);
  });
}

BOOL CALLBACK AddWorkArea(HMONITOR monitor, HDC, LPRECT, LPARAM areas) {
  MONITORINFO info{};
  info.cbSize = sizeof info;
  if (GetMonitorInfoA(monitor, &info))
    reinterpret_cast<std::vector<RECT>*>(areas)->push_back(info.rcWork);
  return TRUE;
}

// On each monitor the dialog opens centred in the work area of the monitor that holds the window
// active when it opened. One run has two monitors side by side (TOVREL_WINE_SCREENS, which
// tools/wine-run turns into a display that Wine reports so); Wine must report them.
TEST_F(DialogTest, LayoutCentredOnTheMonitorOfTheActiveWindow) {
  std::vector<RECT> areas;
  EnumDisplayMonitors(nullptr, nullptr, &AddWorkArea, reinterpret_cast<LPARAM>(&areas));
  if (const char* screens = std::getenv("TOVREL_WINE_SCREENS"); screens != nullptr) {
    ASSERT_EQ(areas.size(), static_cast<std::size_t>(std::atoi(screens))) << "monitors reported";
    ASSERT_EQ(GetSystemMetrics(SM_CMONITORS), std::atoi(screens));
  }
  for (const RECT& work : areas) {
    SCOPED_TRACE(testing::Message() << "work area " << work.left << "," << work.top << "-"
                                    << work.right << "," << work.bottom);
    ASSERT_TRUE(SetWindowPos(owner_.Handle(), nullptr, work.left + 20, work.top + 20, 0, 0,
                             SWP_NOSIZE | SWP_NOZORDER));
    ASSERT_TRUE(owner_.BringToFront());
    RunDialog({1, DoNothing, 0}, [&](User& u) {
      RECT frame{};
      GetWindowRect(u.Dialog, &frame);
      EXPECT_EQ(frame.left, work.left + (work.right - work.left - (frame.right - frame.left)) / 2);
      EXPECT_EQ(frame.top, work.top + (work.bottom - work.top - (frame.bottom - frame.top)) / 2);
      u.Key(VK_ESCAPE);
    });
  }
}

// At every density, 96 included, the dialog fits the screen, every text fits its control by
// GetTextExtentPoint32 in the control's own font (a check box's with the box and half a "0"
// before it), and no controls overlap but the group box's own. Reports how much of the action
// list's longest item its closed field shows.
TEST_F(DialogTest, LayoutHoldsTogether) {
  RunDialog({1, DoNothing, 1}, [&](User& u) {
    for (const std::string& fault : test::LayoutFaults(u.Dialog)) ADD_FAILURE() << fault;
    HWND list = u.Child("ComboBox", nullptr);
    ASSERT_EQ(SendMessageA(list, CB_GETCURSEL, 0, 0), DoNothing);
    const std::string shown = test::ClosedListShows(list);
    std::printf("At %d DPI the closed action list shows \"%s\" of \"%s\"\n", ExpectedDensity(),
                shown.c_str(), kActionItems[DoNothing]);
    const std::string png = "config-dialog-" + std::to_string(ExpectedDensity()) + "dpi-item0.png";
    EXPECT_TRUE(test::SaveDialogPng(u.Dialog, png)) << png;
    u.Key(VK_ESCAPE);
  });
}

}  // namespace
}  // namespace tovrel
