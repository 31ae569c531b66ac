// The keyboard hook on the real platform: real windows of the messenger's classes in the
// foreground, real Escape presses and releases sent with SendInput, and what the window
// procedures saw.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "KeyProbe.hpp"
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
