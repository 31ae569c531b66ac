// Conversions between UTF-16 text and 8-bit text in the system ANSI code page.
#pragma once

#include <string_view>

#include "Text.hpp"

namespace tovrel {

// Each returns false, leaving `out` empty, when the system cannot convert the text or memory runs
// out. Characters the code page lacks are replaced by the system's default character.
bool ToAnsi(std::u16string_view text, Text& out) noexcept;
bool FromAnsi(std::string_view text, Text16& out) noexcept;
bool FromAnsi(std::string_view text, HeldText16& out) noexcept;

}  // namespace tovrel
