// tovrel.dll through its exports under the ANSI code page of the run: user identifiers in the
// code page's script, profile names of double-byte characters, characters the code page lacks,
// and the dialog. tools/wine-run gives the run the code page that TOVREL_WINE_CODEPAGE names; the
// program checks it before any test runs (under Wine: on Windows such a run's cases are skipped,
// see TestProgram.hpp).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "DialogDriver.hpp"
#include "DialogGeometry.hpp"
#include "PluginApi.hpp"
#include "SettingsKey.hpp"
#include "UnderWine.hpp"

namespace tovrel {
namespace {

using host::kHostRoot;
using host::PluginApi;
using host::SettingsKeyOf;
using test::User;

constexpr wchar_t kWideRoot[] = L"Software\\Quorvel\\MsgPlus2";
constexpr wchar_t kPluginKey[] = L"\\Preferences\\Plugins\\tovrel.dll";

// The code page this run was set up for; 0 when the runner named none.
UINT RunCodePage() {
  const char* value = std::getenv("TOVREL_WINE_CODEPAGE");
  return value != nullptr ? static_cast<UINT>(std::atoi(value)) : 0;
}

// A run under the wrong code page tests nothing it claims to: every test fails.
class CodePageCheck : public testing::Environment {
 public:
  void SetUp() override {
    const UINT expected = RunCodePage();
    if (expected != 0 && probe::UnderWine()) {
      ASSERT_EQ(GetACP(), expected) << "the run's locale did not give the code page it names";
    }
  }
};
// NOLINTNEXTLINE(cert-err58-cpp): registered before main runs, as GoogleTest provides for.
testing::Environment* const kCodePageCheck =
    testing::AddGlobalTestEnvironment(new CodePageCheck);  // GoogleTest owns it

// Profile names in one code page's script: of different lengths, the longest multibyte, every
// character in the code page. `Outside` has characters the code page lacks. `Invalid` holds
// identifiers as a host might pass them that are no text of the code page.
struct Script {
  UINT CodePage;
  std::vector<std::wstring> Profiles;
  std::wstring Outside;
  std::vector<std::string> Invalid;
};

// Devanagari is in none of the code pages below.
// NOLINTNEXTLINE(cert-err58-cpp): a test table; should building it throw, the program ends.
const Script kScripts[] = {
    // 0x95 0x5C and 0x83 0x5C: a trail byte that is a backslash's byte.
    {932,
     {L"表", L"ソフト", L"日本語ユーザー", L"山田太郎のとても長いプロフィールの名前です"},
     L"x\u0928\u092Ey",
     {"ab\x81", "a\x81\x20z", "a\x80z", "a\xFFz"}},
    {936,
     {L"中", L"用户", L"张三丰", L"一个非常长的中文用户配置文件名称示例"},
     L"x\u0928\u092Ey",
     {"ab\x81", "a\x81\x20z", "a\xFFz"}},
    {949,
     {L"한", L"사용자", L"김철수님", L"아주긴한국어사용자프로필이름입니다"},
     L"x\u0928\u092Ey",
     {"ab\x81", "a\x81\x20z", "a\x80z", "a\xFFz"}},
    {1251,
     {L"Я", L"Иван", L"Пользователь", L"ОченьДлинноеИмяПрофиляПользователя"},
     L"x\u0928\u092Ey",
     {"a\x98z"}},
    {1252, {L"é", L"Müller", L"Françoise", L"ÆøåÄöüßÉèêëÀàâÎïÔœÙûüÿçÑñ"}, L"x\u0928\u092Ey", {}},
};

std::string Ansi(const std::wstring& text, bool* replaced = nullptr) {
  BOOL usedDefault = FALSE;
  const int size = WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(std::max(size, 0)), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), out.data(), size,
                      nullptr, &usedDefault);
  if (replaced != nullptr) *replaced = usedDefault != FALSE;
  return out;
}

std::wstring Wide(const std::string& text) {
  const int size =
      MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(std::max(size, 0)), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), out.data(), size);
  return out;
}

std::string Hex(const std::wstring& text) {
  std::string out;
  char unit[8];
  for (wchar_t c : text) {
    std::snprintf(unit, sizeof unit, "%s%04X", out.empty() ? "" : " ", static_cast<unsigned>(c));
    out += unit;
  }
  return out;
}

// The names of a key's direct subkeys, as the wide interface gives them, sorted.
std::vector<std::wstring> Subkeys(const std::wstring& path) {
  std::vector<std::wstring> names;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return names;
  }
  wchar_t name[256];
  for (DWORD index = 0;; ++index) {
    DWORD length = 256;
    if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    names.emplace_back(name, length);
  }
  RegCloseKey(key);
  std::sort(names.begin(), names.end());
  return names;
}

