// A window as it stands on the screen, saved as a PNG file.
#pragma once

#include <windows.h>

#include <string>

namespace tovrel::probe {

// Captures the window's rectangle from the screen and writes it as an 8-bit RGB PNG. Returns
// false when the capture or the file failed.
bool SaveWindowPng(HWND window, const std::string& path);

}  // namespace tovrel::probe
