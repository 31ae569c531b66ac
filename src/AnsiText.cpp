#include "AnsiText.hpp"

#include <climits>

#include "platform/platform.hpp"

namespace tovrel {

namespace {

// Asks for the size, then converts: the two-call form of the system's conversions.
template <typename From, typename To, typename Units, typename Convert>
bool ConvertText(std::basic_string_view<From> text, BasicText<To, Units>& out,
                 Convert convert) noexcept {
  out.Clear();
  if (text.empty()) return true;
  if (text.size() > static_cast<std::size_t>(INT_MAX)) return false;
  const int length = static_cast<int>(text.size());
  const int needed = convert(text.data(), length, nullptr, 0);
  if (needed <= 0 || !out.Resize(static_cast<std::size_t>(needed))) return false;
  const int written = convert(text.data(), length, out.data(), needed);
  if (written <= 0) {
    out.Clear();
    return false;
  }
  return out.Resize(static_cast<std::size_t>(written));  // never larger: cannot fail
}

}  // namespace

bool ToAnsi(std::u16string_view text, Text& out) noexcept {
  return ConvertText(text, out, platform::WideToAnsi);
}

bool FromAnsi(std::string_view text, Text16& out) noexcept {
  return ConvertText(text, out, platform::AnsiToWide);
}

bool FromAnsi(std::string_view text, HeldText16& out) noexcept {
  return ConvertText(text, out, platform::AnsiToWide);
}

}  // namespace tovrel
