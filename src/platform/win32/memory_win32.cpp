// The module's heap: the process heap, which the system sets up before any DLL loads, so the
// module needs no C runtime start-up for its memory. Its blocks are aligned to 8 bytes, as the C
// runtime's were. In a file of its own, so that a test program can link its own in its place and
// run out of memory at will.
#include <windows.h>

#include "platform/platform.hpp"

namespace tovrel::platform {

void* Allocate(std::size_t bytes) noexcept {
  return ::HeapAlloc(::GetProcessHeap(), 0, bytes == 0 ? 1 : bytes);
}

void Free(void* block) noexcept {
  if (block != nullptr) ::HeapFree(::GetProcessHeap(), 0, block);
}

}  // namespace tovrel::platform
