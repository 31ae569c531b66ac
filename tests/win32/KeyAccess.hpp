// Registry keys whose security lets the user read them but not modify them, as an administrator
// may lock a user's settings.
#pragma once

#include <windows.h>

#include <string>
#include <utility>

namespace tovrel::test {

// Gives the key at `path` under HKEY_CURRENT_USER a DACL that grants everyone `access` and nothing
// more. The key's owner may always change its DACL, so this also undoes itself. ERROR_SUCCESS, or
// why it failed.
inline LONG GrantOnly(const std::string& path, DWORD access) {
  HKEY key = nullptr;
  LONG status = RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, WRITE_DAC, &key);
  if (status != ERROR_SUCCESS) return status;
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID everyone = nullptr;
  if (AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone) ==
      FALSE) {
    RegCloseKey(key);
    return static_cast<LONG>(GetLastError());
  }
  DWORD aclBuffer[64];
  auto* acl = reinterpret_cast<ACL*>(aclBuffer);
  SECURITY_DESCRIPTOR descriptor;
  if (InitializeAcl(acl, sizeof aclBuffer, ACL_REVISION) == FALSE ||
      AddAccessAllowedAce(acl, ACL_REVISION, access, everyone) == FALSE ||
      InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) == FALSE ||
      SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE) == FALSE) {
    status = static_cast<LONG>(GetLastError());
  } else {
    status = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &descriptor);
  }
  FreeSid(everyone);
  RegCloseKey(key);
  return status;
}

// The key at `path` is readable only while this lives; afterwards it may be modified and deleted
// again.
class ReadOnlyKey {
 public:
  explicit ReadOnlyKey(std::string path)
      : path_(std::move(path)), status_(GrantOnly(path_, KEY_READ)) {}
  ~ReadOnlyKey() { GrantOnly(path_, KEY_ALL_ACCESS); }
  ReadOnlyKey(const ReadOnlyKey&) = delete;
  ReadOnlyKey& operator=(const ReadOnlyKey&) = delete;

  // ERROR_SUCCESS when the key's security was set.
  LONG Status() const { return status_; }
  // Whether the system refuses full access to the key now, as it must for the test to mean
  // anything.
  bool FullAccessRefused() const {
    HKEY key = nullptr;
    const LONG full = RegOpenKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, KEY_ALL_ACCESS, &key);
    if (key != nullptr) RegCloseKey(key);
    return full == ERROR_ACCESS_DENIED;
  }

 private:
  std::string path_;
  LONG status_;
};

}  // namespace tovrel::test