// Everything under a key: each subkey's path, and each value's path with its type and data.
using Snapshot = std::map<std::wstring, std::string>;

void Take(HKEY parent, const std::wstring& path, Snapshot& out) {  // NOLINT(misc-no-recursion)
  HKEY key = nullptr;
  if (RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  out[path] = "key";
  wchar_t name[16384];
  BYTE data[64];
  for (DWORD index = 0;; ++index) {
    DWORD length = 16384;
    DWORD type = 0;
    DWORD size = sizeof data;
    if (RegEnumValueW(key, index, name, &length, nullptr, &type, data, &size) != ERROR_SUCCESS) {
      break;
    }
    std::string text = std::to_string(type) + ":";
    for (DWORD i = 0; i < size; ++i) text += std::to_string(data[i]) + ",";
    out[path + L"|" + std::wstring(name, length)] = text;
  }
  for (const std::wstring& child : Subkeys(path)) Take(parent, path + L"\\" + child, out);
  RegCloseKey(key);
}

Snapshot Take() {
  Snapshot snapshot;
  Take(HKEY_CURRENT_USER, kWideRoot, snapshot);
  return snapshot;
}

// The three values under a profile, read through the wide interface, -1 for each one missing;
// "missing" without the key.
std::string Stored(const std::wstring& profile) {
  const std::wstring path = std::wstring(kWideRoot) + L"\\" + profile + kPluginKey;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return "missing";
  }
  std::string text;
  for (const wchar_t* name : {L"EnablePlugin", L"ESCAction", L"MinimizeMsgrMainWin"}) {
    DWORD value = 0;
    DWORD size = sizeof value;
    const bool read =
        RegGetValueW(key, nullptr, name, RRF_RT_REG_DWORD, nullptr, &value, &size) == ERROR_SUCCESS;
    if (!text.empty()) text.push_back(',');
    text.append(read ? std::to_string(value) : "-1");
  }
  RegCloseKey(key);
  return text;
}

using test::ConfigureAs;

