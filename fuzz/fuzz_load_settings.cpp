// LoadSettings against whatever the settings key may hold: each of the three values missing or
// stored with any type and 0 to 64 bytes of any content, under its name in any letter case, next
// to look-alike values; the key itself sometimes refused, or only readable. The result is checked
// against the store's reading rule, stated here on its own: a key whose full access is refused is
// still read.
//
// Input, front to back (fields past the end read as zero):
//   byte      key: 1 opening it with full access fails (with the error in the next 2 bytes),
//             2 it is read-only, anything else it opens
//   for each of EnablePlugin, ESCAction, MinimizeMsgrMainWin:
//     byte    bit 0 stored at all; bit 1 another type than REG_DWORD, given in the next 4 bytes
//     byte    letters of the name whose case is flipped (bit i: letters i, i+8, ...)
//     byte    data size, taken modulo 65
//     bytes   the data
//   byte      look-alike value: bit 0 present; the rest picks its name and key
#include <cctype>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "FakePlatform.hpp"
#include "FuzzInput.hpp"
#include "uPreferences.hpp"

namespace {

using tovrel::PluginSettings;
using tovrel::fake::FakeRegistry;
using tovrel::fake::FakeSystem;
using tovrel::fuzz::FuzzInput;
using tovrel::fuzz::Require;

constexpr char kUserKey[] = "fuzzer";
constexpr char16_t kUserKeyWide[] = u"fuzzer";
const std::string kSettingsKey =
    std::string("Software\\Quorvel\\MsgPlus2\\") + kUserKey + "\\Preferences\\Plugins\\tovrel.dll";

constexpr std::uint32_t kDwordType = 4;

struct Stored {
  bool Present = false;
  std::uint32_t Type = 0;
  std::vector<unsigned char> Data;
};

// The reading rule. A value counts only when it is a REG_DWORD whose data fits in 4 bytes; its
// number is the data read as a little-endian unsigned number, so fewer than 4 bytes leave the
// high bytes zero and no bytes at all read as 0. Anything else leaves the value's default.
std::optional<std::uint32_t> Readable(const Stored& value) {
  if (!value.Present || value.Type != kDwordType || value.Data.size() > 4) return std::nullopt;
  std::uint32_t number = 0;
  for (std::size_t i = value.Data.size(); i > 0; --i) number = number * 256u + value.Data[i - 1];
  return number;
}

std::string FlipCase(std::string name, std::uint8_t mask) {
  for (std::size_t i = 0; i < name.size(); ++i) {
    if ((mask >> (i % 8) & 1) == 0) continue;
    const auto c = static_cast<unsigned char>(name[i]);
    name[i] = static_cast<char>(std::isupper(c) ? std::tolower(c) : std::toupper(c));
  }
  return name;
}

// Values the store must not mistake for its own: names that differ slightly, or the right name in
// the key above or below the settings key.
enum class Where { SettingsKey, Parent, Child };
struct LookAlike {
  Where Key;
  const char* Name;
};
constexpr LookAlike kLookAlikes[] = {
    {Where::SettingsKey, "EnablePlugin "},
    {Where::SettingsKey, "ESCActio"},
    {Where::SettingsKey, "MinimizeMsgrMainWin2"},
    {Where::SettingsKey, "EnablePlugin\\"},
    {Where::SettingsKey, ""},
    {Where::Parent, "ESCAction"},
    {Where::Child, "EnablePlugin"},
    {Where::Child, "MinimizeMsgrMainWin"},
};

std::string KeyOf(Where where) {
  switch (where) {
    case Where::Parent:
      return kSettingsKey.substr(0, kSettingsKey.rfind('\\'));
    case Where::Child:
      return kSettingsKey + "\\tovrel.dll";
    case Where::SettingsKey:
      break;
  }
  return kSettingsKey;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FakeSystem& system = FakeSystem::Get();
  system.Reset();
  FakeRegistry& registry = system.Registry;
  FuzzInput input(data, size);

  const std::uint8_t keyMode = input.Byte();
  bool keyRefused = false;
  if (keyMode == 1) {
    // Any failure of the open: error 0 would be success. Only a refusal of full access (error 5)
    // lets the key be opened to read instead.
    const long error = 1 + static_cast<long>(input.Number(2));
    registry.FailCall(tovrel::fake::RegOp::CreateKey, 1, error);
    keyRefused = error != tovrel::fake::kErrorAccessDenied;
  }

  const char* const names[3] = {"EnablePlugin", "ESCAction", "MinimizeMsgrMainWin"};
  Stored stored[3];
  for (int i = 0; i < 3; ++i) {
    const std::uint8_t flags = input.Byte();
    stored[i].Present = (flags & 1) != 0;
    stored[i].Type = (flags & 2) != 0 ? input.U32() : kDwordType;
    const std::uint8_t caseMask = input.Byte();
    const auto bytes = input.Bytes(input.Byte() % 65u);
    stored[i].Data.assign(bytes.begin(), bytes.end());
    if (stored[i].Present) {
      registry.SetValue(kSettingsKey, FlipCase(names[i], caseMask), stored[i].Type, stored[i].Data);
    }
  }
  const std::uint8_t lookAlike = input.Byte();
  if ((lookAlike & 1) != 0) {
    const LookAlike& other = kLookAlikes[(lookAlike >> 1) % std::size(kLookAlikes)];
    registry.SetDword(KeyOf(other.Key), other.Name, 0x01010101);
  }
  if (keyMode == 2) registry.SetReadOnly(kSettingsKey);

  PluginSettings loaded{0xA5, 0xA5, 0xA5};
  tovrel::LoadSettings(kUserKeyWide, loaded);

  PluginSettings expected{1, 0, 0};
  if (!keyRefused) {
    if (const auto n = Readable(stored[0])) expected.EnablePlugin = *n != 0 ? 1 : 0;
    if (const auto n = Readable(stored[1])) {
      expected.ESCAction = static_cast<std::uint8_t>(*n % 256);
    }
    if (const auto n = Readable(stored[2])) expected.MinimizeMsgrMainWin = *n != 0 ? 1 : 0;
  }
  Require(loaded.EnablePlugin == expected.EnablePlugin, "EnablePlugin as the reading rule says");
  Require(loaded.ESCAction == expected.ESCAction, "ESCAction as the reading rule says");
  Require(loaded.MinimizeMsgrMainWin == expected.MinimizeMsgrMainWin,
          "MinimizeMsgrMainWin as the reading rule says");
  Require(registry.OpenKeys() == 0, "no key is left open");
  Require(registry.Writes.empty(), "loading writes nothing");
  Require(registry.Calls(tovrel::fake::RegOp::ReadKey) ==
              ((keyMode == 1 && !keyRefused) || keyMode == 2 ? 1 : 0),
          "the key is opened to read exactly when full access is refused");
  return 0;
}
