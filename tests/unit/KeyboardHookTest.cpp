#include "plugin/KeyboardHook.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "AllocationControl.hpp"

#include "PluginFixture.hpp"
#include "uConstants.hpp"

namespace tovrel {
namespace {

constexpr platform::LParam kPress = 0x00010001;
const platform::LParam kRelease =
    static_cast<platform::LParam>(static_cast<std::int32_t>(0xC0010001u));

class KeyboardHookProcTest : public PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    ASSERT_TRUE(InstallHook());
    hook_ = system_.MappingWord(HookRecMappingName().Text);
    ASSERT_NE(hook_, 0u);
    conversation_ = system_.AddWindow(kConversationWindowClass);
    main_ = system_.AddWindow(kMainWindowClass);
    other_ = system_.AddWindow("Shell_TrayWnd");
    system_.NextHookResult = 0x5A5A;
  }
  void TearDown() override {
    RemoveHook();
    PluginTest::TearDown();
  }
  platform::LResult Deliver(platform::WParam key, platform::LParam flags, int code = 0) {
    return system_.DeliverKey(code, key, flags);
  }

  platform::HookHandle hook_ = 0;
  platform::Window conversation_{}, main_{}, other_{};
};

TEST_F(KeyboardHookProcTest, MinimizesTheSameConversationWindowWhoseClassWasTested) {
  ModuleSettings = {1, MinimizeIMWindow, 0};
  system_.SetForeground(conversation_);

  EXPECT_EQ(Deliver(kVkEscape, kPress), kSwallowResult);
  EXPECT_TRUE(system_.Messages.empty());
  EXPECT_EQ(Deliver(kVkEscape, kRelease), kSwallowResult);

  ASSERT_EQ(system_.Messages.size(), 1u);
  EXPECT_EQ(system_.Messages[0].Target, conversation_);
  EXPECT_EQ(system_.Messages[0].Message, kWmSysCommand);
  EXPECT_EQ(system_.Messages[0].WParamValue, kScMinimize);
  EXPECT_EQ(system_.Messages[0].LParamValue, 0);
  EXPECT_TRUE(system_.NextHookCalls.empty()) << "a swallowed event goes no further";
}

// Another thread may activate a window between two queries of the foreground window: the window
// minimized is the one whose class was tested, whichever is in front by then.
TEST_F(KeyboardHookProcTest, MinimizesTheTestedWindowThoughTheForegroundChangesMeanwhile) {
  const struct {
    PluginSettings Settings;
    platform::Window Tested;
    platform::Window ActivatedMeanwhile;
  } rows[] = {
      {{1, MinimizeIMWindow, 0}, conversation_, other_},
      {{1, MinimizeIMWindow, 0}, conversation_, main_},
      {{1, MinimizeIMWindow, 1}, main_, conversation_},
  };
  for (const auto& row : rows) {
    ModuleSettings = row.Settings;
    system_.SetForeground(row.Tested);
    system_.Messages.clear();
    Deliver(kVkEscape, kPress);
    system_.ActivateAfterNextQuery(row.ActivatedMeanwhile);
    Deliver(kVkEscape, kRelease);
    ASSERT_EQ(system_.Messages.size(), 1u);
    EXPECT_EQ(system_.Messages[0].Target, row.Tested);
  }
}

// An auto-repeated press carries the previous key state (bit 30) and a repeat count: it is a
// press all the same, and only bit 31 makes a release.
TEST_F(KeyboardHookProcTest, AutoRepeatedPressesAreNoRelease) {
  const platform::LParam repeats[] = {
      0x40010001,  // repeated once, the key was down
      0x40010005,  // a repeat count of 5
      0x4001FFFF,  // the largest repeat count
      0x41010003,  // an extended key's flag too
  };
  ModuleSettings = {1, MinimizeIMWindow, 1};
  for (platform::Window window : {conversation_, main_}) {
    system_.SetForeground(window);
    system_.Messages.clear();
    EXPECT_EQ(Deliver(kVkEscape, kPress), window == conversation_ ? kSwallowResult : 0x5A5A);
    for (platform::LParam flags : repeats) {
      EXPECT_EQ(Deliver(kVkEscape, flags), window == conversation_ ? kSwallowResult : 0x5A5A);
    }
    EXPECT_TRUE(system_.Messages.empty()) << "no press minimizes";
    Deliver(kVkEscape, kRelease);
    EXPECT_EQ(system_.Messages.size(), 1u) << "the release does";
  }
  // Held down while a dialog closed on the press: the repeats that reach the conversation window
  // keep the pairing with the dialog's press, so the release minimizes nothing.
  system_.Messages.clear();
  system_.SetForeground(other_);
  Deliver(kVkEscape, kPress);
  system_.SetForeground(conversation_);
  EXPECT_EQ(Deliver(kVkEscape, repeats[0]), kSwallowResult);
  EXPECT_EQ(Deliver(kVkEscape, kRelease), kSwallowResult);
  EXPECT_TRUE(system_.Messages.empty());
}

