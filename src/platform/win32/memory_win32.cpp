// The module's heap: the C runtime's, which every system the module runs on has. In a file of its
// own, so that a test program can link its own in its place and run out of memory at will.
#include <cstdlib>

#include "platform/platform.hpp"

namespace tovrel::platform {

// NOLINTBEGIN(cppcoreguidelines-no-malloc): the raw heap is what this layer offers
void* Allocate(std::size_t bytes) noexcept {
  return std::malloc(bytes);
}

void Free(void* block) noexcept {
  std::free(block);
}
// NOLINTEND(cppcoreguidelines-no-malloc)

}  // namespace tovrel::platform
