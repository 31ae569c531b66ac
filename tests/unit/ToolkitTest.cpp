// The toolkit's decisions that need no window: where a modal form opens, and how a path the system
// may cut short is taken whole.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <string_view>

#include "AllocationControl.hpp"
#include "FakePlatform.hpp"
#include "toolkit/Form.hpp"
#include "toolkit/ModulePath.hpp"

namespace tovrel {
namespace {

using platform::ScreenRect;
using platform::Window;

class FormPositionTest : public testing::Test {
 protected:
  void SetUp() override {
    system_.Reset();
    // The primary monitor with a taskbar at its bottom; a second one to its left, higher, with
    // a bar docked at its top.
    system_.Monitors = {{{0, 0, 1024, 768}, {0, 0, 1024, 738}},
                        {{-1280, -200, 0, 824}, {-1280, -170, 0, 824}}};
    host_ = system_.AddWindow("MSBLWindowClass");
  }
  fake::FakeSystem& system_ = fake::FakeSystem::Get();
  Window host_ = Window::None;
};

TEST_F(FormPositionTest, CentredInTheWorkAreaOfTheActiveWindowsMonitor) {
  const struct {
    const char* Name = nullptr;
    bool Active = false;  // a window was active when the form was shown
    ScreenRect Host;      // where that window lies
    int Width = 0;        // the form's frame
    int Height = 0;
    int Left = 0;
    int Top = 0;
  } rows[] = {
      // (1024 - 481) / 2 = 271 and (738 - 187) / 2 = 275, halves truncated.
      {"on the primary", true, {100, 100, 500, 400}, 481, 187, 271, 275},
      // -1280 + (1280 - 481) / 2 = -881; -170 + (994 - 187) / 2 = 233.
      {"on the second", true, {-900, 0, -300, 500}, 481, 187, -881, 233},
      {"mostly on the second", true, {-600, 0, 200, 500}, 481, 187, -881, 233},
      {"mostly on the primary", true, {-200, 0, 600, 500}, 481, 187, 271, 275},
      {"on no monitor", true, {5000, 5000, 5400, 5300}, 481, 187, 271, 275},
      {"none active", false, {}, 481, 187, 271, 275},
      {"odd sizes truncate", false, {}, 482, 188, 271, 275},
      // Larger than the work area: the caption stays on it.
      {"taller than the work area", true, {-900, 0, -300, 500}, 481, 1200, -881, -170},
      {"wider than the work area", false, {}, 1500, 187, 0, 275},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Name);
    system_.PlaceWindow(host_, row.Host);
    const toolkit::FormOrigin origin =
        toolkit::FormPosition(row.Active ? host_ : Window::None, row.Width, row.Height);
    EXPECT_EQ(origin.Left, row.Left);
    EXPECT_EQ(origin.Top, row.Top);
  }
}

TEST_F(FormPositionTest, OneScreenWithoutBars_TheCentreOfTheScreen) {
  system_.Monitors = {{{0, 0, 800, 600}, {0, 0, 800, 600}}};
  system_.PlaceWindow(host_, {10, 10, 300, 200});
  for (const Window active : {host_, Window::None}) {
    const toolkit::FormOrigin origin = toolkit::FormPosition(active, 481, 187);
    EXPECT_EQ(origin.Left, (800 - 481) / 2);
    EXPECT_EQ(origin.Top, (600 - 187) / 2);
  }
}

// A system call that copies a path of `length` units as Windows XP does, or as later versions do:
// a path that does not fit is cut at the buffer's end and answered with the buffer's size, XP
// without a NUL, the later versions with one in the last unit.
struct PathQuery {
  std::u16string Path;
  bool Xp = false;
  int Calls = 0;
  std::uint32_t operator()(char16_t* buffer, std::uint32_t size) {
    ++Calls;
    if (Path.size() < size) {
      Path.copy(buffer, Path.size());
      buffer[Path.size()] = u'\0';
      return static_cast<std::uint32_t>(Path.size());
    }
    if (Xp) {
      Path.copy(buffer, size);
    } else {
      Path.copy(buffer, size - 1);
      buffer[size - 1] = u'\0';
    }
    return size;
  }
};

TEST(WholePathTest, APathCutShortIsAskedAgainInALargerBuffer_OnEveryVersion) {
  const struct {
    std::size_t Length;
    int Calls;  // buffers of 260, 520, ... up to the longest path
  } rows[] = {{10, 1}, {259, 1}, {260, 2}, {519, 2}, {520, 3}, {32767, 8}};
  for (const bool xp : {true, false}) {
    for (const auto& row : rows) {
      SCOPED_TRACE(testing::Message() << (xp ? "XP " : "later ") << row.Length);
      std::u16string path(row.Length, u'\u0416');  // outside every 8-bit code page but one
      path.front() = u'C';
      PathQuery query{path, xp};
      Array<char16_t> got;
      ASSERT_TRUE(toolkit::WholePath(std::ref(query), got));
      EXPECT_EQ(std::u16string_view(got.data()), path) << "whole, and ended by a NUL";
      EXPECT_EQ(query.Calls, row.Calls);
    }
  }
}

TEST(WholePathTest, NoPathOrOneLongerThanAnyPath_IsAFailure) {
  for (const bool xp : {true, false}) {
    PathQuery tooLong{std::u16string(toolkit::kLongestPath, u'a'), xp};
    Array<char16_t> got;
    EXPECT_FALSE(toolkit::WholePath(std::ref(tooLong), got));
  }
  PathQuery none{};
  Array<char16_t> got;
  EXPECT_FALSE(toolkit::WholePath(std::ref(none), got)) << "0 is the system's failure";
}

TEST(WholePathTest, OutOfMemoryForTheBuffer_IsAFailure) {
  PathQuery query{std::u16string(300, u'a')};
  Array<char16_t> got;
  test::FailAllocations(1);
  const bool taken = toolkit::WholePath(std::ref(query), got);
  test::FailAllocations(0);
  EXPECT_FALSE(taken);
}

}  // namespace
}  // namespace tovrel
