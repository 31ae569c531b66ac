// The module's life cycle and its entry points over the fake platform.
#include "plugin/Plugin.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "PluginFixture.hpp"
#include "uConstants.hpp"

namespace tovrel {
namespace {

constexpr char kCarol[] = "Software\\Quorvel\\MsgPlus2\\carol\\Preferences\\Plugins\\tovrel.dll";

class LifeCycleTest : public PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    ModuleStart(kModule);
  }
  void TearDown() override {
    PluginUninitialize();
    ModuleUnload();
    test::FailAllocations(0);
    EXPECT_EQ(system_.Registry.OpenKeys(), 0);
    EXPECT_EQ(system_.OpenForms, 0) << "the dialog is freed on every path";
    EXPECT_EQ(frmConfig, nullptr);
    PluginTest::TearDown();
  }
  // The user's answer to the next dialog: OK after `edit`, or Cancel.
  void Answer(bool ok, void (*edit)(TfrmConfig&) = nullptr) {
    system_.User = [ok, edit](toolkit::TForm& form) {
      // The only form the module shows; the module has no type information to ask.
      auto& dialog = static_cast<TfrmConfig&>(form);  // NOLINT(*-static-cast-downcast)
      EXPECT_EQ(frmConfig, &dialog);
      if (edit != nullptr) edit(dialog);
      dialog.Click(ok ? kBtnOK : kBtnCancel);
    };
  }
};

// Before Initialize the module filters nothing and names itself; the system sends it no thread
// notifications.
TEST_F(LifeCycleTest, StartedButNotInitialized_FiltersNothing) {
  EXPECT_EQ(system_.ThreadNotificationsOff, std::vector<platform::Instance>{kModule});
  system_.SetForeground(system_.AddWindow(kConversationWindowClass));
  EXPECT_EQ(system_.DeliverKey(0, kVkEscape, 0), 0) << "no hook sees the key";
  char name[20] = {};
  EXPECT_TRUE(PluginPublishInfo(name));
  EXPECT_STREQ(name, "Tovrel plugin");
}

TEST_F(LifeCycleTest, InitializeStoresTheUserLoadsTheSettingsAndHooksTheThread) {
  system_.Registry.SetDword(kCarol, "ESCAction", MinimizeIMWindow);
  EXPECT_TRUE(PluginInitialize("carol"));
  EXPECT_EQ(std::u16string_view(UserKey), u"carol");
  EXPECT_EQ(ModuleSettings, (PluginSettings{1, MinimizeIMWindow, 0}));
  ASSERT_EQ(system_.Hooks.size(), 1u);

  // Again without Uninitialize: a new user and settings, the same hook.
  EXPECT_TRUE(PluginInitialize(nullptr));
  EXPECT_TRUE(UserKey.empty());
  EXPECT_EQ(ModuleSettings, kDefaultSettings);
  EXPECT_EQ(system_.Hooks.size(), 1u);

  EXPECT_TRUE(PluginUninitialize());
  EXPECT_FALSE(PluginUninitialize());
  EXPECT_EQ(ModuleSettings, kDefaultSettings) << "kept after Uninitialize";
}

TEST_F(LifeCycleTest, InitializeOutOfMemoryForTheIdentifier_StillTrueWithAnEmptyUser) {
  test::FailAllocations(1);
  EXPECT_TRUE(PluginInitialize("a user name long enough to need the heap"));
  test::FailAllocations(0);
  EXPECT_TRUE(UserKey.empty());
  EXPECT_EQ(system_.Hooks.size(), 1u);
}

TEST_F(LifeCycleTest, ConfigureOK_AppliesAndSavesForTheUser_CancelChangesNothing) {
  PluginInitialize("carol");
  Answer(false, [](TfrmConfig& d) { d.Click(kCbEnablePlug); });
  PluginConfigure();
  EXPECT_EQ(ModuleSettings, kDefaultSettings);
  EXPECT_TRUE(system_.Registry.Writes.empty());

  Answer(true, [](TfrmConfig& d) { d.Select(kCbxAction, MinimizeIMWindow); });
  PluginConfigure();
  EXPECT_EQ(ModuleSettings, (PluginSettings{1, MinimizeIMWindow, 0}));
  EXPECT_EQ(system_.Registry.Writes.size(), 3u);
  EXPECT_EQ(system_.Registry.Dword(kCarol, "ESCAction"), 1u);
  EXPECT_EQ(system_.ShownForms, 2);
}

