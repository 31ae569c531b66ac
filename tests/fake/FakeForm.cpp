// The toolkit without windows: creating a form runs its create handler, showing it runs its show
// handler and then lets the scripted user act on it.
#include <utility>

#include "FakePlatform.hpp"
#include "Memory.hpp"
#include "toolkit/Form.hpp"
#include "uConstants.hpp"

namespace tovrel::toolkit {

struct TForm::Windows {};

std::uint32_t OsPlatformId() noexcept {
  return fake::FakeSystem::Get().PlatformId;
}

bool TForm::Create() {
  fake::FakeSystem& system = fake::FakeSystem::Get();
  if (windows_ != nullptr) return true;  // created once
  if (system.ConsumeFailure(fake::Op::CreateForm)) return false;
  windows_ = Unique<Windows>::Make().Release();
  if (windows_ == nullptr) return false;
  ++system.FormsCreated;
  ++system.OpenForms;
  Run(layout_.OnCreate);
  return true;
}

int TForm::ShowModal() {
  fake::FakeSystem& system = fake::FakeSystem::Get();
  if (windows_ == nullptr) return kDialogResultCancel;
  ++system.ShownForms;
  ModalResult = 0;
  Run(layout_.OnShow);
  if (system.User) system.User(*this);
  if (ModalResult == 0) ModalResult = kDialogResultCancel;  // the close box
  return ModalResult;
}

void TForm::DestroyWindows() noexcept {
  if (windows_ == nullptr) return;
  const Unique<Windows> gone(std::exchange(windows_, nullptr));
  --fake::FakeSystem::Get().OpenForms;
}

TForm::~TForm() {
  DestroyWindows();
}

}  // namespace tovrel::toolkit
