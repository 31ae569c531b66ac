// The platform layer over the real Windows API. The only code that includes <windows.h>.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

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

}  // namespace tovrel::platform
