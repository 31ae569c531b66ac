#include "uPreferences.hpp"

#include "AnsiText.hpp"
#include "platform/platform.hpp"

namespace tovrel {

namespace {

using platform::OwnedRegKey;

constexpr std::u16string_view kHostRoot = u"\\Software\\Quorvel\\MsgPlus2\\";
constexpr std::u16string_view kPluginsLevel = u"\\Preferences\\Plugins\\";
constexpr std::u16string_view kPluginKey = u"tovrel.dll";  // fixed, whatever the file is called

constexpr char kEnablePlugin[] = "EnablePlugin";
constexpr char kESCAction[] = "ESCAction";
constexpr char kMinimizeMsgrMainWin[] = "MinimizeMsgrMainWin";

// The settings key's path as the registry gets it: joined in UTF-16 and converted to the ANSI code
// page, still with the leading backslash. The user key goes in unchanged: a backslash in it nests
// keys, and an empty one leaves two backslashes in a row for the registry to judge. False when
// memory runs out or the text cannot be converted.
bool SettingsKeyPath(std::u16string_view userKey, Text& path) noexcept {
  Text16 wide;
  if (!wide.Append(kHostRoot) || !wide.Append(userKey) || !wide.Append(kPluginsLevel) ||
      !wide.Append(kPluginKey)) {
    return false;
  }
  return ToAnsi(wide, path) && path.c_str()[0] == '\\';
}

enum class Access { Full, ReadIfRefused };

// Opens the settings key with full access, creating it (and every missing key along the path)
// when missing. With ReadIfRefused, a key whose full access is refused, one the user may read but
// not modify, is opened for reading instead; nothing is created then.
bool OpenSettingsKey(std::u16string_view userKey, Access access, OwnedRegKey& key) noexcept {
  Text path;
  if (!SettingsKeyPath(userKey, path)) return false;
  const char* const relative = path.c_str() + 1;
  platform::RegStatus status =
      platform::CreateRegistryKey(platform::kCurrentUser, relative, key.Put());
  if (status == platform::kRegAccessDenied && access == Access::ReadIfRefused) {
    status = platform::OpenRegistryKeyToRead(platform::kCurrentUser, relative, key.Put());
  }
  return status == platform::kRegSuccess;
}

// A read counts only for a REG_DWORD of at most 4 bytes. The buffer starts zeroed, so a
// REG_DWORD stored with fewer bytes reads as those bytes, little-endian, with the missing high
// bytes zero.
bool ReadDword(const OwnedRegKey& key, const char* name, std::uint32_t& value) noexcept {
  unsigned char data[4] = {0, 0, 0, 0};
  std::uint32_t type = 0;
  std::uint32_t size = sizeof data;
  if (platform::QueryRegistryValue(key.Get(), name, &type, data, &size) != platform::kRegSuccess ||
      type != platform::kRegDword || size > sizeof data) {
    return false;
  }
  value = static_cast<std::uint32_t>(data[0]) | static_cast<std::uint32_t>(data[1]) << 8 |
          static_cast<std::uint32_t>(data[2]) << 16 | static_cast<std::uint32_t>(data[3]) << 24;
  return true;
}

void WriteDword(const OwnedRegKey& key, const char* name, std::uint32_t value) noexcept {
  const unsigned char data[4] = {
      static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
      static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
  // A failed write is skipped; the next value is still written.
  platform::SetRegistryValue(key.Get(), name, platform::kRegDword, data, sizeof data);
}

}  // namespace

void LoadSettings(std::u16string_view userKey, PluginSettings& settings) noexcept {
  settings = kDefaultSettings;
  OwnedRegKey key;
  // Out of memory while building the path: the defaults stand.
  if (!OpenSettingsKey(userKey, Access::ReadIfRefused, key)) return;
  std::uint32_t value = 0;
  if (ReadDword(key, kEnablePlugin, value)) settings.EnablePlugin = value != 0 ? 1 : 0;
  if (ReadDword(key, kESCAction, value)) settings.ESCAction = static_cast<std::uint8_t>(value);
  if (ReadDword(key, kMinimizeMsgrMainWin, value)) {
    settings.MinimizeMsgrMainWin = value != 0 ? 1 : 0;
  }
}

void SaveSettings(std::u16string_view userKey, PackedSettings settings) noexcept {
  OwnedRegKey key;
  // Out of memory while building the path: nothing is written.
  if (!OpenSettingsKey(userKey, Access::Full, key)) return;
  const PluginSettings fields = UnpackSettings(settings);
  WriteDword(key, kEnablePlugin, fields.EnablePlugin);
  WriteDword(key, kESCAction, fields.ESCAction);
  WriteDword(key, kMinimizeMsgrMainWin, fields.MinimizeMsgrMainWin);
}

}  // namespace tovrel
