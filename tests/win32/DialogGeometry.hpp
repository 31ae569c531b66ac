// Whether a dialog holds together on the screen: it fits the screen, every control's text fits
// the control by GetTextExtentPoint32 in the control's own font, and no two controls overlap,
// except a group box and the controls inside it, which keep clear of its caption.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "KeyProbe.hpp"
#include "Screenshot.hpp"

namespace tovrel::test {

struct PlacedControl {
  HWND Window;
  std::string Class;
  std::string Text;
  LONG Style;
  RECT Rect;  // in the dialog's client coordinates
  HFONT Font;
};

inline SIZE TextSize(HFONT font, const std::string& text) {
  SIZE size{};
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, font);
  GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
  SelectObject(dc, old);
  DeleteDC(dc);
  return size;
}

// The height of "0" in the face the dialog shows its text in, at the layout's character height
// scaled to `density`: the layout scales by it. (The layout face, "MS Sans Serif", is a bitmap
// face that stops growing at 20 pixels.)
inline int ShownZeroHeight(int density) {
  HFONT face = CreateFontA(MulDiv(-11, density, 96), 0, 0, 0, FW_NORMAL, 0, 0, 0, ANSI_CHARSET, 0,
                           0, 0, 0, "MS Shell Dlg 2");
  const int zero = TextSize(face, "0").cy;
  DeleteObject(face);
  return zero;
}

// What a check box needs to show its text whole: the box, half a "0" of gap, the text, in the
// control's own font.
inline int CheckBoxWidthNeeded(HWND box) {
  auto font = reinterpret_cast<HFONT>(SendMessageA(box, WM_GETFONT, 0, 0));
  char text[256] = {};
  GetWindowTextA(box, text, sizeof text);
  return GetSystemMetrics(SM_CXMENUCHECK) + TextSize(font, "0").cx / 2 + TextSize(font, text).cx;
}

// The part of the selected item that a closed drop-down list's field has room for: its window
// less the borders, the button and the field's margins, in the list's own font.
inline std::string ClosedListShows(HWND list) {
  auto font = reinterpret_cast<HFONT>(SendMessageA(list, WM_GETFONT, 0, 0));
  const auto selected = SendMessageA(list, CB_GETCURSEL, 0, 0);
  char item[256] = {};
  if (selected < 0) return "";
  SendMessageA(list, CB_GETLBTEXT, static_cast<WPARAM>(selected), reinterpret_cast<LPARAM>(item));
  RECT rect{};
  GetWindowRect(list, &rect);
  const int room =
      rect.right - rect.left - 2 * GetSystemMetrics(SM_CXEDGE) - GetSystemMetrics(SM_CXVSCROLL) - 4;
  std::string shown = item;
  while (!shown.empty() && TextSize(font, shown).cx > room) shown.pop_back();
  return shown;
}

inline std::vector<PlacedControl> ControlsOf(HWND dialog) {
  std::vector<PlacedControl> controls;
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    char cls[64] = {};
    GetClassNameA(child, cls, sizeof cls);
    char text[256] = {};
    GetWindowTextA(child, text, sizeof text);
    RECT rect{};
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    controls.push_back({child, cls, text, GetWindowLongA(child, GWL_STYLE), rect,
                        reinterpret_cast<HFONT>(SendMessageA(child, WM_GETFONT, 0, 0))});
  }
  return controls;
}

inline bool IsButtonOfType(const PlacedControl& c, LONG type) {
  return _stricmp(c.Class.c_str(), "Button") == 0 && (c.Style & BS_TYPEMASK) == type;
}

inline std::string Describe(const PlacedControl& c) {
  return c.Class + " \"" + c.Text + "\" (" + std::to_string(c.Rect.left) + "," +
         std::to_string(c.Rect.top) + ")-(" + std::to_string(c.Rect.right) + "," +
         std::to_string(c.Rect.bottom) + ")";
}

