// The settings key's path built from any user key text: backslashes, unpaired surrogates, NULs,
// characters the ANSI code page lacks, up to 64 KiB of text. SaveSettings and then LoadSettings
// run with it. Neither may leave a key open, a load finds what the save wrote, and when the text
// reaches the registry unchanged the values are under the key that text names.
//
// Input, front to back: 4 bytes the packed settings to save (little-endian), then the user key
// as UTF-16 code units, little-endian; an odd last byte is ignored.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "FakePlatform.hpp"
#include "FuzzInput.hpp"
#include "uPreferences.hpp"

namespace {

using tovrel::PluginSettings;
using tovrel::fake::FakeRegistry;
using tovrel::fake::FakeSystem;
using tovrel::fuzz::FuzzInput;
using tovrel::fuzz::Require;

// The byte of each character of Windows-1252 between 0x80 and 0x9F, which is where the code page
// differs from the first 256 code points. The five bytes the code page leaves undefined keep
// their C1 control points.
struct HighChar {
  char16_t Unit;
  unsigned char Byte;
};
constexpr HighChar kWindows1252High[] = {
    {u'\u20AC', 0x80}, {u'\u0081', 0x81}, {u'\u201A', 0x82}, {u'\u0192', 0x83}, {u'\u201E', 0x84},
    {u'\u2026', 0x85}, {u'\u2020', 0x86}, {u'\u2021', 0x87}, {u'\u02C6', 0x88}, {u'\u2030', 0x89},
    {u'\u0160', 0x8A}, {u'\u2039', 0x8B}, {u'\u0152', 0x8C}, {u'\u008D', 0x8D}, {u'\u017D', 0x8E},
    {u'\u008F', 0x8F}, {u'\u0090', 0x90}, {u'\u2018', 0x91}, {u'\u2019', 0x92}, {u'\u201C', 0x93},
    {u'\u201D', 0x94}, {u'\u2022', 0x95}, {u'\u2013', 0x96}, {u'\u2014', 0x97}, {u'\u02DC', 0x98},
    {u'\u2122', 0x99}, {u'\u0161', 0x9A}, {u'\u203A', 0x9B}, {u'\u0153', 0x9C}, {u'\u009D', 0x9D},
    {u'\u017E', 0x9E}, {u'\u0178', 0x9F}};

// The text as the registry sees it, when it gets there unchanged: every code unit a character of
// the code page (no surrogate, no replacement by the default character) and no NUL, which would
// end the name the registry is given.
std::optional<std::string> ReachesRegistryUnchanged(std::u16string_view text) {
  std::string bytes;
  bytes.reserve(text.size());
  for (const char16_t unit : text) {
    if (unit == 0) return std::nullopt;
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) {
      bytes.push_back(static_cast<char>(unit));
      continue;
    }
    const HighChar* found = nullptr;
    for (const HighChar& c : kWindows1252High) {
      if (c.Unit == unit) found = &c;
    }
    if (found == nullptr) return std::nullopt;
    bytes.push_back(static_cast<char>(found->Byte));
  }
  return bytes;
}

// The registry refuses a path with a key name longer than 255 characters.
bool NamesFitTheRegistry(std::string_view path) {
  std::size_t run = 0;
  for (const char c : path) {
    run = c == '\\' ? 0 : run + 1;
    if (run > 255) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FakeSystem& system = FakeSystem::Get();
  system.Reset();
  FakeRegistry& registry = system.Registry;
  FuzzInput input(data, size);

  const std::uint32_t packed = input.U32();
  const auto rest = input.Rest();
  std::u16string userKey(rest.size() / 2, u'\0');
  for (std::size_t i = 0; i < userKey.size(); ++i) {
    userKey[i] = static_cast<char16_t>(rest[2 * i] | rest[2 * i + 1] << 8);
  }

  tovrel::SaveSettings(userKey, packed);
  Require(registry.OpenKeys() == 0, "saving leaves no key open");
  const std::size_t writes = registry.Writes.size();
  Require(writes == 0 || writes == 3, "a save writes all three values or none");

  PluginSettings loaded{0xA5, 0xA5, 0xA5};
  tovrel::LoadSettings(userKey, loaded);
  Require(registry.OpenKeys() == 0, "loading leaves no key open");
  Require(registry.Writes.size() == writes, "loading writes nothing");

  // What a load must find after the save: the saved fields when the save wrote them (the two
  // flags as 0 or 1), the defaults otherwise.
  const PluginSettings saved = tovrel::UnpackSettings(packed);
  PluginSettings expected = tovrel::kDefaultSettings;
  if (writes == 3) {
    expected.EnablePlugin = saved.EnablePlugin != 0 ? 1 : 0;
    expected.ESCAction = saved.ESCAction;
    expected.MinimizeMsgrMainWin = saved.MinimizeMsgrMainWin != 0 ? 1 : 0;
  }
  Require(loaded == expected, "a load finds what the save wrote, or the defaults");

  const std::optional<std::string> text = ReachesRegistryUnchanged(userKey);
  if (!text) return 0;
  const std::string key =
      "Software\\Quorvel\\MsgPlus2\\" + *text + "\\Preferences\\Plugins\\tovrel.dll";
  if (!NamesFitTheRegistry(key)) {
    Require(writes == 0, "a path the registry refuses gets nothing written anywhere");
    return 0;
  }
  Require(registry.CreatedPaths.size() == 2 && registry.CreatedPaths[0] == key &&
              registry.CreatedPaths[1] == key,
          "both operations open the key the user key's text names");
  Require(writes == 3, "a path the registry takes gets the values");
  Require(registry.Dword(key, "EnablePlugin") == saved.EnablePlugin,
          "EnablePlugin stored as a REG_DWORD of the saved byte under that key");
  Require(registry.Dword(key, "ESCAction") == saved.ESCAction,
          "ESCAction stored as a REG_DWORD of the saved byte under that key");
  Require(registry.Dword(key, "MinimizeMsgrMainWin") == saved.MinimizeMsgrMainWin,
          "MinimizeMsgrMainWin stored as a REG_DWORD of the saved byte under that key");
  return 0;
}
