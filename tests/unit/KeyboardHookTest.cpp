#include "plugin/KeyboardHook.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>

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
  EXPECT_TRUE(system_.Messages.empty());
}

TEST_F(KeyboardHookProcTest, FollowsTheModuleSettingsAtTheNextEvent) {
  system_.SetForeground(conversation_);
  ModuleSettings = {1, DoNothing, 0};
  EXPECT_EQ(Deliver(kVkEscape, kRelease), kSwallowResult);
  EXPECT_TRUE(system_.Messages.empty());

  ModuleSettings.ESCAction = MinimizeIMWindow;
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
  const int codes[] = {0, 3, -1};

  int events = 0;
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
            Deliver(key, f, code);
            ++events;
            system_.Messages.clear();
            system_.NextHookCalls.clear();
          }
        }
      }
    }
  }
  const int allocations = test::Allocations();
  test::CountAllocations(false);
  EXPECT_EQ(events, 240);
  EXPECT_EQ(allocations, 0);
}

}  // namespace
}  // namespace tovrel
