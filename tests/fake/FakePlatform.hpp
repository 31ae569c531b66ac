// A fake operating system behind the platform layer, for the native tests.
//
// It behaves rather than echoes: windows have classes and one of them is in the foreground, the
// hook chain's next hook answers with a known value, named mappings are shared system objects
// that live while a handle or view holds them, and every operation that can fail can be told to
// fail once. It counts what is open, so a test can assert that nothing was left behind.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "FakeCodePage.hpp"
#include "FakeRegistry.hpp"
#include "platform/platform.hpp"
#include "toolkit/Form.hpp"

namespace tovrel::fake {

using platform::HookHandle;
using platform::LParam;
using platform::LResult;
using platform::WParam;

enum class Op {
  CreateMapping,
  OpenMapping,
  MapView,
  SetKeyboardHook,
  CreateForm,
};
inline constexpr std::size_t kOpCount = 5;
static_assert(static_cast<std::size_t>(Op::CreateForm) + 1 == kOpCount);

struct NextHookCall {
  HookHandle Hook;
  int Code;
  WParam Key;
  LParam Flags;
};

struct SentMessage {
  platform::Window Target;
  std::uint32_t Message;
  WParam WParamValue;
  LParam LParamValue;
};

struct InstalledHook {
  HookHandle Handle;
  platform::HookProc Proc;
  platform::Instance Module;
  std::uint32_t ThreadId;
};

class FakeSystem {
 public:
  // The one fake system the platform functions act on; Reset() before each test.
  static FakeSystem& Get();

  void Reset();

  // --- processes and threads ---
  std::uint32_t ProcessId = 1234;
  std::uint32_t ThreadId = 77;
  std::vector<platform::Instance> ThreadNotificationsOff;  // modules that switched them off

  // --- failure injection ---
  // The next call of `op` fails, once; asked twice, the next two calls fail.
  void FailNext(Op op) { ++failures_[op]; }
  // The n-th next call of `op` (1: the very next) fails, once.
  void FailCall(Op op, int n) { countdowns_[Index(op)] = n; }
  // Counts a call of `op` and tells whether it fails.
  bool ConsumeFailure(Op op);
  // The calls of `op` since Reset(), failed ones included.
  int Calls(Op op) const { return calls_[Index(op)]; }

  // --- windows ---
  platform::Window AddWindow(std::string className);
  void SetForeground(platform::Window window) { foreground_ = window; }
  // Another thread activates `window` just after the next query of the foreground window has
  // been answered, as can happen on Windows between two calls.
  void ActivateAfterNextQuery(platform::Window window) {
    activateAfterQuery_ = window;
    activationPending_ = true;
  }
  // As on Windows, minimizing the foreground window activates another one: `next`, for `window`.
  void ActivateWhenMinimized(platform::Window window, platform::Window next) {
    activateWhenMinimized_[window] = next;
  }
  // Answers the foreground query, then carries out an activation that was waiting for it.
  platform::Window QueryForeground();
  platform::Window Foreground() const { return foreground_; }
  const std::string* ClassOf(platform::Window window) const;
  int ForegroundQueries = 0;
  int ClassNameQueries = 0;
  std::vector<SentMessage> Messages;

  // --- modal loops and IMEs ---
  bool InMenuLoop = false;      // a menu bar, popup or system menu of the thread is being tracked
  bool InMoveSizeLoop = false;  // a window of the thread is being moved or sized
  platform::Window Focus = platform::Window::None;  // the thread's focus window
  bool ImeLoaded = true;                            // imm32.dll is loaded in the process
  // The length of each window's IME composition string, and the candidate lists its IME shows; a
  // window not listed has neither.
  std::map<platform::Window, int> Compositions;
  std::map<platform::Window, int> CandidateLists;
  int LoopQueries = 0;
  int ImeQueries = 0;
  platform::ImeState FocusIme() const;

  // --- the keyboard's state ---
  // As the system keeps it for GetAsyncKeyState: each key that went down since it was last asked
  // about, for whichever thread the key went to. Every press delivered here sets it; so does
  // PressElsewhere, a press that goes to another thread's window and no hook of this one.
  std::array<bool, 256> WentDownSinceAsked{};
  void PressElsewhere(WParam key) { WentDownSinceAsked.at(key) = true; }
  int KeyStateQueries = 0;

