#include "AllocationControl.hpp"

#include <cstdlib>
#include <new>

namespace {
bool g_counting = false;
int g_allocations = 0;
int g_failAt = 0;  // 0: never
int g_suspended = 0;
int g_refused = 0;
}  // namespace

namespace tovrel::test {

void CountAllocations(bool on) {
  g_counting = on;
  g_allocations = 0;
}
int Allocations() {
  return g_allocations;
}
void FailAllocations(int n) {
  g_failAt = n;
  g_refused = 0;
}
int RefusedAllocations() {
  return g_refused;
}

AllocationFailuresSuspended::AllocationFailuresSuspended() {
  ++g_suspended;
}
AllocationFailuresSuspended::~AllocationFailuresSuspended() {
  --g_suspended;
}

}  // namespace tovrel::test

// The replacement operators themselves: malloc and free are what they are built on.
// NOLINTBEGIN(cppcoreguidelines-no-malloc)
void* operator new(std::size_t size) {
  if (g_counting) ++g_allocations;
  if (g_suspended == 0 && g_failAt > 0 && --g_failAt == 0) {
    g_failAt = 1;  // stays out of memory
    ++g_refused;
    throw std::bad_alloc();
  }
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  return operator new(size);
}
// The non-throwing forms go the same way, so that whatever they allocate is freed by the delete
// above: a runtime that brings its own operator new otherwise pairs its allocation with this
// file's delete.
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
