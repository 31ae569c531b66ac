#include "uPreferences.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PluginFixture.hpp"

namespace tovrel {
namespace {

using fake::RegOp;
using Bytes = std::vector<unsigned char>;

constexpr char kKey[] = "Software\\Quorvel\\MsgPlus2\\alice\\Preferences\\Plugins\\tovrel.dll";

class PreferencesTest : public RegistryTest {
 protected:
  static PluginSettings Load(std::u16string_view user = u"alice") {
    PluginSettings settings{0xEE, 0xEE, 0xEE};  // whatever the caller had is overwritten
    LoadSettings(user, settings);
    return settings;
  }
};

struct StoredValue {
  const char* Name;
  const char* Value;
  std::uint32_t Type;
  Bytes Data;
  PluginSettings Expected;
};

Bytes Dword(std::uint32_t v) {
  return fake::DwordBytes(v);
}

// A test table: should building it ever throw, the test program ends at once, as it should.
// NOLINTNEXTLINE(cert-err58-cpp)
const StoredValue kStoredValues[] = {
    {"EnableZero", "EnablePlugin", fake::kRegDword, Dword(0), {0, 0, 0}},
    {"EnableSeven", "EnablePlugin", fake::kRegDword, Dword(7), {1, 0, 0}},
    {"EnableAllBits", "EnablePlugin", fake::kRegDword, Dword(0xFFFFFFFF), {1, 0, 0}},
    {"EnableAsTextZero", "EnablePlugin", fake::kRegSz, {'0', 0}, {1, 0, 0}},
    {"EnableAsBinaryZero", "EnablePlugin", fake::kRegBinary, Dword(0), {1, 0, 0}},
    {"ActionOne", "ESCAction", fake::kRegDword, Dword(1), {1, 1, 0}},
    {"Action256", "ESCAction", fake::kRegDword, Dword(256), {1, 0, 0}},
    {"Action257", "ESCAction", fake::kRegDword, Dword(257), {1, 1, 0}},
    {"ActionTwo", "ESCAction", fake::kRegDword, Dword(2), {1, 2, 0}},
    {"ActionAllBits", "ESCAction", fake::kRegDword, Dword(0xFFFFFFFF), {1, 255, 0}},
    {"ActionAsQword", "ESCAction", fake::kRegQword, {1, 0, 0, 0, 0, 0, 0, 0}, {1, 0, 0}},
    {"ActionDwordWithEightBytes",
     "ESCAction",
     fake::kRegDword,
     {1, 0, 0, 0, 0, 0, 0, 0},
     {1, 0, 0}},
    {"MainWindowOne", "MinimizeMsgrMainWin", fake::kRegDword, Dword(1), {1, 0, 1}},
    {"MainWindowHighBitOnly", "MinimizeMsgrMainWin", fake::kRegDword, Dword(0x80000000), {1, 0, 1}},
    // A REG_DWORD of fewer than 4 bytes reads as its bytes with the missing ones zero.
    {"ShortDwordOneByte", "EnablePlugin", fake::kRegDword, {0}, {0, 0, 0}},
    {"ShortDwordTwoBytes", "ESCAction", fake::kRegDword, {1, 1}, {1, 1, 0}},
    {"EmptyDword", "ESCAction", fake::kRegDword, {}, {1, 0, 0}},
};

class StoredValueTest : public PreferencesTest, public testing::WithParamInterface<StoredValue> {};

TEST_P(StoredValueTest, LoadsAsTheStoreSays) {
  const StoredValue& row = GetParam();
  registry_.SetValue(kKey, row.Value, row.Type, row.Data);
  EXPECT_EQ(Load(), row.Expected);
}

INSTANTIATE_TEST_SUITE_P(Rows, StoredValueTest, testing::ValuesIn(kStoredValues),
                         [](const testing::TestParamInfo<StoredValue>& r) { return r.param.Name; });

TEST_F(PreferencesTest, MissingKey_GivesDefaultsAndLeavesTheEmptyKeyBehind) {
  EXPECT_EQ(Load(), (PluginSettings{1, 0, 0}));
  EXPECT_TRUE(registry_.KeyExists(kKey));
  EXPECT_EQ(registry_.ValueCount(kKey), 0u);
}

// How the settings key is opened for loading: with full access, and when that is refused, for
// reading. Every other failure leaves the defaults.
TEST_F(PreferencesTest, KeyOpening_ReadsWhenFullAccessIsRefused) {
  constexpr long kNoResources = 1450;  // ERROR_NO_SYSTEM_RESOURCES
  const struct {
    const char* Name;
    bool Stored;       // the key exists, holding all three values
    long CreateError;  // how opening with full access fails; 0: the key is read-only
    bool ReadFails;    // opening to read fails as well
    PluginSettings Expected;
    int ReadOpens;
  } rows[] = {
      {"read-only key", true, 0, false, {0, 1, 1}, 1},
      {"full access refused", true, fake::kErrorAccessDenied, false, {0, 1, 1}, 1},
      {"refused, and reading too", true, fake::kErrorAccessDenied, true, {1, 0, 0}, 1},
      {"refused, no key", false, fake::kErrorAccessDenied, false, {1, 0, 0}, 1},
      {"another failure", true, kNoResources, false, {1, 0, 0}, 0},
      {"path refused", true, fake::kErrorInvalidParameter, false, {1, 0, 0}, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Name);
    fake::FakeSystem::Get().Reset();
    if (row.Stored) {
      registry_.SetDword(kKey, "EnablePlugin", 0);
      registry_.SetDword(kKey, "ESCAction", 1);
      registry_.SetDword(kKey, "MinimizeMsgrMainWin", 1);
    }
    if (row.CreateError == 0) {
      registry_.SetReadOnly(kKey);
    } else {
      registry_.FailCall(RegOp::CreateKey, 1, row.CreateError);
    }
    if (row.ReadFails) registry_.FailCall(RegOp::ReadKey);
    EXPECT_EQ(Load(), row.Expected);
    EXPECT_EQ(registry_.Calls(RegOp::ReadKey), row.ReadOpens);
    EXPECT_EQ(registry_.KeyExists(kKey), row.Stored) << "a key is made only with full access";
    EXPECT_EQ(registry_.OpenKeys(), 0);
    EXPECT_TRUE(registry_.Writes.empty());
  }
}

// The user may read the settings but not modify them: loading reads them, saving writes nothing.
TEST_F(PreferencesTest, ReadOnlyKey_LoadsItsValuesAndSaveLeavesThem) {
  registry_.SetDword(kKey, "ESCAction", 1);
  registry_.SetDword(kKey, "MinimizeMsgrMainWin", 1);
  registry_.SetReadOnly(kKey);
  EXPECT_EQ(Load(), (PluginSettings{1, 1, 1}));
  SaveSettings(u"alice", 0x000000);
  EXPECT_TRUE(registry_.Writes.empty());
  EXPECT_EQ(registry_.Calls(RegOp::ReadKey), 1) << "saving never opens the key to read";
  EXPECT_EQ(Load(), (PluginSettings{1, 1, 1}));
}

// A user key the user may not modify: no settings key can be made under it, and none is.
TEST_F(PreferencesTest, KeyThatCannotBeCreated_IsNotCreated) {
  const std::string userKey = "Software\\Quorvel\\MsgPlus2\\alice";
  registry_.SetReadOnly(userKey);
  EXPECT_EQ(Load(), (PluginSettings{1, 0, 0}));
  SaveSettings(u"alice", 0x010101);
  EXPECT_FALSE(registry_.KeyExists(userKey + "\\Preferences"));
  EXPECT_TRUE(registry_.Writes.empty());
  EXPECT_EQ(registry_.Calls(RegOp::ReadKey), 1);
}

TEST_F(PreferencesTest, OneUnreadableValueDoesNotStopTheNext) {
  registry_.SetDword(kKey, "EnablePlugin", 0);
  registry_.SetDword(kKey, "ESCAction", 1);
  registry_.SetDword(kKey, "MinimizeMsgrMainWin", 1);
  const PluginSettings expected[] = {{1, 1, 1}, {0, 0, 1}, {0, 1, 0}};
  for (int failing = 1; failing <= 3; ++failing) {
    SCOPED_TRACE(failing);
    registry_.FailCall(RegOp::QueryValue, failing);
    EXPECT_EQ(Load(), expected[failing - 1]);
  }
}

TEST_F(PreferencesTest, Save_WritesThreeDwordsAndIgnoresBits24To31) {
  SaveSettings(u"alice", 0xAB01FF01);
  EXPECT_EQ(registry_.Dword(kKey, "EnablePlugin"), 1u);
  EXPECT_EQ(registry_.Dword(kKey, "ESCAction"), 255u);
  EXPECT_EQ(registry_.Dword(kKey, "MinimizeMsgrMainWin"), 1u);
  const std::vector<std::string> first = registry_.Writes;

  registry_.Writes.clear();
  SaveSettings(u"alice", 0x0001FF01);
  EXPECT_EQ(registry_.Writes, first) << "the same three values, whatever bits 24-31 hold";
  EXPECT_EQ(Load(), (PluginSettings{1, 255, 1}));
}

TEST_F(PreferencesTest, Save_KeepsValuesOfOtherNames) {
  registry_.SetValue(kKey, "SomeoneElses", fake::kRegSz, {'x', 0});
  SaveSettings(u"alice", 0x000000);
  ASSERT_NE(registry_.Value(kKey, "SomeoneElses"), nullptr);
  EXPECT_EQ(registry_.ValueCount(kKey), 4u);
  EXPECT_EQ(Load(), (PluginSettings{0, 0, 0}));
}

TEST_F(PreferencesTest, Save_AFailedWriteDoesNotStopTheNext) {
  registry_.FailCall(RegOp::SetValue, 2);
  SaveSettings(u"alice", 0x010101);
  EXPECT_EQ(registry_.Dword(kKey, "EnablePlugin"), 1u);
  EXPECT_EQ(registry_.Value(kKey, "ESCAction"), nullptr);
  EXPECT_EQ(registry_.Dword(kKey, "MinimizeMsgrMainWin"), 1u);
}

TEST_F(PreferencesTest, Save_WhenTheKeyCannotBeOpened_WritesNothing) {
  registry_.FailCall(RegOp::CreateKey);
  SaveSettings(u"alice", 0x010101);
  EXPECT_TRUE(registry_.Writes.empty());
}

TEST_F(PreferencesTest, KeyPathIsBuiltExactly) {
  const struct {
    std::u16string_view User;
    const char* Path;
  } rows[] = {
      {u"alice", "Software\\Quorvel\\MsgPlus2\\alice\\Preferences\\Plugins\\tovrel.dll"},
      {u"", "Software\\Quorvel\\MsgPlus2\\\\Preferences\\Plugins\\tovrel.dll"},
      {u"a\\b", "Software\\Quorvel\\MsgPlus2\\a\\b\\Preferences\\Plugins\\tovrel.dll"},
      {u"caf\u00e9", "Software\\Quorvel\\MsgPlus2\\caf\xe9\\Preferences\\Plugins\\tovrel.dll"},
      {u"\u4e2d\u6587", "Software\\Quorvel\\MsgPlus2\\??\\Preferences\\Plugins\\tovrel.dll"},
  };
  for (const auto& row : rows) {
    registry_.CreatedPaths.clear();
    Load(row.User);
    SaveSettings(row.User, 0);
    EXPECT_EQ(registry_.CreatedPaths, (std::vector<std::string>{row.Path, row.Path}));
  }
  EXPECT_TRUE(registry_.KeyExists("Software\\Quorvel\\MsgPlus2\\a\\b\\Preferences"));
}

// The user key in a double-byte code page: values stored under exactly its bytes are loaded,
// and a trail byte that is a backslash's byte (0x81 0x5C) nests no key.
TEST_F(PreferencesTest, DoubleByteUserKey_NamesExactlyItsKey) {
  fake::FakeSystem::Get().AnsiCodePage = fake::kDoubleByteCodePage;
  const std::u16string user = u"\u4e1c\u4e2d\u6587";
  const std::string bytes = "\x81\x5c\x81\x6d\xa0\xc6";
  ASSERT_EQ(fake::AnsiText(user), bytes);
  const std::string key =
      "Software\\Quorvel\\MsgPlus2\\" + bytes + "\\Preferences\\Plugins\\tovrel.dll";
  registry_.SetDword(key, "ESCAction", 1);
  EXPECT_EQ(Load(user), (PluginSettings{1, 1, 0}));
  SaveSettings(user, 0x010000);
  EXPECT_EQ(registry_.Dword(key, "MinimizeMsgrMainWin"), 1u);
  EXPECT_EQ(registry_.SubkeyNames("Software\\Quorvel\\MsgPlus2"),
            (std::vector<std::u16string>{user}));
  EXPECT_EQ(registry_.CreatedPaths, (std::vector<std::string>{key, key}));
}

TEST_F(PreferencesTest, EmptyUserKey_TheRegistryPassesOverTheEmptyComponent) {
  SaveSettings(u"", 0x000100);
  EXPECT_EQ(
      registry_.Dword("Software\\Quorvel\\MsgPlus2\\Preferences\\Plugins\\tovrel.dll", "ESCAction"),
      1u);
  EXPECT_EQ(Load(u""), (PluginSettings{0, 1, 0}));
}

TEST_F(PreferencesTest, OutOfMemoryWhileBuildingThePath_DefaultsAndNoWrite) {
  registry_.SetDword(kKey, "EnablePlugin", 0);
  test::FailAllocations(1);
  PluginSettings settings{0xEE, 0xEE, 0xEE};
  LoadSettings(u"alice", settings);
  SaveSettings(u"alice", 0x010101);
  EXPECT_GT(test::RefusedAllocations(), 0);
  test::FailAllocations(0);
  EXPECT_EQ(settings, (PluginSettings{1, 0, 0}));
  EXPECT_TRUE(registry_.Writes.empty());
}

}  // namespace
}  // namespace tovrel
