// The fake registry: a tree of keys holding typed values of any size, with case-insensitive names
// and the real registry's answers (missing value, buffer too small, access denied). It counts
// open key handles and can be told to fail one call of an operation.
//
// As in the real registry, key names are UTF-16 text: the 8-bit operations convert in the fake
// system's ANSI code page, so a name with characters outside it is enumerated with default
// characters, and lengths differ by interface: the longest-subkey figure counts UTF-16 units,
// an enumerated name's buffer counts bytes, and a key name may have at most 255 units.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.hpp"

namespace tovrel::fake {

// Registry value types and the error codes the fake answers with.
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegQword = 11;
inline constexpr long kErrorFileNotFound = 2;
inline constexpr long kErrorAccessDenied = 5;
inline constexpr long kErrorInvalidParameter = 87;
inline constexpr long kErrorMoreData = 234;
inline constexpr long kErrorNoMoreItems = 259;

// OpenKey asks for full access, ReadKey for reading only.
enum class RegOp { CreateKey, OpenKey, QueryValue, SetValue, QueryInfo, EnumKey, ReadKey };
inline constexpr std::size_t kRegOpCount = 7;
static_assert(static_cast<std::size_t>(RegOp::ReadKey) + 1 == kRegOpCount);

// The 4 little-endian bytes of a REG_DWORD.
std::vector<unsigned char> DwordBytes(std::uint32_t value);

struct RegValue {
  std::uint32_t Type = 0;
  std::vector<unsigned char> Data;
};

class FakeRegistry {
 public:
  // The n-th next call of `op` (1: the very next) fails with `error`.
  void FailCall(RegOp op, int n = 1, long error = kErrorAccessDenied) {
    failures_[op] = {n, error};
  }

  // Test set-up and inspection, by path below HKEY_CURRENT_USER ("A\\B\\C"), as 8-bit text in
  // the fake system's code page.
  void SetValue(const std::string& keyPath, const std::string& name, std::uint32_t type,
                std::vector<unsigned char> data);
  void SetDword(const std::string& keyPath, const std::string& name, std::uint32_t value);
  const RegValue* Value(const std::string& keyPath, const std::string& name) const;
  std::uint32_t Dword(const std::string& keyPath, const std::string& name) const;
  bool KeyExists(const std::string& keyPath) const;
  std::size_t ValueCount(const std::string& keyPath) const;
  // Keys the user may read but not modify: opening them with full access is refused, and so is
  // making a subkey under them; opening them to read is allowed.
  void SetReadOnly(const std::string& keyPath);
  void AddKey(const std::string& keyPath);
  // A key made through the wide interface, whatever the code page holds.
  void AddKeyWide(const std::u16string& keyPath);
  // The names of a key's direct subkeys, in enumeration order, as stored.
  std::vector<std::u16string> SubkeyNames(const std::string& keyPath) const;

  int OpenKeys() const { return static_cast<int>(handles_.size()); }
  int Accesses = 0;  // every registry call the code made
  // The calls of `op`, failed ones included.
  int Calls(RegOp op) const { return calls_[static_cast<std::size_t>(op)]; }
  std::vector<std::string> CreatedPaths;  // the paths handed to CreateRegistryKey, as given
  std::vector<std::string> Writes;        // "path\\name=value" of each successful write, 8-bit

  // The platform operations.
  long Create(platform::RegKey root, const char* path, platform::RegKey* key);
  long Open(platform::RegKey root, const char* path, platform::RegKey* key);
  long OpenToRead(platform::RegKey root, const char* path, platform::RegKey* key);
  long Query(platform::RegKey key, const char* name, std::uint32_t* type, void* data,
             std::uint32_t* size);
  long Set(platform::RegKey key, const char* name, std::uint32_t type, const void* data,
           std::uint32_t size);
  long QueryInfo(platform::RegKey key, std::uint32_t* count, std::uint32_t* maxNameLength);
  long Enum(platform::RegKey key, std::uint32_t index, char* name, std::uint32_t* length);
  void Close(platform::RegKey key);

 private:
  struct Node {
    std::u16string Name;
    std::u16string Path;
    bool ReadOnly = false;
    std::map<std::u16string, std::unique_ptr<Node>> Children;  // by lower-case name: sorted
    std::map<std::string, RegValue> Values;                    // by lower-case name
  };
  struct Failure {
    int Countdown = 0;
    long Error = 0;
  };
  long Fails(RegOp op);
  long OpenKey(RegOp op, platform::RegKey root, const char* path, platform::RegKey* key);
  Node* NodeOf(platform::RegKey key);
  // How Walk treats a missing key: refuses it, makes it as the user may, or makes it anyway (the
  // tests' own set-up).
  enum class Make { No, AsUser, Always };
  static Node* Walk(Node* from, const std::u16string& path, Make make, long* error);
  const Node* Find(const std::string& path) const;
  platform::RegKey NewHandle(Node* node);

  Node root_{u"HKEY_CURRENT_USER", u"", false, {}, {}};
  std::map<std::uintptr_t, Node*> handles_;
  std::uintptr_t nextHandle_ = 0x4000;
  std::map<RegOp, Failure> failures_;
  std::array<int, kRegOpCount> calls_{};
};

}  // namespace tovrel::fake
