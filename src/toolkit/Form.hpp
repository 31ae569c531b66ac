// A small window toolkit: a form and its controls built from layout data.
//
// A form's behaviour lives in the handlers its layout wires to the controls. The handlers work on
// plain control state (checked, enabled, selection), so the logic above this toolkit runs and is
// tested without any window. The Win32 implementation (toolkit/win32) mirrors that state onto
// real controls after every event and reports the user's clicks and choices back through the same
// handlers; the native build's fake runs the handlers without windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tovrel::platform {
enum class Window : std::uintptr_t;  // platform/platform.hpp
}  // namespace tovrel::platform

namespace tovrel::toolkit {

class TForm;

// An event handler of a form: a member function of the derived form, taking no argument.
using Handler = void (TForm::*)();

// The state of one control that handlers read and write and the windows show.
struct TControl {
  bool Enabled = true;
  bool Checked = false;
  int ItemIndex = -1;  // selected position of a list, -1 for none
  int ItemCount = 0;
  Handler OnClick = nullptr;
  Handler OnChange = nullptr;
};

enum class ControlKind : std::uint8_t { GroupBox, Label, CheckBox, DropDownList, Button };

// The parent edges whose distance a control keeps when its parent is resized.
enum Anchor : std::uint8_t { kAnchorLeft = 1, kAnchorTop = 2, kAnchorRight = 4, kAnchorBottom = 8 };

enum ControlOption : std::uint8_t {
  kDefaultButton = 1,  // clicked by Enter when no other button has the focus
  kCancelButton = 2,   // clicked by Escape
  kAutoWidth = 4,      // a label as wide as its text in the form's final font
};

inline constexpr int kNoParent = -1;
inline constexpr int kNoTabStop = -1;
inline constexpr int kNoControl = -1;

// One control, in pixels at the layout's design density, relative to its parent's client area.
struct ControlLayout {
  const char* Name;
  ControlKind Kind;
  int Parent = kNoParent;  // index of the parent control in the layout
  int Left, Top, Width, Height;
  std::uint8_t Anchors = kAnchorLeft | kAnchorTop;
  int TabOrder = kNoTabStop;  // within the parent
  const char* Text = "";
  std::uint8_t Options = 0;
  TControl TForm::*State;  // every control has one
  Handler OnClick = nullptr;
  Handler OnChange = nullptr;
  std::span<const char* const> Items = {};  // a list's items; an item's position is its value
  int ItemHeight = 0;
  int ItemIndex = -1;  // the list's selection when created
  // A label: the control it names. Screen readers name a control that shows no text of its own
  // after the label just before it in z-order, so the label is placed there.
  int LabelFor = kNoControl;
};

struct FormLayout {
  const char* Name;  // also the form's window class
  const char* Caption;
  int ClientWidth, ClientHeight;
  const char* FontFace;
  int FontHeight;        // negative: the character height in pixels
  int DesignDensity;     // pixels per inch the layout was made for
  int DesignZeroHeight;  // height of the text "0" in the layout font at that density
  // The face the create handler will switch the form's font to, asked while the layout loads.
  // The layout scales by the height of "0" in it, so that it grows with the text it will show
  // even where the layout face is a bitmap face, which stops growing at its largest size. Null:
  // the layout face.
  const char* (*ScalingFace)() noexcept = nullptr;
  std::span<const ControlLayout> Controls;  // in creation order; a parent precedes its children
  Handler OnCreate;
  Handler OnShow;
};

// A face name as a font description holds it: at most 31 characters and a NUL.
inline constexpr std::size_t kFaceNameSize = 32;

// Copies at most 31 characters of `face` and a NUL.
void CopyFaceName(char (&to)[kFaceNameSize], const char* face) noexcept;

// The module-wide default font description's face, with which every font the module creates
// starts. "MS Sans Serif" until a form changes it; the change lasts for the module's life.
char (&DefaultFontFace() noexcept)[kFaceNameSize];

// The operating system's platform identifier as the version query reports it (2: the NT family),
// asked once and remembered.
std::uint32_t OsPlatformId() noexcept;

// Where a form's frame opens, in screen pixels.
struct FormOrigin {
  int Left = 0;
  int Top = 0;
};

// A modal form of `width` x `height` (its frame included) opens centred in the work area of the
// monitor that holds `active`, the window that was active when it was shown, or of the primary
// monitor when there was none; halves are truncated toward zero. On one screen without docked
// bars this is the centre of the screen. A form larger than the work area keeps its top left
// corner inside it, so that its caption can still be reached.
FormOrigin FormPosition(platform::Window active, int width, int height) noexcept;

// The module is built without exceptions: handlers, like everything else, report failure by what
// they set, never by throwing.
class TForm {
 public:
  explicit TForm(const FormLayout& layout) noexcept;
  // Not virtual: a form is destroyed as what it is, never through this base.
  ~TForm();
  TForm(const TForm&) = delete;
  TForm& operator=(const TForm&) = delete;

  // Builds the form's windows from the layout, scaled to the screen, and then runs the create
  // handler. False when the windows cannot be made, and none are left. A form is created once:
  // once it has windows, a further call does nothing and answers whether they are still there.
  [[nodiscard]] bool Create();
  // Runs the show handler and shows the form modally on the calling thread: owned by the window
  // that was active on the thread, if any, and centred on that window's monitor (FormPosition).
  // Returns once a result is set, at once even when it is set inside a message another thread
  // sent. The form is hidden again on return. A form whose window is destroyed while it runs
  // ends with Cancel; so does a form without windows, and one for which memory runs out before
  // it is shown, with no window disabled.
  int ShowModal();

  // A click on a control, as by the user: a check box's state flips first.
  void Click(std::size_t control);
  // A new selection in a list, as by the user.
  void Select(std::size_t control, int index);
  // Changing a check box's state, from code as by the user, runs its click handler.
  void SetChecked(TControl& box, bool checked);
  // A position without an item leaves the list with no selection.
  static void SetItemIndex(TControl& list, int index) noexcept;

  TControl& Control(std::size_t index) noexcept { return this->*layout_.Controls[index].State; }
  const FormLayout& Layout() const noexcept { return layout_; }

  // Gives each control its handlers, item count and initial selection from the layout. A derived
  // form calls it from its constructor, once its controls exist.
  void BindControls() noexcept;

  // 0 while the form runs modally; a handler ends the modal loop by setting a result.
  int ModalResult = 0;
  // The face of the form's font. A create handler may change it; the controls follow.
  char FontName[kFaceNameSize] = {};

 private:
  void Run(Handler handler);
  void DestroyWindows() noexcept;

  const FormLayout& layout_;
  // The platform's part of the form (its windows), owned by the toolkit.
  struct Windows;
  // Made by Unique<Windows>::Make, so the platform's part is taken back by a Unique.
  Windows* windows_ = nullptr;
};

}  // namespace tovrel::toolkit
