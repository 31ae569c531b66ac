// Building the form's windows from its layout: the font at the screen's density, the class, the
// frame and each control scaled by the face's "0", the labels placed where screen readers look
// for them, the tab order; then, once the create handler has chosen the face, the controls
// re-fonted and widened where their text does not fit (Refont). Text is measured here as the
// controls draw it.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <span>
#include <utility>

#include "Memory.hpp"
#include "toolkit/Form.hpp"
#include "toolkit/win32/FormWindows.hpp"

namespace tovrel::toolkit {

using win32::OwnedFont;
using win32::ThisModule;

namespace {

// The default and cancel buttons are IDOK and IDCANCEL, as in every dialog, so that tools find
// them there; the other controls' identifiers are layout positions from here on.
constexpr int kFirstControlId = 100;
// The space a control widened into free space keeps from the next control and from its parent's
// edge, in layout pixels.
constexpr int kWidenedMargin = 4;
// How many items an open drop-down list shows before it scrolls.
constexpr int kDropDownCount = 8;

void DeleteMemoryDC(HDC dc) noexcept {
  ::DeleteDC(dc);
}
using OwnedMemoryDC = platform::Owned<HDC, &DeleteMemoryDC>;

void ReleaseScreenDC(HDC dc) noexcept {
  ::ReleaseDC(nullptr, dc);
}
using OwnedScreenDC = platform::Owned<HDC, &ReleaseScreenDC>;

OwnedFont CreateFace(int height, const char* face) noexcept {
  LOGFONTA font{};
  font.lfHeight = height;
  font.lfWeight = FW_NORMAL;
  font.lfCharSet = ANSI_CHARSET;
  CopyFaceName(font.lfFaceName, face);
  return OwnedFont(::CreateFontIndirectA(&font));
}

// The extent of `text` drawn in `font`.
SIZE TextExtent(HFONT font, const char* text) noexcept {
  SIZE size{};
  const OwnedMemoryDC dc(::CreateCompatibleDC(nullptr));
  if (!dc) return size;
  HGDIOBJ old = ::SelectObject(dc.Get(), font);
  ::GetTextExtentPoint32A(dc.Get(), text, static_cast<int>(std::strlen(text)), &size);
  ::SelectObject(dc.Get(), old);
  return size;
}

// The height of "0" in `face` at a character height of `height`; 0 when it cannot be measured.
int ZeroHeight(int height, const char* face) noexcept {
  const OwnedFont font = CreateFace(height, face);
  return font ? static_cast<int>(TextExtent(font.Get(), "0").cy) : 0;
}

// The width of the widest of a list's items drawn in `font`.
int WidestItem(HFONT font, std::span<const char* const> items) noexcept {
  int widest = 0;
  for (const char* item : items) {
    widest = std::max(widest, static_cast<int>(TextExtent(font, item).cx));
  }
  return widest;
}

// What a drop-down list draws beside an item's text, in its field as in its open list: the
// frame's edges and the margins inside them.
int ListItemMargins() noexcept {
  return 2 * ::GetSystemMetrics(SM_CXEDGE) + 4;
}

}  // namespace

// One pass over the layout data, in creation order, then the tab order. False when a window, a
// font or memory could not be had.
bool TForm::Windows::Build() noexcept {  // NOLINT(readability-function-cognitive-complexity)
  const FormLayout& layout = owner.layout_;
  const HINSTANCE module = ThisModule();

  // The layout's font at the screen's density; then everything scales by the height of "0" in
  // the face the form will show its text in.
  const int density = [] {
    const OwnedScreenDC screen(::GetDC(nullptr));
    return screen ? ::GetDeviceCaps(screen.Get(), LOGPIXELSY) : 0;
  }();
  int fontHeight = layout.FontHeight;
  if (density > 0 && density != layout.DesignDensity) {
    fontHeight = ::MulDiv(fontHeight, density, layout.DesignDensity);
  }
  font = CreateFace(fontHeight, owner.FontName);
  if (!font) return false;
  const int zeroHeight =
      ZeroHeight(fontHeight, layout.ScalingFace != nullptr ? layout.ScalingFace() : owner.FontName);
  if (zeroHeight > 0 && zeroHeight != layout.DesignZeroHeight) {
    scale = {zeroHeight, layout.DesignZeroHeight};
  }

  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_DBLCLKS;
  windowClass.lpfnWndProc = &Procedure;
  windowClass.hInstance = module;
  windowClass.hCursor = ::LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  windowClass.lpszClassName = layout.Name;
  if (::RegisterClassExA(&windowClass) == 0 && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    return false;
  }
  formClass.Reset(layout.Name);  // registered here or by another form of the class

  // A dialog frame: caption, system menu and close box; no minimize or maximize box; fixed size.
  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPSIBLINGS;
  const DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE | WS_EX_CONTROLPARENT;
  RECT frame{0, 0, scale(layout.ClientWidth), scale(layout.ClientHeight)};
  ::AdjustWindowRectEx(&frame, style, FALSE, exStyle);
  formWindow.Reset(::CreateWindowExA(exStyle, layout.Name, layout.Caption, style, CW_USEDEFAULT,
                                     CW_USEDEFAULT, frame.right - frame.left,
                                     frame.bottom - frame.top, nullptr, nullptr, module, this));
  if (!formWindow) return false;

  // Each control at its parent's position plus its own; edges scale, so neighbours stay flush.
  Array<POINT> origins;
  if (!origins.Resize(layout.Controls.size()) || !controls.Resize(layout.Controls.size())) {
    return false;
  }
  for (std::size_t index = 0; index < layout.Controls.size(); ++index) {
    const ControlLayout& control = layout.Controls[index];
    const POINT parent = control.Parent == kNoParent
                             ? POINT{0, 0}
                             : origins[static_cast<std::size_t>(control.Parent)];
    const int left = scale(control.Left);
    const int top = scale(control.Top);
    const int width = scale(control.Left + control.Width) - left;
    int height = scale(control.Top + control.Height) - top;
    origins[index] = {parent.x + left, parent.y + top};

    const char* windowClassName = "BUTTON";
    DWORD controlStyle = WS_CHILD | WS_VISIBLE;
    if (control.TabOrder != kNoTabStop && control.Kind != ControlKind::GroupBox) {
      controlStyle |= WS_TABSTOP;
    }
    switch (control.Kind) {
      case ControlKind::GroupBox:
        controlStyle |= BS_GROUPBOX;
        break;
      case ControlKind::Label:
        windowClassName = "STATIC";
        controlStyle |= SS_LEFTNOWORDWRAP | SS_NOPREFIX;  // one line, never wrapped
        break;
      case ControlKind::CheckBox:
        controlStyle |= BS_AUTOCHECKBOX;
        break;
      case ControlKind::DropDownList: {
        windowClassName = "COMBOBOX";
        controlStyle |= CBS_DROPDOWNLIST | WS_VSCROLL;
        height += DroppedHeight(control);
        break;
      }
      case ControlKind::Button:
        controlStyle |= (control.Options & kDefaultButton) != 0 ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
        break;
    }
    int id = kFirstControlId + static_cast<int>(index);
    if ((control.Options & kDefaultButton) != 0) id = IDOK;
    if ((control.Options & kCancelButton) != 0) id = IDCANCEL;
    HWND child =
        ::CreateWindowExA(0, windowClassName, control.Text, controlStyle, origins[index].x,
                          origins[index].y, width, height, formWindow.Get(),
                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), module, nullptr);
    if (child == nullptr) return false;
    controls[index] = child;
    ::SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(font.Get()), FALSE);
    for (const char* item : control.Items) {
      ::SendMessageA(child, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
    }
  }
  ::SendMessageA(formWindow.Get(), WM_SETFONT, reinterpret_cast<WPARAM>(font.Get()), FALSE);

