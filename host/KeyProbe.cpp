#include "KeyProbe.hpp"

#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <thread>

#include "UnderWine.hpp"

namespace tovrel::probe {

namespace {

constexpr char kWindowProperty[] = "TovrelProbeWindow";

LRESULT CALLBACK ProbeWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* window = static_cast<ProbeWindow*>(GetPropA(hwnd, kWindowProperty));
  WindowLog* log = window != nullptr ? &window->Log() : nullptr;
  if (log != nullptr) {
    switch (msg) {
      case WM_KEYDOWN:
      case WM_SYSKEYDOWN:
        log->Events.push_back("down " + std::to_string(wp));
        break;
      case WM_KEYUP:
      case WM_SYSKEYUP:
        log->Events.push_back("up " + std::to_string(wp));
        break;
      case WM_ENTERIDLE:
        if (wp == MSGF_DIALOGBOX) {
          ++log->DialogIdles;
          log->IdleDialog = reinterpret_cast<HWND>(lp);
        }
        break;
      case WM_SYSCOMMAND:
        if ((wp & 0xFFF0) == SC_MINIMIZE) {
          log->Events.push_back("minimize");
          const LRESULT result = DefWindowProcA(hwnd, msg, wp, lp);
          const HWND next = window->WindowActivatedWhenMinimized();
          if (next != nullptr && GetForegroundWindow() != next) {
            SetForegroundWindow(next);
            SetFocus(next);
          }
          return result;
        }
        break;
      default:
        break;
    }
  }
  return DefWindowProcA(hwnd, msg, wp, lp);
}

void RegisterProbeClass(const char* name) {
  WNDCLASSA wc{};
  if (GetClassInfoA(GetModuleHandleA(nullptr), name, &wc)) return;
  wc.lpfnWndProc = ProbeWndProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = name;
  RegisterClassA(&wc);
}

// How long GetMessage may wait for a message that a peek showed but a hook then swallowed.
constexpr UINT kTakeWaitMs = 250;

void PumpOnce(Loop loop = Loop::Take) {
  MSG msg;
  if (loop == Loop::Take) {
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    return;
  }
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
    // A key the hooks pass on at the peek but swallow when it is taken leaves the queue without
    // being returned: GetMessage would then wait for the next message. A timer bounds that wait.
    const UINT_PTR timer = SetTimer(nullptr, 0, kTakeWaitMs, nullptr);
    const BOOL taken = GetMessageA(&msg, nullptr, 0, 0);
    KillTimer(nullptr, timer);
    if (taken <= 0) return;
    if (msg.message == WM_TIMER && msg.hwnd == nullptr && msg.wParam == timer) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

// Pumps this thread's messages until `done` holds or the deadline passes.
template <typename Condition>
bool PumpUntil(Condition done, DWORD timeoutMs, Loop loop = Loop::Take) {
  const ULONGLONG deadline = GetTickCount64() + OnThisMachine(timeoutMs);
  for (;;) {
    PumpOnce(loop);
    if (done()) return true;
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE,
                              static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, 50)),
                              QS_ALLINPUT);
  }
}

// The observer: the last hook installed on a thread is called first, so it sees every event the
// thread retrieves, whatever the hooks behind it decide.
struct Observer {
  WORD Key = 0;
  bool Released = false;
  bool Seen = false;       // the event left the queue: taken, or swallowed at a peek
  bool Swallowed = false;  // by a hook behind the observer, at the call that removed it
  int Peeks = 0;
  HHOOK Hook = nullptr;
};
Observer* g_observer = nullptr;

LRESULT CALLBACK ObserverProc(int code, WPARAM wp, LPARAM lp) {
  const LRESULT result = CallNextHookEx(nullptr, code, wp, lp);
  if (g_observer != nullptr && wp == g_observer->Key &&
      ((static_cast<DWORD>(lp) & 0x80000000u) != 0) == g_observer->Released) {
    if (code == HC_NOREMOVE) ++g_observer->Peeks;
    // Swallowed at a peek, the event is removed from the queue and never taken.
    if (code == HC_ACTION || (code == HC_NOREMOVE && result != 0)) {
      g_observer->Seen = true;
      g_observer->Swallowed = result != 0;
    }
  }
  return result;
}

}  // namespace

bool WindowLog::Saw(const std::string& event) const {
  return std::find(Events.begin(), Events.end(), event) != Events.end();
}

int WindowLog::Count(const std::string& event) const {
  return static_cast<int>(std::count(Events.begin(), Events.end(), event));
}

ProbeWindow::ProbeWindow(const char* className) {
  RegisterProbeClass(className);
  hwnd_ = CreateWindowExA(0, className, className, WS_OVERLAPPEDWINDOW, 40, 40, 360, 200, nullptr,
                          nullptr, GetModuleHandleA(nullptr), nullptr);
  if (hwnd_ != nullptr) {
    SetPropA(hwnd_, kWindowProperty, this);
    ShowWindow(hwnd_, SW_SHOW);
    UpdateWindow(hwnd_);
  }
}

