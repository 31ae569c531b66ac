// One small move-only owner for the handles the module holds: registry keys, the hook record's
// mapping and view, the keyboard hook, and the window toolkit's fonts, device contexts,
// activation contexts and their activations, window class and form window. Each is released on
// every path, the failure path included, by construction rather than by care.
#pragma once

#include <type_traits>
#include <utility>

namespace tovrel::platform {

// `Close` releases a handle that is not `Empty`; it is called exactly once for each handle held.
template <typename Handle, void (*Close)(Handle) noexcept, Handle Empty = Handle{}>
class Owned {
 public:
  Owned() noexcept = default;
  explicit Owned(Handle handle) noexcept : handle_(handle) {}
  Owned(Owned&& other) noexcept : handle_(std::exchange(other.handle_, Empty)) {}
  Owned& operator=(Owned&& other) noexcept {
    if (this != &other) {
      Reset();
      handle_ = std::exchange(other.handle_, Empty);
    }
    return *this;
  }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  ~Owned() { Reset(); }

  Handle Get() const noexcept { return handle_; }
  Handle operator->() const noexcept requires std::is_pointer_v<Handle> { return handle_; }
  explicit operator bool() const noexcept { return handle_ != Empty; }
  // For out-parameters: releases what is held and hands out the slot.
  Handle* Put() noexcept {
    Reset();
    return &handle_;
  }
  void Reset(Handle handle = Empty) noexcept {
    const Handle old = std::exchange(handle_, handle);
    if (old != Empty) Close(old);
  }
  // Gives the handle up without releasing it: someone else owns it from now on.
  [[nodiscard]] Handle Release() noexcept { return std::exchange(handle_, Empty); }

 private:
  Handle handle_ = Empty;
};

}  // namespace tovrel::platform
