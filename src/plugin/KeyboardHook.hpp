// The keyboard hook callback: gathers the inputs of the Escape decision, asks FilterKeyEvent and
// carries out its verdict.
#pragma once

#include "platform/platform.hpp"

namespace tovrel {

struct ClassName {
  char Text[256];
  int Length;
};

// The class name of a window, read with GetClassNameA into 256 bytes with 255 as the length.
// Empty when there is no window or the name cannot be read; an empty name matches no class.
ClassName GetWindowClassName(platform::Window window) noexcept;

platform::LResult TOVREL_WINAPI KeyboardHookProc(int code, platform::WParam key,
                                                 platform::LParam flags) noexcept;

}  // namespace tovrel
