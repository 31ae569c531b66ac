// Plays the user of the configuration dialog from a second thread: finds the dialog by its
// caption, reads the focus with GetGUIThreadInfo and acts with SendInput, or with BM_CLICK where a
// click suffices.
#pragma once

#include <windows.h>

#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>

#include "KeyProbe.hpp"

namespace tovrel::test {

using probe::WaitFor;

inline std::string TextOf(HWND window) {
  char text[256] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

// What the user sees of the dialog, from the user's thread.
struct User {
  DWORD DialogThread = 0;
  HWND Dialog = nullptr;

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

  // Key events in one batch: positive virtual-key codes press, negative ones release.
  static void Keys(std::initializer_list<int> strokes) {
    std::vector<INPUT> inputs;
    for (int stroke : strokes) {
      INPUT input{};
      input.type = INPUT_KEYBOARD;
      input.ki.wVk = static_cast<WORD>(std::abs(stroke));
      input.ki.wScan = static_cast<WORD>(MapVirtualKeyA(input.ki.wVk, 0));
      input.ki.dwFlags = stroke < 0 ? KEYEVENTF_KEYUP : 0;
      inputs.push_back(input);
    }
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
  }
  static void Key(int vk) { Keys({vk, -vk}); }

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

  // A left click at a point on the screen.
  static void MouseClick(POINT at) {
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    INPUT inputs[3] = {};
    for (INPUT& input : inputs) {
      input.type = INPUT_MOUSE;
      input.mi.dx = (at.x * 65535 + width / 2) / (width - 1);
      input.mi.dy = (at.y * 65535 + height / 2) / (height - 1);
    }
    inputs[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_ABSOLUTE;
    inputs[2].mi.dwFlags = MOUSEEVENTF_LEFTUP | MOUSEEVENTF_ABSOLUTE;
    SendInput(3, inputs, sizeof(INPUT));
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
};

// Waits until the dialog is shown, in front, with the focus on one of its controls.
inline bool WaitForDialog(User& user, const char* caption) {
  return WaitFor([&] {
    user.Dialog = FindWindowA(nullptr, caption);
    return user.Dialog != nullptr && IsWindowVisible(user.Dialog) &&
           GetForegroundWindow() == user.Dialog && GetParent(user.Focus()) == user.Dialog;
  });
}

}  // namespace tovrel::test
