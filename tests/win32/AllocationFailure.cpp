#include "AllocationFailure.hpp"

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "platform/platform.hpp"

namespace {
std::atomic<DWORD> g_thread{0};  // 0: disarmed
std::atomic<int> g_countdown{0};
std::atomic<int> g_refused{0};
}  // namespace

namespace tovrel::test {

void FailAllocationsOnThisThread(int n) {
  g_thread = 0;
  g_refused = 0;
  g_countdown = n;
  if (n > 0) g_thread = GetCurrentThreadId();
}

int RefusedAllocations() {
  return g_refused;
}

}  // namespace tovrel::test

// NOLINTBEGIN(cppcoreguidelines-no-malloc)
void* operator new(std::size_t size) {
  if (g_thread != 0 && g_thread == GetCurrentThreadId()) {
    if (g_countdown <= 1) {
      g_countdown = 1;  // stays out of memory
      ++g_refused;
      throw std::bad_alloc();
    }
    --g_countdown;
  }
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return operator new(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return operator new(size, std::nothrow);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
// NOLINTEND(cppcoreguidelines-no-malloc)

// The module's heap in this program: the operator new above, in place of the process heap
// that the platform layer's own definitions hand out.
namespace tovrel::platform {

void* Allocate(std::size_t bytes) noexcept {
  return ::operator new(bytes, std::nothrow);
}

void Free(void* block) noexcept {
  ::operator delete(block);
}

}  // namespace tovrel::platform
