// What the system's loader runs of tovrel.dll: its entry point, and only for the process's load
// and unload. A thread that the host starts and ends after the load must not enter the DLL: the
// library's start switches the thread notifications off, which the system refuses for a DLL with
// static thread-local data (the C runtime's start-up brings a TLS directory).
//
// The entry point is watched by a jump from its first instruction to a counter with the entry
// point's own signature, which counts each entry by its reason and returns TRUE for the DLL
// without running it. A plain jump works alike on every machine, where 32-bit code is emulated
// too (a breakpoint's exception is not delivered the same way there).
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>

namespace tovrel {
namespace {

const IMAGE_NT_HEADERS* NtHeaders(HMODULE module) {
  const auto* base = reinterpret_cast<const BYTE*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  return reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
}

bool HasTlsDirectory(HMODULE module) {
  return NtHeaders(module)
             ->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_TLS]
             .VirtualAddress != 0;
}

// Counts the entries into one DLL's entry point while it is alive, by the loader's reason.
class EntryWatch {
 public:
  explicit EntryWatch(HMODULE module) {
    entry_ =
        reinterpret_cast<BYTE*>(module) + NtHeaders(module)->OptionalHeader.AddressOfEntryPoint;
    watched_ = this;
    armed_ = VirtualProtect(entry_, kJumpSize, PAGE_EXECUTE_READWRITE, &protection_) != 0;
    if (armed_) {
      std::memcpy(saved_, entry_, kJumpSize);
      // jmp rel32 to Entered: the loader's call, its return address and arguments, reach it as
      // they would the entry point.
      BYTE jump[kJumpSize] = {0xE9};
      const auto target = reinterpret_cast<std::uintptr_t>(&Entered);
      const auto next = reinterpret_cast<std::uintptr_t>(entry_) + kJumpSize;
      const auto offset = static_cast<std::uint32_t>(target - next);
      std::memcpy(jump + 1, &offset, sizeof offset);
      std::memcpy(entry_, jump, kJumpSize);
      FlushInstructionCache(GetCurrentProcess(), entry_, kJumpSize);
    }
  }
  ~EntryWatch() {
    if (armed_) {
      std::memcpy(entry_, saved_, kJumpSize);
      FlushInstructionCache(GetCurrentProcess(), entry_, kJumpSize);
      DWORD ignored = 0;
      VirtualProtect(entry_, kJumpSize, protection_, &ignored);
    }
    watched_ = nullptr;
  }
  EntryWatch(const EntryWatch&) = delete;
  EntryWatch& operator=(const EntryWatch&) = delete;

  bool Armed() const { return armed_; }
  int Entries(DWORD reason) const { return counts_[reason]; }

 private:
  static constexpr SIZE_T kJumpSize = 5;

  static BOOL WINAPI Entered(HINSTANCE, DWORD reason, LPVOID) {
    EntryWatch* watch = watched_;
    if (watch != nullptr && reason < 4) ++watch->counts_[reason];
    return TRUE;
  }

  static inline std::atomic<EntryWatch*> watched_ = nullptr;
  BYTE* entry_ = nullptr;
  BYTE saved_[kJumpSize] = {};
  DWORD protection_ = 0;
  bool armed_ = false;
  std::atomic<int> counts_[4]{};
};

DWORD WINAPI DoNothing(LPVOID) {
  return 0;
}

// Starts a thread and waits until it has ended, its detach notifications included.
bool RunOneThread() {
  HANDLE thread = CreateThread(nullptr, 0, &DoNothing, nullptr, 0, nullptr);
  if (thread == nullptr) return false;
  const bool ended = WaitForSingleObject(thread, 10000) == WAIT_OBJECT_0;
  CloseHandle(thread);
  return ended;
}

TEST(LoaderTest, ThreadStartedAndEndedAfterTheLoad_DoesNotEnterTheDll) {
  const struct {
    const char* Dll;
    bool ThreadsEnter;
  } rows[] = {
      {"tovrel.dll", false},
      // The check of the check: a DLL with the C runtime's start-up and its TLS directory, which
      // leaves the notifications on, is entered once as the thread starts and once as it ends.
      {"empty.dll", true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Dll);
    HMODULE module = LoadLibraryA(row.Dll);
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(HasTlsDirectory(module), row.ThreadsEnter);
    {
      EntryWatch watch(module);
      ASSERT_TRUE(watch.Armed());
      ASSERT_TRUE(RunOneThread()) << "the thread did not end within 10 s";
      // Another thread of the process may start or end meanwhile: at least one entry each way.
      if (row.ThreadsEnter) {
        EXPECT_GE(watch.Entries(DLL_THREAD_ATTACH), 1);
        EXPECT_GE(watch.Entries(DLL_THREAD_DETACH), 1);
      } else {
        EXPECT_EQ(watch.Entries(DLL_THREAD_ATTACH), 0);
        EXPECT_EQ(watch.Entries(DLL_THREAD_DETACH), 0);
      }
      EXPECT_EQ(watch.Entries(DLL_PROCESS_ATTACH) + watch.Entries(DLL_PROCESS_DETACH), 0);
    }
    FreeLibrary(module);
  }
}

}  // namespace
}  // namespace tovrel
