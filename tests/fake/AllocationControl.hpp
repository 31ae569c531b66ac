// The test executables' own operator new: it counts allocations and can be told to run out of
// memory, so tests can show that a path never allocates, or survives when allocation fails.
#pragma once

namespace tovrel::test {

void CountAllocations(bool on);
int Allocations();
// The n-th allocation from now (1: the next) and every one after it is refused until
// FailAllocations(0): operator new throws std::bad_alloc, and the module's heap (the fake
// platform's Allocate) answers null.
void FailAllocations(int n);
// The allocations refused since the last FailAllocations.
int RefusedAllocations();

// While one of these lives, allocations never fail: the fake system's own bookkeeping is not
// what a test of running out of memory is about.
class AllocationFailuresSuspended {
 public:
  AllocationFailuresSuspended();
  ~AllocationFailuresSuspended();
  AllocationFailuresSuspended(const AllocationFailuresSuspended&) = delete;
  AllocationFailuresSuspended& operator=(const AllocationFailuresSuspended&) = delete;
};

}  // namespace tovrel::test
