// The toolkit without windows: creating a form runs its create handler, showing it runs its show
// handler and then lets the scripted user act on it.
#include <new>

#include "FakePlatform.hpp"
#include "toolkit/Form.hpp"
#include "uConstants.hpp"

namespace tovrel::toolkit {

struct TForm::Windows {};

std::uint32_t OsPlatformId() noexcept {
  return fake::FakeSystem::Get().PlatformId;
}

void TForm::Create() {
  fake::FakeSystem& system = fake::FakeSystem::Get();
  if (windows_ != nullptr) return;  // created once
  if (system.ConsumeFailure(fake::Op::CreateForm)) throw std::bad_alloc();
  windows_ = new Windows;
  ++system.FormsCreated;
  ++system.OpenForms;
  Run(layout_.OnCreate);
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
  delete windows_;
  windows_ = nullptr;
  --fake::FakeSystem::Get().OpenForms;
}

TForm::~TForm() {
  DestroyWindows();
}

}  // namespace tovrel::toolkit
