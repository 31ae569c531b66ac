// The keyboard hook on the real platform: real windows of the messenger's classes in the
// foreground, real Escape presses and releases sent with SendInput, and what the window
// procedures saw.
#include <windows.h>

#include <imm.h>

#include <gtest/gtest.h>

#include <cstring>
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

struct WindowSearch {
  const char* Class;
  HWND Found;
};

BOOL CALLBACK FindShownWindow(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<WindowSearch*>(data);
  char name[64] = {};
  GetClassNameA(window, name, sizeof name);
  if (std::strcmp(name, search->Class) != 0 || !IsWindowVisible(window)) return TRUE;
  search->Found = window;
  return FALSE;
}

// A visible window of `className` that belongs to `thread`, or null.
HWND ShownWindowOf(DWORD thread, const char* className) {
  WindowSearch search{className, nullptr};
  EnumThreadWindows(thread, &FindShownWindow, reinterpret_cast<LPARAM>(&search));
  return search.Found;
}

// Where the Escape press lands before its release reaches the window under test.
enum class PressIn {
  SameWindow,         // the window itself: the control
  MessageBox,         // a message box the window owns, which the press closes
  Configure,          // the plug-in's own dialog, which the press cancels
  OtherConversation,  // another conversation window, in front at the press
};

struct PairingRow {
  const char* Name;
  const char* Class;
  PluginSettings Settings;
  PressIn Press;
  bool Minimized;
  bool ReleaseDelivered;
};

constexpr PairingRow kPairingRows[] = {
    {"Conversation_Control",
     kConversationWindowClass,
     {1, MinimizeIMWindow, 0},
     PressIn::SameWindow,
     true,
     false},
    {"Conversation_MessageBoxClosed",
     kConversationWindowClass,
     {1, MinimizeIMWindow, 0},
     PressIn::MessageBox,
     false,
     false},
    {"Conversation_ConfigureCancelled",
     kConversationWindowClass,
     {1, MinimizeIMWindow, 0},
     PressIn::Configure,
     false,
     false},
    {"Main_Control", kMainWindowClass, {1, MinimizeIMWindow, 1}, PressIn::SameWindow, true, true},
    {"Main_ConfigureCancelled",
     kMainWindowClass,
     {1, MinimizeIMWindow, 1},
     PressIn::Configure,
     false,
     true},
    {"Conversation_PressedInAnother",
     kConversationWindowClass,
     {1, MinimizeIMWindow, 0},
     PressIn::OtherConversation,
     false,
     false},
};

class EscapePairsOnRealWindows : public EscapeThroughExports,
                                 public testing::WithParamInterface<PairingRow> {};

// A release minimizes a window only when this hook saw its press with that same window in front.
TEST_P(EscapePairsOnRealWindows, ReleaseMinimizesOnlyAfterItsPressInTheSameWindow) {
  const PairingRow& row = GetParam();
  Start(row.Settings);
  ProbeWindow window(row.Class);
  ASSERT_TRUE(window.BringToFront());
  const DWORD thread = GetCurrentThreadId();
  bool minimized = false;
  bool releaseDelivered = false;
  if (row.Press == PressIn::SameWindow || row.Press == PressIn::OtherConversation) {
    ProbeWindow other(kConversationWindowClass);
    ProbeWindow& pressedIn = row.Press == PressIn::SameWindow ? window : other;
    ASSERT_TRUE(pressedIn.BringToFront());
    ASSERT_TRUE(probe::SendKey(VK_ESCAPE, probe::KeyStroke::Press));
    ASSERT_TRUE(window.BringToFront());
    window.Log().Events.clear();
    ASSERT_TRUE(probe::SendKey(VK_ESCAPE, probe::KeyStroke::Release));
    EXPECT_FALSE(other.Minimized()) << "the window of the press";
    minimized = window.Minimized();
    releaseDelivered = window.Log().Saw("up 27");
  } else {
    const char* caption =
        row.Press == PressIn::MessageBox ? "Escape closes me" : "Tovrel plugin configuration";
    const auto modal = [caption, thread] {
      HWND found = FindWindowA(nullptr, caption);
      return found != nullptr && GetWindowThreadProcessId(found, nullptr) == thread ? found
                                                                                    : nullptr;
    };
    const probe::ModalEscape outcome = probe::EscapeEndingModal(
        window,
        [&] {
          if (row.Press == PressIn::MessageBox) {
            MessageBoxA(window.Handle(), "A message", caption, MB_OKCANCEL);
          } else {
            plugin_.Configure();
          }
        },
        [&] { return modal() != nullptr && GetForegroundWindow() == modal(); },
        [&] { return modal() == nullptr || !IsWindowVisible(modal()); }, 10000,
        [&] { PostMessageA(modal(), WM_CLOSE, 0, 0); });
    ASSERT_TRUE(outcome.Shown);
    EXPECT_TRUE(outcome.Closed) << "the press closed it";
    ASSERT_TRUE(outcome.BackInFront) << "the activation returned to the window";
    ASSERT_TRUE(outcome.ReleaseSeen);
    minimized = outcome.Minimized;
    releaseDelivered = outcome.ReleaseDelivered;
  }
  EXPECT_EQ(minimized, row.Minimized);
  EXPECT_EQ(releaseDelivered, row.ReleaseDelivered);
}

INSTANTIATE_TEST_SUITE_P(Rows, EscapePairsOnRealWindows, testing::ValuesIn(kPairingRows),
                         [](const testing::TestParamInfo<PairingRow>& row) {
                           return row.param.Name;
                         });

