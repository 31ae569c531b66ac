// tovrel.dll driven through its exports many times over in one process: nothing may pile up.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>

#include "HeapBytes.hpp"
#include "KeyProbe.hpp"
#include "PluginApi.hpp"
#include "SystemCounts.hpp"

namespace tovrel {
namespace {

using host::PluginApi;

// What the process holds. Wine reports no handle count, USER or GDI object counts or private bytes
// (GetProcessHandleCount, GetGuiResources and GetProcessMemoryInfo answer 0 there), so these are
// measured another way: the next handle value (the server hands out the lowest free slot, so
// it rises with every leaked handle), the bytes in use in every heap of the process, and the
// top-level windows of this thread. On Windows the system's own counts take the handle value's
// place.
struct Footprint {
  std::uintptr_t NextHandle = 0;
  std::size_t HeapBytes = 0;
  int ThreadWindows = 0;
  test::SystemCounts Counts;
};

using test::HeapBytesInUse;

BOOL CALLBACK CountWindow(HWND, LPARAM count) {
  ++*reinterpret_cast<int*>(count);
  return TRUE;
}

Footprint Measure() {
  Footprint f;
  HANDLE probe = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  f.NextHandle = reinterpret_cast<std::uintptr_t>(probe);
  CloseHandle(probe);
  f.HeapBytes = HeapBytesInUse();
  EnumThreadWindows(GetCurrentThreadId(), &CountWindow, reinterpret_cast<LPARAM>(&f.ThreadWindows));
  f.Counts = test::CountsOfThisProcess();
  return f;
}

// No more handles after a phase than before it: by the system's count where it answers, else by
// the next handle value.
void ExpectNoMoreHandles(const Footprint& before, const Footprint& after, const char* phase) {
  if (!before.Counts.Answered) {
    EXPECT_LE(after.NextHandle, before.NextHandle) << phase;
    return;
  }
  EXPECT_LE(after.Counts.Handles, before.Counts.Handles + test::kSystemSlack) << phase;
  EXPECT_LE(after.Counts.GdiObjects, before.Counts.GdiObjects + test::kSystemSlack) << phase;
  EXPECT_LE(after.Counts.UserObjects, before.Counts.UserObjects + test::kSystemSlack) << phase;
}

void Print(const char* when, const Footprint& f) {
  std::printf("%-38s next handle %#6lx  heap bytes in use %9lu  thread windows %d\n", when,
              static_cast<unsigned long>(f.NextHandle), static_cast<unsigned long>(f.HeapBytes),
              f.ThreadWindows);
  if (f.Counts.Answered) {
    std::printf("%-38s handles %lu  GDI objects %lu  USER objects %lu\n", "", f.Counts.Handles,
                f.Counts.GdiObjects, f.Counts.UserObjects);
  }
}

// Configure opened and closed from inside its own modal loop, by a timer of this thread. No
// thread starts or ends while the figures are taken, so every handle and heap block they count
// belongs to the plug-in or to the system's answer to it. (A driver thread per cycle made the
// figures move: each thread that comes and goes leaves the threads library's records and the
// system's per-thread state behind, and may still be ending when the next handle is probed.)
constexpr char kCaption[] = "Tovrel plugin configuration";

void CALLBACK CloseTheDialog(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND dialog = FindWindowA(nullptr, kCaption);
  if (dialog != nullptr && IsWindowVisible(dialog)) {
    KillTimer(nullptr, timer);
    PostMessageA(dialog, WM_CLOSE, 0, 0);
  }
}

void OpenAndCancel(PluginApi& plugin) {
  const UINT_PTR timer = SetTimer(nullptr, 0, 1, &CloseTheDialog);
  ASSERT_NE(timer, 0u);
  plugin.Configure();
  KillTimer(nullptr, timer);
  ASSERT_EQ(FindWindowA(nullptr, kCaption), nullptr) << "the dialog went with Configure";
}

TEST(Endurance, ManyCyclesLeaveNothingBehind_AndEscapeIsStillFiltered) {
  RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Quorvel\\MsgPlus2");
  PluginApi plugin;
  ASSERT_TRUE(plugin.Load());
  probe::ProbeWindow window("IMWindowClass");
  ASSERT_TRUE(window.BringToFront());
  // One round of everything first, so that one-time allocations are out of the way.
  plugin.Initialize(0, "ivan", 0);
  plugin.Uninitialize();
  ASSERT_NO_FATAL_FAILURE(OpenAndCancel(plugin));
  const Footprint before = Measure();
  Print("before", before);

  for (int i = 0; i < 10000; ++i) {
    ASSERT_EQ(plugin.Initialize(0, "ivan", 0), 1u);
    ASSERT_EQ(plugin.Uninitialize(), 1u) << "cycle " << i;
  }
  const Footprint initialized = Measure();
  Print("after 10,000 Initialize/Uninitialize", initialized);
  for (int i = 0; i < 200; ++i) {
    plugin.Unload();
    ASSERT_TRUE(plugin.Load()) << "load " << i;
  }
  const Footprint reloaded = Measure();
  Print("after 200 unload/load", reloaded);
  // The first dialog after the reloads makes Wine's one-time allocations again (about 2 KB);
  // the phase is measured from after it.
  ASSERT_NO_FATAL_FAILURE(OpenAndCancel(plugin));
  const Footprint reopened = Measure();
  for (int i = 0; i < 200; ++i) {
    OpenAndCancel(plugin);
    if (HasFatalFailure()) return;
  }
  const Footprint configured = Measure();
  Print("after 200 Configure/cancel", configured);

  // No window, no handle and no heap byte more after any phase: the module keeps nothing past an
  // unload, and carries no runtime that would.
  ExpectNoMoreHandles(before, initialized, "left by 10,000 Initialize/Uninitialize");
  ExpectNoMoreHandles(initialized, reloaded, "left by 200 loads");
  ExpectNoMoreHandles(reloaded, reopened, "left by the first dialog after them");
  ExpectNoMoreHandles(reopened, configured, "left by 200 dialogs");
  for (const Footprint* after : {&initialized, &reloaded, &configured}) {
    EXPECT_LE(after->ThreadWindows, before.ThreadWindows);
  }
  EXPECT_LE(initialized.HeapBytes, before.HeapBytes + 4096);
  EXPECT_LE(reloaded.HeapBytes, initialized.HeapBytes + 4096) << "bytes left by 200 loads";
  EXPECT_LE(configured.HeapBytes, reopened.HeapBytes + 4096);
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof windowClass;
  EXPECT_FALSE(GetClassInfoExA(plugin.Module, "TfrmConfig", &windowClass))
      << "the dialog's class goes with the dialog";

  ASSERT_EQ(plugin.Initialize(0, "ivan", 0), 1u);
  ASSERT_TRUE(window.BringToFront());
  const probe::EscapeOutcome outcome = probe::SendEscape(window);
  EXPECT_TRUE(outcome.Completed);
  EXPECT_FALSE(outcome.PressDelivered) << "still filtered";
  plugin.Uninitialize();
  plugin.Unload();
  RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Quorvel\\MsgPlus2");
}

}  // namespace
}  // namespace tovrel
