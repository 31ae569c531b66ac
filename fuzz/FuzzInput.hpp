// What the fuzz targets share: reading an input front to back, so that seed files are easy to
// write by hand, and failing a check in the way libFuzzer reports and keeps the input for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

namespace tovrel::fuzz {

// Reads fields in order; past the end every field reads as zero and every run of bytes as empty.
class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) noexcept : data_(data), size_(size) {}

  std::uint8_t Byte() noexcept { return at_ < size_ ? data_[at_++] : 0; }

  // `bytes` bytes, little-endian.
  std::uint64_t Number(int bytes) noexcept {
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) value |= static_cast<std::uint64_t>(Byte()) << (8 * i);
    return value;
  }
  std::uint32_t U32() noexcept { return static_cast<std::uint32_t>(Number(4)); }

  // At most `count` bytes, fewer when the input ends first.
  std::span<const std::uint8_t> Bytes(std::size_t count) noexcept {
    const std::size_t taken = count < Remaining() ? count : Remaining();
    const std::span<const std::uint8_t> bytes(data_ + at_, taken);
    at_ += taken;
    return bytes;
  }
  std::span<const std::uint8_t> Rest() noexcept { return Bytes(Remaining()); }

  std::size_t Remaining() const noexcept { return size_ - at_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// A failed check prints what failed and aborts: libFuzzer reports a crash and saves the input.
inline void Require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

}  // namespace tovrel::fuzz
