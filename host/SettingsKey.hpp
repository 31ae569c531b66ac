// Where the plug-in keeps a user profile's settings, as a host or a test writes and reads them
// from outside the plug-in.
#pragma once

#include <windows.h>

#include <string>
#include <utility>

namespace tovrel::host {

// The host's registry root under HKEY_CURRENT_USER: one subkey per user profile.
inline constexpr char kHostRoot[] = "Software\\Quorvel\\MsgPlus2";

inline std::string SettingsKeyOf(const std::string& user) {
  return std::string(kHostRoot) + "\\" + user + "\\Preferences\\Plugins\\tovrel.dll";
}

// Stores the three values as REG_DWORD for `user`, creating the key. False when it cannot be made.
inline bool WriteSettings(const std::string& user, DWORD enable, DWORD action, DWORD mainToo) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, SettingsKeyOf(user).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                      nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const std::pair<const char*, DWORD> values[] = {
      {"EnablePlugin", enable}, {"ESCAction", action}, {"MinimizeMsgrMainWin", mainToo}};
  for (const auto& [name, value] : values) {
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  }
  RegCloseKey(key);
  return true;
}

}  // namespace tovrel::host
