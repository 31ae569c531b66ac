// A window as it stands on the screen, saved as a PNG file.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tovrel::probe {

// The screen's pixels in `rect` (screen coordinates), row by row from the top, each as 0x00RRGGBB;
// empty when the rectangle is empty or the capture failed.
std::vector<std::uint32_t> CaptureScreen(const RECT& rect);

// Captures the window's rectangle from the screen and writes it as an 8-bit RGB PNG. Returns
// false when the capture or the file failed.
bool SaveWindowPng(HWND window, const std::string& path);

}  // namespace tovrel::probe