// Every way the dialog does not hold together, one line each; empty when it does.
inline std::vector<std::string> LayoutFaults(HWND dialog) {
  std::vector<std::string> faults;
  RECT frame{};
  GetWindowRect(dialog, &frame);
  const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
  const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
  if (frame.left < 0 || frame.top < 0 || frame.right > screenWidth || frame.bottom > screenHeight) {
    faults.push_back("the dialog " + std::to_string(frame.right - frame.left) + "x" +
                     std::to_string(frame.bottom - frame.top) + " does not fit the screen " +
                     std::to_string(screenWidth) + "x" + std::to_string(screenHeight));
  }

  const std::vector<PlacedControl> controls = ControlsOf(dialog);
  const int edgeX = GetSystemMetrics(SM_CXEDGE);
  const int edgeY = GetSystemMetrics(SM_CYEDGE);
  for (const PlacedControl& c : controls) {
    const SIZE text = TextSize(c.Font, c.Text);
    const SIZE zero = TextSize(c.Font, "0");
    const int width = c.Rect.right - c.Rect.left;
    const int height = c.Rect.bottom - c.Rect.top;
    int needWidth = 0;
    int needHeight = text.cy;
    if (IsButtonOfType(c, BS_GROUPBOX)) {
      needWidth = text.cx + 2 * zero.cx;  // the caption, indented, with a gap to the frame line
    } else if (IsButtonOfType(c, BS_AUTOCHECKBOX) || IsButtonOfType(c, BS_CHECKBOX)) {
      // The box, half a "0" of gap, then the text.
      needWidth = GetSystemMetrics(SM_CXMENUCHECK) + zero.cx / 2 + text.cx;
    } else if (_stricmp(c.Class.c_str(), "Button") == 0) {
      needWidth = text.cx + 4 * edgeX;
      needHeight = text.cy + 2 * edgeY;
    } else if (_stricmp(c.Class.c_str(), "ComboBox") == 0) {
      // The closed field shows one item; the open list is as wide as the widest.
      const auto dropped = static_cast<int>(SendMessageA(c.Window, CB_GETDROPPEDWIDTH, 0, 0));
      const auto count = static_cast<int>(SendMessageA(c.Window, CB_GETCOUNT, 0, 0));
      for (int item = 0; item < count; ++item) {
        char itemText[256] = {};
        SendMessageA(c.Window, CB_GETLBTEXT, static_cast<WPARAM>(item),
                     reinterpret_cast<LPARAM>(itemText));
        const SIZE itemSize = TextSize(c.Font, itemText);
        if (itemSize.cx + 2 * edgeX > dropped) {
          faults.push_back(Describe(c) + ": item \"" + itemText + "\" needs " +
                           std::to_string(itemSize.cx + 2 * edgeX) + " of the open list's " +
                           std::to_string(dropped));
        }
      }
      needHeight = zero.cy + 2 * edgeY;
    } else {
      needWidth = text.cx;  // a label
    }
    if (needWidth > width || needHeight > height) {
      faults.push_back(Describe(c) + ": the text needs " + std::to_string(needWidth) + "x" +
                       std::to_string(needHeight));
    }
  }

  // Overlaps. A control wholly inside a group box, below its caption, belongs to it.
  auto belongs = [](const PlacedControl& box, const PlacedControl& inside) {
    const int caption = TextSize(box.Font, box.Text.empty() ? "0" : box.Text).cy;
    return inside.Rect.left >= box.Rect.left && inside.Rect.right <= box.Rect.right &&
           inside.Rect.top >= box.Rect.top + caption && inside.Rect.bottom <= box.Rect.bottom;
  };
  for (std::size_t a = 0; a < controls.size(); ++a) {
    for (std::size_t b = a + 1; b < controls.size(); ++b) {
      RECT common{};
      if (!IntersectRect(&common, &controls[a].Rect, &controls[b].Rect)) continue;
      const bool aBox = IsButtonOfType(controls[a], BS_GROUPBOX);
      const bool bBox = IsButtonOfType(controls[b], BS_GROUPBOX);
      if ((aBox && belongs(controls[a], controls[b])) ||
          (bBox && belongs(controls[b], controls[a]))) {
        continue;
      }
      faults.push_back(Describe(controls[a]) + " overlaps " + Describe(controls[b]));
    }
  }
  return faults;
}

// Whether the screen shows `rect` (screen coordinates) in more than one colour: a control that
// has been drawn there shows its frame or text on its background.
inline bool DrawnOnScreen(const RECT& rect) {
  const std::vector<std::uint32_t> pixels = probe::CaptureScreen(rect);
  return std::any_of(pixels.begin(), pixels.end(),
                     [&](std::uint32_t pixel) { return pixel != pixels.front(); });
}

// Redraws the dialog, waits until the screen shows every one of its controls, and saves it as a
// PNG file. False when it was not shown in time or could not be saved.
inline bool SaveDialogPng(HWND dialog, const std::string& path) {
  RedrawWindow(dialog, nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  const bool shown = probe::WaitFor([&] {
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
      RECT rect{};
      GetWindowRect(child, &rect);
      if (GetUpdateRect(child, nullptr, FALSE) || !DrawnOnScreen(rect)) return false;
    }
    return true;
  });
  return shown && probe::SaveWindowPng(dialog, path);
}

}  // namespace tovrel::test
