// The window toolkit on Win32 controls: a form's windows built from its layout, its modal loop
// and its dialog keys.
//
// Every control is a direct child of the form, placed by adding its parent's position, so that
// notifications reach the form without subclassing and the group box is painted as in any
// dialog: first created, beneath its controls. The form keeps its own tab order, built from the
// layout's per-parent tab orders, and handles Tab, Enter and Escape itself in its message loop.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <span>
#include <utility>

#include "Memory.hpp"
#include "platform/Owned.hpp"
#include "toolkit/Form.hpp"
#include "toolkit/ModulePath.hpp"
#include "uConstants.hpp"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace tovrel::toolkit {

namespace {

// The module this toolkit is linked into: its window class and its manifest live there.
HINSTANCE ThisModule() noexcept {
  return reinterpret_cast<HINSTANCE>(&__ImageBase);
}

// The manifest resource that asks for the themed common controls.
constexpr WORD kManifestId = 2;
// The default and cancel buttons are IDOK and IDCANCEL, as in every dialog, so that tools find
// them there; the other controls' identifiers are layout positions from here on.
constexpr int kFirstControlId = 100;
// The space a control widened into free space keeps from the next control and from its parent's
// edge, in layout pixels.
constexpr int kWidenedMargin = 4;
// How many items an open drop-down list shows before it scrolls.
constexpr int kDropDownCount = 8;

bool KeyDown(int key) noexcept {
  return (::GetKeyState(key) & 0x8000) != 0;
}

// The activation-context functions arrived with Windows XP. They are looked up, not imported, so
// that the module loads on Windows 2000 too, where the dialog then runs unthemed, as it does
// when the manifest resource is missing.
struct ActivationApi {
  decltype(&::CreateActCtxW) Create;
  decltype(&::ActivateActCtx) Activate;
  decltype(&::DeactivateActCtx) Deactivate;
  decltype(&::ReleaseActCtx) Release;
};

template <typename Function>
Function Lookup(HMODULE module, const char* name) noexcept {
  // Through the one function type that converts to every other without a warning.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

ActivationApi Activation() noexcept {
  HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
  if (kernel == nullptr) return {};
  return {Lookup<decltype(&::CreateActCtxW)>(kernel, "CreateActCtxW"),
          Lookup<decltype(&::ActivateActCtx)>(kernel, "ActivateActCtx"),
          Lookup<decltype(&::DeactivateActCtx)>(kernel, "DeactivateActCtx"),
          Lookup<decltype(&::ReleaseActCtx)>(kernel, "ReleaseActCtx")};
}

// The handles the toolkit holds, each with its owner.
void DeleteFont(HFONT font) noexcept {
  ::DeleteObject(font);
}
void DeleteMemoryDC(HDC dc) noexcept {
  ::DeleteDC(dc);
}
void ReleaseScreenDC(HDC dc) noexcept {
  ::ReleaseDC(nullptr, dc);
}
void ReleaseContext(HANDLE context) noexcept {
  // Made only where the lookup found every function.
  if (const auto release = Activation().Release) release(context);
}
void Deactivate(ULONG_PTR cookie) noexcept {
  if (const auto deactivate = Activation().Deactivate) deactivate(0, cookie);
}
// Fails, and leaves the class, while another form of the class still has its window; the last
// form to go unregisters it, so that no class outlives the module's code.
void UnregisterFormClass(const char* name) noexcept {
  ::UnregisterClassA(name, ThisModule());
}
void DestroyFormWindow(HWND window) noexcept {
  ::DestroyWindow(window);
}

using OwnedFont = platform::Owned<HFONT, &DeleteFont>;
using OwnedMemoryDC = platform::Owned<HDC, &DeleteMemoryDC>;
using OwnedScreenDC = platform::Owned<HDC, &ReleaseScreenDC>;
using OwnedActCtx = platform::Owned<HANDLE, &ReleaseContext>;  // null for none
using OwnedActivation = platform::Owned<ULONG_PTR, &Deactivate>;
using OwnedClass = platform::Owned<const char*, &UnregisterFormClass>;  // by its name
using OwnedWindow = platform::Owned<HWND, &DestroyFormWindow>;

// Activates the module's themed-controls context until the owner goes; nothing when there is
// none.
OwnedActivation Activate(const OwnedActCtx& context) noexcept {
  ULONG_PTR cookie = 0;
  const auto activate = Activation().Activate;
  if (!context || activate == nullptr || !activate(context.Get(), &cookie)) cookie = 0;
  return OwnedActivation(cookie);
}

OwnedActCtx CreateThemeContext() noexcept {
  const ActivationApi api = Activation();
  if (api.Create == nullptr || api.Activate == nullptr || api.Deactivate == nullptr ||
      api.Release == nullptr) {
    return {};
  }
  // The manifest is a resource of this module, named by the module's handle and its path, as
  // every version since Windows XP takes them. The path in UTF-16, so that no character of it is
  // lost to the code page, and whole: a path cut short leaves the dialog unthemed.
  Array<wchar_t> path;
  const auto query = [](wchar_t* buffer, std::uint32_t size) noexcept -> std::uint32_t {
    return ::GetModuleFileNameW(ThisModule(), buffer, size);
  };
  if (!WholePath(query, path)) return {};
  ACTCTXW context{};
  context.cbSize = sizeof context;
  context.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
  context.lpSource = path.data();
  context.hModule = ThisModule();
  context.lpResourceName = MAKEINTRESOURCEW(kManifestId);
  HANDLE made = api.Create(&context);
  return OwnedActCtx(made == INVALID_HANDLE_VALUE ? nullptr : made);
}

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

// The height of "0" in `face` at a character height of `height`; 0 when it cannot be measured.
int ZeroHeight(int height, const char* face) noexcept {
  const OwnedFont font = CreateFace(height, face);
  return font ? static_cast<int>(TextExtent(font.Get(), "0").cy) : 0;
}

}  // namespace

std::uint32_t OsPlatformId() noexcept {
  // Constant-initialized, so no guard: the module's start asks first, on one thread.
  static std::uint32_t platformId = 0;
  static bool asked = false;
  if (!asked) {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    platformId = ::GetVersionExA(&version) ? version.dwPlatformId : 0u;
    asked = true;
  }
  return platformId;
}

namespace {

struct Scaler {
  int numerator = 1;
  int denominator = 1;
  int operator()(int value) const noexcept { return ::MulDiv(value, numerator, denominator); }
};

}  // namespace

struct TForm::Windows {
  TForm& owner;
  // Released in the reverse order: the window (its controls go with it) before the font they
  // use, the class and the context they were made in.
  OwnedActCtx themeContext;
  OwnedClass formClass;
  OwnedFont font;
  OwnedWindow formWindow;  // the form's own; null once destroyed
  Array<HWND> controls;    // by layout position: children of the form's window
  Array<HWND> tabOrder;
  Scaler scale;                  // from the layout's pixels to the screen's
  HWND focus = nullptr;          // given back the focus when the form is activated again
  HWND defaultButton = nullptr;  // the layout's default button, if it has one
  HWND defaultLook = nullptr;    // the push button drawn as the default one
  bool looping = false;          // the modal loop runs
  bool inLoopDispatch = false;   // the loop itself is handing a message on
  bool wakePosted = false;       // the loop has been woken for the result
  WORD cuesShown = 0;            // the UISF_ cues the keyboard has revealed since the form showed

