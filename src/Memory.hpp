// The module's own memory owners: a growable array and a single object, both taking their memory
// from the platform layer's heap.
//
// The module is built without exceptions and links no C++ library, so that it carries no unwinder
// and no runtime of its own into the host's process. Running out of memory is therefore an answer,
// not an exception: every growth returns false and leaves the owner as it was, and a caller that
// cannot go on without the memory gives up the step it was taking.
#pragma once

#include <cstddef>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

#include "platform/platform.hpp"

namespace tovrel {

// A contiguous, growable run of trivially copyable values. Empty owns no memory.
//
// HeldArray has no destructor: it is the form module-wide state takes, which the library's unload
// releases itself (the DLL runs no C runtime start-up that could run destructors at the process's
// exit; see platform::Held). Array, below, is the owner that frees its memory when it goes.
template <typename T>
class HeldArray {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>,
                "an Array moves its values as bytes");

 public:
  constexpr HeldArray() noexcept = default;
  HeldArray(const HeldArray&) = delete;
  HeldArray& operator=(const HeldArray&) = delete;
  HeldArray(HeldArray&&) = delete;
  HeldArray& operator=(HeldArray&&) = delete;
  ~HeldArray() = default;

  T* data() noexcept { return data_; }
  const T* data() const noexcept { return data_; }
  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  T* begin() noexcept { return data_; }
  T* end() noexcept { return data_ + size_; }
  const T* begin() const noexcept { return data_; }
  const T* end() const noexcept { return data_ + size_; }
  T& operator[](std::size_t index) noexcept { return data_[index]; }
  const T& operator[](std::size_t index) const noexcept { return data_[index]; }

  // Room for `capacity` values without another allocation.
  [[nodiscard]] bool Reserve(std::size_t capacity) noexcept {
    if (capacity <= capacity_) return true;
    if (capacity > kMaxSize) return false;
    auto* grown = static_cast<T*>(platform::Allocate(capacity * kValueBytes));
    if (grown == nullptr) return false;
    if (size_ != 0) std::memcpy(grown, data_, size_ * kValueBytes);
    platform::Free(data_);
    data_ = grown;
    capacity_ = capacity;
    return true;
  }
  // New values are value-initialized (zero for numbers and pointers).
  [[nodiscard]] bool Resize(std::size_t size) noexcept {
    if (size > capacity_ && !Reserve(Grown(size))) return false;
    for (std::size_t index = size_; index < size; ++index) ::new (data_ + index) T();
    size_ = size;
    return true;
  }
  [[nodiscard]] bool Append(const T* values, std::size_t count) noexcept {
    if (count > kMaxSize - size_) return false;
    if (size_ + count > capacity_ && !Reserve(Grown(size_ + count))) return false;
    if (count != 0) std::memcpy(data_ + size_, values, count * kValueBytes);
    size_ += count;
    return true;
  }
  [[nodiscard]] bool Push(const T& value) noexcept { return Append(&value, 1); }
  // Keeps the memory for the next use.
  void Clear() noexcept { size_ = 0; }
  // Gives the memory back.
  void Release() noexcept {
    platform::Free(std::exchange(data_, nullptr));
    size_ = capacity_ = 0;
  }

 private:
  // A value may well be a pointer: the module keeps window handles.
  static constexpr std::size_t kValueBytes = sizeof(T);  // NOLINT(bugprone-sizeof-expression)
  static constexpr std::size_t kMaxSize = static_cast<std::size_t>(-1) / 2 / kValueBytes;

  // Doubling, so that a run of single appends costs amortized constant time.
  std::size_t Grown(std::size_t needed) const noexcept {
    const std::size_t doubled = capacity_ > kMaxSize / 2 ? kMaxSize : capacity_ * 2;
    return needed > doubled ? needed : doubled;
  }

 protected:
  // Takes over the values of `other`, which is left empty; what this held is freed.
  void TakeFrom(HeldArray& other) noexcept {
    if (this == &other) return;
    platform::Free(data_);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
  }

 private:
  T* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

template <typename T>
class Array : public HeldArray<T> {
 public:
  Array() noexcept = default;
  Array(Array&& other) noexcept { this->TakeFrom(other); }
  Array& operator=(Array&& other) noexcept {
    this->TakeFrom(other);
    return *this;
  }
  Array(const Array&) = delete;
  Array& operator=(const Array&) = delete;
  ~Array() { this->Release(); }
};

// One object on the heap, destroyed and freed with its owner. Empty when it could not be made.
template <typename T>
class Unique {
 public:
  Unique() noexcept = default;
  // Takes back an object that Make made and Release gave up.
  explicit Unique(T* adopted) noexcept : object_(adopted) {}
  Unique(Unique&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  Unique& operator=(Unique&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.object_, nullptr));
    return *this;
  }
  Unique(const Unique&) = delete;
  Unique& operator=(const Unique&) = delete;
  ~Unique() { Reset(); }

  // The object built from `arguments` in new memory; empty when there is no memory.
  template <typename... Arguments>
  [[nodiscard]] static Unique Make(Arguments&&... arguments) noexcept {
    static_assert(std::is_nothrow_constructible_v<T, Arguments...>,
                  "nothing may throw: the module is built without exceptions");
    static_assert(alignof(T) <= alignof(std::max_align_t), "the heap's alignment suffices");
    Unique made;
    if (void* memory = platform::Allocate(sizeof(T))) {
      made.object_ = ::new (memory) T(std::forward<Arguments>(arguments)...);
    }
    return made;
  }

  T* Get() const noexcept { return object_; }
  T* operator->() const noexcept { return object_; }
  T& operator*() const noexcept { return *object_; }
  explicit operator bool() const noexcept { return object_ != nullptr; }
  void Reset() noexcept { Reset(nullptr); }
  // Gives the object up without destroying it; Unique(T*) takes it back.
  [[nodiscard]] T* Release() noexcept { return std::exchange(object_, nullptr); }

 private:
  void Reset(T* object) noexcept {
    if (T* old = std::exchange(object_, object)) {
      old->~T();
      platform::Free(old);
    }
  }

  T* object_ = nullptr;
};

}  // namespace tovrel
