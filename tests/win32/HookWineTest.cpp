// The keyboard hook on the real platform: real windows of the messenger's classes in the
// foreground, real Escape presses and releases sent with SendInput, and what the window
// procedures saw.
#include <windows.h>

#include <imm.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "KeyProbe.hpp"
#include "PluginApi.hpp"
#include "SettingsKey.hpp"
#include "plugin/HookInstall.hpp"
#include "plugin/HookRecord.hpp"
#include "plugin/KeyboardHook.hpp"
#include "plugin/ModuleState.hpp"
#include "uConstants.hpp"

namespace tovrel {
namespace {

using probe::EscapeOutcome;
using probe::ProbeWindow;

struct Row {
  const char* Name;
  const char* Class;
  PluginSettings Settings;
  bool Delivered;  // both the press and the release reach the window
  bool MinimizedOnRelease;
};

constexpr Row kRows[] = {
    {"Conversation_DoNothing", kConversationWindowClass, {1, DoNothing, 1}, false, false},
    {"Conversation_Minimize", kConversationWindowClass, {1, MinimizeIMWindow, 0}, false, true},
    {"Conversation_Disabled", kConversationWindowClass, {0, MinimizeIMWindow, 1}, true, false},
    {"Main_MinimizeBoth", kMainWindowClass, {1, MinimizeIMWindow, 1}, true, true},
    {"Main_MainWindowOff", kMainWindowClass, {1, MinimizeIMWindow, 0}, true, false},
    {"Main_DoNothing", kMainWindowClass, {1, DoNothing, 1}, true, false},
    {"Other_Minimize", "Notepad", {1, MinimizeIMWindow, 1}, true, false},
    {"ConversationClassWithSuffix", "IMWindowClassic", {1, MinimizeIMWindow, 1}, true, false},
};

class HookOnRealWindows : public testing::Test {
 protected:
  void SetUp() override {
    ModuleInstance = static_cast<platform::Instance>(
        reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr)));
    LastEscapePress = kNoPress;
    ASSERT_TRUE(InstallHook());
    ASSERT_NE(HookRecView->HookHandle, 0u) << "the system refused the hook";
  }
  void TearDown() override { RemoveHook(); }
};

class EscapeOnRealWindows : public HookOnRealWindows, public testing::WithParamInterface<Row> {};

