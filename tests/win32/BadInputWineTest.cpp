// What the host, the registry and the user may hand tovrel.dll, through its exports on the real
// platform: each with the outcome asserted.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "DialogDriver.hpp"
#include "KeyAccess.hpp"
#include "KeyProbe.hpp"
#include "PluginApi.hpp"
#include "SettingsKey.hpp"

namespace tovrel {
namespace {

using host::PluginApi;
using test::User;

using host::kHostRoot;
using host::SettingsKeyOf;

// The settings the dialog shows: what the module holds after Initialize.
struct Shown {
  bool Enabled;
  LRESULT Action;
  bool MainToo;
};

Shown ShownInDialog(PluginApi& plugin) {
  Shown shown{};
  test::ConfigureAs(plugin, [&](const User& user) {
    shown.Enabled = SendMessageA(user.Child("Button", "Enable plugin"), BM_GETCHECK, 0, 0) != 0;
    shown.Action = SendMessageA(user.Child("ComboBox", nullptr), CB_GETCURSEL, 0, 0);
    shown.MainToo = SendMessageA(user.Child("Button", "Minimize Messenger main window too"),
                                 BM_GETCHECK, 0, 0) != 0;
    user.Click("Cancel");
  });
  return shown;
}

class BadInputTest : public testing::Test {
 protected:
  void SetUp() override {
    RegDeleteTreeA(HKEY_CURRENT_USER, kHostRoot);
    ASSERT_TRUE(plugin_.Load());
  }
  void TearDown() override {
    plugin_.Uninitialize();
    plugin_.Unload();
    RegDeleteTreeA(HKEY_CURRENT_USER, kHostRoot);
  }
  PluginApi plugin_;
};

TEST_F(BadInputTest, UserIdentifiers_LongOddOrMissing_StillInitializeAndHook) {
  const std::string longest(64 * 1024, 'x');
  const std::string slashes(300, '\\');
  std::string high;
  for (int c = 128; c < 256; ++c) high.push_back(static_cast<char>(c));
  const char* identifiers[] = {longest.c_str(), slashes.c_str(), high.c_str(), "", nullptr};
  for (const char* identifier : identifiers) {
    SCOPED_TRACE(identifier == nullptr ? std::string("null")
                                       : std::to_string(std::strlen(identifier)) + " bytes");
    EXPECT_EQ(plugin_.Initialize(0, identifier, 0), 1u);
    probe::ProbeWindow window("IMWindowClass");
    ASSERT_TRUE(window.BringToFront());
    const probe::EscapeOutcome outcome = probe::SendEscape(window);
    EXPECT_TRUE(outcome.Completed);
    EXPECT_FALSE(outcome.PressDelivered) << "hooked, with the defaults";
    EXPECT_EQ(plugin_.Uninitialize(), 1u);
  }
  // Bytes above 127 name a key of their own: what is stored there is found again.
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, SettingsKeyOf(high).c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const DWORD one = 1;
  RegSetValueExA(key, "ESCAction", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4);
  RegCloseKey(key);
  plugin_.Initialize(0, high.c_str(), 0);
  EXPECT_EQ(ShownInDialog(plugin_).Action, 1);
}

TEST_F(BadInputTest, GarbageArgumentsAreNeverRead) {
  char buffer[16];
  const std::uint32_t garbage[] = {0, 1, 0xFFFFFFFF, 0xDEADBEEF, 0x80000000};
  for (std::uint32_t g : garbage) {
    EXPECT_EQ(plugin_.ParseCommand(g, g, g, g), 0u);
    EXPECT_EQ(plugin_.PublishInfo(buffer, g, g) & 0xFF, 1u);
    EXPECT_STREQ(buffer, "Tovrel plugin");
    EXPECT_EQ(plugin_.Initialize(g, "garbage", g), 1u);
    EXPECT_EQ(plugin_.Uninitialize(), 1u);
  }
}

TEST_F(BadInputTest, RegistryValuesOfEveryType_OnlyAShortDwordIsRead) {
  struct Row {
    const char* Name;
    DWORD Type;
    std::vector<BYTE> Data;
    bool Read;  // read as the value's bytes; otherwise the default stays
  };
  const std::vector<Row> rows = {
      {"REG_DWORD", REG_DWORD, {0, 0, 0, 0}, true},
      {"REG_DWORD, 1 byte", REG_DWORD, {0}, true},
      {"REG_DWORD, 8 bytes", REG_DWORD, {0, 0, 0, 0, 0, 0, 0, 0}, false},
      {"REG_DWORD, empty", REG_DWORD, {}, true},
      {"REG_SZ", REG_SZ, {'0', 0}, false},
      {"REG_EXPAND_SZ", REG_EXPAND_SZ, {'0', 0}, false},
      {"REG_MULTI_SZ", REG_MULTI_SZ, {'0', 0, 0}, false},
      {"REG_BINARY", REG_BINARY, {0, 0, 0, 0}, false},
      {"REG_DWORD_BIG_ENDIAN", REG_DWORD_BIG_ENDIAN, {0, 0, 0, 0}, false},
      {"REG_QWORD", REG_QWORD, {0, 0, 0, 0, 0, 0, 0, 0}, false},
      {"REG_NONE", REG_NONE, {0, 0, 0, 0}, false},
      {"REG_LINK", REG_LINK, {0, 0, 0, 0}, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Name);
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, SettingsKeyOf("grace").c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    // EnablePlugin as this type with bytes that read as 0 (the default is 1); the action and
    // the main window box as plain 1 (their defaults are 0).
    RegSetValueExA(key, "EnablePlugin", 0, row.Type, row.Data.data(),
                   static_cast<DWORD>(row.Data.size()));
    const DWORD one = 1;
    RegSetValueExA(key, "ESCAction", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4);
    RegSetValueExA(key, "MinimizeMsgrMainWin", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one),
                   4);
    RegCloseKey(key);
    plugin_.Initialize(0, "grace", 0);
    const Shown shown = ShownInDialog(plugin_);
    EXPECT_EQ(shown.Enabled, !row.Read);
    EXPECT_EQ(shown.Action, 1) << "the other values are read all the same";
    EXPECT_TRUE(shown.MainToo);
    plugin_.Uninitialize();
  }
}

// The key's stored values are read although full access to it is refused.
TEST_F(BadInputTest, SettingsKeyTheUserMayReadButNotModify) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, SettingsKeyOf("heidi").c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const DWORD one = 1;
  RegSetValueExA(key, "ESCAction", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4);
  RegCloseKey(key);
  // Everyone may read the key; nobody may write it.
  const test::ReadOnlyKey readOnly(SettingsKeyOf("heidi"));
  ASSERT_EQ(readOnly.Status(), ERROR_SUCCESS);
  ASSERT_TRUE(readOnly.FullAccessRefused());

  EXPECT_EQ(plugin_.Initialize(0, "heidi", 0), 1u);
  EXPECT_EQ(ShownInDialog(plugin_).Action, 1);
}

}  // namespace
}  // namespace tovrel
