// NUL-terminated text in the module's own memory: 8-bit text in the system code page, or UTF-16.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

#include "Memory.hpp"

namespace tovrel {

// A string whose growth reports running out of memory instead of throwing; it keeps a NUL after
// its last unit, so c_str() always hands the system a terminated string. Empty owns no memory.
// `Units` is the array that holds it: an owner, or for module-wide text a HeldArray, which the
// library's unload releases itself.
template <typename Char, typename Units = Array<Char>>
class BasicText {
 public:
  const Char* c_str() const noexcept { return units_.empty() ? &kEmpty : units_.data(); }
  // The units before the terminating NUL, which may be written up to size().
  Char* data() noexcept { return units_.empty() ? nullptr : units_.data(); }
  std::size_t size() const noexcept { return units_.empty() ? 0 : units_.size() - 1; }
  bool empty() const noexcept { return size() == 0; }
  operator std::basic_string_view<Char>() const noexcept {  // NOLINT(google-explicit-constructor)
    return {c_str(), size()};
  }

  [[nodiscard]] bool Append(std::basic_string_view<Char> text) noexcept {
    if (text.empty()) return true;
    const std::size_t old = size();
    if (text.size() > static_cast<std::size_t>(-1) / 2 - old - 1 ||
        !units_.Resize(old + text.size() + 1)) {
      return false;
    }
    std::memcpy(units_.data() + old, text.data(), text.size() * sizeof(Char));
    units_[old + text.size()] = Char{};
    return true;
  }
  [[nodiscard]] bool Assign(std::basic_string_view<Char> text) noexcept {
    Clear();
    return Append(text);
  }
  // Units added are NUL, to be written through data().
  [[nodiscard]] bool Resize(std::size_t size) noexcept {
    if (size == 0) {
      Clear();
      return true;
    }
    if (size == static_cast<std::size_t>(-1) || !units_.Resize(size + 1)) return false;
    units_[size] = Char{};
    return true;
  }
  // Keeps the memory for the next use.
  void Clear() noexcept { units_.Clear(); }
  // Gives the memory back.
  void Release() noexcept { units_.Release(); }

 private:
  static constexpr Char kEmpty = Char{};
  Units units_;
};

using Text = BasicText<char>;
using Text16 = BasicText<char16_t>;
using HeldText16 = BasicText<char16_t, HeldArray<char16_t>>;

}  // namespace tovrel
