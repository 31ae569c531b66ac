// The fake system's ANSI code page: Windows-1252, or a double-byte code page of the fake's own.
//
// In the double-byte one a lead byte 0x81-0xFE followed by a trail byte 0x40-0xFE (not 0x7F)
// makes one character, as in code page 936; the pairs map in order onto the CJK ideographs from
// U+4E00 (0x81 0x40 is U+4E00, 0x81 0x5C is U+4E1C). A trail byte may thus be a backslash's
// byte. ASCII is itself; every other character is replaced by the default character '?'.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tovrel::fake {

inline constexpr std::uint32_t kWesternCodePage = 1252;
inline constexpr std::uint32_t kDoubleByteCodePage = 936;

// The two conversions as the system makes them, each returning the units it writes (with
// outSize 0, the units needed), 0 when `out` is too small. A surrogate pair becomes one default
// character.
int EncodeAnsi(std::uint32_t codePage, std::u16string_view text, char* out, int outSize);
int DecodeAnsi(std::uint32_t codePage, std::string_view text, char16_t* out, int outSize);

// Whole texts, in the fake system's current code page.
std::string AnsiText(std::u16string_view text);
std::u16string WideText(std::string_view text);

}  // namespace tovrel::fake
