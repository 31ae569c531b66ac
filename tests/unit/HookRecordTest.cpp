#include "plugin/HookRecord.hpp"

#include <gtest/gtest.h>

#include <string>

#include "PluginFixture.hpp"
#include "plugin/KeyboardHook.hpp"

namespace tovrel {
namespace {

constexpr std::uint32_t kAttach = 1;
constexpr std::uint32_t kDetach = 0;

class HookRecordTest : public PluginTest {
 protected:
  static std::string RecordName() { return HookRecMappingName().Text; }
  bool NothingOpen() const {
    return system_.OpenMappingHandles() == 0 && system_.MappedViews() == 0;
  }
};

TEST_F(HookRecordTest, NameCarriesTheProcessIdInPlainDecimal) {
  const struct {
    std::uint32_t Pid;
    const char* Name;
  } rows[] = {{1234, "Tovrel_HookRecMemBlock_1234"},
              {0, "Tovrel_HookRecMemBlock_0"},
              {7, "Tovrel_HookRecMemBlock_7"},
              {4294967295u, "Tovrel_HookRecMemBlock_4294967295"}};
  for (const auto& row : rows) {
    system_.ProcessId = row.Pid;
    EXPECT_STREQ(HookRecMappingName().Text, row.Name);
  }
}

TEST_F(HookRecordTest, FirstLoadThenInstall_HooksTheCallingThreadAndStoresTheHandle) {
  ModuleAttachDetach(kAttach);
  EXPECT_EQ(HookRecView.Get(), nullptr) << "no record before the first install";

  ASSERT_TRUE(InstallHook());
  ASSERT_EQ(system_.Hooks.size(), 1u);
  const fake::InstalledHook& hook = system_.Hooks[0];
  EXPECT_EQ(hook.Proc, &KeyboardHookProc);
  EXPECT_EQ(hook.Module, kModule);
  EXPECT_EQ(hook.ThreadId, system_.ThreadId);
  EXPECT_EQ(system_.MappingWord(RecordName()), hook.Handle);
  EXPECT_EQ(HookRecView->HookHandle, hook.Handle);
}

TEST_F(HookRecordTest, SecondInstallDeclinesAndInstallsNothing) {
  ASSERT_TRUE(InstallHook());
  EXPECT_FALSE(InstallHook());
  EXPECT_EQ(system_.Hooks.size(), 1u);
  EXPECT_EQ(system_.OpenMappingHandles(), 1);
}

TEST_F(HookRecordTest, RemoveUnhooksClearsAndReleasesTheRecord) {
  ASSERT_TRUE(InstallHook());
  ASSERT_TRUE(RemoveHook());
  EXPECT_TRUE(system_.Hooks.empty());
  EXPECT_EQ(HookRecView.Get(), nullptr);
  EXPECT_FALSE(system_.MappingExists(RecordName())) << "this load was the record's only holder";
  EXPECT_TRUE(NothingOpen());
  EXPECT_FALSE(RemoveHook()) << "a second remove finds no record";
}

TEST_F(HookRecordTest, RemoveWithoutARecordDoesNothing) {
  EXPECT_FALSE(RemoveHook());
  EXPECT_TRUE(NothingOpen());
}

TEST_F(HookRecordTest, InstallAfterRemoveHooksAgain) {
  ASSERT_TRUE(InstallHook());
  ASSERT_TRUE(RemoveHook());
  ASSERT_TRUE(InstallHook());
  ASSERT_EQ(system_.Hooks.size(), 1u);
  EXPECT_EQ(system_.MappingWord(RecordName()), system_.Hooks[0].Handle);
}

TEST_F(HookRecordTest, RefusedHookStoresZeroAndRemoveSkipsTheUnhook) {
  system_.FailNext(fake::Op::SetKeyboardHook);
  EXPECT_TRUE(InstallHook()) << "a refused hook still counts as installed";
  EXPECT_EQ(HookRecView->HookHandle, 0u);
  EXPECT_TRUE(RemoveHook());
  EXPECT_TRUE(NothingOpen());
}

TEST_F(HookRecordTest, MappingFailuresLeaveNoRecordAndAllowARetry) {
  for (fake::Op op : {fake::Op::CreateMapping, fake::Op::MapView}) {
    system_.FailNext(op);
    EXPECT_FALSE(InstallHook());
    EXPECT_EQ(HookRecView.Get(), nullptr);
    EXPECT_TRUE(system_.Hooks.empty());
    EXPECT_TRUE(NothingOpen()) << "a handle from a failed install is closed";
  }
  EXPECT_TRUE(InstallHook());
}

TEST_F(HookRecordTest, ReloadAfterUninitializeInstallsAgain) {
  ModuleAttachDetach(kAttach);
  ASSERT_TRUE(InstallHook());
  ASSERT_TRUE(RemoveHook());
  ModuleAttachDetach(kDetach);

  ModuleLoad{}.Enter();  // a new load of the module in the same process
  ModuleAttachDetach(kAttach);
  EXPECT_EQ(HookRecView.Get(), nullptr) << "no stale record is found";
  EXPECT_TRUE(InstallHook());
  EXPECT_EQ(system_.Hooks.size(), 1u);
}

TEST_F(HookRecordTest, LoadWhileARecordExists_RecordOnly_DeclinesThenRemovesTheNamedHook) {
  ModuleLoad first, second;
  first.Enter();
  ModuleAttachDetach(kAttach);
  ASSERT_TRUE(InstallHook());
  const platform::HookHandle firstHook = system_.Hooks.at(0).Handle;
  first.Leave();

  second.Enter();  // a second copy of the module in the same process
  ModuleAttachDetach(kAttach);
  ASSERT_NE(HookRecView.Get(), nullptr) << "the attach step maps the existing record";
  EXPECT_EQ(HookRecView->HookHandle, firstHook);
  EXPECT_EQ(HookRecMapping.Get(), platform::Mapping::None) << "the view alone holds the record";
  EXPECT_FALSE(InstallHook());
  EXPECT_EQ(system_.Hooks.size(), 1u);
  EXPECT_TRUE(RemoveHook()) << "removes the hook the record names: the first copy's";
  EXPECT_TRUE(system_.Hooks.empty());
  second.Leave();

  first.Enter();
  EXPECT_EQ(HookRecView->HookHandle, 0u) << "both copies share one record";
  EXPECT_TRUE(RemoveHook());
  EXPECT_TRUE(NothingOpen());
}

TEST_F(HookRecordTest, DetachReleasesTheRecordButLeavesTheHook) {
  ASSERT_TRUE(InstallHook());
  ModuleAttachDetach(kDetach);
  EXPECT_EQ(HookRecView.Get(), nullptr);
  EXPECT_EQ(system_.Hooks.size(), 1u) << "the host uninitializes before it unloads";
  EXPECT_TRUE(NothingOpen());
  system_.Hooks.clear();
}

TEST_F(HookRecordTest, OtherReasonsAndRepeatedAttachChangeNothing) {
  ASSERT_TRUE(InstallHook());
  HookRec* view = HookRecView.Get();
  for (std::uint32_t reason : {kAttach, 2u, 3u, 0xFFFFFFFFu}) ModuleAttachDetach(reason);
  EXPECT_EQ(HookRecView.Get(), view);
  EXPECT_EQ(system_.OpenMappingHandles(), 1);
  EXPECT_EQ(system_.MappedViews(), 1);
}

TEST_F(HookRecordTest, EachProcessHasItsOwnRecord) {
  ModuleLoad processA, processB;
  system_.ProcessId = 100;
  processA.Enter();
  ASSERT_TRUE(InstallHook());
  processA.Leave();

  system_.ProcessId = 200;
  processB.Enter();
  ModuleAttachDetach(kAttach);
  EXPECT_EQ(HookRecView.Get(), nullptr) << "process 200 finds no record of process 100";
  ASSERT_TRUE(InstallHook());
  processB.Leave();

  EXPECT_TRUE(system_.MappingExists("Tovrel_HookRecMemBlock_100"));
  EXPECT_TRUE(system_.MappingExists("Tovrel_HookRecMemBlock_200"));
  EXPECT_NE(system_.MappingWord("Tovrel_HookRecMemBlock_100"),
            system_.MappingWord("Tovrel_HookRecMemBlock_200"));
}

}  // namespace
}  // namespace tovrel
