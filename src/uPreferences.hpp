// The settings record and its 32-bit packed form.
#pragma once

#include <cstdint>
#include <string_view>

#include "uConstants.hpp"

namespace tovrel {

// Three bytes, in this order. The boolean bytes hold only 0 or 1.
struct PluginSettings {
  std::uint8_t EnablePlugin;
  std::uint8_t ESCAction;
  std::uint8_t MinimizeMsgrMainWin;

  friend bool operator==(const PluginSettings&, const PluginSettings&) = default;
};
static_assert(sizeof(PluginSettings) == 3, "the record is three bytes, without padding");

// Bits 0-7 EnablePlugin, 8-15 ESCAction, 16-23 MinimizeMsgrMainWin. Bits 24-31 carry nothing:
// senders need not clear them and every receiver ignores them.
using PackedSettings = std::uint32_t;

// Enabled, Escape does nothing in a conversation window, the main window is left alone.
inline constexpr PluginSettings kDefaultSettings{1, DoNothing, 0};

constexpr PackedSettings PackSettings(const PluginSettings& s) {
  return static_cast<PackedSettings>(s.EnablePlugin) |
         static_cast<PackedSettings>(s.ESCAction) << 8 |
         static_cast<PackedSettings>(s.MinimizeMsgrMainWin) << 16;
}

constexpr PluginSettings UnpackSettings(PackedSettings v) {
  return PluginSettings{static_cast<std::uint8_t>(v & 0xFF),
                        static_cast<std::uint8_t>((v >> 8) & 0xFF),
                        static_cast<std::uint8_t>((v >> 16) & 0xFF)};
}

// The settings are stored per user profile under
//   HKEY_CURRENT_USER\Software\Quorvel\MsgPlus2\<UserKey>\Preferences\Plugins\tovrel.dll
// as the REG_DWORD values "EnablePlugin", "ESCAction" and "MinimizeMsgrMainWin". Neither
// operation reports a failure: what cannot be read keeps its default, what cannot be written is
// skipped.

// Fills `settings` with the defaults, then with every stored value that can be read. Opening the
// key creates it (and the user's key) when missing. A key the user may read but not modify is
// read all the same.
void LoadSettings(std::u16string_view userKey, PluginSettings& settings) noexcept;

// Writes the three fields of `settings`, creating the key when missing.
void SaveSettings(std::u16string_view userKey, PackedSettings settings) noexcept;

}  // namespace tovrel