// A popup menu opened on a conversation window is the menu loop's: Escape closes it within a
// second, and neither the press nor the release that follows minimizes the window; the control
// has the plug-in disabled. The menu is seen as the system shows it, a visible window of class
// "#32768" of this thread; while it is up, the thread is in menu mode by GetGUIThreadInfo, which
// Wine reports as GUI_INMENUMODE alone and Windows with GUI_POPUPMENUMODE.
TEST_F(EscapeThroughExports, PopupMenuOnAConversationWindowClosesOnEscape_OnRealWindows) {
  for (const PluginSettings settings :
       {PluginSettings{1, MinimizeIMWindow, 1}, PluginSettings{0, MinimizeIMWindow, 1}}) {
    SCOPED_TRACE(settings.EnablePlugin != 0 ? "enabled" : "disabled");
    plugin_.Uninitialize();
    Start(settings);
    ProbeWindow window(kConversationWindowClass);
    ASSERT_TRUE(window.BringToFront());
    HMENU menu = CreatePopupMenu();
    AppendMenuA(menu, MF_STRING, 1, "First");
    AppendMenuA(menu, MF_STRING, 2, "Second");
    const DWORD thread = GetCurrentThreadId();
    constexpr DWORD kMenuModes = GUI_INMENUMODE | GUI_POPUPMENUMODE | GUI_SYSTEMMENUMODE;
    const auto menuMode = [thread] {
      GUITHREADINFO info{};
      info.cbSize = sizeof info;
      return GetGUIThreadInfo(thread, &info) ? info.flags & kMenuModes : 0;
    };
    const probe::ModalEscape outcome = probe::EscapeEndingModal(
        window, [&] { TrackPopupMenu(menu, TPM_RETURNCMD, 60, 60, 0, window.Handle(), nullptr); },
        [&] { return ShownWindowOf(thread, "#32768") != nullptr && menuMode() != 0; },
        [&] { return ShownWindowOf(thread, "#32768") == nullptr; }, 1000,
        [&] { PostMessageA(window.Handle(), WM_CANCELMODE, 0, 0); });
    DestroyMenu(menu);
    ASSERT_TRUE(outcome.Shown) << "the menu did not open, or the thread never was in menu mode";
    EXPECT_TRUE(outcome.Closed) << "Escape did not close the menu within a second";
    EXPECT_EQ(menuMode(), 0u) << "the menu loop has ended";
    ASSERT_TRUE(outcome.ReleaseSeen);
    EXPECT_FALSE(outcome.Minimized);
    EXPECT_EQ(outcome.ReleaseDelivered, settings.EnablePlugin == 0)
        << "a release whose press the menu took is swallowed in a conversation window";
  }
}

// imm32's functions, looked up as the plug-in looks them up: only where the process has loaded
// imm32.dll already.
template <typename Function>
Function ImmFunction(const char* name) {
  const HMODULE imm = GetModuleHandleA("imm32.dll");
  return imm == nullptr
             ? nullptr
             : reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(imm, name)));
}

// An IME composition in the focused edit box of a conversation window: Escape is the IME's, to
// cancel it, so the hook passes the press and the release on and minimizes nothing.
TEST_F(EscapeThroughExports, CompositionInTheFocusedEditBoxGetsEscape_OnRealWindows) {
  Start({1, MinimizeIMWindow, 1});
  ProbeWindow window(kConversationWindowClass);
  HWND edit = CreateWindowExA(0, "EDIT", "", WS_CHILD | WS_VISIBLE, 10, 10, 200, 24,
                              window.Handle(), nullptr, GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(edit, nullptr);
  ASSERT_TRUE(window.BringToFront());
  SetFocus(edit);
  ASSERT_EQ(GetFocus(), edit);
  const auto getContext = ImmFunction<decltype(&ImmGetContext)>("ImmGetContext");
  const auto setString =
      ImmFunction<decltype(&ImmSetCompositionStringW)>("ImmSetCompositionStringW");
  const auto getString =
      ImmFunction<decltype(&ImmGetCompositionStringW)>("ImmGetCompositionStringW");
  const auto notify = ImmFunction<decltype(&ImmNotifyIME)>("ImmNotifyIME");
  const auto releaseContext = ImmFunction<decltype(&ImmReleaseContext)>("ImmReleaseContext");
  if (!getContext || !setString || !getString || !notify || !releaseContext) {
    GTEST_SKIP() << "imm32.dll is not loaded in this process: it has no IME";
  }
  const HIMC context = getContext(edit);
  if (context == nullptr) GTEST_SKIP() << "the edit box has no input context";
  // The context is the thread's own, shared by its windows: no composition outlives the test.
  struct Composition {
    decltype(notify) Notify;
    decltype(releaseContext) Release;
    HWND Window;
    HIMC Context;
    ~Composition() {
      Notify(Context, NI_COMPOSITIONSTR, CPS_CANCEL, 0);
      Release(Window, Context);
    }
  } const composition{notify, releaseContext, edit, context};
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
  EXPECT_FALSE(swallowed[0]) << "the press is passed on, to the IME";
  EXPECT_FALSE(swallowed[1]) << "the release is passed on, to the IME";
  EXPECT_FALSE(window.Minimized());
  // Wine passes a key the hooks let through to ImmProcessKey, as Windows does, but its IME takes
  // no keys that way: it cannot show the composition cancelled.
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
