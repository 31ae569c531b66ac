// The platform layer over the real Windows API. The only code that includes <windows.h>.
#include <windows.h>

#include <imm.h>

#include <type_traits>

#include "platform/platform.hpp"

namespace tovrel::platform {

namespace {

// Between the Windows handle types and the project's own: every handle is a pointer-sized number.
template <typename To, typename From>
To As(From value) noexcept {
  if constexpr (std::is_pointer_v<From>) {
    return static_cast<To>(reinterpret_cast<std::uintptr_t>(value));
  } else {
    return reinterpret_cast<To>(static_cast<std::uintptr_t>(value));
  }
}

}  // namespace

std::uint32_t CurrentProcessId() noexcept {
  return ::GetCurrentProcessId();
}
std::uint32_t CurrentThreadId() noexcept {
  return ::GetCurrentThreadId();
}

void DisableThreadNotifications(Instance module) noexcept {
  ::DisableThreadLibraryCalls(As<HMODULE>(module));
}

Mapping CreateMapping(const char* name, std::uint32_t size) noexcept {
  return As<Mapping>(
      ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, name));
}

Mapping OpenMapping(const char* name) noexcept {
  return As<Mapping>(::OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name));
}

void* MapView(Mapping mapping) noexcept {
  return ::MapViewOfFile(As<HANDLE>(mapping), FILE_MAP_ALL_ACCESS, 0, 0, 0);
}

void UnmapView(void* view) noexcept {
  ::UnmapViewOfFile(view);
}
void CloseMapping(Mapping mapping) noexcept {
  ::CloseHandle(As<HANDLE>(mapping));
}

HookHandle SetKeyboardHook(HookProc proc, Instance module, std::uint32_t threadId) noexcept {
  const HHOOK hook = ::SetWindowsHookExA(WH_KEYBOARD, reinterpret_cast<HOOKPROC>(proc),
                                         As<HINSTANCE>(module), threadId);
  return As<HookHandle>(hook);
}

void Unhook(HookHandle hook) noexcept {
  ::UnhookWindowsHookEx(As<HHOOK>(hook));
}

LResult CallNextHook(HookHandle hook, int code, WParam key, LParam flags) noexcept {
  return ::CallNextHookEx(As<HHOOK>(hook), code, key, flags);
}

Window ForegroundWindow() noexcept {
  return As<Window>(::GetForegroundWindow());
}

int WindowClassName(Window window, char* buffer, int size) noexcept {
  return ::GetClassNameA(As<HWND>(window), buffer, size);
}

LResult SendWindowMessage(Window window, std::uint32_t message, WParam wparam,
                          LParam lparam) noexcept {
  return ::SendMessageA(As<HWND>(window), message, wparam, lparam);
}

namespace {

// A function of a DLL that the process has loaded already (GetModuleHandleA), by name; null when
// it lacks it. Nothing is loaded, and the module imports nothing for it.
template <typename Function>
Function Lookup(HMODULE loaded, const char* name) noexcept {
  // Through the one function type that converts to every other without a warning.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(::GetProcAddress(loaded, name)));
}

}  // namespace

namespace {

// A function of user32, which is loaded: the module imports from it.
template <typename Function>
Function LookupUser32(const char* name) noexcept {
  return Lookup<Function>(::GetModuleHandleA("user32.dll"), name);
}

}  // namespace

ThreadLoops ThreadModalLoops() noexcept {
  constexpr DWORD kMenuModes = GUI_INMENUMODE | GUI_POPUPMENUMODE | GUI_SYSTEMMENUMODE;
  const auto getInfo = LookupUser32<decltype(&::GetGUIThreadInfo)>("GetGUIThreadInfo");
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (getInfo == nullptr || !getInfo(::GetCurrentThreadId(), &info)) return {false, false};
  return {(info.flags & kMenuModes) != 0, (info.flags & GUI_INMOVESIZE) != 0};
}

ImeState FocusImeState() noexcept {
  const HMODULE imm = ::GetModuleHandleA("imm32.dll");
  if (imm == nullptr) return {0, 0};
  const auto getContext = Lookup<decltype(&::ImmGetContext)>(imm, "ImmGetContext");
  const auto getString =
      Lookup<decltype(&::ImmGetCompositionStringW)>(imm, "ImmGetCompositionStringW");
  const auto countLists =
      Lookup<decltype(&::ImmGetCandidateListCountW)>(imm, "ImmGetCandidateListCountW");
  const auto releaseContext = Lookup<decltype(&::ImmReleaseContext)>(imm, "ImmReleaseContext");
  const HWND focus = ::GetFocus();
  if (getContext == nullptr || getString == nullptr || countLists == nullptr ||
      releaseContext == nullptr || focus == nullptr) {
    return {0, 0};
  }
  const HIMC context = getContext(focus);
  if (context == nullptr) return {0, 0};
  const LONG length = getString(context, GCS_COMPSTR, nullptr, 0);
  DWORD lists = 0;
  if (countLists(context, &lists) == 0) lists = 0;
  releaseContext(focus, context);
  return {length, lists};
}

