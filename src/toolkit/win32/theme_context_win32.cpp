// What the toolkit looks up in the system beyond its windows: the themed controls' activation
// context, made from the module's manifest and active while Create makes the form's windows;
// and the system's version.
#include <windows.h>

#include <cstdint>

#include "Memory.hpp"
#include "toolkit/ModulePath.hpp"
#include "toolkit/win32/FormWindows.hpp"

namespace tovrel::toolkit {

namespace win32 {

namespace {

// The manifest resource that asks for the themed common controls.
constexpr WORD kManifestId = 2;

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

void Deactivate(ULONG_PTR cookie) noexcept {
  if (const auto deactivate = Activation().Deactivate) deactivate(0, cookie);
}

using OwnedActivation = platform::Owned<ULONG_PTR, &Deactivate>;

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

}  // namespace

void ReleaseContext(HANDLE context) noexcept {
  // Made only where the lookup found every function.
  if (const auto release = Activation().Release) release(context);
}

}  // namespace win32

// The windows are made in the module's own themed-controls context, where it has one. (It is the
// form's while it makes its windows only: the thread's other windows, timers and hooks, which
// run in the modal loop too, keep their own.) Then the create handler runs, and the controls
// take the font it chose.
bool TForm::Create() {
  // One set of windows per form: a second call is refused, so the first set is never lost.
  if (windows_ != nullptr) return static_cast<bool>(windows_->formWindow);
  windows_ = Unique<Windows>::Make(*this).Release();
  if (windows_ == nullptr) return false;
  windows_->themeContext = win32::CreateThemeContext();
  bool built = false;
  {
    const win32::OwnedActivation themed = win32::Activate(windows_->themeContext);
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

}  // namespace tovrel::toolkit
