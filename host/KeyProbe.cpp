#include "KeyProbe.hpp"

#include <algorithm>

namespace tovrel::probe {

namespace {

constexpr char kLogProperty[] = "TovrelProbeLog";

LRESULT CALLBACK ProbeWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* log = static_cast<WindowLog*>(GetPropA(hwnd, kLogProperty));
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
      case WM_SYSCOMMAND:
        if ((wp & 0xFFF0) == SC_MINIMIZE) log->Events.push_back("minimize");
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

void PumpOnce() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

// Pumps this thread's messages until `done` holds or the deadline passes.
template <typename Condition>
bool PumpUntil(Condition done, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    PumpOnce();
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
  bool Seen = false;
  HHOOK Hook = nullptr;
};
Observer* g_observer = nullptr;

LRESULT CALLBACK ObserverProc(int code, WPARAM wp, LPARAM lp) {
  if (code == HC_ACTION && g_observer != nullptr && wp == g_observer->Key &&
      ((static_cast<DWORD>(lp) & 0x80000000u) != 0) == g_observer->Released) {
    g_observer->Seen = true;
  }
  return CallNextHookEx(nullptr, code, wp, lp);
}

}  // namespace

bool WindowLog::Saw(const std::string& event) const {
  return std::find(Events.begin(), Events.end(), event) != Events.end();
}

ProbeWindow::ProbeWindow(const char* className) {
  RegisterProbeClass(className);
  hwnd_ = CreateWindowExA(0, className, className, WS_OVERLAPPEDWINDOW, 40, 40, 360, 200, nullptr,
                          nullptr, GetModuleHandleA(nullptr), nullptr);
  if (hwnd_ != nullptr) {
    SetPropA(hwnd_, kLogProperty, &log_);
    ShowWindow(hwnd_, SW_SHOW);
    UpdateWindow(hwnd_);
  }
}

ProbeWindow::~ProbeWindow() {
  if (hwnd_ != nullptr) {
    RemovePropA(hwnd_, kLogProperty);
    DestroyWindow(hwnd_);
    PumpOnce();
  }
}

bool ProbeWindow::BringToFront() {
  if (hwnd_ == nullptr) return false;
  if (IsIconic(hwnd_)) ShowWindow(hwnd_, SW_RESTORE);
  SetForegroundWindow(hwnd_);
  SetActiveWindow(hwnd_);
  SetFocus(hwnd_);
  return PumpUntil([this] { return GetForegroundWindow() == hwnd_ && GetFocus() == hwnd_; }, 10000);
}

bool SendKey(WORD vk, KeyStroke stroke, DWORD timeoutMs) {
  Observer observer;
  observer.Key = vk;
  observer.Released = stroke == KeyStroke::Release;
  observer.Hook = SetWindowsHookExA(WH_KEYBOARD, ObserverProc, nullptr, GetCurrentThreadId());
  if (observer.Hook == nullptr) return false;
  g_observer = &observer;

  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = vk;
  input.ki.wScan = static_cast<WORD>(MapVirtualKeyA(vk, 0));
  input.ki.dwFlags = stroke == KeyStroke::Release ? KEYEVENTF_KEYUP : 0;
  const bool sent = SendInput(1, &input, sizeof input) == 1;
  const bool seen = sent && PumpUntil([&] { return observer.Seen; }, timeoutMs);
  // Whatever the event caused (a minimize, say) is dispatched before the caller looks.
  PumpOnce();

  g_observer = nullptr;
  UnhookWindowsHookEx(observer.Hook);
  return seen;
}

EscapeOutcome SendEscape(ProbeWindow& window) {
  EscapeOutcome outcome{};
  window.Log().Events.clear();
  const bool pressed = SendKey(VK_ESCAPE, KeyStroke::Press);
  outcome.PressDelivered = window.Log().Saw("down 27");
  outcome.MinimizedByPress = window.Minimized();
  const bool released = SendKey(VK_ESCAPE, KeyStroke::Release);
  outcome.ReleaseDelivered = window.Log().Saw("up 27");
  outcome.MinimizedByRelease = !outcome.MinimizedByPress && window.Minimized();
  outcome.Completed = pressed && released;
  return outcome;
}

std::string Describe(bool delivered, bool minimized) {
  std::string text = delivered ? "delivered" : "swallowed";
  if (minimized) text += ", minimized";
  return text;
}

}  // namespace tovrel::probe
