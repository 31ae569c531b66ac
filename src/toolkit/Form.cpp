#include "toolkit/Form.hpp"

#include <cstring>

#include "platform/platform.hpp"

namespace tovrel::toolkit {

void CopyFaceName(char (&to)[kFaceNameSize], const char* face) noexcept {
  std::size_t length = 0;  // up to the first NUL, at most kFaceNameSize - 1
  while (length < kFaceNameSize - 1 && face[length] != '\0') ++length;
  std::memcpy(to, face, length);
  to[length] = '\0';
}

char (&DefaultFontFace() noexcept)[kFaceNameSize] {
  static char face[kFaceNameSize] = "MS Sans Serif";
  return face;
}

FormOrigin FormPosition(platform::Window active, int width, int height) noexcept {
  const platform::ScreenRect area = platform::MonitorWorkArea(active);
  const int left = area.Left + (area.Right - area.Left - width) / 2;
  const int top = area.Top + (area.Bottom - area.Top - height) / 2;
  return {left < area.Left ? area.Left : left, top < area.Top ? area.Top : top};
}

TForm::TForm(const FormLayout& layout) noexcept : layout_(layout) {
  CopyFaceName(FontName, layout.FontFace);
}

void TForm::BindControls() noexcept {
  for (std::size_t index = 0; index < layout_.Controls.size(); ++index) {
    const ControlLayout& control = layout_.Controls[index];
    TControl& state = Control(index);
    state.OnClick = control.OnClick;
    state.OnChange = control.OnChange;
    state.ItemCount = static_cast<int>(control.Items.size());
    state.ItemIndex = control.ItemIndex;
  }
}

void TForm::Run(Handler handler) {
  if (handler != nullptr) (this->*handler)();
}

void TForm::Click(std::size_t control) {
  TControl& state = Control(control);
  if (layout_.Controls[control].Kind == ControlKind::CheckBox) {
    SetChecked(state, !state.Checked);
  } else {
    Run(state.OnClick);
  }
}

void TForm::Select(std::size_t control, int index) {
  TControl& list = Control(control);
  SetItemIndex(list, index);
  Run(list.OnChange);
}

void TForm::SetChecked(TControl& box, bool checked) {
  if (box.Checked == checked) return;
  box.Checked = checked;
  Run(box.OnClick);
}

void TForm::SetItemIndex(TControl& list, int index) noexcept {
  list.ItemIndex = index >= 0 && index < list.ItemCount ? index : -1;
}

}  // namespace tovrel::toolkit
