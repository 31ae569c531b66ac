// Conversions between UTF-16 text and 8-bit text in the system ANSI code page.
#pragma once

#include <string>
#include <string_view>

namespace tovrel {

// Each returns false, leaving `out` empty, when the system cannot convert the text. Characters
// the code page lacks are replaced by the system's default character. May throw std::bad_alloc.
bool ToAnsi(std::u16string_view text, std::string& out);
bool FromAnsi(std::string_view text, std::u16string& out);

}  // namespace tovrel
