// The parts of the C++ runtime the module replaces, to keep it small inside the host's process
// and to leave nothing behind when the host unloads it.
//
// The library reports a string or array grown past its maximum, or built from a null pointer,
// through helpers that all live in one object of the static runtime; linking that object drags in
// every standard exception class, a second string implementation and the random-number device,
// about 90 KiB. The module asks the library for nothing but memory, and handles every failure of
// it alike (the entry points catch everything), so here each of these helpers reports exhausted
// memory.
#include <cxxabi.h>
#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>

// The runtime's own names, replaced on purpose: the linker takes these instead of its objects.
// NOLINTBEGIN(cert-dcl58-cpp,bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)

// Declared [[noreturn]] by the library's own header.
namespace std {

void __throw_bad_alloc() {
  throw bad_alloc();
}
void __throw_length_error(const char*) {
  throw bad_alloc();
}
void __throw_logic_error(const char*) {
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

// Memory for thrown exceptions: the C++ ABI's allocation functions (<cxxabi.h>). The runtime's
// own keep a reserve for exhausted memory that they allocate, with a lock, when the module loads
// and never give back, so every unload would leave both behind. These take the reserve from the
// module's own data instead: a few blocks, claimed and released without a lock.
namespace {

// The runtime writes its record of a thrown exception just before the object; this is room for
// it with a wide margin (it is under 100 bytes on this target), kept a multiple of the strictest
// alignment so that the object stays aligned as the block is.
constexpr std::size_t kRecordRoom = 128;
// A dependent exception (one exception_ptr rethrown) is such a record alone.
constexpr std::size_t kDependentSize = kRecordRoom;
// For exhausted memory: room for a record and a small exception object such as std::bad_alloc,
// for as many exceptions in flight at once as any thread of the host plausibly has.
constexpr std::size_t kReserveBlockSize = 256;
constexpr std::size_t kReserveBlocks = 4;

alignas(16) unsigned char reserve[kReserveBlocks][kReserveBlockSize];
std::atomic<bool> reserveTaken[kReserveBlocks];

void* Claim(std::size_t size) noexcept {
  void* block = std::malloc(size);  // NOLINT(cppcoreguidelines-no-malloc): raw, as the ABI asks
  for (std::size_t i = 0; block == nullptr && size <= kReserveBlockSize && i < kReserveBlocks;
       ++i) {
    if (!reserveTaken[i].exchange(true)) block = reserve[i];
  }
  if (block == nullptr) std::terminate();  // what the ABI asks for when there is no memory
  std::memset(block, 0, size < kRecordRoom ? size : kRecordRoom);
  return block;
}

void Release(void* block) noexcept {
  for (std::size_t i = 0; i < kReserveBlocks; ++i) {
    if (block == reserve[i]) {
      reserveTaken[i].store(false);
      return;
    }
  }
  std::free(block);  // NOLINT(cppcoreguidelines-no-malloc): from Claim
}

}  // namespace

namespace __cxxabiv1 {
extern "C" {

void* __cxa_allocate_exception(std::size_t size) noexcept {
  return static_cast<unsigned char*>(Claim(kRecordRoom + size)) + kRecordRoom;
}

void __cxa_free_exception(void* object) noexcept {
  Release(static_cast<unsigned char*>(object) - kRecordRoom);
}

__cxa_dependent_exception* __cxa_allocate_dependent_exception() noexcept {
  return static_cast<__cxa_dependent_exception*>(Claim(kDependentSize));
}

void __cxa_free_dependent_exception(__cxa_dependent_exception* record) noexcept {
  Release(record);
}

}  // extern "C"
}  // namespace __cxxabiv1
// NOLINTEND(cert-dcl58-cpp,bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