  // The controls' z-order is their creation order. A label moves to just before the control it
  // names, behind the one created before that; the tab order is the form's own and stays.
  for (std::size_t index = 0; index < layout.Controls.size(); ++index) {
    const int named = layout.Controls[index].LabelFor;
    if (named == kNoControl || named - 1 == static_cast<int>(index)) continue;
    HWND before = named == 0 ? HWND_TOP : controls[static_cast<std::size_t>(named - 1)];
    ::SetWindowPos(controls[index], before, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }

  if (!AppendTabStops(kNoParent)) return false;
  focus = tabOrder.empty() ? nullptr : tabOrder[0];
  const int defaultIndex = FindOption(kDefaultButton);
  if (defaultIndex >= 0) defaultButton = controls[static_cast<std::size_t>(defaultIndex)];
  defaultLook = defaultButton;
  return true;
}

// Tab order: the form's controls by their tab order, a container's children in its place.
// Recursive over the layout's parents, as deep as the layout nests.
bool TForm::Windows::AppendTabStops(int parent) noexcept {  // NOLINT(misc-no-recursion)
  const auto& all = owner.layout_.Controls;
  Array<std::size_t> children;
  for (std::size_t index = 0; index < all.size(); ++index) {
    if (all[index].Parent != parent || all[index].TabOrder == kNoTabStop) continue;
    if (!children.Push(index)) return false;
    // Into place by tab order; equal ones keep their layout order.
    for (std::size_t at = children.size() - 1;
         at > 0 && all[children[at - 1]].TabOrder > all[children[at]].TabOrder; --at) {
      std::swap(children[at - 1], children[at]);
    }
  }
  return std::ranges::all_of(children, [&](std::size_t index) {  // NOLINT(misc-no-recursion)
    return (all[index].Kind == ControlKind::GroupBox || tabOrder.Push(controls[index])) &&
           AppendTabStops(static_cast<int>(index));
  });
}

// A drop-down list's window is as high as its closed field and the list that drops down.
int TForm::Windows::DroppedHeight(const ControlLayout& list) const noexcept {
  const int shown = std::min(static_cast<int>(list.Items.size()), kDropDownCount);
  return scale(list.ItemHeight) * std::max(shown, 1) + 2;
}

// The width a check box or a drop-down list needs to show its text whole in its own font: the
// box, half a "0" of gap, the text and the focus rectangle's pixel beyond it; the list's frame,
// its button and its widest item with the margins the field draws it in. 0 for other controls.
int TForm::Windows::WidthNeeded(std::size_t index) const noexcept {
  const ControlLayout& control = owner.layout_.Controls[index];
  auto* const own = reinterpret_cast<HFONT>(::SendMessageA(controls[index], WM_GETFONT, 0, 0));
  HFONT measured = own != nullptr ? own : font.Get();
  if (control.Kind == ControlKind::CheckBox) {
    return ::GetSystemMetrics(SM_CXMENUCHECK) + static_cast<int>(TextExtent(measured, "0").cx) / 2 +
           static_cast<int>(TextExtent(measured, control.Text).cx) + 1;
  }
  if (control.Kind == ControlKind::DropDownList) {
    return WidestItem(measured, control.Items) + ListItemMargins() +
           ::GetSystemMetrics(SM_CXVSCROLL);
  }
  return 0;
}

// How far right the control at `index` may reach, in the form's client coordinates: up to the
// nearest control to its right on any of its rows, or to its parent's edge, less a margin. The
// group boxes it lies in are its parents, not its neighbours.
int TForm::Windows::RoomUpTo(std::size_t index, const Array<RECT>& placed) const noexcept {
  const auto& all = owner.layout_.Controls;
  const RECT& self = placed[index];
  int limit = 0;
  if (all[index].Parent == kNoParent) {
    RECT client{};
    ::GetClientRect(formWindow.Get(), &client);
    limit = client.right;
  } else {
    limit = placed[static_cast<std::size_t>(all[index].Parent)].right;
  }
  for (std::size_t other = 0; other < all.size(); ++other) {
    bool ancestor = false;
    for (int up = all[index].Parent; up != kNoParent && !ancestor;
         up = all[static_cast<std::size_t>(up)].Parent) {
      ancestor = static_cast<std::size_t>(up) == other;
    }
    const RECT& next = placed[other];
    if (other == index || ancestor || next.left < self.right || next.top >= self.bottom ||
        next.bottom <= self.top) {
      continue;
    }
    limit = std::min(limit, static_cast<int>(next.left));
  }
  return limit - scale(kWidenedMargin);
}

// After the create handler: the form's face may have changed, and the rectangles stay as laid out
// (a label marked to be as wide as its text becomes so). A check box or drop-down list whose text
// does not fit in the final font grows into the free space to its right, as far as it needs and
// the space goes, whatever the density: the widths of the layout were made for another face, and
// one face measures its text differently from system to system.
bool TForm::Windows::Refont() noexcept {
  const FormLayout& layout = owner.layout_;
  LOGFONTA current{};
  ::GetObjectA(font.Get(), sizeof current, &current);
  if (std::strcmp(current.lfFaceName, owner.FontName) != 0) {
    OwnedFont replacement = CreateFace(current.lfHeight, owner.FontName);
    if (!replacement) return false;
    const auto handle = reinterpret_cast<WPARAM>(replacement.Get());
    ::SendMessageA(formWindow.Get(), WM_SETFONT, handle, FALSE);
    for (HWND control : controls) ::SendMessageA(control, WM_SETFONT, handle, FALSE);
    font = std::move(replacement);  // the one no window uses any more is deleted
  }
  Array<RECT> placed;
  if (!placed.Resize(layout.Controls.size())) return false;
  for (std::size_t index = 0; index < layout.Controls.size(); ++index) {
    ::GetWindowRect(controls[index], &placed[index]);
    ::MapWindowPoints(nullptr, formWindow.Get(), reinterpret_cast<POINT*>(&placed[index]), 2);
  }
  for (std::size_t index = 0; index < layout.Controls.size(); ++index) {
    const ControlLayout& control = layout.Controls[index];
    RECT& rect = placed[index];
    const int laidOut = static_cast<int>(rect.right - rect.left);
    int width = laidOut;
    if ((control.Options & kAutoWidth) != 0) {
      width = static_cast<int>(TextExtent(font.Get(), control.Text).cx);
    }
    const int needed = WidthNeeded(index);
    if (needed > width) {
      const int room = RoomUpTo(index, placed) - static_cast<int>(rect.left);
      width = std::max(width, std::min(needed, room));
    }
    if (width != laidOut) {
      // A drop-down list reports its closed height, but is sized with the list it drops.
      const int height = static_cast<int>(rect.bottom - rect.top) +
                         (control.Kind == ControlKind::DropDownList ? DroppedHeight(control) : 0);
      ::SetWindowPos(controls[index], nullptr, 0, 0, width, height,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
      rect.right = rect.left + static_cast<LONG>(width);
    }
    if (control.Kind == ControlKind::DropDownList) {
      // The open list is at least as wide as its longest item, with the list's margins.
      const int scrollBar = static_cast<int>(control.Items.size()) > kDropDownCount
                                ? ::GetSystemMetrics(SM_CXVSCROLL)
                                : 0;
      const int dropped =
          std::max(width, WidestItem(font.Get(), control.Items) + ListItemMargins() + scrollBar);
      ::SendMessageA(controls[index], CB_SETDROPPEDWIDTH, static_cast<WPARAM>(dropped), 0);
    }
  }
  return true;
}

void TForm::DestroyWindows() noexcept {
  const Unique<Windows> gone(std::exchange(windows_, nullptr));
}

TForm::~TForm() {
  DestroyWindows();
}

}  // namespace tovrel::toolkit