  // --- monitors ---
  struct Monitor {
    platform::ScreenRect Bounds;
    platform::ScreenRect WorkArea;
  };
  // The first is the primary monitor. One 1024x768 screen with a 30-pixel taskbar at the bottom
  // after Reset().
  std::vector<Monitor> Monitors{{{0, 0, 1024, 768}, {0, 0, 1024, 738}}};
  // Where a window lies on the virtual screen; an added window has no area until it is placed.
  void PlaceWindow(platform::Window window, platform::ScreenRect rect) { placed_[window] = rect; }
  // As MonitorFromWindow with MONITOR_DEFAULTTOPRIMARY: the work area of the monitor that holds
  // the largest part of the window, or the primary's.
  platform::ScreenRect WorkAreaOf(platform::Window window) const;

  // --- keyboard hooks ---
  std::vector<InstalledHook> Hooks;  // the most recently installed first
  LResult NextHookResult = 0;        // what the next hook in the chain answers
  std::vector<NextHookCall> NextHookCalls;
  HookHandle InstallHook(platform::HookProc proc, platform::Instance module,
                         std::uint32_t threadId);
  bool RemoveHook(HookHandle hook);
  // Delivers a keyboard event to the first hook of the current thread, as the system would when
  // the thread retrieves it. Returns that hook's answer, or 0 when the thread has no hook.
  LResult DeliverKey(int code, WParam key, LParam flags);
  // As a thread that peeks at each key without removing it (HC_NOREMOVE, code 3) before it takes
  // it (HC_ACTION, code 0): the hooks see the event twice, unless they swallow it at the peek,
  // which removes it from the queue. Returns the last answer.
  LResult PeekThenTakeKey(WParam key, LParam flags);
  // Calls the first hook of the current thread with an event already queued.
  LResult CallHooks(int code, WParam key, LParam flags);
  // Sent messages arrive here; a minimize of the foreground window activates the next one.
  void ReceiveMessage(const SentMessage& message);

  // --- forms ---
  // The version query's platform identifier; 2 is the NT family.
  std::uint32_t PlatformId = 2;
  // Acts as the user while a form is shown modally: clicks, choices. A form that is still
  // without a result afterwards is closed by its close box.
  std::function<void(toolkit::TForm&)> User;
  int FormsCreated = 0;
  int OpenForms = 0;  // forms whose windows exist
  int ShownForms = 0;

  // --- registry ---
  FakeRegistry Registry;
  // The ANSI code page: kWesternCodePage or kDoubleByteCodePage (FakeCodePage.hpp).
  std::uint32_t AnsiCodePage = kWesternCodePage;

  // --- named mappings ---
  platform::Mapping CreateMapping(const char* name, std::uint32_t size);
  platform::Mapping OpenMapping(const char* name);
  void* MapView(platform::Mapping mapping);
  void UnmapView(const void* view);
  void CloseMapping(platform::Mapping mapping);
  bool MappingExists(const std::string& name) const { return mappings_.contains(name); }
  // The first 4 bytes of a mapping, as another process would read them; 0 if there is none.
  std::uint32_t MappingWord(const std::string& name) const;
  int OpenMappingHandles() const { return static_cast<int>(mappingHandles_.size()); }
  int MappedViews() const;

 private:
  struct MappingObject {
    std::string Name;
    std::unique_ptr<std::uint64_t[]> Memory;  // 8-byte aligned, zero-filled
    int Handles = 0;
    int Views = 0;
  };
  void Release(MappingObject* object);
  static std::size_t Index(Op op) { return static_cast<std::size_t>(op); }

  // Counting a call never allocates, whatever the memory left: the counters are arrays, and the
  // failures FailNext asked for are only looked up (a map's find allocates nothing).
  std::map<Op, int> failures_;
  std::array<int, kOpCount> countdowns_{};
  std::array<int, kOpCount> calls_{};
  std::map<platform::Window, std::string> windows_;
  std::map<platform::Window, platform::ScreenRect> placed_;
  platform::Window foreground_ = platform::Window::None;
  platform::Window activateAfterQuery_ = platform::Window::None;
  bool activationPending_ = false;
  std::map<platform::Window, platform::Window> activateWhenMinimized_;
  std::uintptr_t nextId_ = 0x100;
  std::map<std::string, std::unique_ptr<MappingObject>> mappings_;
  std::map<std::uintptr_t, MappingObject*> mappingHandles_;
};

}  // namespace tovrel::fake