// Under a loop that takes each key, and under one that peeks at each key before it takes it.
TEST_P(EscapeOnRealWindows, WindowSeesWhatTheSettingsSay) {
  const Row& row = GetParam();
  ModuleSettings = row.Settings;
  ProbeWindow window(row.Class);
  for (const probe::Loop loop : {probe::Loop::Take, probe::Loop::PeekThenTake}) {
    SCOPED_TRACE(loop == probe::Loop::Take ? "taking" : "peeking, then taking");
    ASSERT_TRUE(window.BringToFront());

    const EscapeOutcome outcome = probe::SendEscape(window, loop);
    ASSERT_TRUE(outcome.Completed) << "the thread did not retrieve both events in time";
    EXPECT_EQ(outcome.Peeks > 0, loop == probe::Loop::PeekThenTake);
    EXPECT_EQ(outcome.PressDelivered, row.Delivered);
    EXPECT_EQ(outcome.ReleaseDelivered, row.Delivered);
    EXPECT_FALSE(outcome.MinimizedByPress) << "a press never minimizes";
    EXPECT_EQ(outcome.MinimizedByRelease, row.MinimizedOnRelease);
    EXPECT_EQ(window.Log().Count("minimize"), row.MinimizedOnRelease ? 1 : 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, EscapeOnRealWindows, testing::ValuesIn(kRows),
                         [](const testing::TestParamInfo<Row>& row) { return row.param.Name; });

// A loop that peeks at each message without removing it before it takes it: the hook is called
// for a key at the peek and again when the key is taken, unless it swallowed the key at the peek.
// Minimizing the active window activates another one on Windows; here each window activates the
// other when it is minimized. One Escape release minimizes one window, once: the main window,
// which gets the key and whose minimize brings the conversation window to the foreground before
// the key is taken; or the conversation window, which never gets the key.
TEST_F(HookOnRealWindows, PeekingLoop_EachReleaseMinimizesOnlyItsWindowOnce) {
  ModuleSettings = {1, MinimizeIMWindow, 1};
  const struct {
    const char* Front;
    const char* Other;
    bool Delivered;
  } rows[] = {
      {kMainWindowClass, kConversationWindowClass, true},
      {kConversationWindowClass, kMainWindowClass, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Front);
    ProbeWindow other(row.Other);
    ProbeWindow front(row.Front);
    front.ActivateWhenMinimized(other.Handle());
    other.ActivateWhenMinimized(front.Handle());
    ASSERT_TRUE(front.BringToFront());
    other.Log().Events.clear();

    const EscapeOutcome outcome = probe::SendEscape(front, probe::Loop::PeekThenTake);
    ASSERT_TRUE(outcome.Completed) << "the thread did not retrieve both events in time";
    EXPECT_GE(outcome.Peeks, 2) << "the press and the release were each peeked at";
    EXPECT_EQ(outcome.PressDelivered, row.Delivered);
    EXPECT_EQ(outcome.ReleaseDelivered, row.Delivered);
    EXPECT_EQ(front.Log().Count("minimize"), 1) << "one minimize for the release";
    EXPECT_TRUE(front.Minimized());
    EXPECT_EQ(GetForegroundWindow(), other.Handle()) << "the minimize activated the other window";
    EXPECT_EQ(other.Log().Count("minimize"), 0) << "no other window is minimized";
    EXPECT_FALSE(other.Minimized());
    EXPECT_FALSE(other.Log().Saw("down 27")) << "the key goes to no other window";
    EXPECT_FALSE(other.Log().Saw("up 27")) << "the key goes to no other window";
  }
}

TEST_F(HookOnRealWindows, OtherKeysReachAConversationWindow) {
  ModuleSettings = {1, MinimizeIMWindow, 1};
  ProbeWindow window(kConversationWindowClass);
  ASSERT_TRUE(window.BringToFront());
  ASSERT_TRUE(probe::SendKey('A', probe::KeyStroke::Press));
  ASSERT_TRUE(probe::SendKey('A', probe::KeyStroke::Release));
  EXPECT_TRUE(window.Log().Saw("down 65"));
  EXPECT_TRUE(window.Log().Saw("up 65"));
  EXPECT_FALSE(window.Minimized());
}

// Escape held down: the system repeats the press with bit 30 set (the key was down already). A
// press repeated while the thread was busy comes as one event with a repeat count above 1; the
// system makes those only from a real keyboard, so they are handed to the hook procedure
// directly, on the real windows. Each is a press: only the release minimizes.
TEST_F(HookOnRealWindows, AutoRepeatedPressesAreSwallowedAndNeverMinimize) {
  ModuleSettings = {1, MinimizeIMWindow, 0};
  ProbeWindow window(kConversationWindowClass);
  ASSERT_TRUE(window.BringToFront());

  ASSERT_TRUE(probe::SendKey(VK_ESCAPE, probe::KeyStroke::Press));
  ASSERT_TRUE(probe::SendKey(VK_ESCAPE, probe::KeyStroke::Press)) << "repeated by the system";
  ASSERT_TRUE(probe::SendKey(VK_ESCAPE, probe::KeyStroke::Press)) << "repeated by the system";
  const auto scan = static_cast<LPARAM>(MapVirtualKeyA(VK_ESCAPE, 0)) << 16;
  for (LPARAM repeats : {2, 3, 40}) {
    EXPECT_EQ(KeyboardHookProc(HC_ACTION, VK_ESCAPE, 0x40000000 | scan | repeats), kSwallowResult);
  }
  EXPECT_FALSE(window.Minimized()) << "a repeated press counted as a release";
  EXPECT_FALSE(window.Log().Saw("down 27")) << "every press is swallowed";
  ASSERT_TRUE(probe::SendKey(VK_ESCAPE, probe::KeyStroke::Release));
  EXPECT_TRUE(window.Minimized()) << "the release minimizes";
}

TEST_F(HookOnRealWindows, RecordIsANamedMappingHoldingTheHookHandle) {
  const MappingName name = HookRecMappingName();
  EXPECT_EQ(name.View(), "Tovrel_HookRecMemBlock_" + std::to_string(GetCurrentProcessId()));

  HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, name.Text);
  ASSERT_NE(mapping, nullptr) << "the record exists while hooked";
  const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
  ASSERT_NE(view, nullptr);
  std::uint32_t stored;
  std::memcpy(&stored, view, sizeof stored);
  EXPECT_EQ(stored, HookRecView->HookHandle);
  UnmapViewOfFile(view);
  CloseHandle(mapping);
}

// The plug-in as the host loads it, through its exports, for one user's stored settings.
class EscapeThroughExports : public testing::Test {
 protected:
  void SetUp() override {
    RegDeleteTreeA(HKEY_CURRENT_USER, host::kHostRoot);
    ASSERT_TRUE(plugin_.Load()) << "tovrel.dll or one of its exports is missing";
  }
  void TearDown() override {
    plugin_.Uninitialize();
    plugin_.Unload();
    RegDeleteTreeA(HKEY_CURRENT_USER, host::kHostRoot);
  }
  void Start(const PluginSettings& s) {
    ASSERT_TRUE(host::WriteSettings("escape", s.EnablePlugin, s.ESCAction, s.MinimizeMsgrMainWin));
    ASSERT_EQ(plugin_.Initialize(0, "escape", 0), 1u);
  }
  host::PluginApi plugin_;
};

// A visible top-level window of `thread`, of that class and caption (null for any), or null.
HWND ShownOnThread(DWORD thread, const char* className, const char* caption) {
  for (HWND w = nullptr; (w = FindWindowExA(nullptr, w, className, caption)) != nullptr;) {
    if (GetWindowThreadProcessId(w, nullptr) == thread && IsWindowVisible(w)) return w;
  }
  return nullptr;
}

// Where the Escape press lands before its release reaches the window under test: the window
// itself (the control; or with a user switch, Uninitialize and Initialize, before the release),
// another conversation window, the window with the release and a later press going to another
// program's window, or a modal loop the press ends: a message box the window owns, the plug-in's
// own dialog, a popup menu on the window, a keyboard move of the window.
enum class PressIn {
  SameWindow,
  UserSwitch,
  OtherConversation,
  AnotherThread,
  MessageBox,
  Configure,
  PopupMenu,
  MoveLoop
};

struct PairingRow {
  const char* Name;
  const char* Class;
  PluginSettings Settings;
  PressIn Press;
  bool Minimized;
  bool ReleaseDelivered;
};

constexpr const char* kConv = kConversationWindowClass;
constexpr PluginSettings kMinimize{1, MinimizeIMWindow, 0};
constexpr PluginSettings kBoth{1, MinimizeIMWindow, 1};
constexpr PairingRow kPairingRows[] = {
    {"Conversation_Control", kConv, kMinimize, PressIn::SameWindow, true, false},
    {"Conversation_MessageBoxClosed", kConv, kMinimize, PressIn::MessageBox, false, false},
    {"Conversation_ConfigureCancelled", kConv, kMinimize, PressIn::Configure, false, false},
    {"Main_Control", kMainWindowClass, kBoth, PressIn::SameWindow, true, true},
    {"Main_ConfigureCancelled", kMainWindowClass, kBoth, PressIn::Configure, false, true},
    {"Conversation_PressedInAnother", kConv, kMinimize, PressIn::OtherConversation, false, false},
    {"Conversation_PopupMenuClosed", kConv, kBoth, PressIn::PopupMenu, false, false},
    {"Conversation_PopupMenuClosed_Disabled", kConv, {0, 1, 1}, PressIn::PopupMenu, false, true},
    {"Conversation_PressBeforeUserSwitch", kConv, kMinimize, PressIn::UserSwitch, false, false},
    {"Conversation_ReleasedAndPressedElsewhere", kConv, kBoth, PressIn::AnotherThread, false,
     false},
    {"Conversation_MoveCancelled", kConv, kBoth, PressIn::MoveLoop, false, false},
    {"Conversation_MoveCancelled_Disabled", kConv, {0, 1, 1}, PressIn::MoveLoop, false, true},
};

class EscapePairsOnRealWindows : public EscapeThroughExports,
                                 public testing::WithParamInterface<PairingRow> {};

// A release minimizes a window only when this hook saw its press with that same window in front.
// A modal loop's window must be up (a popup menu: the thread in menu mode, which GetGUIThreadInfo
// reports on both Windows and Wine) before the press, and gone after it: a popup menu within a
// second; the release comes once the window under test is in front again.
TEST_P(EscapePairsOnRealWindows, ReleaseMinimizesOnlyAfterItsPressInTheSameWindow) {
  const PairingRow& row = GetParam();
  Start(row.Settings);
  ProbeWindow window(row.Class);
  ASSERT_TRUE(window.BringToFront());
  if (row.Press <= PressIn::AnotherThread) {
    ProbeWindow other(kConv);
    std::optional<probe::OtherThreadWindow> program;
    if (row.Press == PressIn::AnotherThread) program.emplace();
    ASSERT_TRUE((row.Press == PressIn::OtherConversation ? other : window).BringToFront());
    ASSERT_TRUE(probe::SendKey(VK_ESCAPE, probe::KeyStroke::Press));
    if (row.Press == PressIn::UserSwitch) {
      ASSERT_EQ(plugin_.Uninitialize(), 1u);
      ASSERT_EQ(plugin_.Initialize(0, "escape", 0), 1u);
    }
    if (program) {
      ASSERT_TRUE(program->BringToFront());
      ASSERT_TRUE(program->SendEscape(probe::KeyStroke::Release)) << "the release went there";
      ASSERT_TRUE(program->SendEscape(probe::KeyStroke::Press)) << "a later press there";
    }
    ASSERT_TRUE(window.BringToFront());
    window.Log().Events.clear();
    ASSERT_TRUE(probe::SendKey(VK_ESCAPE, probe::KeyStroke::Release));
    EXPECT_FALSE(other.Minimized()) << "the window of the press";
    EXPECT_EQ(window.Minimized(), row.Minimized);
    EXPECT_EQ(window.Log().Saw("up 27"), row.ReleaseDelivered);
    return;
  }
  const bool menu = row.Press == PressIn::PopupMenu;
  const bool move = row.Press == PressIn::MoveLoop;
  const char* caption = row.Press == PressIn::MessageBox ? "Escape closes me"
                        : menu                           ? nullptr
                                                         : "Tovrel plugin configuration";
  const DWORD thread = GetCurrentThreadId();
  const auto modal = [&] { return ShownOnThread(thread, menu ? "#32768" : nullptr, caption); };
  const auto inMode = [thread](DWORD modes) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    return GetGUIThreadInfo(thread, &info) && (info.flags & modes) != 0;
  };
  const auto inMenuMode = [&] {
    return inMode(GUI_INMENUMODE | GUI_POPUPMENUMODE | GUI_SYSTEMMENUMODE);
  };
  // A keyboard move: its loop takes an arrow key that moves the window, then Escape, which puts
  // the window back; Enter would keep it moved.
  RECT placed{};
  GetWindowRect(window.Handle(), &placed);
  HMENU popup = CreatePopupMenu();
  AppendMenuA(popup, MF_STRING, 1, "First");
  const probe::ModalEscape outcome = probe::EscapeEndingModal(
      window,
      [&] {
        if (row.Press == PressIn::Configure) plugin_.Configure();
        if (row.Press == PressIn::MessageBox) MessageBoxA(window.Handle(), "", caption, MB_OK);
        if (menu) TrackPopupMenu(popup, TPM_RETURNCMD, 60, 60, 0, window.Handle(), nullptr);
        if (move) {
          probe::Input(VK_RIGHT, probe::KeyStroke::Press);
          probe::Input(VK_RIGHT, probe::KeyStroke::Release);
          SendMessageA(window.Handle(), WM_SYSCOMMAND, SC_MOVE, 0);
        }
      },
      [&] {
        if (move) return inMode(GUI_INMOVESIZE);
        const HWND up = modal();
        return up != nullptr && (menu ? inMenuMode() : GetForegroundWindow() == up);
      },
      [&] { return move ? !inMode(GUI_INMOVESIZE) : modal() == nullptr; },
      menu || move ? 1000 : 10000,
      [&] {
        if (!move) {
          PostMessageA(menu ? window.Handle() : modal(), menu ? WM_CANCELMODE : WM_CLOSE, 0, 0);
          return;
        }
        probe::Input(VK_RETURN, probe::KeyStroke::Press);
        probe::Input(VK_RETURN, probe::KeyStroke::Release);
      });
  DestroyMenu(popup);
  ASSERT_TRUE(outcome.Shown) << "the modal window never came up";
  EXPECT_TRUE(outcome.Closed) << "the press did not close it in time";
  EXPECT_FALSE(inMenuMode()) << "the menu loop has ended";
  RECT now{};
  GetWindowRect(window.Handle(), &now);
  EXPECT_TRUE(EqualRect(&now, &placed)) << "the window is back where it was";
  ASSERT_TRUE(outcome.BackInFront) << "the activation did not return to the window";
  ASSERT_TRUE(outcome.ReleaseSeen);
  EXPECT_EQ(outcome.Minimized, row.Minimized);
  EXPECT_EQ(outcome.ReleaseDelivered, row.ReleaseDelivered);
}