// One Escape, its press and its release each with a window in front and the thread's menu loop
// and IME as they were at that moment: a release minimizes only the window its press was seen in
// here, and nothing while a menu loop or a composition has the key. `other_` stands for a dialog
// or a message box, which the press closed.
TEST_F(KeyboardHookProcTest, ReleaseMinimizesOnlyAfterItsPressInTheSameWindow_NeverInAMenuOrIme) {
  constexpr platform::LResult kPass = 0x5A5A;
  // Who has the key besides the window: a menu loop, an IME's composition or its candidate list,
  // a move or size loop; kOther: the key went up and down for another thread's window before.
  enum Taker { kFree, kMenu, kIme, kCandidates, kMove, kOther };
  struct Stroke {
    platform::Window Front;
    Taker TakenBy;
    platform::LResult Result;
  };
  const platform::Window c = conversation_, c2 = system_.AddWindow(kConversationWindowClass);
  const platform::Window m = main_, d = other_;
  const PluginSettings kMin{1, 1, 0}, kBoth{1, 1, 1};
  const struct {
    const char* Name;
    PluginSettings Settings;
    Stroke Press, Release;
    bool Minimized;
  } rows[] = {
      {"conversation", kMin, {c, kFree, 1}, {c, kFree, 1}, true},
      {"main", kBoth, {m, kFree, kPass}, {m, kFree, kPass}, true},
      {"dialog closed over a conversation", kMin, {d, kFree, kPass}, {c, kFree, 1}, false},
      {"dialog closed over the main window", kBoth, {d, kFree, kPass}, {m, kFree, kPass}, false},
      {"pressed in another conversation", kMin, {c2, kFree, 1}, {c, kFree, 1}, false},
      {"main, its minimize off at the press", kMin, {m, kFree, kPass}, {m, kFree, kPass}, false},
      {"menu over a conversation", kMin, {c, kMenu, kPass}, {c, kMenu, kPass}, false},
      {"menu closed by the press", kMin, {c, kMenu, kPass}, {c, kFree, 1}, false},
      {"menu over the main window", kBoth, {m, kMenu, kPass}, {m, kFree, kPass}, false},
      {"composition", kMin, {c, kIme, kPass}, {c, kIme, kPass}, false},
      {"composition ended by the press", kMin, {c, kIme, kPass}, {c, kFree, 1}, false},
      {"composition in the main window", kBoth, {m, kIme, kPass}, {m, kIme, kPass}, false},
      {"candidate list", kMin, {c, kCandidates, kPass}, {c, kCandidates, kPass}, false},
      {"move loop ended by the press", kBoth, {c, kMove, kPass}, {c, kFree, 1}, false},
      {"released in a move loop", kMin, {c, kFree, 1}, {c, kMove, 1}, false},
      {"released after another thread's press", kMin, {c, kFree, 1}, {c, kOther, 1}, false},
      {"main, after another thread's press", kBoth, {m, kFree, kPass}, {m, kOther, kPass}, false},
  };
  const auto deliver = [this](const Stroke& stroke, platform::LParam flags) {
    system_.SetForeground(stroke.Front);
    system_.InMenuLoop = stroke.TakenBy == kMenu;
    system_.InMoveSizeLoop = stroke.TakenBy == kMove;
    system_.Focus = stroke.Front;
    system_.Compositions.clear();
    system_.CandidateLists.clear();
    if (stroke.TakenBy == kIme) system_.Compositions[stroke.Front] = 6;
    if (stroke.TakenBy == kCandidates) system_.CandidateLists[stroke.Front] = 1;
    if (stroke.TakenBy == kOther) system_.PressElsewhere(kVkEscape);
    EXPECT_EQ(Deliver(kVkEscape, flags), stroke.Result);
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Name);
    ModuleSettings = row.Settings;
    system_.Messages.clear();
    deliver(row.Press, kPress);
    deliver(row.Release, kRelease);
    ASSERT_EQ(system_.Messages.size(), row.Minimized ? 1u : 0u);
    if (row.Minimized) {
      EXPECT_EQ(system_.Messages[0].Target, row.Release.Front);
    }
    deliver(row.Release, kRelease);
    EXPECT_EQ(system_.Messages.size(), row.Minimized ? 1u : 0u) << "a second release, no press";
  }
  // A process without imm32 loaded has no IME: its focus window composes nothing.
  ModuleSettings = {1, MinimizeIMWindow, 0};
  system_.ImeLoaded = false;
  system_.Messages.clear();
  deliver({conversation_, kIme, 1}, kPress);
  deliver({conversation_, kIme, 1}, kRelease);
  EXPECT_EQ(system_.Messages.size(), 1u);
}