TEST_F(LifeCycleTest, ConfigureBeforeInitialize_OpensOnZeroSettings) {
  Answer(true, [](TfrmConfig& d) { EXPECT_FALSE(d.cbEnablePlug.Checked); });
  PluginConfigure();
  EXPECT_EQ(ModuleSettings, (PluginSettings{0, 0, 0}));
  EXPECT_TRUE(
      system_.Registry.KeyExists("Software\\Quorvel\\MsgPlus2\\Preferences\\Plugins\\tovrel.dll"))
      << "saved for the empty user";
}

TEST_F(LifeCycleTest, ConfigureWhenTheDialogCannotBeMade_ChangesNothing) {
  PluginInitialize("carol");
  system_.FailNext(fake::Op::CreateForm);
  PluginConfigure();
  test::FailAllocations(1);  // the dialog object itself
  PluginConfigure();
  EXPECT_EQ(test::RefusedAllocations(), 1);
  test::FailAllocations(0);
  EXPECT_EQ(system_.ShownForms, 0);
  EXPECT_EQ(ModuleSettings, kDefaultSettings);
}

TEST_F(LifeCycleTest, PublishInfoCopiesTheNameAndItsNulOnly) {
  char buffer[20];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_TRUE(PluginPublishInfo(buffer));
  EXPECT_STREQ(buffer, "Tovrel plugin");
  EXPECT_EQ(buffer[14], '#');
  EXPECT_FALSE(PluginPublishInfo(nullptr));
}

// A module unloaded and loaded again in the same process: the new load names itself, hooks the
// thread and filters by the user's stored settings as the first one did; the first leaves no
// record behind that would make the second decline.
TEST_F(LifeCycleTest, UnloadedAndLoadedAgain_TheNewLoadWorksAsTheFirst) {
  system_.Registry.SetDword(kCarol, "ESCAction", MinimizeIMWindow);
  const platform::Window conversation = system_.AddWindow(kConversationWindowClass);
  system_.SetForeground(conversation);
  for (int load = 0; load < 2; ++load) {
    SCOPED_TRACE(load);
    if (load > 0) ModuleStart(kModule);
    char name[20] = {};
    EXPECT_TRUE(PluginPublishInfo(name));
    EXPECT_STREQ(name, "Tovrel plugin");
    EXPECT_TRUE(PluginInitialize("carol"));
    system_.Messages.clear();
    EXPECT_EQ(system_.DeliverKey(0, kVkEscape, 0), kSwallowResult);
    EXPECT_EQ(system_.DeliverKey(0, kVkEscape, static_cast<platform::LParam>(kKeyReleasedFlag)),
              kSwallowResult);
    ASSERT_EQ(system_.Messages.size(), 1u);
    EXPECT_EQ(system_.Messages[0].Target, conversation);
    EXPECT_TRUE(PluginUninitialize());
    ModuleUnload();
    EXPECT_TRUE(system_.Hooks.empty());
    EXPECT_EQ(system_.OpenMappingHandles() + system_.MappedViews(), 0) << "nothing held";
  }
  ModuleStart(kModule);  // for TearDown, as the next load
}

// The host is relied on to uninitialize first: an unload without it releases the record but
// leaves the hook, and the next load, finding no record, hooks the thread afresh.
TEST_F(LifeCycleTest, UnloadedWithoutUninitialize_TheHookStays) {
  EXPECT_TRUE(PluginInitialize("carol"));
  ModuleUnload();
  EXPECT_EQ(system_.Hooks.size(), 1u) << "unloading does not unhook";
  EXPECT_EQ(system_.OpenMappingHandles() + system_.MappedViews(), 0);
  ModuleStart(kModule);
  EXPECT_TRUE(PluginInitialize("carol"));
  EXPECT_EQ(system_.Hooks.size(), 2u);
  EXPECT_TRUE(PluginUninitialize());
  EXPECT_EQ(system_.Hooks.size(), 1u) << "the new load removes its own hook only";
  system_.Hooks.clear();
}

}  // namespace
}  // namespace tovrel
