// The Escape decision over any settings, hook code, key, keystroke flags and foreground class
// name (any bytes, NULs included), checked against the decision table as written below. The
// same event then goes through the hook callback on the fake system, after the press of the same
// key in the same window (for a release), which must carry out that verdict: swallow or pass on
// unchanged, minimize the tested window or nothing.
//
// Input, front to back (fields past the end read as zero):
//   3 bytes   the settings: EnablePlugin, ESCAction, MinimizeMsgrMainWin
//   4 bytes   the hook code, little-endian
//   8 bytes   the key, little-endian
//   8 bytes   the keystroke flags, little-endian
//   byte      0 when there is no foreground window
//   the rest  the foreground window's class name
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "FakePlatform.hpp"
#include "FuzzInput.hpp"
#include "plugin/EscapeFilter.hpp"
#include "plugin/HookInstall.hpp"
#include "plugin/HookRecord.hpp"
#include "plugin/KeyboardHook.hpp"
#include "plugin/ModuleState.hpp"

namespace {

using tovrel::FilterVerdict;
using tovrel::PluginSettings;
using tovrel::fake::FakeSystem;
using tovrel::fuzz::FuzzInput;
using tovrel::fuzz::Require;
namespace platform = tovrel::platform;

// --- the decision table ---

enum class Window { Conversation, Main, Other, Any };
enum class Is { No, Yes, Any };

// A foreground window is told apart by its class name alone, compared byte for byte.
Window KindOf(std::string_view className) {
  const auto is = [className](const char* name) {
    return className.size() == std::strlen(name) &&
           std::memcmp(className.data(), name, className.size()) == 0;
  };
  if (is("IMWindowClass")) return Window::Conversation;
  if (is("MSBLWindowClass")) return Window::Main;
  return Window::Other;
}

// The hook code of a non-negative call: the thread takes the key (0), peeks at it leaving it
// queued (3), or a code a keyboard hook is not given.
enum class Call { Take, Peek, Other, Any };

Call CallOf(int code) {
  if (code == 0) return Call::Take;
  if (code == 3) return Call::Peek;
  return Call::Other;
}

struct TableRow {
  Is FilteredEscape;  // Escape (key 27), a hook code >= 0, the plug-in enabled (byte not 0)
  Window Foreground;  // the class of the foreground window; none reads as an empty name
  Call Code;          // the minimize comes once per key event: when it is taken, or at a peek
                      // that swallows it, since a swallowed key leaves the queue
  Is MinimizeAction;  // ESCAction is 1; every other byte does nothing
  Is Released;        // bit 31 of the flags
  Is MainWindowToo;   // MinimizeMsgrMainWin not 0
  bool Swallow;
  bool Minimize;
};

// The first row that matches decides.
constexpr TableRow kTable[] = {
    {Is::No, Window::Any, Call::Any, Is::Any, Is::Any, Is::Any, false, false},
    {Is::Yes, Window::Conversation, Call::Take, Is::Yes, Is::Yes, Is::Any, true, true},
    {Is::Yes, Window::Conversation, Call::Peek, Is::Yes, Is::Yes, Is::Any, true, true},
    {Is::Yes, Window::Conversation, Call::Any, Is::Any, Is::Any, Is::Any, true, false},
    {Is::Yes, Window::Main, Call::Take, Is::Yes, Is::Yes, Is::Yes, false, true},
    {Is::Yes, Window::Main, Call::Any, Is::Any, Is::Any, Is::Any, false, false},
    {Is::Yes, Window::Other, Call::Any, Is::Any, Is::Any, Is::Any, false, false},
};

bool Matches(Is cell, bool fact) {
  return cell == Is::Any || (cell == Is::Yes) == fact;
}

FilterVerdict Decide(const PluginSettings& settings, int code, std::uint64_t key, bool released,
                     std::string_view className) {
  const bool filteredEscape = settings.EnablePlugin != 0 && code >= 0 && key == 27;
  const Window window = KindOf(className);
  for (const TableRow& row : kTable) {
    const bool windowMatches = row.Foreground == Window::Any || row.Foreground == window;
    const bool codeMatches = row.Code == Call::Any || row.Code == CallOf(code);
    if (Matches(row.FilteredEscape, filteredEscape) && windowMatches && codeMatches &&
        Matches(row.MinimizeAction, settings.ESCAction == 1) && Matches(row.Released, released) &&
        Matches(row.MainWindowToo, settings.MinimizeMsgrMainWin != 0)) {
      return FilterVerdict{row.Swallow, row.Minimize};
    }
  }
  Require(false, "the table covers every event");
  return FilterVerdict{false, false};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  const PluginSettings settings{input.Byte(), input.Byte(), input.Byte()};
  const auto code = static_cast<int>(static_cast<std::int32_t>(input.U32()));
  const std::uint64_t key = input.Number(8);
  const auto flags = static_cast<std::int64_t>(input.Number(8));
  const bool hasForeground = input.Byte() != 0;
  const auto rest = input.Rest();
  const std::string className(rest.begin(), rest.end());

  const bool released = (static_cast<std::uint64_t>(flags) >> 31 & 1) != 0;
  const std::string_view seen = hasForeground ? std::string_view(className) : std::string_view();
  const FilterVerdict expected = Decide(settings, code, key, released, seen);

  const auto wparam = static_cast<platform::WParam>(key);
  const auto lparam = static_cast<platform::LParam>(flags);
  const FilterVerdict verdict = tovrel::FilterKeyEvent(settings, code, wparam, released, seen);
  Require(verdict.Swallow == expected.Swallow, "Swallow as the table says");
  Require(verdict.Minimize == expected.Minimize, "Minimize as the table says");
  const bool consults = tovrel::ConsultsForegroundWindow(settings, code, wparam);
  Require(consults == (settings.EnablePlugin != 0 && code >= 0 && key == 27),
          "the window is consulted exactly for an enabled Escape with a code >= 0");

  // A registered class name never holds a NUL, so names with one are the decision's alone.
  if (className.find('\0') != std::string::npos) return 0;

  FakeSystem& system = FakeSystem::Get();
  system.Reset();
  // The fake system was reset: whatever an earlier run held is forgotten, not released.
  static_cast<void>(tovrel::HookRecView.Release());
  static_cast<void>(tovrel::HookRecMapping.Release());
  tovrel::ModuleSettings = settings;
  Require(tovrel::InstallHook(), "the hook installs");
  const platform::HookHandle hook = system.MappingWord(tovrel::HookRecMappingName().Text);
  const platform::Window window =
      hasForeground ? system.AddWindow(className) : platform::Window::None;
  system.SetForeground(window);
  system.NextHookResult = 0x5A5A;
  tovrel::LastEscapePress = tovrel::kNoPress;
  if (released) {
    // The press this release pairs with (not a repeat), seen by the hook in the same window.
    system.DeliverKey(0, wparam, static_cast<platform::LParam>(flags & ~(std::int64_t{3} << 30)));
    system.NextHookCalls.clear();
    system.Messages.clear();
    system.ForegroundQueries = system.ClassNameQueries = 0;
    system.LoopQueries = system.ImeQueries = system.KeyStateQueries = 0;
  }

  const platform::LResult result = system.DeliverKey(code, wparam, lparam);
  if (expected.Swallow) {
    Require(result == 1, "a swallowed event answers 1");
    Require(system.NextHookCalls.empty(), "a swallowed event goes no further");
  } else {
    Require(result == 0x5A5A, "a passed event answers what the next hook answers");
    Require(system.NextHookCalls.size() == 1, "a passed event goes to the next hook once");
    const auto& call = system.NextHookCalls[0];
    Require(call.Hook == hook && call.Code == code && call.Key == wparam && call.Flags == lparam,
            "a passed event goes on unchanged, with the installed hook's handle");
  }
  if (expected.Minimize) {
    Require(system.Messages.size() == 1, "one minimize command");
    const auto& sent = system.Messages[0];
    Require(sent.Target == window && sent.Message == 0x0112 && sent.WParamValue == 0xF020 &&
                sent.LParamValue == 0,
            "the minimize command goes to the foreground window");
  } else {
    Require(system.Messages.empty(), "no message without a minimize");
  }
  if (!consults) {
    Require(system.ForegroundQueries == 0 && system.ClassNameQueries == 0 &&
                system.LoopQueries == 0 && system.ImeQueries == 0 && system.KeyStateQueries == 0,
            "other events look at no window, loop, IME or key state");
  }

  Require(tovrel::RemoveHook(), "the hook is removed");
  tovrel::ModuleSettings = PluginSettings{0, 0, 0};
  return 0;
}
