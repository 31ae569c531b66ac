// One small move-only owner for the handles the module holds: registry keys, the hook record's
// mapping and view, the keyboard hook, and the window toolkit's fonts, device contexts,
// activation contexts and their activations, window class and form window. Each is released on
// every path, the failure path included, by construction rather than by care.
#pragma once

#include <type_traits>
#include <utility>

namespace tovrel::platform {

// A handle held in module-wide state: the same operations as Owned below, but no destructor. The
// DLL runs no C runtime start-up, which is what would construct module-wide objects at load and
// run their destructors at the process's exit; so module-wide state is constant-initialized and
// trivially destructible, and the library's unload releases it itself (Reset).
// `Close` releases a handle that is not `Empty`; it is called exactly once for each handle held.
template <typename Handle, void (*Close)(Handle) noexcept, Handle Empty = Handle{}>
class Held {
 public:
  constexpr Held() noexcept = default;
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
  Held(Held&&) = delete;
  Held& operator=(Held&&) = delete;
  ~Held() = default;

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

 protected:
  explicit constexpr Held(Handle handle) noexcept : handle_(handle) {}

 private:
  Handle handle_ = Empty;
};

// The owner proper: releases its handle when it goes out of scope.
template <typename Handle, void (*Close)(Handle) noexcept, Handle Empty = Handle{}>
class Owned : public Held<Handle, Close, Empty> {
  using Base = Held<Handle, Close, Empty>;

 public:
  Owned() noexcept = default;
  explicit Owned(Handle handle) noexcept : Base(handle) {}
  Owned(Owned&& other) noexcept : Base(other.Release()) {}
  Owned& operator=(Owned&& other) noexcept {
    if (this != &other) this->Reset(other.Release());
    return *this;
  }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  ~Owned() { this->Reset(); }
};

}  // namespace tovrel::platform
