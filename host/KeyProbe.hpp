// Real windows of the messenger's classes, and real keys sent to them, to see what the plug-in
// does with each Escape event on the running system.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace tovrel::probe {

// What one window saw of the keyboard and of minimize commands, in order.
struct WindowLog {
  std::vector<std::string> Events;  // "down 27", "up 27", "minimize", ...
  // How often a modal dialog it owns told it that it waits (WM_ENTERIDLE), and the last one; read
  // from other threads while the dialog runs.
  std::atomic<int> DialogIdles{0};
  std::atomic<HWND> IdleDialog{nullptr};
  bool Saw(const std::string& event) const;
  int Count(const std::string& event) const;
};

// A visible top-level window of a given class, logging what reaches its window procedure.
class ProbeWindow {
 public:
  explicit ProbeWindow(const char* className);
  ~ProbeWindow();
  ProbeWindow(const ProbeWindow&) = delete;
  ProbeWindow& operator=(const ProbeWindow&) = delete;

  HWND Handle() const { return hwnd_; }
  WindowLog& Log() { return log_; }
  bool Minimized() const { return IsIconic(hwnd_) != FALSE; }
  // Restores, activates and focuses the window; waits until it is the foreground window.
  bool BringToFront();
  // On Windows, minimizing the active window activates another one; a desktop without a window
  // manager may activate none. From now on, once this window has handled a minimize command,
  // `next` is made the foreground window if it is not already.
  void ActivateWhenMinimized(HWND next) { activateWhenMinimized_ = next; }
  HWND WindowActivatedWhenMinimized() const { return activateWhenMinimized_; }

 private:
  HWND hwnd_ = nullptr;
  HWND activateWhenMinimized_ = nullptr;
  WindowLog log_;
};

// A time span on this machine: `ms` on the machine the tests' figures come from, times how much
// slower this one runs the tests' programs (TOVREL_WINE_SPEED_FACTOR, which tools/wine-run sets
// from its measurement of the machine; 1 without it). Every deadline goes through it, so that a
// deadline catches what never happens rather than measuring the machine.
inline DWORD OnThisMachine(DWORD ms) {
  static const double factor = [] {
    char text[32] = {};
    const DWORD length = GetEnvironmentVariableA("TOVREL_WINE_SPEED_FACTOR", text, sizeof text);
    const double value = length > 0 && length < sizeof text ? std::strtod(text, nullptr) : 1.0;
    return value >= 1.0 && value <= 1000.0 ? value : 1.0;
  }();
  return static_cast<DWORD>(ms * factor);
}

// Polls `condition` from a thread that is not the one acting (no message pumping) until it holds
// or the deadline passes.
template <typename Condition>
bool WaitFor(Condition condition, DWORD timeoutMs = 10000) {
  const ULONGLONG deadline = GetTickCount64() + OnThisMachine(timeoutMs);
  while (!condition()) {
    if (GetTickCount64() >= deadline) return false;
    Sleep(5);
  }
  return true;
}

enum class KeyStroke { Press, Release };

// How the thread takes its messages. Take: with PeekMessage(PM_REMOVE), as most loops do; the
// keyboard hooks are called once per key, with HC_ACTION. PeekThenTake: it peeks at each message
// with PM_NOREMOVE before it takes it with GetMessage, as idle checks and wait loops do; the hooks
// are then called with HC_NOREMOVE at the peek, and with HC_ACTION when the key is taken, unless
// they swallowed it at the peek, which removes it from the queue.
enum class Loop { Take, PeekThenTake };

// Sends one key event with SendInput, and nothing more: it waits for nothing and pumps no
// messages.
bool Input(WORD vk, KeyStroke stroke);

// Sends one key event with SendInput and pumps this thread's messages with `loop` until an
// observer hook, installed in front of every other hook of the thread, has seen the event leave
// the queue: taken, or swallowed at a peek. Returns false when that did not happen before the
// deadline. `peeks`, if given, is increased by the hook calls that only peeked at the event;
// `swallowed`, if given, tells whether a hook behind the observer swallowed it.
bool SendKey(WORD vk, KeyStroke stroke, DWORD timeoutMs = 10000, Loop loop = Loop::Take,
             int* peeks = nullptr, bool* swallowed = nullptr);

// What happened to one Escape press and release in the foreground window.
struct EscapeOutcome {
  bool PressDelivered;
  bool ReleaseDelivered;
  bool MinimizedByPress;
  bool MinimizedByRelease;
  bool Completed;  // both events were retrieved by the thread in time
  int Peeks;       // hook calls that only peeked at either event
};

EscapeOutcome SendEscape(ProbeWindow& window, Loop loop = Loop::Take);

// What one Escape did whose press ended a modal loop on this thread (a message box, a dialog, a
// popup menu), with its release arriving once the activation had returned to `back`.
struct ModalEscape {
  bool Shown;             // the modal window came up
  bool Closed;            // the press ended it before the deadline
  bool BackInFront;       // `back` was the foreground window when the release was sent
  bool ReleaseSeen;       // the thread retrieved the release in time
  bool ReleaseDelivered;  // the release reached `back`
  bool Minimized;         // `back` was minimized
};

// Runs `show` (the modal loop) on this thread while a second thread plays a user's quick Escape:
// once `shown` holds, the press; once `closed` holds and `back` is in front again, the release.
// A press that does not satisfy `closed` within `closeMs` is followed by `close`, which ends the
// modal loop another way, and the release is sent all the same.
ModalEscape EscapeEndingModal(ProbeWindow& back, const std::function<void()>& show,
                              const std::function<bool()>& shown,
                              const std::function<bool()>& closed, DWORD closeMs,
                              const std::function<void()>& close);

// A top-level window of another thread, as another program's window is to the thread under test:
// its own thread pumps its messages, and it counts the Escape events that reach it.
class OtherThreadWindow {
 public:
  OtherThreadWindow();
  ~OtherThreadWindow();
  OtherThreadWindow(const OtherThreadWindow&) = delete;
  OtherThreadWindow& operator=(const OtherThreadWindow&) = delete;

  HWND Handle() const { return hwnd_; }
  // Makes it the foreground window, pumping the calling thread's messages until it is.
  bool BringToFront();
  // Sends one Escape event with SendInput and pumps the calling thread's messages until the event
  // reached this window.
  bool SendEscape(KeyStroke stroke);

 private:
  std::thread thread_;
  std::atomic<HWND> created_{nullptr};
  std::atomic<bool> ended_{false};
  DWORD threadId_ = 0;  // written before created_
  HWND hwnd_ = nullptr;
  std::atomic<int> escapes_{0};  // presses and releases of Escape that reached the window
};

// "delivered" / "swallowed", and "minimized" where it was.
std::string Describe(bool delivered, bool minimized);

}  // namespace tovrel::probe