TEST_F(KeyboardHookProcTest, MainWindowIsMinimizedOnReleaseAndStillGetsTheKey) {
  ModuleSettings = {1, MinimizeIMWindow, 1};
  system_.SetForeground(main_);

  EXPECT_EQ(Deliver(kVkEscape, kPress), 0x5A5A);
  EXPECT_TRUE(system_.Messages.empty());
  EXPECT_EQ(Deliver(kVkEscape, kRelease), 0x5A5A);
  ASSERT_EQ(system_.Messages.size(), 1u);
  EXPECT_EQ(system_.Messages[0].Target, main_);
  EXPECT_EQ(system_.NextHookCalls.size(), 2u);
}

// A thread that peeks at each key before it takes it has the hook called twice for a key it
// passes on. Minimizing the foreground window activates the other one, as on Windows. Each
// release minimizes the window it was pressed in, once, and no other window.
TEST_F(KeyboardHookProcTest, PeekingLoop_EachReleaseMinimizesOnlyItsWindowOnce) {
  ModuleSettings = {1, MinimizeIMWindow, 1};
  system_.NextHookResult = 0;  // the hooks behind let every key through
  system_.ActivateWhenMinimized(main_, conversation_);
  system_.ActivateWhenMinimized(conversation_, main_);
  const struct {
    platform::Window Front;
    platform::Window ActiveAfter;
    platform::LResult Result;
    std::vector<int> CodesPassedOn;
  } rows[] = {
      // Passed on at the peek, so taken as well: the press and the release are seen twice.
      {main_, conversation_, 0, {kHcNoRemove, kHcAction, kHcNoRemove, kHcAction}},
      // Swallowed at the peek, which removes the key from the queue.
      {conversation_, main_, kSwallowResult, {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Front == main_ ? "main window" : "conversation window");
    system_.SetForeground(row.Front);
    system_.Messages.clear();
    system_.NextHookCalls.clear();
    EXPECT_EQ(system_.PeekThenTakeKey(kVkEscape, kPress), row.Result);
    EXPECT_TRUE(system_.Messages.empty()) << "no press minimizes";
    EXPECT_EQ(system_.PeekThenTakeKey(kVkEscape, kRelease), row.Result);
    ASSERT_EQ(system_.Messages.size(), 1u) << "one minimize per release";
    EXPECT_EQ(system_.Messages[0].Target, row.Front);
    EXPECT_EQ(system_.Foreground(), row.ActiveAfter) << "the minimize activated the other window";
    std::vector<int> codes(system_.NextHookCalls.size());
    std::transform(system_.NextHookCalls.begin(), system_.NextHookCalls.end(), codes.begin(),
                   [](const fake::NextHookCall& call) { return call.Code; });
    EXPECT_EQ(codes, row.CodesPassedOn);
  }
}

TEST_F(KeyboardHookProcTest, PassesOnWithTheRecordsHandleAndUnchangedArguments) {
  ModuleSettings = {1, MinimizeIMWindow, 1};
  system_.SetForeground(other_);
  system_.NextHookResult = -7;

  EXPECT_EQ(Deliver(kVkEscape, kRelease, 3), -7);
  EXPECT_EQ(Deliver('A', kPress, 0), -7);
  EXPECT_EQ(Deliver(kVkEscape, kPress, -1), -7);

  ASSERT_EQ(system_.NextHookCalls.size(), 3u);
  const fake::NextHookCall expected[] = {
      {hook_, 3, kVkEscape, kRelease}, {hook_, 0, 'A', kPress}, {hook_, -1, kVkEscape, kPress}};
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(system_.NextHookCalls[i].Hook, expected[i].Hook);
    EXPECT_EQ(system_.NextHookCalls[i].Code, expected[i].Code);
    EXPECT_EQ(system_.NextHookCalls[i].Key, expected[i].Key);
    EXPECT_EQ(system_.NextHookCalls[i].Flags, expected[i].Flags);
  }
  EXPECT_TRUE(system_.Messages.empty());
  EXPECT_EQ(system_.LoopQueries + system_.ImeQueries + system_.KeyStateQueries, 0)
      << "no menu loop or IME is asked about where Escape is passed on anyway";
}

