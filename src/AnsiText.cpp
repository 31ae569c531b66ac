#include "AnsiText.hpp"

#include <climits>

#include "platform/platform.hpp"

namespace tovrel {

namespace {

// Asks for the size, then converts: the two-call form of the system's conversions.
template <typename From, typename To, typename Convert>
bool ConvertText(std::basic_string_view<From> text, std::basic_string<To>& out, Convert convert) {
  out.clear();
  if (text.empty()) return true;
  if (text.size() > static_cast<std::size_t>(INT_MAX)) return false;
  const int length = static_cast<int>(text.size());
  const int needed = convert(text.data(), length, nullptr, 0);
  if (needed <= 0) return false;
  out.resize(static_cast<std::size_t>(needed));
  const int written = convert(text.data(), length, out.data(), needed);
  if (written <= 0) {
    out.clear();
    return false;
  }
  out.resize(static_cast<std::size_t>(written));
  return true;
}

}  // namespace

bool ToAnsi(std::u16string_view text, std::string& out) {
  return ConvertText(text, out, platform::WideToAnsi);
}

bool FromAnsi(std::string_view text, std::u16string& out) {
  return ConvertText(text, out, platform::AnsiToWide);
}

}  // namespace tovrel