INSTANTIATE_TEST_SUITE_P(Rows, EscapePairsOnRealWindows, testing::ValuesIn(kPairingRows),
                         [](const testing::TestParamInfo<PairingRow>& row) {
                           return row.param.Name;
                         });

// An IME composition in the focused edit box of a conversation window: Escape is the IME's, to
// cancel it, so both events are passed on and nothing is minimized. imm32 is used as the plug-in
// uses it: only where the process has loaded it already.
TEST_F(EscapeThroughExports, CompositionInTheFocusedEditBoxGetsEscape_OnRealWindows) {
  Start(kBoth);
  ProbeWindow window(kConv);
  HWND edit = CreateWindowExA(0, "EDIT", "", WS_CHILD | WS_VISIBLE, 10, 10, 200, 24,
                              window.Handle(), nullptr, GetModuleHandleA(nullptr), nullptr);
  ASSERT_TRUE(window.BringToFront());
  ASSERT_EQ(SetFocus(edit), window.Handle());
  const HMODULE imm = GetModuleHandleA("imm32.dll");
  if (imm == nullptr) GTEST_SKIP() << "imm32.dll is not loaded in this process: it has no IME";
  const auto find = [imm](auto function, const char* name) {
    return reinterpret_cast<decltype(function)>(
        reinterpret_cast<void (*)()>(GetProcAddress(imm, name)));
  };
  const auto getContext = find(&ImmGetContext, "ImmGetContext");
  const auto setString = find(&ImmSetCompositionStringW, "ImmSetCompositionStringW");
  const auto getString = find(&ImmGetCompositionStringW, "ImmGetCompositionStringW");
  const auto notify = find(&ImmNotifyIME, "ImmNotifyIME");
  const auto releaseContext = find(&ImmReleaseContext, "ImmReleaseContext");
  const HIMC context = getContext(edit);
  if (context == nullptr) GTEST_SKIP() << "the edit box has no input context";
  // The context is the thread's, shared by its windows: no composition outlives the test.
  const auto done = [&](void*) {
    notify(context, NI_COMPOSITIONSTR, CPS_CANCEL, 0);
    releaseContext(edit, context);
  };
  const std::unique_ptr<void, decltype(done)> cleanup(edit, done);
  wchar_t text[] = L"\x304B\x306A";
  setString(context, SCS_SETSTR, text, sizeof text - sizeof text[0], nullptr, 0);
  if (getString(context, GCS_COMPSTR, nullptr, 0) <= 0) {
    GTEST_SKIP() << "the IME reports no composition after ImmSetCompositionStringW";
  }
  bool swallowed[2] = {true, true};
  ASSERT_TRUE(probe::SendKey(VK_ESCAPE, probe::KeyStroke::Press, 10000, probe::Loop::Take, nullptr,
                             &swallowed[0]));
  const LONG left = getString(context, GCS_COMPSTR, nullptr, 0);
  ASSERT_TRUE(probe::SendKey(VK_ESCAPE, probe::KeyStroke::Release, 10000, probe::Loop::Take,
                             nullptr, &swallowed[1]));
  EXPECT_FALSE(swallowed[0] || swallowed[1]) << "press or release kept from the IME";
  EXPECT_FALSE(window.Minimized());
  // Wine hands a key the hooks let through to ImmProcessKey, as Windows does, but its IME takes
  // no key that way: it cannot show the composition cancelled.
  if (left > 0) GTEST_SKIP() << "the IME kept its composition on Escape (" << left << " bytes)";
}

TEST(HookRemovedOnRealWindows, EscapeReachesEveryWindowAgainAndTheRecordIsGone) {
  ModuleInstance =
      static_cast<platform::Instance>(reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr)));
  ModuleSettings = {1, MinimizeIMWindow, 1};
  ASSERT_TRUE(InstallHook());
  ASSERT_TRUE(RemoveHook());

  for (const char* cls : {kConversationWindowClass, kMainWindowClass}) {
    SCOPED_TRACE(cls);
    ProbeWindow window(cls);
    ASSERT_TRUE(window.BringToFront());
    const EscapeOutcome outcome = probe::SendEscape(window);
    ASSERT_TRUE(outcome.Completed);
    EXPECT_TRUE(outcome.PressDelivered);
    EXPECT_TRUE(outcome.ReleaseDelivered);
    EXPECT_FALSE(outcome.MinimizedByRelease);
  }
  HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, HookRecMappingName().Text);
  EXPECT_EQ(mapping, nullptr) << "no record remains once this load released it";
  if (mapping != nullptr) CloseHandle(mapping);
}

}  // namespace
}  // namespace tovrel