TEST_F(KeyboardHookProcTest, QueriesNoWindowWhileDisabledOrForOtherKeys) {
  system_.SetForeground(conversation_);
  ModuleSettings = {0, MinimizeIMWindow, 1};
  EXPECT_EQ(Deliver(kVkEscape, kPress), 0x5A5A);
  EXPECT_EQ(Deliver(kVkEscape, kRelease), 0x5A5A);

  ModuleSettings = {1, MinimizeIMWindow, 1};
  EXPECT_EQ(Deliver('Q', kRelease), 0x5A5A);
  EXPECT_EQ(Deliver(kVkEscape, kRelease, -1), 0x5A5A);

  EXPECT_EQ(system_.ForegroundQueries, 0);
  EXPECT_EQ(system_.ClassNameQueries, 0);
  EXPECT_EQ(system_.LoopQueries + system_.ImeQueries + system_.KeyStateQueries, 0);
  EXPECT_TRUE(system_.Messages.empty());
}

TEST_F(KeyboardHookProcTest, FollowsTheModuleSettingsAtTheNextEvent) {
  system_.SetForeground(conversation_);
  ModuleSettings = {1, DoNothing, 0};
  EXPECT_EQ(Deliver(kVkEscape, kPress), kSwallowResult);
  EXPECT_EQ(Deliver(kVkEscape, kRelease), kSwallowResult);
  EXPECT_TRUE(system_.Messages.empty());

  ModuleSettings.ESCAction = MinimizeIMWindow;
  EXPECT_EQ(Deliver(kVkEscape, kPress), kSwallowResult);
  EXPECT_EQ(Deliver(kVkEscape, kRelease), kSwallowResult);
  EXPECT_EQ(system_.Messages.size(), 1u);
}

TEST_F(KeyboardHookProcTest, NoForegroundWindowPassesWithoutReadingAClass) {
  ModuleSettings = {1, MinimizeIMWindow, 1};
  system_.SetForeground(platform::Window::None);
  EXPECT_EQ(Deliver(kVkEscape, kRelease), 0x5A5A);
  EXPECT_EQ(system_.ClassNameQueries, 0);
  EXPECT_TRUE(system_.Messages.empty());
}

TEST_F(KeyboardHookProcTest, LongClassNamesAreReadIntoTheFixedBufferAndNeverMatch) {
  ModuleSettings = {1, MinimizeIMWindow, 1};
  const auto longName =
      system_.AddWindow(std::string(kConversationWindowClass) + std::string(400, 'x'));
  system_.SetForeground(longName);
  EXPECT_EQ(Deliver(kVkEscape, kRelease), 0x5A5A);

  const ClassName name = GetWindowClassName(longName);
  EXPECT_EQ(name.Length, 254);
  EXPECT_EQ(name.Text[254], '\0');
  EXPECT_EQ(GetWindowClassName(platform::Window::None).Length, 0);
}

TEST_F(KeyboardHookProcTest, NoPathAllocates) {
  const platform::Window windows[] = {conversation_, main_, other_, platform::Window::None};
  const PluginSettings settings[] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {1, 1, 1}, {1, 9, 1}};
  const platform::WParam keys[] = {kVkEscape, 'A'};
  const platform::LParam flags[] = {kPress, kRelease};
  const int codes[] = {-1, 0, 3};

  // What the events came to, tallied outside the counted stretch: every path was taken.
  int swallowed = 0;
  int passedOn = 0;
  int minimized = 0;
  constexpr std::size_t kEvents =
      sizeof windows / sizeof windows[0] * (sizeof settings / sizeof settings[0]) *
      (sizeof keys / sizeof keys[0]) * (sizeof flags / sizeof flags[0]) *
      (sizeof codes / sizeof codes[0]);
  platform::LResult results[kEvents];
  std::size_t sent[kEvents];
  std::size_t event = 0;
  test::CountAllocations(true);
  std::allocator<int>().deallocate(std::allocator<int>().allocate(4), 4);
  ASSERT_EQ(test::Allocations(), 1) << "the counter sees allocations";
  test::CountAllocations(true);
  for (auto window : windows) {
    system_.SetForeground(window);
    for (const auto& s : settings) {
      ModuleSettings = s;
      for (auto key : keys) {
        for (auto f : flags) {
          for (int code : codes) {
            results[event] = Deliver(key, f, code);
            sent[event++] = system_.Messages.size();
            system_.Messages.clear();
            system_.NextHookCalls.clear();
          }
        }
      }
    }
  }
  const int allocations = test::Allocations();
  test::CountAllocations(false);
  EXPECT_EQ(allocations, 0);
  for (std::size_t i = 0; i < event; ++i) {
    swallowed += results[i] == kSwallowResult ? 1 : 0;
    passedOn += results[i] == 0x5A5A ? 1 : 0;
    minimized += sent[i] != 0 ? 1 : 0;
  }
  EXPECT_GT(swallowed, 0);
  EXPECT_GT(passedOn, 0);
  EXPECT_GT(minimized, 0) << "the minimize path ran without allocating too";
}

}  // namespace
}  // namespace tovrel
