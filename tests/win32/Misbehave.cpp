// A program that fails on purpose, for the Wine runner's own checks: "crash" reads through a bad
// pointer, "hang" never ends. No other test runs it.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "crash") == 0) {
    // An address the compiler cannot see through: page zero, never mapped.
    volatile std::uintptr_t address = 0x10;
    return *reinterpret_cast<volatile int*>(address);
  }
  if (argc == 2 && std::strcmp(argv[1], "hang") == 0) {
    std::puts("hanging");
    std::fflush(stdout);
    for (;;) {
      Sleep(INFINITE);
    }
  }
  std::fputs("usage: misbehave crash|hang\n", stderr);
  return 2;
}
