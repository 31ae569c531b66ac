#include "fConfig.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "PluginFixture.hpp"

namespace tovrel {
namespace {

using fake::RegOp;

std::string KeyOf(const std::string& user) {
  return "Software\\Quorvel\\MsgPlus2\\" + user + "\\Preferences\\Plugins\\tovrel.dll";
}

class ConfigTest : public RegistryTest {
 protected:
  // The dialog as the caller shows it: Settings written, then FormShow.
  static void Show(TfrmConfig& form, PluginSettings settings) {
    form.Settings = settings;
    form.FormShow();
  }
};

TEST_F(ConfigTest, EnablingRules) {
  const struct {
    PluginSettings Settings;
    bool ActionEnabled;  // lbl1 and cbxAction
    bool MainWindowEnabled;
  } rows[] = {
      {{0, 0, 0}, false, false}, {{0, 1, 1}, false, false}, {{0, 7, 0}, false, false},
      {{1, 1, 0}, true, true},   {{1, 0, 1}, true, false},  {{1, 9, 1}, true, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message()
                 << int{row.Settings.EnablePlugin} << "/" << int{row.Settings.ESCAction});
    TfrmConfig form;
    Show(form, row.Settings);
    EXPECT_EQ(form.lbl1.Enabled, row.ActionEnabled);
    EXPECT_EQ(form.cbxAction.Enabled, row.ActionEnabled);
    EXPECT_EQ(form.cbMinimizeMainWin.Enabled, row.MainWindowEnabled);
    EXPECT_TRUE(form.cbEnablePlug.Enabled);
    EXPECT_TRUE(form.cbSetAsDefault.Enabled);
  }
}

TEST_F(ConfigTest, ActionValuesSelectTheirItemOrNone_AndOKStores255ForNone) {
  const struct {
    std::uint8_t Action;
    int Selection;
    std::uint8_t Stored;
  } rows[] = {{0, 0, 0}, {1, 1, 1}, {2, -1, 255}, {128, -1, 255}, {255, -1, 255}};
  for (const auto& row : rows) {
    SCOPED_TRACE(int{row.Action});
    TfrmConfig form;
    Show(form, {1, row.Action, 0});
    EXPECT_EQ(form.cbxAction.ItemIndex, row.Selection);
    form.btnOKClick();
    EXPECT_EQ(form.Settings.ESCAction, row.Stored);
    EXPECT_EQ(form.ModalResult, kDialogResultOK);
  }
}

TEST_F(ConfigTest, DisabledControlsKeepTheirStateAndOKStillReadsThem) {
  TfrmConfig form;
  Show(form, {1, MinimizeIMWindow, 1});
  ASSERT_TRUE(form.cbMinimizeMainWin.Enabled);
  form.SetChecked(form.cbEnablePlug, false);  // as a click would
  EXPECT_FALSE(form.cbMinimizeMainWin.Enabled);
  EXPECT_FALSE(form.cbxAction.Enabled);
  EXPECT_TRUE(form.cbMinimizeMainWin.Checked);
  EXPECT_EQ(form.cbxAction.ItemIndex, 1);
  form.btnOKClick();
  EXPECT_EQ(form.Settings, (PluginSettings{0, 1, 1}));
}

TEST_F(ConfigTest, SettingACheckBoxFromCodeRunsItsClickHandler) {
  TfrmConfig form;
  Show(form, {0, MinimizeIMWindow, 0});
  ASSERT_FALSE(form.cbxAction.Enabled);
  form.SetChecked(form.cbEnablePlug, true);
  EXPECT_TRUE(form.cbxAction.Enabled);
  EXPECT_TRUE(form.lbl1.Enabled);
  EXPECT_TRUE(form.cbMinimizeMainWin.Enabled);

  TfrmConfig::SetItemIndex(form.cbxAction, DoNothing);
  form.cbxActionChange();  // the list reports the user's pick
  EXPECT_FALSE(form.cbMinimizeMainWin.Enabled);
}

TEST_F(ConfigTest, UserEventsReachTheHandlersTheLayoutWires) {
  TfrmConfig form;
  Show(form, {0, DoNothing, 0});
  form.Click(kCbEnablePlug);  // a check box flips, then its handler runs
  EXPECT_TRUE(form.cbEnablePlug.Checked);
  EXPECT_TRUE(form.cbxAction.Enabled);
  form.Select(kCbxAction, MinimizeIMWindow);
  EXPECT_TRUE(form.cbMinimizeMainWin.Enabled);
  form.Click(kCbMinimizeMainWin);
  form.Click(kBtnOK);
  EXPECT_EQ(form.ModalResult, kDialogResultOK);
  EXPECT_EQ(form.Settings, (PluginSettings{1, 1, 1}));
  form.Click(kBtnCancel);
  EXPECT_EQ(form.ModalResult, kDialogResultCancel);
}

TEST_F(ConfigTest, FormCreateChoosesTheDialogFaceAndMakesItTheModuleDefault) {
  for (const auto& [platformId, face] : {std::pair{2u, "MS Shell Dlg 2"}, {1u, "MS Shell Dlg"}}) {
    fake::FakeSystem::Get().PlatformId = platformId;
    toolkit::CopyFaceName(toolkit::DefaultFontFace(), "MS Sans Serif");
    TfrmConfig form;
    EXPECT_STREQ(form.FontName, "MS Sans Serif") << "the layout font until the form is created";
    ASSERT_TRUE(form.Create());
    EXPECT_STREQ(form.FontName, face);
    EXPECT_STREQ(toolkit::DefaultFontFace(), face);
    // The layout scales by the height of "0" in the face its text will be shown in.
    ASSERT_NE(kConfigLayout.ScalingFace, nullptr);
    EXPECT_STREQ(kConfigLayout.ScalingFace(), face);
  }
}

TEST_F(ConfigTest, CancelLeavesSettingsAsWritten) {
  TfrmConfig form;
  Show(form, {1, 2, 1});
  form.SetChecked(form.cbEnablePlug, false);
  form.btnCancelClick();
  EXPECT_EQ(form.ModalResult, kDialogResultCancel);
  EXPECT_EQ(form.Settings, (PluginSettings{1, 2, 1}));
}

TEST_F(ConfigTest, SetAsDefaultUnticked_NoRegistryAccessAtAll) {
  registry_.AddKey("Software\\Quorvel\\MsgPlus2\\alice");
  TfrmConfig form;
  Show(form, {1, 1, 1});
  EXPECT_FALSE(form.cbSetAsDefault.Checked) << "unticked in every new dialog";
  form.btnOKClick();
  EXPECT_EQ(registry_.Accesses, 0);
}

TEST_F(ConfigTest, SetAsDefaultTicked_SavesEveryProfileInEnumerationOrder) {
  for (const char* user : {"zoe", "Alice", "bob", "not-a-profile"}) {
    registry_.AddKey(std::string("Software\\Quorvel\\MsgPlus2\\") + user);
  }
  TfrmConfig form;
  Show(form, {1, 7, 0});  // no selection: 255 is written
  form.SetChecked(form.cbSetAsDefault, true);
  form.btnOKClick();

  EXPECT_EQ(form.ModalResult, kDialogResultOK);
  std::vector<std::string> expected;
  for (const char* user : {"Alice", "bob", "not-a-profile", "zoe"}) {
    for (const char* value : {"EnablePlugin=1", "ESCAction=255", "MinimizeMsgrMainWin=0"}) {
      expected.push_back(KeyOf(user) + "\\" + value);
    }
  }
  EXPECT_EQ(registry_.Writes, expected);
}

constexpr char kRoot[] = "Software\\Quorvel\\MsgPlus2";

// Ticks "Set this configuration as default for all users" and confirms with (1, 1, 0).
void ApplyToAllWithOK() {
  TfrmConfig form;
  form.Settings = {1, MinimizeIMWindow, 0};
  form.FormShow();
  form.SetChecked(form.cbSetAsDefault, true);
  form.btnOKClick();
  EXPECT_EQ(form.ModalResult, kDialogResultOK);
}

// Under a double-byte code page a name takes up to twice as many bytes as the longest-subkey
// figure counts (UTF-16 units); every profile still gets the values, and no other key is made.
TEST_F(ConfigTest, SetAsDefaultTicked_DoubleByteNamesOfEveryLength_AllReceiveTheValues) {
  fake::FakeSystem::Get().AnsiCodePage = fake::kDoubleByteCodePage;
  const std::u16string longest(255, u'\u4e2d');  // 510 bytes
  const std::vector<std::vector<std::u16string>> sets = {
      {u"ab", u"\u65e5\u672c\u8a9e"},  // three characters, six bytes
      // 0x81 0x5C: a trail byte that is a backslash's byte does not split the name.
      {u"\u4e1c", u"x\u4e1cy\u4e2d", u"carol", u"\u6587\u4e2d\u6587\u4e2d\u6587\u4e2d\u6587",
       longest},
  };
  for (const auto& profiles : sets) {
    SCOPED_TRACE(profiles.size());
    fake::FakeSystem::Get().Reset();
    fake::FakeSystem::Get().AnsiCodePage = fake::kDoubleByteCodePage;
    for (const std::u16string& profile : profiles) {
      registry_.AddKey(std::string(kRoot) + "\\" + fake::AnsiText(profile));
    }
    ApplyToAllWithOK();
    for (const std::u16string& profile : profiles) {
      const std::string key = KeyOf(fake::AnsiText(profile));
      SCOPED_TRACE(key.size());
      EXPECT_EQ(registry_.Dword(key, "EnablePlugin"), 1u);
      EXPECT_EQ(registry_.Dword(key, "ESCAction"), 1u);
      EXPECT_EQ(registry_.Dword(key, "MinimizeMsgrMainWin"), 0u);
    }
    EXPECT_EQ(registry_.Writes.size(), 3 * profiles.size());
    EXPECT_EQ(registry_.SubkeyNames(kRoot).size(), profiles.size()) << "no profile key is made";
  }
}

// A key name with a NUL inside comes back whole from enumeration, but 8-bit text ends at the NUL:
// taken for a profile, it would be cut to another profile's name, which is then written twice.
// It is passed over; the profiles around it are written once each.
TEST_F(ConfigTest, ApplyToAll_PassesOverANameWithANulInside) {
  registry_.AddKey(std::string(kRoot) + "\\eve");
  registry_.AddKeyWide(std::u16string(u"Software\\Quorvel\\MsgPlus2\\eve") + u'\0' + u"x");
  registry_.AddKey(std::string(kRoot) + "\\frank");
  ASSERT_EQ(registry_.SubkeyNames(kRoot).size(), 3u);
  ApplyToAllWithOK();
  const std::vector<std::string> expected = {
      KeyOf("eve") + "\\EnablePlugin=1",        KeyOf("eve") + "\\ESCAction=1",
      KeyOf("eve") + "\\MinimizeMsgrMainWin=0", KeyOf("frank") + "\\EnablePlugin=1",
      KeyOf("frank") + "\\ESCAction=1",         KeyOf("frank") + "\\MinimizeMsgrMainWin=0"};
  EXPECT_EQ(registry_.Writes, expected);
}

// A name with characters the code page lacks is enumerated with default characters; writing
// under that name would make a bogus profile key.
TEST_F(ConfigTest, SetAsDefaultTicked_ANameOutsideTheCodePage_CreatesNoKey) {
  for (const std::uint32_t codePage : {fake::kWesternCodePage, fake::kDoubleByteCodePage}) {
    SCOPED_TRACE(codePage);
    fake::FakeSystem::Get().Reset();
    fake::FakeSystem::Get().AnsiCodePage = codePage;
    const std::u16string outside = u"\u0416\u4e2d";  // Cyrillic, and an ideograph
    registry_.AddKeyWide(std::u16string(u"Software\\Quorvel\\MsgPlus2\\") + outside);
    registry_.AddKey(std::string(kRoot) + "\\alice");
    ApplyToAllWithOK();
    EXPECT_EQ(registry_.SubkeyNames(kRoot), (std::vector<std::u16string>{u"alice", outside}));
    EXPECT_EQ(registry_.Writes.size(), 3u);
    EXPECT_EQ(registry_.Dword(KeyOf("alice"), "ESCAction"), 1u);
  }
}

// A name that does not fit the buffer is fetched again into a larger one.
TEST_F(ConfigTest, SetAsDefaultTicked_ANameThatDoesNotFitIsFetchedAgain) {
  registry_.AddKey(std::string(kRoot) + "\\alice");
  registry_.AddKey(std::string(kRoot) + "\\bob");
  registry_.FailCall(RegOp::EnumKey, 1, fake::kErrorMoreData);
  ApplyToAllWithOK();
  EXPECT_EQ(registry_.Dword(KeyOf("alice"), "ESCAction"), 1u);
  EXPECT_EQ(registry_.Dword(KeyOf("bob"), "ESCAction"), 1u);
}

// A profile that no longer opens (deleted in the meantime) is passed over, not made anew.
TEST_F(ConfigTest, SetAsDefaultTicked_AProfileThatDoesNotOpenIsPassedOver) {
  registry_.AddKey(std::string(kRoot) + "\\alice");
  registry_.AddKey(std::string(kRoot) + "\\bob");
  registry_.FailCall(RegOp::OpenKey, 2, fake::kErrorFileNotFound);  // after the root: alice
  ApplyToAllWithOK();
  EXPECT_EQ(registry_.Dword(KeyOf("alice"), "ESCAction"), 0xDEADBEEF) << "nothing written";
  EXPECT_EQ(registry_.Dword(KeyOf("bob"), "ESCAction"), 1u);
}

TEST_F(ConfigTest, SetAsDefaultTicked_WithoutTheRoot_WritesNothingAndStillEndsWithOK) {
  TfrmConfig form;
  Show(form, {1, 0, 0});
  form.SetChecked(form.cbSetAsDefault, true);
  form.btnOKClick();
  EXPECT_EQ(form.ModalResult, kDialogResultOK);
  EXPECT_TRUE(registry_.Writes.empty());
  EXPECT_FALSE(registry_.KeyExists("Software\\Quorvel\\MsgPlus2")) << "nothing is created";
}

TEST_F(ConfigTest, SetAsDefaultTicked_FailuresReleaseTheListAndCloseTheKey) {
  registry_.AddKey("Software\\Quorvel\\MsgPlus2\\alice");
  registry_.AddKey("Software\\Quorvel\\MsgPlus2\\bob");
  TfrmConfig form;
  Show(form, {1, 1, 0});
  form.SetChecked(form.cbSetAsDefault, true);

  registry_.FailCall(RegOp::QueryInfo);
  form.btnOKClick();
  EXPECT_TRUE(registry_.Writes.empty());

  registry_.FailCall(RegOp::EnumKey, 1);  // the first name cannot be read: the others still are
  form.btnOKClick();
  EXPECT_EQ(registry_.Writes.size(), 3u);
  EXPECT_EQ(registry_.Writes[0], KeyOf("bob") + "\\EnablePlugin=1");

  registry_.Writes.clear();
  test::FailAllocations(1);  // out of memory for the list
  form.btnOKClick();
  EXPECT_GT(test::RefusedAllocations(), 0);
  test::FailAllocations(0);
  EXPECT_TRUE(registry_.Writes.empty());
  EXPECT_EQ(form.ModalResult, kDialogResultOK);
}

}  // namespace
}  // namespace tovrel
