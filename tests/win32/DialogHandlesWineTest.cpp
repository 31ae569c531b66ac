// What the configuration dialog made is gone once it closes. Wine reports no GDI or USER object
// counts (GetGuiResources answers 0), so the test keeps each handle it can see while the dialog
// runs and checks afterwards that none of them is valid any more: the windows, the font, the
// window class, the activation it made them in. What it cannot see (the measuring device contexts,
// the activation context) it measures: the GDI handle slots and the process heap stay flat over 200
// dialogs. On Windows, which counts a process's GDI and USER objects, the counts take the slots'
// place.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <thread>
#include <vector>

#include "DialogDriver.hpp"
#include "HeapBytes.hpp"
#include "KeyProbe.hpp"
#include "SystemCounts.hpp"
#include "fConfig.hpp"

namespace tovrel {
namespace {

using test::User;

// What one dialog showed of itself while it ran.
struct Seen {
  HWND Dialog = nullptr;
  HWND Controls[16] = {};  // fixed, so that keeping 200 of these takes no heap while measured
  std::size_t ControlCount = 0;
  HFONT Font = nullptr;
  // What a timer of the caller's thread found inside the dialog's loop: whether it ran inside an
  // activation context, and the module of the procedure of a button it made there.
  bool Ticked = false;
  bool ContextActive = false;
  HMODULE HostButton = nullptr;
  HMODULE DialogButton = nullptr;  // of the dialog's own OK button
};

BOOL CALLBACK AddControl(HWND control, LPARAM context) {
  auto* seen = reinterpret_cast<Seen*>(context);
  if (seen->ControlCount < std::size(seen->Controls))
    seen->Controls[seen->ControlCount++] = control;
  return TRUE;
}

// Whether the thread runs inside some activation context other than the process default.
bool InsideActivationContext() {
  HANDLE context = nullptr;
  if (!GetCurrentActCtx(&context)) return false;
  const bool inside = context != nullptr;
  if (context != nullptr) ReleaseActCtx(context);
  return inside;
}

// The module whose code a window's procedure is: user32's controls or the themed common controls'.
HMODULE ProcedureModule(HWND window) {
  HMODULE module = nullptr;
  const LONG_PTR procedure = GetWindowLongPtrW(window, GWLP_WNDPROC);
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(procedure), &module);
  return module;
}

// A button as the host makes one, in whatever context its thread runs.
HMODULE HostButtonModule() {
  HWND button = CreateWindowExA(0, "BUTTON", "", WS_POPUP, 0, 0, 8, 8, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
  const HMODULE module = ProcedureModule(button);
  DestroyWindow(button);
  return module;
}

// Creates, shows and closes one dialog as Configure does, and keeps what it saw.
Seen OneDialog() {
  Seen seen;
  static Seen* current = nullptr;
  current = &seen;
  {
    TfrmConfig form;
    EXPECT_TRUE(form.Create());
    // On the dialog's own thread, inside its loop: the context it runs in.
    struct Timer {
      static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
        if (current->Ticked) return;
        current->ContextActive = InsideActivationContext();
        current->HostButton = HostButtonModule();
        current->Ticked = true;
      }
    };
    const UINT_PTR timer = SetTimer(nullptr, 0, 1, &Timer::Tick);
    User user;
    user.DialogThread = GetCurrentThreadId();
    std::thread driver([&] {
      if (!test::WaitForDialog(user, kConfigCaption)) {
        ADD_FAILURE() << "the dialog did not appear";
        return;
      }
      seen.Dialog = user.Dialog;
      seen.Font = reinterpret_cast<HFONT>(SendMessageA(user.Dialog, WM_GETFONT, 0, 0));
      EnumChildWindows(user.Dialog, &AddControl, reinterpret_cast<LPARAM>(&seen));
      seen.DialogButton = ProcedureModule(user.Child("Button", "OK"));
      // The thread's timer ticks inside the dialog's loop.
      test::WaitFor([&] { return seen.Ticked; }, 2000);
      SendMessageA(user.Dialog, WM_CLOSE, 0, 0);
    });
    form.ShowModal();
    driver.join();
    KillTimer(nullptr, timer);
  }
  current = nullptr;
  return seen;
}

bool FormClassRegistered() {
  WNDCLASSEXA info{};
  info.cbSize = sizeof info;
  return GetClassInfoExA(GetModuleHandleA(nullptr), kConfigLayout.Name, &info) != FALSE;
}

void ExpectGone(const Seen& seen) {
  ASSERT_NE(seen.Dialog, nullptr);
  EXPECT_FALSE(IsWindow(seen.Dialog));
  EXPECT_EQ(seen.ControlCount, kConfigControlCount);
  for (std::size_t i = 0; i < seen.ControlCount; ++i) EXPECT_FALSE(IsWindow(seen.Controls[i]));
  ASSERT_NE(seen.Font, nullptr);
  EXPECT_EQ(GetObjectType(seen.Font), 0u) << "the dialog's font is deleted";
}

// The highest GDI handle slot that 64 new objects take: the system hands out freed slots first,
// so slots that leaked objects still hold push it up.
unsigned HighestFreeGdiSlot() {
  std::vector<HDC> probes;
  unsigned highest = 0;
  for (int i = 0; i < 64; ++i) {
    HDC dc = CreateCompatibleDC(nullptr);
    if (dc == nullptr) break;
    highest = std::max<unsigned>(highest, LOWORD(reinterpret_cast<std::uintptr_t>(dc)));
    probes.push_back(dc);
  }
  for (HDC dc : probes) DeleteDC(dc);
  return highest;
}

using test::HeapBytesInUse;

class DialogHandlesTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(owner_.BringToFront()); }
  probe::ProbeWindow owner_{"TovrelTestOwner"};
};

