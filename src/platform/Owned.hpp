// One small move-only owner for every kind of handle: closed on every path, the failure path
// included, by construction rather than by care.
#pragma once

#include <utility>

namespace tovrel::platform {

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
  explicit operator bool() const noexcept { return handle_ != Empty; }
  // For out-parameters: releases what is held and hands out the slot.
  Handle* Put() noexcept {
    Reset();
    return &handle_;
  }
  void Reset() noexcept {
    if (handle_ != Empty) Close(std::exchange(handle_, Empty));
  }

 private:
  Handle handle_ = Empty;
};

}  // namespace tovrel::platform
