// A path that the system copies into a buffer of the caller's size, taken whole or not at all.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Memory.hpp"

namespace tovrel::toolkit {

// The longest path the system's UTF-16 path functions handle, with its NUL.
inline constexpr std::size_t kLongestPath = 32768;
// The buffer first tried: MAX_PATH, which holds nearly every path.
inline constexpr std::size_t kFirstPathBuffer = 260;

// Fetches a path with `query(buffer, size)`, which copies at most `size` units and answers how
// many it copied, without the NUL, or 0 on failure. Asked with a buffer that is too small,
// Windows XP answers `size` and writes no NUL; later versions cut the path short, end it with a
// NUL and answer `size` as well. So an answer of `size` means the path did not fit, whatever the
// buffer holds: it is asked again with a larger one, up to the longest path. True with `path`
// holding the whole path and a NUL after it; false when the path cannot be had whole.
template <typename Char, typename Query>
bool WholePath(Query query, Array<Char>& path) noexcept {
  std::size_t size = kFirstPathBuffer;
  for (;;) {
    if (!path.Resize(size)) return false;
    const std::uint32_t length = query(path.data(), static_cast<std::uint32_t>(size));
    if (length == 0) return false;
    if (length < size) {
      path[length] = Char{};
      return true;
    }
    if (size >= kLongestPath) return false;
    size = size * 2 < kLongestPath ? size * 2 : kLongestPath;
  }
}

}  // namespace tovrel::toolkit