// The themed controls' context is the dialog's while it makes its windows only: a button the
// host's timer makes while the dialog runs is the host's own kind, while the dialog's are themed.
TEST_F(DialogHandlesTest, OneDialog_EveryHandleItMadeIsInvalidAfterwards) {
  ASSERT_FALSE(InsideActivationContext());
  const HMODULE hostButton = HostButtonModule();
  ASSERT_NE(hostButton, nullptr);
  const Seen seen = OneDialog();
  ExpectGone(seen);
  ASSERT_TRUE(seen.Ticked) << "the timer ran in the dialog's loop";
  EXPECT_FALSE(seen.ContextActive) << "the loop ran in the host's context, not the plug-in's";
  EXPECT_EQ(seen.HostButton, hostButton) << "the host's button is the same kind in the loop";
  EXPECT_NE(seen.DialogButton, hostButton) << "the dialog's own controls are themed";
  EXPECT_FALSE(InsideActivationContext()) << "and the thread left it";
  EXPECT_FALSE(FormClassRegistered()) << "the class goes with the dialog";
}

TEST_F(DialogHandlesTest, TwoHundredDialogs_NothingPilesUp) {
  OneDialog();  // one-time allocations out of the way
  std::vector<Seen> all(200);
  const unsigned slotBefore = HighestFreeGdiSlot();
  const test::SystemCounts countsBefore = test::CountsOfThisProcess();
  const std::size_t heapBefore = HeapBytesInUse();
  std::generate(all.begin(), all.end(), OneDialog);
  const unsigned slotAfter = HighestFreeGdiSlot();
  const test::SystemCounts countsAfter = test::CountsOfThisProcess();
  const std::size_t heapAfter = HeapBytesInUse();
  std::printf("GDI slot for new objects %u -> %u; heap bytes in use %lu -> %lu\n", slotBefore,
              slotAfter, static_cast<unsigned long>(heapBefore),
              static_cast<unsigned long>(heapAfter));

  for (const Seen& seen : all) {
    ExpectGone(seen);
    if (testing::Test::HasFailure()) break;
  }
  EXPECT_FALSE(FormClassRegistered());
  EXPECT_FALSE(InsideActivationContext());
  // Each dialog measures its texts in about ten device contexts and runs in one activation
  // context: one left behind per dialog shows here.
  if (countsBefore.Answered) {
    std::printf("GDI objects %lu -> %lu; USER objects %lu -> %lu\n", countsBefore.GdiObjects,
                countsAfter.GdiObjects, countsBefore.UserObjects, countsAfter.UserObjects);
    EXPECT_LE(countsAfter.GdiObjects, countsBefore.GdiObjects + test::kSystemSlack);
    EXPECT_LE(countsAfter.UserObjects, countsBefore.UserObjects + test::kSystemSlack);
  } else {
    EXPECT_LE(slotAfter, slotBefore + 150) << "GDI objects left behind";
  }
  EXPECT_LE(heapAfter, heapBefore + 8192) << "heap memory left behind";
}

}  // namespace
}  // namespace tovrel
