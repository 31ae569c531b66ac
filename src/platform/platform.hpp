// The operations the plug-in needs from the operating system, in the project's own types.
//
// The Win32 build implements them in platform/win32 (the only code that sees <windows.h>); the
// native build links a fake of them instead, so everything above this layer builds and is tested
// on any host. Each operation is one system call in the project's types: handles become numbers,
// the predefined root key is translated, a failed open hands back None. Every decision (what to
// retry, what to ignore, when to release) is made above this layer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/Owned.hpp"

#if defined(_WIN32)
#define TOVREL_WINAPI __stdcall
#else
#define TOVREL_WINAPI
#endif

namespace tovrel::platform {

// Opaque handles. Zero is "none" for each of them.
enum class Window : std::uintptr_t { None = 0 };
enum class Instance : std::uintptr_t { None = 0 };
enum class Mapping : std::uintptr_t { None = 0 };
enum class RegKey : std::uintptr_t { None = 0 };

// The predefined root HKEY_CURRENT_USER. It is never opened or closed.
inline constexpr auto kCurrentUser = static_cast<RegKey>(0x80000001u);

// Registry results (Win32 error codes) and the value types the code looks at.
using RegStatus = long;
inline constexpr RegStatus kRegSuccess = 0;
inline constexpr RegStatus kRegAccessDenied = 5;  // ERROR_ACCESS_DENIED
inline constexpr RegStatus kRegMoreData = 234;    // ERROR_MORE_DATA: the buffer is too small
inline constexpr std::uint32_t kRegDword = 4;     // REG_DWORD

// A keyboard hook handle as the hook record stores it: 32 bits on the real platform.
using HookHandle = std::uint32_t;

// A rectangle on the virtual screen, in pixels; right and bottom are outside it.
struct ScreenRect {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;
};

using WParam = std::uintptr_t;
using LParam = std::intptr_t;
using LResult = std::intptr_t;

// The system's hook callback: hook code, virtual-key code, keystroke flags.
using HookProc = LResult(TOVREL_WINAPI*)(int code, WParam key, LParam flags);

// --- processes and threads (kernel32) ---
std::uint32_t CurrentProcessId() noexcept;
std::uint32_t CurrentThreadId() noexcept;

// DisableThreadLibraryCalls: no thread attach and detach notifications for the module.
void DisableThreadNotifications(Instance module) noexcept;

// --- memory (the process heap) ---
// A block of `bytes` bytes aligned for any type, or null when there is no memory. Free takes
// null as well as a block from Allocate.
void* Allocate(std::size_t bytes) noexcept;
void Free(void* block) noexcept;

// --- named shared memory (kernel32) ---
// Creates a paging-file-backed mapping of `size` bytes with read/write protection, or opens the
// existing one of that name. None on failure.
Mapping CreateMapping(const char* name, std::uint32_t size) noexcept;
// Opens an existing mapping with full access, not inheritable. None when there is none.
Mapping OpenMapping(const char* name) noexcept;
// Maps the whole mapping with full access. Null on failure.
void* MapView(Mapping mapping) noexcept;
void UnmapView(void* view) noexcept;
void CloseMapping(Mapping mapping) noexcept;

// --- keyboard hook (user32) ---
// Installs a WH_KEYBOARD hook for one thread. 0 on refusal.
HookHandle SetKeyboardHook(HookProc proc, Instance module, std::uint32_t threadId) noexcept;
void Unhook(HookHandle hook) noexcept;
LResult CallNextHook(HookHandle hook, int code, WParam key, LParam flags) noexcept;

// --- windows (user32) ---
Window ForegroundWindow() noexcept;
// GetClassNameA: copies at most size-1 bytes and a NUL; returns the length copied, 0 on failure.
int WindowClassName(Window window, char* buffer, int size) noexcept;
LResult SendWindowMessage(Window window, std::uint32_t message, WParam wparam,
                          LParam lparam) noexcept;
// The system's modal loops the calling thread is in, as GetGUIThreadInfo reports them: a menu
// loop (a menu bar, a popup menu or the system menu being tracked: GUI_INMENUMODE,
// GUI_POPUPMENUMODE or GUI_SYSTEMMENUMODE; Windows sets GUI_INMENUMODE from the loop's start,
// before any popup shows, and Wine does too, without GUI_POPUPMENUMODE), and a loop that moves or
// sizes a window (GUI_INMOVESIZE). The function is looked up in the loaded user32 at the call,
// so the module imports nothing new for it; neither loop where it is missing.
struct ThreadLoops {
  bool Menu;
  bool MoveSize;
};
ThreadLoops ThreadModalLoops() noexcept;
// What the IME of the calling thread's focus window has open: the length of its composition
// string (ImmGetCompositionStringW with GCS_COMPSTR) and the number of its candidate lists
// (ImmGetCandidateListCountW), which it may show with no composition, after a prediction say.
// imm32's functions are looked up at the call, and only when imm32.dll is loaded in the process
// already (a process without it has no IME); nothing is loaded and nothing is imported for them.
// Nothing open where the focus window or its input context cannot be had.
struct ImeState {
  std::int32_t Composition;
  std::uint32_t CandidateLists;
};
ImeState FocusImeState() noexcept;
// Whether `key` went down since the calling thread last asked, wherever the key went: the low bit
// of GetAsyncKeyState, which asking clears. Looked up in the loaded user32 at the call, like
// GetGUIThreadInfo; false where it is missing.
bool KeyWentDownSinceAsked(std::uint32_t key) noexcept;
// The work area (the monitor less the taskbar and docked bars) of the monitor that holds the
// largest part of `window`; of the primary monitor when `window` is None or on no monitor.
// MonitorFromWindow and GetMonitorInfoA; when the monitor cannot be asked, the whole primary
// screen.
ScreenRect MonitorWorkArea(Window window) noexcept;

// --- registry (advapi32, 8-bit forms) ---
// RegCreateKeyExA: opens or creates `path` under `root` with KEY_ALL_ACCESS, non-volatile, no
// class, default security.
RegStatus CreateRegistryKey(RegKey root, const char* path, RegKey* key) noexcept;
// RegOpenKeyExA with KEY_ALL_ACCESS, without creating anything.
RegStatus OpenRegistryKey(RegKey root, const char* path, RegKey* key) noexcept;
// RegOpenKeyExA with KEY_READ, without creating anything.
RegStatus OpenRegistryKeyToRead(RegKey root, const char* path, RegKey* key) noexcept;
// RegQueryValueExA: `size` holds the buffer's size on entry and the value's size on return.
RegStatus QueryRegistryValue(RegKey key, const char* name, std::uint32_t* type, void* data,
                             std::uint32_t* size) noexcept;
RegStatus SetRegistryValue(RegKey key, const char* name, std::uint32_t type, const void* data,
                           std::uint32_t size) noexcept;
// RegQueryInfoKeyA: the number of direct subkeys and the length of the longest name, in UTF-16
// units whatever the code page: a name can take more bytes than that in 8-bit text.
RegStatus QueryRegistrySubkeys(RegKey key, std::uint32_t* count,
                               std::uint32_t* maxNameLength) noexcept;
// RegEnumKeyExA: `length` holds the buffer's size in bytes on entry and the name's length on
// return; kRegMoreData when the name and its NUL do not fit.
RegStatus EnumRegistrySubkey(RegKey key, std::uint32_t index, char* name,
                             std::uint32_t* length) noexcept;
void CloseRegistryKey(RegKey key) noexcept;

// --- text in the system ANSI code page (CP_ACP, no flags, no default character) ---
// Both return the number of units written, or with outSize 0 the number needed; 0 on failure.
int WideToAnsi(const char16_t* text, int length, char* out, int outSize) noexcept;
int AnsiToWide(const char* text, int length, char16_t* out, int outSize) noexcept;

// Owners of the handles above that the module releases.
using OwnedRegKey = Owned<RegKey, &CloseRegistryKey>;
using OwnedMapping = Owned<Mapping, &CloseMapping>;
using HeldMapping = Held<Mapping, &CloseMapping>;
// A keyboard hook registration: unhooked when its owner lets it go.
using OwnedHook = Owned<HookHandle, &Unhook>;

}  // namespace tovrel::platform
