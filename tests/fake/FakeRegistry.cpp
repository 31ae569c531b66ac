#include "FakeRegistry.hpp"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "FakeCodePage.hpp"

namespace tovrel::fake {

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Key names compare without case for ASCII letters; that is all the tests need.
std::u16string Lower(std::u16string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
  });
  return text;
}

// Split after the conversion, as the real registry does: a double-byte character's trail byte
// may be a backslash's byte without being one.
std::vector<std::u16string> Split(const std::u16string& path) {
  std::vector<std::u16string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = path.find(u'\\', start);
    parts.push_back(path.substr(start, end - start));
    if (end == std::u16string::npos) return parts;
    start = end + 1;
  }
}

// In UTF-16 units, whatever the code page.
constexpr std::size_t kMaxKeyNameLength = 255;

}  // namespace

std::vector<unsigned char> DwordBytes(std::uint32_t value) {
  return {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
          static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
}

long FakeRegistry::Fails(RegOp op) {
  ++Accesses;
  ++calls_[static_cast<std::size_t>(op)];
  auto it = failures_.find(op);
  if (it == failures_.end() || it->second.Countdown == 0) return 0;
  if (--it->second.Countdown != 0) return 0;
  return it->second.Error;
}

FakeRegistry::Node* FakeRegistry::NodeOf(platform::RegKey key) {
  if (key == platform::kCurrentUser) return &root_;
  auto it = handles_.find(static_cast<std::uintptr_t>(key));
  return it == handles_.end() ? nullptr : it->second;
}

// Follows `path` from `from`. Like the real registry it passes over empty name components (two
// backslashes in a row) and refuses over-long ones; with `create`, missing keys along the path
// are made, but none under a key the user may not modify.
FakeRegistry::Node* FakeRegistry::Walk(Node* from, const std::u16string& path, Make make,
                                       long* error) {
  Node* node = from;
  if (path.empty()) return node;
  for (const std::u16string& part : Split(path)) {
    if (part.empty()) continue;
    if (part.size() > kMaxKeyNameLength) {
      *error = kErrorInvalidParameter;
      return nullptr;
    }
    auto& child = node->Children[Lower(part)];
    if (!child) {
      if (make == Make::No || (make == Make::AsUser && node->ReadOnly)) {
        node->Children.erase(Lower(part));
        *error = make == Make::No ? kErrorFileNotFound : kErrorAccessDenied;
        return nullptr;
      }
      child = std::make_unique<Node>();
      child->Name = part;
      child->Path = node->Path.empty() ? part : node->Path + u"\\" + part;
    }
    node = child.get();
  }
  return node;
}

const FakeRegistry::Node* FakeRegistry::Find(const std::string& path) const {
  const Node* node = &root_;
  if (path.empty()) return node;
  for (const std::u16string& part : Split(WideText(path))) {
    if (part.empty()) continue;
    auto it = node->Children.find(Lower(part));
    if (it == node->Children.end()) return nullptr;
    node = it->second.get();
  }
  return node;
}

platform::RegKey FakeRegistry::NewHandle(Node* node) {
  const std::uintptr_t handle = nextHandle_++;
  handles_.emplace(handle, node);
  return static_cast<platform::RegKey>(handle);
}

long FakeRegistry::Create(platform::RegKey root, const char* path, platform::RegKey* key) {
  CreatedPaths.emplace_back(path);
  return OpenKey(RegOp::CreateKey, root, path, key);
}

long FakeRegistry::Open(platform::RegKey root, const char* path, platform::RegKey* key) {
  return OpenKey(RegOp::OpenKey, root, path, key);
}

long FakeRegistry::OpenToRead(platform::RegKey root, const char* path, platform::RegKey* key) {
  return OpenKey(RegOp::ReadKey, root, path, key);
}

long FakeRegistry::OpenKey(RegOp op, platform::RegKey root, const char* path,
                           platform::RegKey* key) {
  *key = platform::RegKey::None;
  if (long error = Fails(op)) return error;
  Node* from = NodeOf(root);
  if (from == nullptr) return kErrorInvalidParameter;
  long error = 0;
  Node* node = Walk(from, WideText(path), op == RegOp::CreateKey ? Make::AsUser : Make::No, &error);
  if (node == nullptr) return error;
  if (node->ReadOnly && op != RegOp::ReadKey) return kErrorAccessDenied;  // full access asked for
  *key = NewHandle(node);
  return 0;
}

long FakeRegistry::Query(platform::RegKey key, const char* name, std::uint32_t* type, void* data,
                         std::uint32_t* size) {
  if (long error = Fails(RegOp::QueryValue)) return error;
  Node* node = NodeOf(key);
  if (node == nullptr) return kErrorInvalidParameter;
  auto it = node->Values.find(Lower(name));
  if (it == node->Values.end()) return kErrorFileNotFound;
  const RegValue& value = it->second;
  *type = value.Type;
  const auto needed = static_cast<std::uint32_t>(value.Data.size());
  if (data != nullptr && needed > *size) {
    *size = needed;
    return kErrorMoreData;
  }
  if (data != nullptr && needed > 0) std::memcpy(data, value.Data.data(), needed);
  *size = needed;
  return 0;
}

long FakeRegistry::Set(platform::RegKey key, const char* name, std::uint32_t type, const void* data,
                       std::uint32_t size) {
  if (long error = Fails(RegOp::SetValue)) return error;
  Node* node = NodeOf(key);
  if (node == nullptr) return kErrorInvalidParameter;
  const auto* bytes = static_cast<const unsigned char*>(data);
  node->Values[Lower(name)] = RegValue{type, std::vector<unsigned char>(bytes, bytes + size)};
  std::uint32_t number = 0;
  std::memcpy(&number, bytes, std::min<std::size_t>(size, sizeof number));
  Writes.push_back(AnsiText(node->Path) + "\\" + name + "=" + std::to_string(number));
  return 0;
}

long FakeRegistry::QueryInfo(platform::RegKey key, std::uint32_t* count,
                             std::uint32_t* maxNameLength) {
  if (long error = Fails(RegOp::QueryInfo)) return error;
  Node* node = NodeOf(key);
  if (node == nullptr) return kErrorInvalidParameter;
  *count = static_cast<std::uint32_t>(node->Children.size());
  // In UTF-16 units, as the real registry counts it: a name may take more bytes than that.
  *maxNameLength = 0;
  for (const auto& [lower, child] : node->Children) {
    *maxNameLength = std::max(*maxNameLength, static_cast<std::uint32_t>(child->Name.size()));
  }
  return 0;
}

long FakeRegistry::Enum(platform::RegKey key, std::uint32_t index, char* name,
                        std::uint32_t* length) {
  if (long error = Fails(RegOp::EnumKey)) return error;
  Node* node = NodeOf(key);
  if (node == nullptr) return kErrorInvalidParameter;
  if (index >= node->Children.size()) return kErrorNoMoreItems;
  auto it = node->Children.begin();
  std::advance(it, index);
  // In bytes of the code page, characters it lacks replaced.
  const std::string child = AnsiText(it->second->Name);
  if (child.size() + 1 > *length) return kErrorMoreData;
  std::memcpy(name, child.c_str(), child.size() + 1);
  *length = static_cast<std::uint32_t>(child.size());
  return 0;
}

void FakeRegistry::Close(platform::RegKey key) {
  ++Accesses;
  handles_.erase(static_cast<std::uintptr_t>(key));
}

void FakeRegistry::AddKey(const std::string& keyPath) {
  AddKeyWide(WideText(keyPath));
}

void FakeRegistry::AddKeyWide(const std::u16string& keyPath) {
  long error = 0;
  Walk(&root_, keyPath, Make::Always, &error);
}

std::vector<std::u16string> FakeRegistry::SubkeyNames(const std::string& keyPath) const {
  std::vector<std::u16string> names;
  if (const Node* node = Find(keyPath)) {
    for (const auto& [lower, child] : node->Children) names.push_back(child->Name);
  }
  return names;
}

void FakeRegistry::SetValue(const std::string& keyPath, const std::string& name, std::uint32_t type,
                            std::vector<unsigned char> data) {
  long error = 0;
  if (Node* node = Walk(&root_, WideText(keyPath), Make::Always, &error)) {
    node->Values[Lower(name)] = RegValue{type, std::move(data)};
  }
}

void FakeRegistry::SetDword(const std::string& keyPath, const std::string& name,
                            std::uint32_t value) {
  SetValue(keyPath, name, kRegDword, DwordBytes(value));
}

const RegValue* FakeRegistry::Value(const std::string& keyPath, const std::string& name) const {
  const Node* node = Find(keyPath);
  if (node == nullptr) return nullptr;
  auto it = node->Values.find(Lower(name));
  return it == node->Values.end() ? nullptr : &it->second;
}

std::uint32_t FakeRegistry::Dword(const std::string& keyPath, const std::string& name) const {
  const RegValue* value = Value(keyPath, name);
  std::uint32_t number = 0xDEADBEEF;
  if (value != nullptr && value->Type == kRegDword && value->Data.size() == 4) {
    std::memcpy(&number, value->Data.data(), 4);
  }
  return number;
}

bool FakeRegistry::KeyExists(const std::string& keyPath) const {
  return Find(keyPath) != nullptr;
}

std::size_t FakeRegistry::ValueCount(const std::string& keyPath) const {
  const Node* node = Find(keyPath);
  return node == nullptr ? 0 : node->Values.size();
}

void FakeRegistry::SetReadOnly(const std::string& keyPath) {
  long error = 0;
  if (Node* node = Walk(&root_, WideText(keyPath), Make::Always, &error)) node->ReadOnly = true;
}

}  // namespace tovrel::fake