ProbeWindow::~ProbeWindow() {
  if (hwnd_ != nullptr) {
    RemovePropA(hwnd_, kWindowProperty);
    DestroyWindow(hwnd_);
    PumpOnce();
  }
}

namespace {

void Activate(HWND window) {
  SetForegroundWindow(window);
  SetActiveWindow(window);
  SetFocus(window);
}

// ---- Windows only. The system lets a process take the foreground only while the foreground
// lock allows it: it is the foreground process or was started by it, it received the last input
// event, or the lock's time-out has passed since the user's last input (SetForegroundWindow's
// remarks). A program started by a CI runner, with a console window in front that it was not
// started by and nobody typing, meets none of these. The documented ways around it, in turn:
// - join the foreground thread's input state (AttachThreadInput) for the call: the system then
//   treats the call as coming from the foreground thread;
// - press Alt (and Ctrl, so that the release opens no menu): the system lifts the lock when the
//   user presses Alt (LockSetForegroundWindow's remarks), and this process then sent the last
//   input event.
// Not used: SPI_SETFOREGROUNDLOCKTIMEOUT (only a process that may set the foreground may change
// it, and it would stay changed for the session) and AllowSetForegroundWindow (it passes on a
// right this process does not have yet).
void TakeTheForeground(HWND window) {
  const DWORD ours = GetCurrentThreadId();
  const DWORD theirs = GetWindowThreadProcessId(GetForegroundWindow(), nullptr);
  const bool attached = theirs != 0 && theirs != ours && AttachThreadInput(ours, theirs, TRUE);
  BringWindowToTop(window);
  Activate(window);
  if (attached) AttachThreadInput(ours, theirs, FALSE);
  if (GetForegroundWindow() == window) return;
  INPUT keys[4] = {};
  const WORD strokes[4][2] = {
      {VK_MENU, 0}, {VK_CONTROL, 0}, {VK_CONTROL, KEYEVENTF_KEYUP}, {VK_MENU, KEYEVENTF_KEYUP}};
  for (int i = 0; i < 4; ++i) {
    keys[i].type = INPUT_KEYBOARD;
    keys[i].ki.wVk = strokes[i][0];
    keys[i].ki.dwFlags = strokes[i][1];
  }
  SendInput(2, keys, sizeof(INPUT));
  Activate(window);
  SendInput(2, keys + 2, sizeof(INPUT));
}
// ---- end of Windows only.

// The program that holds the foreground: its file name, by the process list (Windows 2000 on).
std::string ProgramOf(DWORD pid) {
  std::string name = "?";
  HANDLE list = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (list == INVALID_HANDLE_VALUE) return name;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(list, &entry); more; more = Process32Next(list, &entry)) {
    if (entry.th32ProcessID == pid) {
      name = entry.szExeFile;
      break;
    }
  }
  CloseHandle(list);
  return name;
}

void SayWhoHoldsTheForeground(HWND wanted) {
  const HWND front = GetForegroundWindow();
  DWORD pid = 0;
  GetWindowThreadProcessId(front, &pid);
  char windowClass[64] = {};
  char title[96] = {};
  GetClassNameA(front, windowClass, sizeof windowClass);
  GetWindowTextA(front, title, sizeof title);
  std::printf(
      "window %p did not come to the front: the foreground is %s (process %lu, %s): "
      "window %p of class \"%s\", \"%s\"\n",
      static_cast<void*>(wanted), ProgramOf(pid).c_str(), pid,
      pid == GetCurrentProcessId() ? "this one" : "another one", static_cast<void*>(front),
      windowClass, title);
  std::fflush(stdout);
}

}  // namespace

bool ProbeWindow::BringToFront() {
  if (hwnd_ == nullptr) return false;
  if (IsIconic(hwnd_)) ShowWindow(hwnd_, SW_RESTORE);
  auto inFront = [this] { return GetForegroundWindow() == hwnd_ && GetFocus() == hwnd_; };
  Activate(hwnd_);
  const bool wine = UnderWine();
  if (PumpUntil(inFront, wine ? 10000 : 1000)) return true;
  if (!wine) {
    TakeTheForeground(hwnd_);
    if (PumpUntil(inFront, 10000)) return true;
  }
  SayWhoHoldsTheForeground(hwnd_);
  return false;
}

bool Input(WORD vk, KeyStroke stroke) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = vk;
  input.ki.wScan = static_cast<WORD>(MapVirtualKeyA(vk, 0));
  input.ki.dwFlags = stroke == KeyStroke::Release ? KEYEVENTF_KEYUP : 0;
  return SendInput(1, &input, sizeof input) == 1;
}

namespace {

bool Observe(Observer& observer, WORD vk, KeyStroke stroke) {
  observer.Key = vk;
  observer.Released = stroke == KeyStroke::Release;
  observer.Hook = SetWindowsHookExA(WH_KEYBOARD, ObserverProc, nullptr, GetCurrentThreadId());
  g_observer = observer.Hook != nullptr ? &observer : nullptr;
  return observer.Hook != nullptr;
}

}  // namespace

