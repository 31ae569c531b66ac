// Plays the user of the configuration dialog from a second thread: finds the dialog by its
// caption, reads the focus with GetGUIThreadInfo and acts with SendInput, or with BM_CLICK where a
// click suffices.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <string>
#include <thread>

#include "KeyProbe.hpp"
#include "PluginApi.hpp"

namespace tovrel::test {

using probe::WaitFor;

inline std::string TextOf(HWND window) {
  char text[256] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

// The key events a thread takes from its queue, seen by a keyboard hook of that thread. Installed
// after every other hook of the thread, it is called before them, whatever they decide. One at a
// time in the process: a hook procedure has no context of its own.
class KeyWatch {
 public:
  KeyWatch() = default;
  KeyWatch(const KeyWatch&) = delete;
  KeyWatch& operator=(const KeyWatch&) = delete;
  ~KeyWatch() { Stop(); }

  bool Start(DWORD thread) {
    Stop();
    hook_ = SetWindowsHookExA(WH_KEYBOARD, &Proc, nullptr, thread);
    return hook_ != nullptr;
  }
  void Stop() {
    if (hook_ != nullptr) UnhookWindowsHookEx(hook_);
    hook_ = nullptr;
  }
  // How many events were taken so far.
  static LONG Seen() { return count_.load(); }
  // Whether an event of this key and direction was taken after the first `since` events.
  static bool SawSince(LONG since, WORD vk, bool release) {
    const LONG seen = count_.load();
    for (LONG i = since; i < seen && i - since < kRing; ++i) {
      if (ring_[i % kRing].load() == Code(vk, release)) return true;
    }
    return false;
  }

 private:
  static constexpr LONG kRing = 256;
  static LONG Code(WPARAM vk, bool release) {
    return static_cast<LONG>(vk & 0xFFFF) | (release ? 0x10000 : 0);
  }
  static LRESULT CALLBACK Proc(int code, WPARAM wp, LPARAM lp) {
    if (code == HC_ACTION) {
      const bool release = (static_cast<DWORD>(lp) & 0x80000000u) != 0;
      const LONG index = count_.load();
      ring_[index % kRing].store(Code(wp, release));
      count_.store(index + 1);  // only the hooked thread writes
    }
    return CallNextHookEx(nullptr, code, wp, lp);
  }
  HHOOK hook_ = nullptr;
  static inline std::atomic<LONG> count_{0};
  static inline std::atomic<LONG> ring_[kRing] = {};
};

// One mouse event at a point on the screen, in the absolute coordinates SendInput takes.
inline bool SendMouse(POINT at, DWORD flags) {
  const int width = GetSystemMetrics(SM_CXSCREEN);
  const int height = GetSystemMetrics(SM_CYSCREEN);
  INPUT input{};
  input.type = INPUT_MOUSE;
  input.mi.dx = (at.x * 65535 + width / 2) / (width - 1);
  input.mi.dy = (at.y * 65535 + height / 2) / (height - 1);
  input.mi.dwFlags = flags | MOUSEEVENTF_ABSOLUTE;
  return SendInput(1, &input, sizeof input) == 1;
}

// What the user sees of the dialog, from the user's thread.
struct User {
  DWORD DialogThread = 0;
  HWND Dialog = nullptr;

  // Watches the keys the dialog's thread takes from its queue (from WaitForDialog on).
  bool WatchKeys() { return watch_.Start(DialogThread); }

  HWND Child(const char* className, const char* text) const {
    return FindWindowExA(Dialog, nullptr, className, text);
  }
  HWND Focus() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    return GetGUIThreadInfo(DialogThread, &info) ? info.hwndFocus : nullptr;
  }
  // The focused control by its text; the action list by its class.
  std::string FocusName() const {
    HWND focus = Focus();
    char cls[64] = {};
    GetClassNameA(focus, cls, sizeof cls);
    return _stricmp(cls, "ComboBox") == 0 ? "list" : TextOf(focus);
  }
  bool Ended() const { return !IsWindowVisible(Dialog); }

  // Key events, one at a time: positive virtual-key codes press, negative ones release. Each is
  // sent only once the one before it has been taken from the dialog thread's queue (or, when the
  // dialog has ended on it, once the system has the key in its new state), so a chord reaches the
  // dialog as the user typed it, however fast the machine is.
  void Keys(std::initializer_list<int> strokes) const {
    for (int stroke : strokes) {
      const WORD vk = static_cast<WORD>(std::abs(stroke));
      const bool release = stroke < 0;
      const LONG before = watch_.Seen();
      ASSERT_TRUE(SendKey(vk, release)) << "key " << vk;
      const bool taken = WaitFor([&] {
        if (watch_.SawSince(before, vk, release)) return true;
        return Ended() && ((GetAsyncKeyState(vk) & 0x8000) != 0) == !release;
      });
      ASSERT_TRUE(taken) << "key " << vk << (release ? " up" : " down")
                         << " was not taken from the dialog thread's queue";
      if (!release && IsModifier(vk) && !Ended()) {
        ASSERT_TRUE(GetAsyncKeyState(vk) & 0x8000)
            << "modifier " << vk << " dropped: the keyboard focus had not settled";
      }
    }
  }
  static bool IsModifier(WORD vk) { return vk == VK_SHIFT || vk == VK_CONTROL || vk == VK_MENU; }

  // Waits until the keyboard focus has settled on the dialog. When a window takes the focus, the
  // X server reports the real keyboard's state to it, and Wine then drops every modifier that
  // SendInput holds; the report reaches the dialog's thread a little after the window became
  // active. So a Shift, which the dialog ignores, is pressed, taken and held across a message
  // round trip through the dialog's thread, and released; until a press survives, the report
  // was still on its way.
  bool SettleKeyboard() const {
    return WaitFor([&] {
      const LONG before = watch_.Seen();
      if (!SendKey(VK_SHIFT, false) ||
          !WaitFor([&] { return watch_.SawSince(before, VK_SHIFT, false); })) {
        return false;
      }
      DWORD_PTR ignored = 0;
      SendMessageTimeoutA(Dialog, WM_NULL, 0, 0, SMTO_BLOCK, 10000, &ignored);
      const bool held = (GetAsyncKeyState(VK_SHIFT) & 0x8000) != 0;
      const LONG released = watch_.Seen();
      return SendKey(VK_SHIFT, true) &&
             WaitFor([&] { return watch_.SawSince(released, VK_SHIFT, true); }) && held;
    });
  }
  static bool SendKey(WORD vk, bool release) {
    return probe::Input(vk, release ? probe::KeyStroke::Release : probe::KeyStroke::Press);
  }
  void Key(int vk) const { Keys({vk, -vk}); }

  // Tab, and the focus has moved: also proves that every key sent before it was handled.
  bool Tab(bool backwards = false) const {
    HWND before = Focus();
    if (backwards) {
      Keys({VK_SHIFT, VK_TAB, -VK_TAB, -VK_SHIFT});
    } else {
      Key(VK_TAB);
    }
    return WaitFor([&] { return Focus() != before; });
  }
  void Click(const char* text) const { SendMessageA(Child("Button", text), BM_CLICK, 0, 0); }
  // From the first control, as the dialog opens: Tab to the action list, then Down, which
  // selects the next item without opening the list. True once the list shows item `expected`.
  bool NextActionByKey(LRESULT expected) const {
    HWND list = Child("ComboBox", nullptr);
    if (!Tab() || Focus() != list) return false;
    Key(VK_DOWN);
    return WaitFor([&] { return SendMessageA(list, CB_GETCURSEL, 0, 0) == expected; });
  }

  // A left click at a point on the screen, in three steps: the pointer moves there, then the
  // button goes down once the system reports the pointer at the point, then up once the dialog's
  // thread has taken the press (it captured the mouse, or started tracking a part of its frame).
  void MouseClick(POINT at) const {
    ASSERT_TRUE(SendMouse(at, MOUSEEVENTF_MOVE));
    ASSERT_TRUE(WaitFor([&] {
      POINT now{};
      return GetCursorPos(&now) && now.x == at.x && now.y == at.y;
    })) << "the pointer never reached "
        << at.x << "," << at.y;
    ASSERT_TRUE(SendMouse(at, MOUSEEVENTF_LEFTDOWN));
    ASSERT_TRUE(WaitFor([&] {
      GUITHREADINFO info{};
      info.cbSize = sizeof info;
      return GetGUIThreadInfo(DialogThread, &info) &&
             (info.hwndCapture == Dialog || (info.flags & GUI_INMOVESIZE) != 0);
    })) << "the dialog never took the button press";
    ASSERT_TRUE(SendMouse(at, MOUSEEVENTF_LEFTUP));
  }
  // The close box, found by asking the dialog what each point of its caption row is.
  POINT CloseBox() const {
    RECT rect{};
    GetWindowRect(Dialog, &rect);
    const int y = rect.top + GetSystemMetrics(SM_CYDLGFRAME) + GetSystemMetrics(SM_CYCAPTION) / 2;
    int right = -1;
    for (int x = rect.right - 1; x > rect.left; --x) {
      const bool close = SendMessageA(Dialog, WM_NCHITTEST, 0, MAKELPARAM(x, y)) == HTCLOSE;
      if (close && right < 0) right = x;
      if (!close && right >= 0) return {(x + 1 + right) / 2, y};  // the middle of the box
    }
    return {-1, -1};
  }

 private:
  KeyWatch watch_;
};

// Waits until the dialog is shown, in front, with the focus on one of its controls, and watches
// the keys its thread takes from then on.
inline bool WaitForDialog(User& user, const char* caption) {
  return user.WatchKeys() && WaitFor([&] {
           user.Dialog = FindWindowA(nullptr, caption);
           return user.Dialog != nullptr && IsWindowVisible(user.Dialog) &&
                  GetForegroundWindow() == user.Dialog && GetParent(user.Focus()) == user.Dialog;
         }) &&
         user.SettleKeyboard();
}

// Shows the dialog modally on this thread (`show`, which returns the dialog's result) while `act`
// plays the user on a second thread once the dialog is up. A dialog the user leaves open is
// closed, and the test fails; `what` names the case in the failure.
inline int PlayUser(const std::function<int()>& show, const std::function<void(User&)>& act,
                    const char* what = "dialog",
                    const char* caption = "Tovrel plugin configuration") {
  User user;
  user.DialogThread = GetCurrentThreadId();
  std::thread driver([&] {
    if (!WaitForDialog(user, caption)) {
      ADD_FAILURE() << what << ": the dialog did not appear";
      return;
    }
    act(user);
    if (!WaitFor([&] { return !IsWindow(user.Dialog) || user.Ended(); })) {
      ADD_FAILURE() << what << ": the dialog was still open";
      PostMessageA(user.Dialog, WM_CLOSE, 0, 0);
    }
  });
  const int result = show();
  driver.join();
  return result;
}

// Runs the plug-in's Configure on this thread while `act` plays the user on another.
inline void ConfigureAs(host::PluginApi& plugin, const std::function<void(User&)>& act) {
  PlayUser(
      [&] {
        plugin.Configure();
        return 0;
      },
      act);
}

}  // namespace tovrel::test
