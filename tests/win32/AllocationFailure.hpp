// Memory running out on one thread of the Wine tests: the program's operator new, which is also
// the module's heap in this program, refuses the n-th allocation made on the armed thread, and
// every one after it, until disarmed. Other threads allocate as usual.
#pragma once

namespace tovrel::test {

// From the n-th next allocation of the calling thread on, memory is out; 0 disarms.
void FailAllocationsOnThisThread(int n);
// The allocations refused since the last arming.
int RefusedAllocations();

}  // namespace tovrel::test
