// The parts of the C++ runtime the module replaces, to keep it small inside the host's process.
//
// The library reports a string or array grown past its maximum, or built from a null pointer,
// through helpers that all live in one object of the static runtime; linking that object drags in
// every standard exception class, a second string implementation and the random-number device,
// about 90 KiB. The module asks the library for nothing but memory, and handles every failure of
// it alike (the entry points catch everything), so here each of these helpers reports exhausted
// memory.
#include <cstdlib>
#include <new>

// The runtime's own names, replaced on purpose: the linker takes these instead of its objects.
// NOLINTBEGIN(cert-dcl58-cpp,bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)

namespace std {

[[noreturn]] void __throw_bad_alloc() {
  throw bad_alloc();
}
[[noreturn]] void __throw_length_error(const char*) {
  throw bad_alloc();
}
[[noreturn]] void __throw_logic_error(const char*) {
  throw bad_alloc();
}

}  // namespace std

// The default terminate handler prints the pending exception's demangled type to a console the
// host process does not have; its demangler and formatted output would be a third of the module.
// Nothing thrown leaves the entry points, so a terminate here means a broken invariant: end as
// the default handler ends, without the message.
namespace __gnu_cxx {

void __verbose_terminate_handler() {
  std::abort();
}

}  // namespace __gnu_cxx
// NOLINTEND(cert-dcl58-cpp,bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
