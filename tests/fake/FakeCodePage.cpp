#include "FakeCodePage.hpp"

#include <climits>

#include "FakePlatform.hpp"

namespace tovrel::fake {

namespace {

constexpr char16_t kDefaultChar = u'?';

// Code points of the bytes 0x80-0x9F in 1252; the five bytes it leaves undefined map to
// themselves.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr unsigned kFirstLead = 0x81;
constexpr unsigned kLastLead = 0xFE;
constexpr unsigned kFirstTrail = 0x40;
constexpr unsigned kLastTrail = 0xFE;
constexpr unsigned kExcludedTrail = 0x7F;
constexpr unsigned kTrailsPerLead = kLastTrail - kFirstTrail;  // 0x7F is no trail byte
constexpr char16_t kFirstIdeograph = 0x4E00;
constexpr char16_t kLastIdeograph = 0x9FFF;

bool IsLead(unsigned byte) {
  return byte >= kFirstLead && byte <= kLastLead;
}
bool IsTrail(unsigned byte) {
  return byte >= kFirstTrail && byte <= kLastTrail && byte != kExcludedTrail;
}

// The bytes of one character; returns how many.
int Encode(std::uint32_t codePage, char16_t unit, unsigned char (&bytes)[2]) {
  if (unit < 0x80) {
    bytes[0] = static_cast<unsigned char>(unit);
    return 1;
  }
  if (codePage == kDoubleByteCodePage) {
    if (unit >= kFirstIdeograph && unit <= kLastIdeograph) {
      const unsigned index = unit - kFirstIdeograph;
      const unsigned lead = kFirstLead + index / kTrailsPerLead;
      unsigned trail = kFirstTrail + index % kTrailsPerLead;
      if (trail >= kExcludedTrail) ++trail;
      bytes[0] = static_cast<unsigned char>(lead);
      bytes[1] = static_cast<unsigned char>(trail);
      return 2;
    }
  } else if (unit >= 0xA0 && unit <= 0xFF) {
    bytes[0] = static_cast<unsigned char>(unit);
    return 1;
  } else {
    for (unsigned i = 0; i < 32; ++i) {
      if (kCp1252High[i] == unit) {
        bytes[0] = static_cast<unsigned char>(0x80 + i);
        return 1;
      }
    }
  }
  bytes[0] = static_cast<unsigned char>(kDefaultChar);
  return 1;
}

// One character from the front of `text`; `used` says how many bytes it took.
char16_t Decode(std::uint32_t codePage, std::string_view text, std::size_t& used) {
  const auto byte = static_cast<unsigned char>(text[0]);
  used = 1;
  if (byte < 0x80) return byte;
  if (codePage != kDoubleByteCodePage) {
    return byte < 0xA0 ? kCp1252High[byte - 0x80] : static_cast<char16_t>(byte);
  }
  if (!IsLead(byte) || text.size() < 2) return kDefaultChar;
  const auto trail = static_cast<unsigned char>(text[1]);
  if (!IsTrail(trail)) return kDefaultChar;  // the next byte stands on its own
  used = 2;
  const unsigned index =
      (byte - kFirstLead) * kTrailsPerLead + trail - kFirstTrail - (trail > kExcludedTrail ? 1 : 0);
  return index <= static_cast<unsigned>(kLastIdeograph - kFirstIdeograph)
             ? static_cast<char16_t>(kFirstIdeograph + index)
             : kDefaultChar;
}

bool IsHighSurrogate(char16_t unit) {
  return unit >= 0xD800 && unit < 0xDC00;
}
bool IsLowSurrogate(char16_t unit) {
  return unit >= 0xDC00 && unit < 0xE000;
}

}  // namespace

int EncodeAnsi(std::uint32_t codePage, std::u16string_view text, char* out, int outSize) {
  int written = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char16_t unit = text[i];
    if (IsHighSurrogate(unit) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      ++i;
      unit = kDefaultChar;
    }
    unsigned char bytes[2] = {};
    const int count = Encode(codePage, unit, bytes);
    if (outSize != 0) {
      if (written + count > outSize) return 0;
      for (int b = 0; b < count; ++b) out[written + b] = static_cast<char>(bytes[b]);
    }
    written += count;
  }
  return written;
}

int DecodeAnsi(std::uint32_t codePage, std::string_view text, char16_t* out, int outSize) {
  int written = 0;
  while (!text.empty()) {
    std::size_t used = 0;
    const char16_t unit = Decode(codePage, text, used);
    text.remove_prefix(used);
    if (outSize != 0) {
      if (written == outSize) return 0;
      out[written] = unit;
    }
    ++written;
  }
  return written;
}

std::string AnsiText(std::u16string_view text) {
  const std::uint32_t codePage = FakeSystem::Get().AnsiCodePage;
  std::string out(static_cast<std::size_t>(EncodeAnsi(codePage, text, nullptr, 0)), '\0');
  if (!out.empty()) EncodeAnsi(codePage, text, out.data(), static_cast<int>(out.size()));
  return out;
}

std::u16string WideText(std::string_view text) {
  const std::uint32_t codePage = FakeSystem::Get().AnsiCodePage;
  std::u16string out(static_cast<std::size_t>(DecodeAnsi(codePage, text, nullptr, 0)), u'\0');
  if (!out.empty()) DecodeAnsi(codePage, text, out.data(), static_cast<int>(out.size()));
  return out;
}

}  // namespace tovrel::fake