bool KeyWentDownSinceAsked(std::uint32_t key) noexcept {
  const auto getState = LookupUser32<decltype(&::GetAsyncKeyState)>("GetAsyncKeyState");
  return getState != nullptr && (getState(static_cast<int>(key)) & 1) != 0;
}

ScreenRect MonitorWorkArea(Window window) noexcept {
  HMONITOR monitor = window == Window::None
                         ? ::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY)
                         : ::MonitorFromWindow(As<HWND>(window), MONITOR_DEFAULTTOPRIMARY);
  MONITORINFO info{};
  info.cbSize = sizeof info;
  if (monitor == nullptr || !::GetMonitorInfoA(monitor, &info)) {
    return {0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
  }
  return {info.rcWork.left, info.rcWork.top, info.rcWork.right, info.rcWork.bottom};
}

namespace {

HKEY ToHKey(RegKey key) noexcept {
  return key == kCurrentUser ? HKEY_CURRENT_USER : As<HKEY>(key);
}

}  // namespace

RegStatus CreateRegistryKey(RegKey root, const char* path, RegKey* key) noexcept {
  HKEY opened = nullptr;
  const LSTATUS status = ::RegCreateKeyExA(ToHKey(root), path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                           KEY_ALL_ACCESS, nullptr, &opened, nullptr);
  *key = status == ERROR_SUCCESS ? As<RegKey>(opened) : RegKey::None;
  return status;
}

RegStatus OpenRegistryKey(RegKey root, const char* path, RegKey* key) noexcept {
  HKEY opened = nullptr;
  const LSTATUS status = ::RegOpenKeyExA(ToHKey(root), path, 0, KEY_ALL_ACCESS, &opened);
  *key = status == ERROR_SUCCESS ? As<RegKey>(opened) : RegKey::None;
  return status;
}

RegStatus OpenRegistryKeyToRead(RegKey root, const char* path, RegKey* key) noexcept {
  HKEY opened = nullptr;
  const LSTATUS status = ::RegOpenKeyExA(ToHKey(root), path, 0, KEY_READ, &opened);
  *key = status == ERROR_SUCCESS ? As<RegKey>(opened) : RegKey::None;
  return status;
}

RegStatus QueryRegistryValue(RegKey key, const char* name, std::uint32_t* type, void* data,
                             std::uint32_t* size) noexcept {
  DWORD valueType = 0;
  DWORD valueSize = *size;
  const LSTATUS status = ::RegQueryValueExA(ToHKey(key), name, nullptr, &valueType,
                                            static_cast<BYTE*>(data), &valueSize);
  *type = valueType;
  *size = valueSize;
  return status;
}

RegStatus SetRegistryValue(RegKey key, const char* name, std::uint32_t type, const void* data,
                           std::uint32_t size) noexcept {
  return ::RegSetValueExA(ToHKey(key), name, 0, type, static_cast<const BYTE*>(data), size);
}

RegStatus QueryRegistrySubkeys(RegKey key, std::uint32_t* count,
                               std::uint32_t* maxNameLength) noexcept {
  DWORD subkeys = 0;
  DWORD longest = 0;
  const LSTATUS status =
      ::RegQueryInfoKeyA(ToHKey(key), nullptr, nullptr, nullptr, &subkeys, &longest, nullptr,
                         nullptr, nullptr, nullptr, nullptr, nullptr);
  *count = subkeys;
  *maxNameLength = longest;
  return status;
}

RegStatus EnumRegistrySubkey(RegKey key, std::uint32_t index, char* name,
                             std::uint32_t* length) noexcept {
  DWORD nameLength = *length;
  const LSTATUS status =
      ::RegEnumKeyExA(ToHKey(key), index, name, &nameLength, nullptr, nullptr, nullptr, nullptr);
  *length = nameLength;
  return status;
}

void CloseRegistryKey(RegKey key) noexcept {
  ::RegCloseKey(ToHKey(key));
}

int WideToAnsi(const char16_t* text, int length, char* out, int outSize) noexcept {
  static_assert(sizeof(char16_t) == sizeof(wchar_t), "UTF-16 text is wchar_t text here");
  return ::WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<const wchar_t*>(text), length, out,
                               outSize, nullptr, nullptr);
}

int AnsiToWide(const char* text, int length, char16_t* out, int outSize) noexcept {
  return ::MultiByteToWideChar(CP_ACP, 0, text, length, reinterpret_cast<wchar_t*>(out), outSize);
}

}  // namespace tovrel::platform