bool SendKey(WORD vk, KeyStroke stroke, DWORD timeoutMs, Loop loop, int* peeks, bool* swallowed) {
  Observer observer;
  if (!Observe(observer, vk, stroke)) return false;
  const bool sent = Input(vk, stroke);
  const bool seen = sent && PumpUntil([&] { return observer.Seen; }, timeoutMs, loop);
  // Whatever the event caused (a minimize, say) is dispatched before the caller looks.
  PumpOnce(loop);
  if (peeks != nullptr) *peeks += observer.Peeks;
  if (swallowed != nullptr) *swallowed = observer.Swallowed;

  g_observer = nullptr;
  UnhookWindowsHookEx(observer.Hook);
  return seen;
}

EscapeOutcome SendEscape(ProbeWindow& window, Loop loop) {
  EscapeOutcome outcome{};
  window.Log().Events.clear();
  const bool pressed = SendKey(VK_ESCAPE, KeyStroke::Press, 10000, loop, &outcome.Peeks);
  outcome.PressDelivered = window.Log().Saw("down 27");
  outcome.MinimizedByPress = window.Minimized();
  const bool released = SendKey(VK_ESCAPE, KeyStroke::Release, 10000, loop, &outcome.Peeks);
  outcome.ReleaseDelivered = window.Log().Saw("up 27");
  outcome.MinimizedByRelease = !outcome.MinimizedByPress && window.Minimized();
  outcome.Completed = pressed && released;
  return outcome;
}

ModalEscape EscapeEndingModal(ProbeWindow& back, const std::function<void()>& show,
                              const std::function<bool()>& shown,
                              const std::function<bool()>& closed, DWORD closeMs,
                              const std::function<void()>& close) {
  ModalEscape outcome{};
  back.Log().Events.clear();
  Observer observer;
  if (!Observe(observer, VK_ESCAPE, KeyStroke::Release)) return outcome;
  std::thread user([&] {
    outcome.Shown = WaitFor(shown);
    if (outcome.Shown && Input(VK_ESCAPE, KeyStroke::Press)) {
      outcome.Closed = WaitFor(closed, closeMs);
    }
    if (!outcome.Closed) {
      close();
      WaitFor(closed);
    }
    outcome.BackInFront = WaitFor([&] { return GetForegroundWindow() == back.Handle(); });
    Input(VK_ESCAPE, KeyStroke::Release);
  });
  show();
  outcome.ReleaseSeen = PumpUntil([&] { return observer.Seen; }, 10000);
  user.join();
  PumpOnce();
  g_observer = nullptr;
  UnhookWindowsHookEx(observer.Hook);
  outcome.ReleaseDelivered = back.Log().Saw("up 27");
  outcome.Minimized = back.Minimized();
  return outcome;
}

namespace {

constexpr char kOtherThreadClass[] = "TovrelOtherThread";

LRESULT CALLBACK OtherThreadWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if ((msg == WM_KEYDOWN || msg == WM_KEYUP) && wp == VK_ESCAPE) {
    auto* escapes = reinterpret_cast<std::atomic<int>*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (escapes != nullptr) ++*escapes;
  }
  return DefWindowProcA(hwnd, msg, wp, lp);
}

}  // namespace

OtherThreadWindow::OtherThreadWindow() {
  thread_ = std::thread([this] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = OtherThreadWndProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kOtherThreadClass;
    RegisterClassA(&wc);
    HWND hwnd = CreateWindowExA(0, kOtherThreadClass, "Another program", WS_OVERLAPPEDWINDOW, 420,
                                40, 300, 200, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&escapes_));
    ShowWindow(hwnd, SW_SHOWNOACTIVATE);
    threadId_ = GetCurrentThreadId();
    created_ = hwnd != nullptr ? hwnd : HWND_MESSAGE;
    MSG msg;
    while (hwnd != nullptr && GetMessageA(&msg, nullptr, 0, 0) > 0) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    if (hwnd != nullptr) DestroyWindow(hwnd);
    ended_ = true;
  });
  // Its thread may send this one messages while it makes its window.
  PumpUntil([this] { return created_ != nullptr; }, 10000);
  hwnd_ = created_ == HWND_MESSAGE ? nullptr : created_.load();
}

OtherThreadWindow::~OtherThreadWindow() {
  PostThreadMessageA(threadId_, WM_QUIT, 0, 0);
  // Its thread may send this one messages while its window goes (the activation moving here).
  PumpUntil([this] { return ended_.load(); }, 10000);
  thread_.join();
}

bool OtherThreadWindow::BringToFront() {
  if (hwnd_ == nullptr) return false;
  SetForegroundWindow(hwnd_);
  return PumpUntil([this] { return GetForegroundWindow() == hwnd_; }, 10000);
}

bool OtherThreadWindow::SendEscape(KeyStroke stroke) {
  const int before = escapes_;
  return Input(VK_ESCAPE, stroke) && PumpUntil([&] { return escapes_ > before; }, 10000);
}

std::string Describe(bool delivered, bool minimized) {
  std::string text = delivered ? "delivered" : "swallowed";
  if (minimized) text += ", minimized";
  return text;
}

}  // namespace tovrel::probe
