// Real windows of the messenger's classes, and real keys sent to them, to see what the plug-in
// does with each Escape event on the running system.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace tovrel::probe {

// What one window saw of the keyboard and of minimize commands, in order.
struct WindowLog {
  std::vector<std::string> Events;  // "down 27", "up 27", "minimize", ...
  bool Saw(const std::string& event) const;
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

 private:
  HWND hwnd_ = nullptr;
  WindowLog log_;
};

// Polls `condition` from a thread that is not the one acting (no message pumping) until it holds
// or the deadline passes.
template <typename Condition>
bool WaitFor(Condition condition, DWORD timeoutMs = 10000) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (!condition()) {
    if (GetTickCount64() >= deadline) return false;
    Sleep(5);
  }
  return true;
}

enum class KeyStroke { Press, Release };

// Sends one key event with SendInput and pumps this thread's messages until an observer hook,
// installed in front of every other hook of the thread, has seen the event retrieved. Returns
// false when that did not happen before the deadline.
bool SendKey(WORD vk, KeyStroke stroke, DWORD timeoutMs = 10000);

// What happened to one Escape press and release in the foreground window.
struct EscapeOutcome {
  bool PressDelivered;
  bool ReleaseDelivered;
  bool MinimizedByPress;
  bool MinimizedByRelease;
  bool Completed;  // both events were retrieved by the thread in time
};

EscapeOutcome SendEscape(ProbeWindow& window);

// "delivered" / "swallowed", and "minimized" where it was.
std::string Describe(bool delivered, bool minimized);

}  // namespace tovrel::probe
