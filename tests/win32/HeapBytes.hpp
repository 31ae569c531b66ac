// The bytes in use in every heap of the process: Wine reports no private bytes
// (GetProcessMemoryInfo answers 0 there), so the tests that look for leaks walk the heaps.
#pragma once

#include <windows.h>

#include <cstddef>

namespace tovrel::test {

inline std::size_t HeapBytesInUse() {
  HANDLE heaps[64];
  const DWORD count = GetProcessHeaps(64, heaps);
  std::size_t total = 0;
  for (DWORD i = 0; i < count && i < 64; ++i) {
    if (!HeapLock(heaps[i])) continue;
    PROCESS_HEAP_ENTRY entry{};
    while (HeapWalk(heaps[i], &entry)) {
      if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0) total += entry.cbData;
    }
    HeapUnlock(heaps[i]);
  }
  return total;
}

}  // namespace tovrel::test
