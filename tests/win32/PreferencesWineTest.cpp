// The settings store against the real registry, under the host's registry root, which each test
// deletes first.
#include <gtest/gtest.h>

#include <string>

#include "KeyAccess.hpp"
#include "KeyProbe.hpp"  // <windows.h>
#include "SettingsKey.hpp"
#include "uPreferences.hpp"

namespace tovrel {
namespace {

using host::kHostRoot;
using host::SettingsKeyOf;

class PreferencesOnTheRealRegistry : public testing::Test {
 protected:
  void SetUp() override {
    const LSTATUS status = RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Quorvel");
    ASSERT_TRUE(status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) << status;
  }
  void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Quorvel"); }

  static bool KeyExists(const std::string& path, DWORD* values = nullptr) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
      return false;
    }
    if (values != nullptr) {
      RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, values, nullptr,
                       nullptr, nullptr, nullptr);
    }
    RegCloseKey(key);
    return true;
  }
  static void Store(const std::string& path, const char* name, DWORD type, const void* data,
                    DWORD size) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }
  static PluginSettings Load(std::u16string_view user) {
    PluginSettings settings{0xEE, 0xEE, 0xEE};
    LoadSettings(user, settings);
    return settings;
  }
};

TEST_F(PreferencesOnTheRealRegistry, SaveThenLoadRoundTripsEveryValue) {
  const PluginSettings cases[] = {{0, 0, 0}, {1, 1, 1}, {1, 0, 1}, {0, 255, 0}, {1, 2, 0}};
  for (const PluginSettings& settings : cases) {
    SaveSettings(u"alice", PackSettings(settings) | 0xCD000000u);
    EXPECT_EQ(Load(u"alice"), settings);
  }
}

TEST_F(PreferencesOnTheRealRegistry, LoadForANewUserLeavesTheEmptyKeyBehind) {
  EXPECT_EQ(Load(u"newcomer"), (PluginSettings{1, 0, 0}));
  DWORD values = 99;
  ASSERT_TRUE(KeyExists(SettingsKeyOf("newcomer"), &values));
  EXPECT_EQ(values, 0u);
}

// A key whose security lets the user read it but not modify it, as an administrator may lock a
// user's settings: its values are loaded, and saving leaves them as they are.
TEST_F(PreferencesOnTheRealRegistry, ReadOnlyKeyIsLoadedAndNotWritten) {
  const DWORD stored[] = {0, 1, 1};
  Store(SettingsKeyOf("alice"), "EnablePlugin", REG_DWORD, &stored[0], 4);
  Store(SettingsKeyOf("alice"), "ESCAction", REG_DWORD, &stored[1], 4);
  Store(SettingsKeyOf("alice"), "MinimizeMsgrMainWin", REG_DWORD, &stored[2], 4);
  const test::ReadOnlyKey readOnly(SettingsKeyOf("alice"));
  ASSERT_EQ(readOnly.Status(), ERROR_SUCCESS);
  ASSERT_TRUE(readOnly.FullAccessRefused());

  EXPECT_EQ(Load(u"alice"), (PluginSettings{0, 1, 1}));
  SaveSettings(u"alice", 0x000001);
  EXPECT_EQ(Load(u"alice"), (PluginSettings{0, 1, 1})) << "nothing was written";
}

// A user key the user may read but not modify: no settings key can be made under it, and
// loading makes none.
TEST_F(PreferencesOnTheRealRegistry, KeyThatCannotBeCreatedIsNotCreated) {
  const std::string userKey = std::string(kHostRoot) + "\\alice";
  Store(userKey, "Theirs", REG_SZ, "x", 2);
  const test::ReadOnlyKey readOnly(userKey);
  ASSERT_EQ(readOnly.Status(), ERROR_SUCCESS);
  ASSERT_TRUE(readOnly.FullAccessRefused());

  EXPECT_EQ(Load(u"alice"), (PluginSettings{1, 0, 0}));
  EXPECT_FALSE(KeyExists(userKey + "\\Preferences"));
}

TEST_F(PreferencesOnTheRealRegistry, SaveKeepsAValueOfAnotherName) {
  Store(SettingsKeyOf("alice"), "Theirs", REG_SZ, "keep", 5);
  SaveSettings(u"alice", 0x010101);
  DWORD values = 0;
  ASSERT_TRUE(KeyExists(SettingsKeyOf("alice"), &values));
  EXPECT_EQ(values, 4u);
  char text[8] = {};
  DWORD size = sizeof text;
  EXPECT_EQ(RegGetValueA(HKEY_CURRENT_USER, SettingsKeyOf("alice").c_str(), "Theirs", RRF_RT_REG_SZ,
                         nullptr, text, &size),
            ERROR_SUCCESS);
  EXPECT_STREQ(text, "keep");
}

TEST_F(PreferencesOnTheRealRegistry, ShortDwordsReadAsTheirBytesWithTheRestZero) {
  const BYTE zero = 0;
  const BYTE action[2] = {0x01, 0x01};  // 257: the low byte is 1
  Store(SettingsKeyOf("alice"), "EnablePlugin", REG_DWORD, &zero, 1);
  Store(SettingsKeyOf("alice"), "ESCAction", REG_DWORD, action, 2);
  EXPECT_EQ(Load(u"alice"), (PluginSettings{0, 1, 0}));
}

TEST_F(PreferencesOnTheRealRegistry, ValuesOfOtherTypesOrSizesKeepTheirDefaults) {
  const unsigned long long wide = 1;
  Store(SettingsKeyOf("alice"), "EnablePlugin", REG_SZ, "0", 2);
  Store(SettingsKeyOf("alice"), "ESCAction", REG_QWORD, &wide, 8);
  Store(SettingsKeyOf("alice"), "MinimizeMsgrMainWin", REG_DWORD, &wide, 8);
  EXPECT_EQ(Load(u"alice"), (PluginSettings{1, 0, 0}));
}

// The path then holds two backslashes in a row, which the registry passes over: the settings
// land directly under the host root's "Preferences".
TEST_F(PreferencesOnTheRealRegistry, EmptyUserKeyStoresUnderTheHostRootItself) {
  EXPECT_EQ(Load(u""), (PluginSettings{1, 0, 0}));
  SaveSettings(u"", 0x000100);
  EXPECT_TRUE(KeyExists(std::string(kHostRoot) + "\\Preferences\\Plugins\\tovrel.dll"));
  EXPECT_EQ(Load(u""), (PluginSettings{0, 1, 0}));
}

TEST_F(PreferencesOnTheRealRegistry, UserKeyOutsideTheCodePageIsStoredUnderTheConvertedName) {
  const wchar_t user[] = L"x\u4e2dy";
  char converted[16] = {};
  ASSERT_GT(WideCharToMultiByte(CP_ACP, 0, user, -1, converted, sizeof converted, nullptr, nullptr),
            0);
  SaveSettings(u"x\u4e2dy", 0x010101);
  EXPECT_TRUE(KeyExists(SettingsKeyOf(converted))) << "expected key name " << converted;
  EXPECT_EQ(Load(u"x\u4e2dy"), (PluginSettings{1, 1, 1}));
}

TEST_F(PreferencesOnTheRealRegistry, BackslashInTheUserKeyNestsKeys) {
  SaveSettings(u"team\\alice", 0x000001);
  EXPECT_TRUE(KeyExists(std::string(kHostRoot) + "\\team\\alice\\Preferences"));
  EXPECT_EQ(Load(u"team\\alice"), (PluginSettings{1, 0, 0}));
}

}  // namespace
}  // namespace tovrel