bool Checked(const User& u, const char* text) {
  return SendMessageA(u.Child("Button", text), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

class CodePageTest : public testing::Test {
 protected:
  void SetUp() override {
    const auto found = std::find_if(std::begin(kScripts), std::end(kScripts),
                                    [](const Script& s) { return s.CodePage == GetACP(); });
    if (found == std::end(kScripts)) GTEST_SKIP() << "no script for code page " << GetACP();
    script_ = &*found;
    for (const std::wstring& profile : script_->Profiles) {
      bool replaced = true;
      Ansi(profile, &replaced);
      ASSERT_FALSE(replaced) << Hex(profile) << " is not all in code page " << GetACP();
    }
    RegDeleteTreeA(HKEY_CURRENT_USER, kHostRoot);
    ASSERT_TRUE(plugin_.Load());
  }
  void TearDown() override {
    if (plugin_.Module != nullptr) {
      plugin_.Uninitialize();
      plugin_.Unload();
    }
    RegDeleteTreeA(HKEY_CURRENT_USER, kHostRoot);
  }

  const Script* script_ = nullptr;
  PluginApi plugin_;
};

// Values stored beforehand under exactly the identifier's bytes are the ones loaded, and OK
// writes under exactly that key and nowhere else.
TEST_F(CodePageTest, IdentifierInTheScript_LoadsAndSavesExactlyItsKey) {
  for (const std::wstring& profile : script_->Profiles) {
    SCOPED_TRACE(Hex(profile));
    RegDeleteTreeA(HKEY_CURRENT_USER, kHostRoot);
    const std::string identifier = Ansi(profile);
    ASSERT_TRUE(host::WriteSettings(identifier, 0, 1, 1));
    ASSERT_EQ(Subkeys(kWideRoot), std::vector<std::wstring>{profile}) << "stored by its bytes";
    ASSERT_EQ(plugin_.Initialize(0, identifier.c_str(), 0), 1u);

    Snapshot expected = Take();
    ConfigureAs(plugin_, [](User& u) {
      EXPECT_FALSE(Checked(u, "Enable plugin")) << "the stored settings were loaded";
      EXPECT_EQ(SendMessageA(u.Child("ComboBox", nullptr), CB_GETCURSEL, 0, 0), 1);
      EXPECT_TRUE(Checked(u, "Minimize Messenger main window too"));
      u.Click("Enable plugin");
      u.Click("OK");
    });
    expected[std::wstring(kWideRoot) + L"\\" + profile + kPluginKey + L"|EnablePlugin"] =
        "4:1,0,0,0,";
    EXPECT_EQ(Take(), expected) << "EnablePlugin of that profile is the only change";
    EXPECT_EQ(plugin_.Uninitialize(), 1u);
  }
}

// Every profile receives the three values, whatever the length of its name in bytes; a profile
// whose name has characters outside the code page gets none, and no key is made for the name
// the 8-bit interface shows instead.
TEST_F(CodePageTest, ApplyToAllProfiles_EveryNameReceivesTheValues_NoKeyIsMade) {
  std::vector<std::wstring> keys = script_->Profiles;
  keys.push_back(script_->Outside);
  std::sort(keys.begin(), keys.end());
  for (const std::wstring& name : keys) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (std::wstring(kWideRoot) + L"\\" + name).c_str(),
                              0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }
  const std::string user = Ansi(script_->Profiles.front());
  ASSERT_EQ(plugin_.Initialize(0, user.c_str(), 0), 1u);
  ConfigureAs(plugin_, [](const User& u) {
    ASSERT_TRUE(u.NextActionByKey(1));  // the second item: minimize IM window
    u.Click("Minimize Messenger main window too");
    u.Click("Set this configuration as default for all users");
    u.Click("OK");
  });
  for (const std::wstring& profile : script_->Profiles) {
    EXPECT_EQ(Stored(profile), "1,1,1") << Hex(profile);
  }
  EXPECT_EQ(Subkeys(kWideRoot), keys) << "no key made under the host's root";
  EXPECT_TRUE(Subkeys(std::wstring(kWideRoot) + L"\\" + script_->Outside).empty())
      << "nothing written for the name outside the code page";
}

// An identifier that is no text of the code page: the conversion replaces what it cannot read,
// Initialize still answers 1, and the settings key is made under the name the converted text
// names in 8 bits again. Under Wine 8 (each run prints what it found):
//   932: "ab" + lone lead 0x81 -> "ab" U+30FB; lead 0x81 + 0x20 -> U+30FB, the space taken
//        with it; 0x80 -> U+0080; 0xFF -> U+F8F3 (private use)
//   936: the lone lead byte and the lead byte before 0x20 -> "?" (the space taken with it);
//        0xFF -> U+F8F5
//   949: as 936, 0x80 -> U+0080, 0xFF -> U+F8F7
//   1251: 0x98 -> U+0098
// Each of these converts back to the same bytes, so the key holds the replacement characters.
TEST_F(CodePageTest, IdentifierOutsideTheCodePage_InitializeAnswers1_KeyAsConverted) {
  for (const std::string& identifier : script_->Invalid) {
    RegDeleteTreeA(HKEY_CURRENT_USER, kHostRoot);
    const std::wstring read = Wide(identifier);
    const std::wstring named = Wide(Ansi(read));  // back to 8 bits, as the registry reads it
    SCOPED_TRACE(Hex(read));
    ASSERT_EQ(plugin_.Initialize(0, identifier.c_str(), 0), 1u);
    EXPECT_EQ(plugin_.Uninitialize(), 1u);
    const std::vector<std::wstring> made = Subkeys(kWideRoot);
    std::printf("code page %u: identifier read as %s, key made: %s\n", GetACP(), Hex(read).c_str(),
                made.empty() ? "none" : Hex(made.front()).c_str());
    EXPECT_EQ(made, std::vector<std::wstring>{named});
    EXPECT_EQ(Stored(named), "-1,-1,-1") << "the settings key, made empty";
  }
}

// The dialog under the code page: it opens, holds together, and Cancel and OK work.
TEST_F(CodePageTest, TheDialogOpensHoldsTogether_CancelAndOKWork) {
  const std::wstring& profile = script_->Profiles.back();
  const std::string identifier = Ansi(profile);
  ASSERT_TRUE(host::WriteSettings(identifier, 1, 0, 0));
  ASSERT_EQ(plugin_.Initialize(0, identifier.c_str(), 0), 1u);
  ConfigureAs(plugin_, [&](User& u) {
    for (const std::string& fault : test::LayoutFaults(u.Dialog)) ADD_FAILURE() << fault;
    const std::string png = "config-dialog-cp" + std::to_string(GetACP()) + ".png";
    EXPECT_TRUE(test::SaveDialogPng(u.Dialog, png)) << png;
    u.Click("Enable plugin");
    u.Click("Cancel");
  });
  EXPECT_EQ(Stored(profile), "1,0,0") << "Cancel changes nothing";
  ConfigureAs(plugin_, [](const User& u) {
    u.Click("Enable plugin");
    u.Click("OK");
  });
  EXPECT_EQ(Stored(profile), "0,0,0");
}

}  // namespace
}  // namespace tovrel