  explicit Windows(TForm& owning) noexcept : owner(owning) {}
  Windows(const Windows&) = delete;
  Windows& operator=(const Windows&) = delete;
  ~Windows() {
    // The window's last messages, while it is destroyed, find no form to reach.
    if (formWindow) ::SetWindowLongPtrA(formWindow.Get(), GWLP_USERDATA, 0);
  }

  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT Handle(UINT message, WPARAM wparam, LPARAM lparam) noexcept;

  [[nodiscard]] bool Build() noexcept;
  [[nodiscard]] bool AppendTabStops(int parent) noexcept;
  [[nodiscard]] bool Refont() noexcept;
  int DroppedHeight(const ControlLayout& list) const noexcept;
  int WidthNeeded(std::size_t index) const noexcept;
  int RoomUpTo(std::size_t index, const Array<RECT>& placed) const noexcept;
  void Sync() noexcept;
  int IndexOf(HWND candidate) const noexcept;
  int FindOption(std::uint8_t option) const noexcept;
  bool IsPushButton(HWND candidate) const noexcept;
  void ShowDefaultOn(HWND button) noexcept;
  void DefaultLookFollowsFocus() noexcept;
  void MoveFocus(bool backwards) noexcept;
  void NextControl(WPARAM wparam, LPARAM lparam) noexcept;
  void ReadControls() noexcept;
  void Press(std::size_t button) noexcept;
  void RevealCues(WORD cues) noexcept;
  bool IsFormWindow(HWND candidate) const noexcept;
  bool DialogKey(const MSG& message) noexcept;
  void Act(void (*action)(TForm&, std::size_t, int), std::size_t index, int value) noexcept;
  void Destroyed() noexcept;
  void WakeForResult() noexcept;
  void RunModalLoop() noexcept;
  void EndModal(const Array<HWND>& disabled, HWND activeBefore) const noexcept;
};

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

// The controls show their state: enabled, checked, selected.
void TForm::Windows::Sync() noexcept {
  if (!formWindow) return;  // destroyed: nothing left to show
  const FormLayout& layout = owner.layout_;
  for (std::size_t index = 0; index < layout.Controls.size(); ++index) {
    const TControl& state = owner.Control(index);
    HWND control = controls[index];
    if ((::IsWindowEnabled(control) != FALSE) != state.Enabled) {
      ::EnableWindow(control, state.Enabled ? TRUE : FALSE);
    }
    switch (layout.Controls[index].Kind) {
      case ControlKind::CheckBox: {
        const bool checked = ::SendMessageA(control, BM_GETCHECK, 0, 0) == BST_CHECKED;
        if (checked != state.Checked) {
          ::SendMessageA(control, BM_SETCHECK, state.Checked ? BST_CHECKED : BST_UNCHECKED, 0);
        }
        break;
      }
      case ControlKind::DropDownList:
        if (::SendMessageA(control, CB_GETCURSEL, 0, 0) != state.ItemIndex) {
          ::SendMessageA(control, CB_SETCURSEL, static_cast<WPARAM>(state.ItemIndex), 0);
        }
        break;
      default:
        break;
    }
  }
}

int TForm::Windows::IndexOf(HWND candidate) const noexcept {
  const auto* found = std::find(controls.begin(), controls.end(), candidate);
  return found == controls.end() ? -1 : static_cast<int>(found - controls.begin());
}

int TForm::Windows::FindOption(std::uint8_t option) const noexcept {
  const auto& all = owner.layout_.Controls;
  for (std::size_t index = 0; index < all.size(); ++index) {
    if ((all[index].Options & option) != 0) return static_cast<int>(index);
  }
  return -1;
}

bool TForm::Windows::IsPushButton(HWND candidate) const noexcept {
  const int index = IndexOf(candidate);
  return index >= 0 &&
         owner.layout_.Controls[static_cast<std::size_t>(index)].Kind == ControlKind::Button;
}

// The focused push button is drawn as the default one; elsewhere the form's default button is.
void TForm::Windows::ShowDefaultOn(HWND button) noexcept {
  if (button == defaultLook) return;
  if (defaultLook != nullptr) ::SendMessageA(defaultLook, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
  if (button != nullptr) ::SendMessageA(button, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
  defaultLook = button;
}

void TForm::Windows::DefaultLookFollowsFocus() noexcept {
  HWND focused = ::GetFocus();
  if (IndexOf(focused) >= 0) ShowDefaultOn(IsPushButton(focused) ? focused : defaultButton);
}

void TForm::Windows::MoveFocus(bool backwards) noexcept {
  if (tabOrder.empty()) return;
  const auto count = static_cast<int>(tabOrder.size());
  auto* current = std::find(tabOrder.begin(), tabOrder.end(), ::GetFocus());
  int position = current == tabOrder.end() ? (backwards ? 0 : count - 1)
                                           : static_cast<int>(current - tabOrder.begin());
  for (int step = 0; step < count; ++step) {
    position = (position + (backwards ? count - 1 : 1)) % count;
    HWND candidate = tabOrder[static_cast<std::size_t>(position)];
    if (::IsWindowEnabled(candidate) && ::IsWindowVisible(candidate)) {
      ::SetFocus(candidate);
      return;
    }
  }
}

// WM_NEXTDLGCTL, as the dialog manager takes it: the focus to the control in wparam when lparam
// says so, else to the next or (wparam non-zero) the previous tab stop; the default look follows.
void TForm::Windows::NextControl(WPARAM wparam, LPARAM lparam) noexcept {
  if (LOWORD(lparam) != 0) {
    auto* target = reinterpret_cast<HWND>(wparam);
    if (IndexOf(target) >= 0) ::SetFocus(target);
  } else {
    MoveFocus(wparam != 0);
  }
  DefaultLookFollowsFocus();
}

// The controls' own state taken into the form's, as the user's changes are, with the handlers of
// what changed: another program may have set a control with a message that notifies no one
// (BM_SETCHECK, CB_SETCURSEL), and the form stores what the controls show.
void TForm::Windows::ReadControls() noexcept {
  for (std::size_t at = 0; at < controls.size() && formWindow; ++at) {
    TControl& state = owner.Control(at);
    const ControlKind kind = owner.layout_.Controls[at].Kind;
    if (kind == ControlKind::CheckBox) {
      owner.SetChecked(state, ::SendMessageA(controls[at], BM_GETCHECK, 0, 0) == BST_CHECKED);
    } else if (kind == ControlKind::DropDownList) {
      const auto item = static_cast<int>(::SendMessageA(controls[at], CB_GETCURSEL, 0, 0));
      if (item != state.ItemIndex) owner.Select(at, item);
    }
  }
}

// A push button clicked, by whatever route: its handler finds the form as the controls show it.
void TForm::Windows::Press(std::size_t button) noexcept {
  ReadControls();
  Act([](TForm& target, std::size_t at, int) { target.Click(at); }, button, 0);
}

// Focus rectangles and accelerator underlines stay hidden until the keyboard is used, where the
// system hides them: the first keyboard navigation reveals the focus, Alt the underlines, on the
// form and every control, once each while the form is shown.
void TForm::Windows::RevealCues(WORD cues) noexcept {
  if ((cuesShown & cues) == cues || !formWindow) return;
  cuesShown = static_cast<WORD>(cuesShown | cues);
  ::SendMessageA(formWindow.Get(), WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, cues), 0);
}

// The form's own window or one of its controls.
bool TForm::Windows::IsFormWindow(HWND candidate) const noexcept {
  return formWindow &&
         (candidate == formWindow.Get() || ::GetParent(candidate) == formWindow.Get());
}

// Tab, Enter and Escape for the form's windows. Enter and Escape are dialog keys only with Shift,
// Ctrl and Alt released and every drop-down list closed; a modified one is dropped.
bool TForm::Windows::DialogKey(const MSG& message) noexcept {
  if (message.message != WM_KEYDOWN || !IsFormWindow(message.hwnd)) return false;
  const bool shift = KeyDown(VK_SHIFT);
  const bool ctrl = KeyDown(VK_CONTROL);
  const bool alt = KeyDown(VK_MENU);
  switch (message.wParam) {
    case VK_TAB:
      if (ctrl || alt) return false;
      RevealCues(UISF_HIDEFOCUS);
      MoveFocus(shift);
      return true;
    case VK_RETURN:
    case VK_ESCAPE: {
      for (std::size_t index = 0; index < controls.size(); ++index) {
        if (owner.layout_.Controls[index].Kind == ControlKind::DropDownList &&
            ::SendMessageA(controls[index], CB_GETDROPPEDSTATE, 0, 0) != 0) {
          return false;  // the open list takes the key
        }
      }
      if (shift || ctrl || alt) return true;
      int button = -1;
      if (message.wParam == VK_ESCAPE) {
        button = FindOption(kCancelButton);
      } else if (IsPushButton(::GetFocus())) {
        button = IndexOf(::GetFocus());
      } else {
        button = FindOption(kDefaultButton);
      }
      if (button >= 0 && ::IsWindowEnabled(controls[static_cast<std::size_t>(button)])) {
        Press(static_cast<std::size_t>(button));
      }
      return true;
    }
    default:
      return false;
  }
}

// Runs a user's action from the window procedure or the loop; the controls then show what its
// handlers made of the form's state.
void TForm::Windows::Act(void (*action)(TForm&, std::size_t, int), std::size_t index,
                         int value) noexcept {
  action(owner, index, value);
  Sync();
}

LRESULT CALLBACK TForm::Windows::Procedure(HWND window, UINT message, WPARAM wparam,
                                           LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lparam);
    ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<Windows*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
  if (self == nullptr || self->formWindow.Get() != window) {
    return ::DefWindowProcA(window, message, wparam, lparam);
  }
  if (message == WM_NCDESTROY) {
    // The last message the form's window gets, whoever destroys it.
    ::SetWindowLongPtrA(window, GWLP_USERDATA, 0);
    self->Destroyed();
    return ::DefWindowProcA(window, message, wparam, lparam);
  }
  const LRESULT result = self->Handle(message, wparam, lparam);
  self->WakeForResult();
  return result;
}

// The form's window is gone: its controls went with it. A loop that still runs ends with Cancel
// and touches none of them again.
void TForm::Windows::Destroyed() noexcept {
  static_cast<void>(formWindow.Release());  // gone already
  std::fill(controls.begin(), controls.end(), nullptr);
  tabOrder.Clear();
  focus = defaultButton = defaultLook = nullptr;
  if (looping) owner.ModalResult = kDialogResultCancel;
  WakeForResult();
}

// A result set inside a message the loop did not hand on itself (one sent by another thread, or
// from inside the system's message retrieval) is not seen until the retrieval returns: an empty
// message ends the wait at once, as the system's own dialogs do.
void TForm::Windows::WakeForResult() noexcept {
  if (!looping || inLoopDispatch || wakePosted || owner.ModalResult == 0) return;
  wakePosted = ::PostThreadMessageA(::GetCurrentThreadId(), WM_NULL, 0, 0) != FALSE;
}

LRESULT TForm::Windows::Handle(UINT message, WPARAM wparam, LPARAM lparam) noexcept {
  switch (message) {
    case WM_COMMAND: {
      const int index = IndexOf(reinterpret_cast<HWND>(lparam));
      if (index < 0 && lparam == 0 && (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL)) {
        // IDOK and IDCANCEL, as another program asks any dialog to end: the default or the
        // cancel button is clicked, as Enter or Escape would.
        const int button = FindOption(LOWORD(wparam) == IDOK ? kDefaultButton : kCancelButton);
        if (button >= 0 && ::IsWindowEnabled(controls[static_cast<std::size_t>(button)])) {
          Press(static_cast<std::size_t>(button));
        }
        return 0;
      }
      if (index < 0) break;
      const auto position = static_cast<std::size_t>(index);
      const ControlKind kind = owner.layout_.Controls[position].Kind;
      const int code = HIWORD(wparam);
      if (code == BN_CLICKED && kind == ControlKind::CheckBox) {
        const int checked = ::SendMessageA(controls[position], BM_GETCHECK, 0, 0) == BST_CHECKED;
        Act([](TForm& target, std::size_t at,
               int state) { target.SetChecked(target.Control(at), state != 0); },
            position, checked);
      } else if (code == BN_CLICKED && kind == ControlKind::Button) {
        Press(position);
      } else if (code == CBN_SELCHANGE && kind == ControlKind::DropDownList) {
        const auto selection =
            static_cast<int>(::SendMessageA(controls[position], CB_GETCURSEL, 0, 0));
        Act([](TForm& target, std::size_t at, int item) { target.Select(at, item); }, position,
            selection);
      }
      return 0;
    }
    case WM_ACTIVATE:
      if (LOWORD(wparam) == WA_INACTIVE) {
        HWND focused = ::GetFocus();
        if (IndexOf(focused) >= 0) focus = focused;
      } else if (focus != nullptr) {
        ::SetFocus(focus);
      }
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(font.Get());
    case DM_GETDEFID:
      // As the dialog manager answers: the default button's identifier, while there is one.
      return defaultButton != nullptr ? MAKELONG(IDOK, DC_HASDEFID) : 0;
    case WM_NEXTDLGCTL:
      NextControl(wparam, lparam);
      return 0;
    case WM_CLOSE:
      // The close box, the system menu's Close and Alt+F4.
      owner.ModalResult = kDialogResultCancel;
      return 0;
    default:
      break;
  }
  return ::DefWindowProcA(formWindow.Get(), message, wparam, lparam);
}

bool TForm::Create() {
  // One set of windows per form: a second call is refused, so the first set is never lost.
  if (windows_ != nullptr) return static_cast<bool>(windows_->formWindow);
  windows_ = Unique<Windows>::Make(*this).Release();
  if (windows_ == nullptr) return false;
  windows_->themeContext = CreateThemeContext();
  bool built = false;
  {
    const OwnedActivation themed = Activate(windows_->themeContext);
    built = windows_->Build();
  }
  if (built) {
    Run(layout_.OnCreate);
    built = windows_->Refont();
  }
  // Half a set of windows is none: the form has no windows to show, and may be created again.
  if (!built) DestroyWindows();
  return built;
}

namespace {

struct ThreadWindows {
  HWND except;
  Array<HWND> windows;
  bool complete = true;  // false when memory ran out before every window was seen
};

BOOL CALLBACK CollectEnabled(HWND window, LPARAM context) {
  auto* collected = reinterpret_cast<ThreadWindows*>(context);
  if (window != collected->except && ::IsWindowVisible(window) && ::IsWindowEnabled(window)) {
    if (!collected->windows.Push(window)) {
      collected->complete = false;
      return FALSE;
    }
  }
  return TRUE;
}

// The window that owns a form shown while `active` was active: that window while it is visible,
// else the nearest visible window that owns it. A hidden window (a tray icon's, say) owns no
// form: the form would have no taskbar button and no visible window to be found by. Null: none.
HWND VisibleOwner(HWND active) noexcept {
  HWND owner = active;
  while (owner != nullptr && !::IsWindowVisible(owner)) {
    owner = reinterpret_cast<HWND>(::GetWindowLongPtrA(owner, GWLP_HWNDPARENT));
  }
  return owner;
}

}  // namespace

// Until a result is set, WM_QUIT arrives or the form's window is destroyed.
void TForm::Windows::RunModalLoop() noexcept {
  MSG message{};
  while (owner.ModalResult == 0) {
    const BOOL got = ::GetMessageA(&message, nullptr, 0, 0);
    if (got == 0) {
      // WM_QUIT belongs to the thread's own loop: end the form and pass it on.
      ::PostQuitMessage(static_cast<int>(message.wParam));
      owner.ModalResult = kDialogResultCancel;
      return;
    }
    if (got == -1) {
      owner.ModalResult = kDialogResultCancel;
      return;
    }
    // As in the system's own modal loops, the thread's message filters see each message first,
    // and one that a filter took goes no further.
    if (::CallMsgFilterA(&message, MSGF_DIALOGBOX)) continue;
    inLoopDispatch = true;
    // Alt goes on to the window, once it has revealed the underlines.
    if (message.message == WM_SYSKEYDOWN && message.wParam == VK_MENU &&
        IsFormWindow(message.hwnd)) {
      RevealCues(UISF_HIDEACCEL);
    }
    if (!DialogKey(message)) {
      ::TranslateMessage(&message);
      ::DispatchMessageA(&message);
    }
    inLoopDispatch = false;
    if (!formWindow) return;  // destroyed: the result is Cancel
    DefaultLookFollowsFocus();
  }
}

// The windows disabled for the form take input again, and the window active before is active
// again if the form still was, or if the form is gone and took the activation with it. The form
// is hidden, and owned by no window any more.
void TForm::Windows::EndModal(const Array<HWND>& disabled, HWND activeBefore) const noexcept {
  for (HWND window : disabled) {
    if (::IsWindow(window)) ::EnableWindow(window, TRUE);
  }
  HWND form = formWindow.Get();
  HWND active = ::GetActiveWindow();
  const bool formWasActive = form == nullptr ? active == nullptr : active == form;
  if (formWasActive && activeBefore != nullptr && activeBefore != form &&
      ::IsWindow(activeBefore)) {
    ::SetActiveWindow(activeBefore);
  }
  if (form != nullptr) {
    ::SetWindowPos(form, nullptr, 0, 0, 0, 0,
                   SWP_HIDEWINDOW | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ::SetWindowLongPtrA(form, GWLP_HWNDPARENT, 0);
  }
}

int TForm::ShowModal() {
  if (windows_ == nullptr || !windows_->formWindow) return kDialogResultCancel;
  Windows& windows = *windows_;
  HWND form = windows.formWindow.Get();
  // The window active on this thread as the form is asked for. It owns the form while the form
  // runs: the form stays above it, and has no taskbar button or task-switcher entry of its own
  // through which the disabled window could be brought in front of it. Afterwards it is active
  // again. Without one the form runs unowned. (The themed controls' context was the form's while
  // it made its windows only: the thread's other windows, timers and hooks, which run in this
  // loop too, keep their own.)
  HWND activeBefore = ::GetActiveWindow();
  if (activeBefore == form) activeBefore = nullptr;
  ModalResult = 0;
  Run(layout_.OnShow);
  windows.Sync();

  // Every visible, enabled top-level window of this thread takes no input while the form runs.
  // All of them or none: a partial list would leave the rest usable, so memory running out
  // while it is made shows nothing.
  ThreadWindows disabled{form, {}};
  ::EnumThreadWindows(::GetCurrentThreadId(), &CollectEnabled, reinterpret_cast<LPARAM>(&disabled));
  if (!disabled.complete) {
    ModalResult = kDialogResultCancel;
    return ModalResult;
  }
  for (HWND window : disabled.windows) ::EnableWindow(window, FALSE);
  if (activeBefore != nullptr && !::IsWindow(activeBefore)) activeBefore = nullptr;
  ::SetWindowLongPtrA(form, GWLP_HWNDPARENT,
                      reinterpret_cast<LONG_PTR>(VisibleOwner(activeBefore)));

  // Centred on the monitor the user works on.
  RECT rect{};
  ::GetWindowRect(form, &rect);
  const FormOrigin origin =
      FormPosition(static_cast<platform::Window>(reinterpret_cast<std::uintptr_t>(activeBefore)),
                   rect.right - rect.left, rect.bottom - rect.top);
  windows.looping = true;
  windows.wakePosted = false;
  // Focus and accelerator cues start as the last input left them, as in the system's dialogs:
  // shown after a key, hidden after the mouse.
  windows.cuesShown = 0;
  ::SendMessageA(form, WM_CHANGEUISTATE, MAKEWPARAM(UIS_INITIALIZE, 0), 0);
  ::SetWindowPos(form, HWND_TOP, origin.Left, origin.Top, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
  if (windows.formWindow) ::SetActiveWindow(form);
  if (windows.formWindow && windows.IndexOf(::GetFocus()) < 0) {
    ::SetFocus(windows.focus);
  }
  // "Snap To": the pointer goes to the default button as the form opens, where the user asked.
  BOOL snap = FALSE;
  if (windows.defaultButton != nullptr &&
      ::SystemParametersInfoA(SPI_GETSNAPTODEFBUTTON, 0, &snap, 0) && snap) {
    RECT button{};
    ::GetWindowRect(windows.defaultButton, &button);
    ::SetCursorPos((button.left + button.right) / 2, (button.top + button.bottom) / 2);
  }

  windows.RunModalLoop();
  windows.looping = false;
  windows.EndModal(disabled.windows, activeBefore);
  return ModalResult;
}

void TForm::DestroyWindows() noexcept {
  const Unique<Windows> gone(std::exchange(windows_, nullptr));
}

TForm::~TForm() {
  DestroyWindows();
}

}  // namespace tovrel::toolkit
