#include "plugin/EscapeFilter.hpp"

#include <gtest/gtest.h>

#include <iterator>
#include <string_view>

namespace tovrel {
namespace {

constexpr std::uintptr_t kEsc = kVkEscape;
constexpr std::uintptr_t kEnter = 13;

struct Row {
  const char* Name;
  PluginSettings Settings;
  int Code;
  std::uintptr_t Key;
  bool Released;
  std::string_view Class;
  FilterVerdict Expected;
  // The window in front, the press the hook remembers, a menu loop or composition.
  EscapeScene Scene = kPressSeenInThisWindow;
};

constexpr std::uintptr_t kFront = 1;
constexpr std::uintptr_t kElsewhere = 2;
constexpr EscapeScene kNoPressSeen{kFront, kNoPress, false};
constexpr EscapeScene kPressInAnotherWindow{kFront, {kElsewhere, true}, false};
constexpr EscapeScene kPressArmedNothing{kFront, {kFront, false}, false};
constexpr EscapeScene kMenuOrIme{kFront, {kFront, true}, true};
constexpr EscapeScene kMoveSize{kFront, {kFront, true}, false, true};
constexpr EscapeScene kPressedElsewhere{kFront, {kFront, true}, false, false, true};
constexpr PluginSettings kMin{1, MinimizeIMWindow, 0};
constexpr PluginSettings kBoth{1, MinimizeIMWindow, 1};
constexpr std::string_view kConv = kConversationWindowClass;
constexpr std::string_view kMain = kMainWindowClass;

constexpr FilterVerdict kSwallow{true, false};
constexpr FilterVerdict kSwallowAndMinimize{true, true};
constexpr FilterVerdict kPassAndMinimize{false, true};

// One row per line of the decision table, then the inputs that a sloppy comparison gets wrong.
constexpr Row kRows[] = {
    {"Disabled_PassesEscapeInConversation", {0, 1, 1}, 0, kEsc, true, "IMWindowClass", kPassOn},
    {"NegativeCode_Passes", {1, 1, 1}, -1, kEsc, true, "IMWindowClass", kPassOn},
    {"MostNegativeCode_Passes", {1, 0, 0}, INT32_MIN, kEsc, false, "IMWindowClass", kPassOn},
    {"OtherKey_PassesInConversation", {1, 1, 1}, 0, kEnter, true, "IMWindowClass", kPassOn},
    {"Conversation_Minimize_Release",
     {1, 1, 0},
     0,
     kEsc,
     true,
     "IMWindowClass",
     kSwallowAndMinimize},
    {"Conversation_Minimize_Press", {1, 1, 0}, 0, kEsc, false, "IMWindowClass", kSwallow},
    {"Conversation_DoNothing_Press", {1, 0, 1}, 0, kEsc, false, "IMWindowClass", kSwallow},
    {"Conversation_DoNothing_Release", {1, 0, 1}, 0, kEsc, true, "IMWindowClass", kSwallow},
    {"Conversation_Action2_BehavesAsDoNothing",
     {1, 2, 1},
     0,
     kEsc,
     true,
     "IMWindowClass",
     kSwallow},
    {"Conversation_Action255_BehavesAsDoNothing",
     {1, 255, 1},
     0,
     kEsc,
     true,
     "IMWindowClass",
     kSwallow},
    {"Conversation_PeekCode3_FilteredLikeCode0",
     {1, 1, 0},
     3,
     kEsc,
     true,
     "IMWindowClass",
     kSwallowAndMinimize},
    // A key swallowed at a peek is removed and never taken: the peek is its last call.
    {"Conversation_PeekedPress_Swallowed", {1, 1, 0}, 3, kEsc, false, "IMWindowClass", kSwallow},
    {"Conversation_DoNothing_PeekedRelease_Swallowed",
     {1, 0, 1},
     3,
     kEsc,
     true,
     "IMWindowClass",
     kSwallow},
    // Codes a keyboard hook is not given: swallowed like every non-negative code, never minimized.
    {"Conversation_Code1_SwallowedWithoutMinimize",
     {1, 1, 0},
     1,
     kEsc,
     true,
     "IMWindowClass",
     kSwallow},
    {"Conversation_LargestCode_SwallowedWithoutMinimize",
     {1, 1, 0},
     INT32_MAX,
     kEsc,
     true,
     "IMWindowClass",
     kSwallow},
    {"Main_MinimizeBoth_Release", {1, 1, 1}, 0, kEsc, true, "MSBLWindowClass", kPassAndMinimize},
    // A key passed on at a peek stays queued and is taken later: only the taking minimizes.
    {"Main_MinimizeBoth_PeekedRelease_NoMinimize",
     {1, 1, 1},
     3,
     kEsc,
     true,
     "MSBLWindowClass",
     kPassOn},
    {"Main_MinimizeBoth_Code2_NoMinimize", {1, 1, 1}, 2, kEsc, true, "MSBLWindowClass", kPassOn},
    {"Other_PeekedRelease_Passes", {1, 1, 1}, 3, kEsc, true, "Notepad", kPassOn},
    {"Main_MinimizeBoth_Press", {1, 1, 1}, 0, kEsc, false, "MSBLWindowClass", kPassOn},
    {"Main_MainWindowOff_Release", {1, 1, 0}, 0, kEsc, true, "MSBLWindowClass", kPassOn},
    {"Main_DoNothingWithMainWindowOn_Release",
     {1, 0, 1},
     0,
     kEsc,
     true,
     "MSBLWindowClass",
     kPassOn},
    {"Main_Action2WithMainWindowOn_Release", {1, 2, 1}, 0, kEsc, true, "MSBLWindowClass", kPassOn},
    {"OtherClass_Passes", {1, 1, 1}, 0, kEsc, true, "Notepad", kPassOn},
    {"NoWindow_EmptyClass_Passes", {1, 1, 1}, 0, kEsc, true, "", kPassOn},
    {"ClassDiffersInCase_Passes", {1, 1, 1}, 0, kEsc, true, "imwindowclass", kPassOn},
    {"ClassWithSuffix_Passes", {1, 1, 1}, 0, kEsc, true, "IMWindowClassX", kPassOn},
    {"ClassPrefixOnly_Passes", {1, 1, 1}, 0, kEsc, true, "IMWindow", kPassOn},
    {"MainClassWithSuffix_NoMinimize", {1, 1, 1}, 0, kEsc, true, "MSBLWindowClass2", kPassOn},
    {"ClassWithEmbeddedNul_Passes",
     {1, 1, 1},
     0,
     kEsc,
     true,
     std::string_view("IMWindowClass\0x", 15),
     kPassOn},
    {"EnableByteOtherThanOne_CountsAsEnabled",
     {2, 0, 0},
     0,
     kEsc,
     false,
     "IMWindowClass",
     kSwallow},
    {"KeyWithHighBitsSet_IsNotEscape", {1, 1, 1}, 0, kEsc | 0x100, true, "IMWindowClass", kPassOn},
    // A release minimizes only after its press was seen here, with the same window in front, and
    // armed; without one it is still swallowed in a conversation window and passed on elsewhere.
    {"Conversation_ReleaseWithoutPress", kMin, 0, kEsc, true, kConv, kSwallow, kNoPressSeen},
    {"Conversation_PressInAnother", kMin, 0, kEsc, true, kConv, kSwallow, kPressInAnotherWindow},
    {"Conversation_PressArmedNothing", kMin, 0, kEsc, true, kConv, kSwallow, kPressArmedNothing},
    {"Main_ReleaseWithoutPress", kBoth, 0, kEsc, true, kMain, kPassOn, kNoPressSeen},
    {"Main_PressInAnother", kBoth, 0, kEsc, true, kMain, kPassOn, kPressInAnotherWindow},
    // A menu loop or an IME composition takes the key: passed on, nothing minimized.
    {"Conversation_MenuOrIme_Press", kMin, 0, kEsc, false, kConv, kPassOn, kMenuOrIme},
    {"Conversation_MenuOrIme_Release", kMin, 0, kEsc, true, kConv, kPassOn, kMenuOrIme},
    {"Main_MenuOrIme_Release", kBoth, 0, kEsc, true, kMain, kPassOn, kMenuOrIme},
    // A move or size loop ends on the press, which is its own; a release minimizes nothing.
    {"Conversation_MoveSize_Press", kMin, 0, kEsc, false, kConv, kPassOn, kMoveSize},
    {"Conversation_MoveSize_Release", kMin, 0, kEsc, true, kConv, kSwallow, kMoveSize},
    {"Main_MoveSize_Release", kBoth, 0, kEsc, true, kMain, kPassOn, kMoveSize},
    // The key went up and down for another thread since the press seen here: the release is
    // that press's.
    {"Conversation_PressedElsewhere", kMin, 0, kEsc, true, kConv, kSwallow, kPressedElsewhere},
    {"Main_PressedElsewhere", kBoth, 0, kEsc, true, kMain, kPassOn, kPressedElsewhere},
    {"Conversation_PressedElsewhere_Press", kMin, 0, kEsc, false, kConv, kSwallow,
     kPressedElsewhere},
};

class EscapeFilterTable : public testing::TestWithParam<Row> {};

TEST_P(EscapeFilterTable, DecidesAsTheTableSays) {
  const Row& row = GetParam();
  const FilterVerdict verdict =
      FilterKeyEvent(row.Settings, row.Code, row.Key, row.Released, row.Class, row.Scene);
  EXPECT_EQ(verdict.Swallow, row.Expected.Swallow);
  EXPECT_EQ(verdict.Minimize, row.Expected.Minimize);
}

INSTANTIATE_TEST_SUITE_P(Rows, EscapeFilterTable, testing::ValuesIn(kRows),
                         [](const testing::TestParamInfo<Row>& row) { return row.param.Name; });

TEST(EscapeFilter, ConsultsTheWindowOnlyForEnabledEscapeWithNonNegativeCode) {
  EXPECT_TRUE(ConsultsForegroundWindow({1, 0, 0}, 0, kEsc));
  EXPECT_FALSE(ConsultsForegroundWindow({0, 1, 1}, 0, kEsc));
  EXPECT_FALSE(ConsultsForegroundWindow({1, 1, 1}, -1, kEsc));
  EXPECT_FALSE(ConsultsForegroundWindow({1, 1, 1}, 0, 'A'));
}

// What a press leaves for its release, and what the release's last call leaves: nothing.
TEST(EscapeFilter, RemembersEachPressWithItsWindowAndForgetsItAtTheReleasesLastCall) {
  const struct {
    PluginSettings Settings;
    int Code;
    bool Released;
    std::string_view Class;
    EscapeScene Scene;
    EscapePress Expected;
    bool Repeated = false;
  } rows[] = {
      {{1, 0, 0}, 0, false, kConv, kPressInAnotherWindow, {kFront, true}},
      {kMin, 3, false, kConv, kNoPressSeen, {kFront, true}},  // a peek at it too
      // An auto-repeat keeps what the first press left, wherever it lands.
      {kMin, 0, false, kConv, kNoPressSeen, kNoPress, true},
      {kMin, 0, false, kConv, kPressInAnotherWindow, {kElsewhere, true}, true},
      {kBoth, 0, false, kMain, kNoPressSeen, {kFront, true}},
      {kMin, 0, false, kMain, kNoPressSeen, {kFront, false}},      // the main window's minimize off
      {kBoth, 0, false, "#32770", kNoPressSeen, {kFront, false}},  // a dialog
      {kBoth, 0, false, kConv, kMenuOrIme, {kFront, false}},
      {kBoth, 0, true, kMain, kPressSeenInThisWindow, kNoPress},    // the release taken
      {kMin, 3, true, kConv, kPressSeenInThisWindow, kNoPress},     // swallowed at a peek
      {kBoth, 3, true, kMain, kPressSeenInThisWindow, {1, true}},   // passed on at a peek
      {kBoth, 3, true, kMain, kPressedElsewhere, {kFront, false}},  // ... by another press's
      {kMin, 0, false, kConv, kMoveSize, {kFront, false}},          // the move loop's press
      {kMin, 0, false, kConv, kPressedElsewhere, {kFront, true}},   // a press's own down
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.Class << " code " << row.Code << " released "
                                    << row.Released << " repeated " << row.Repeated);
    const FilterVerdict verdict =
        FilterKeyEvent(row.Settings, row.Code, kEsc, row.Released, row.Class, row.Scene);
    EXPECT_EQ(RememberEscapePress(row.Settings, row.Code, row.Released, row.Repeated,
                                  KindOfClass(row.Class), row.Scene, verdict),
              row.Expected);
  }
}

// What one key event comes to in a thread that peeks at it (HC_NOREMOVE) `peeks` times before it
// takes it (HC_ACTION): the hook is called again only while it passes the key on, since a
// swallowed key leaves the queue. Each call sees the press the calls before it left.
struct LoopOutcome {
  bool Removed;   // swallowed at some call
  int Minimizes;  // minimize commands sent
};
LoopOutcome PeekThenTake(const PluginSettings& s, bool released, std::string_view cls, int peeks,
                         EscapePress& remembered) {
  LoopOutcome outcome{false, 0};
  for (int call = 0; call <= peeks && !outcome.Removed; ++call) {
    const int code = call < peeks ? kHcNoRemove : kHcAction;
    const EscapeScene scene{kFront, remembered, false};
    const FilterVerdict v = FilterKeyEvent(s, code, kEsc, released, cls, scene);
    remembered = RememberEscapePress(s, code, released, false, KindOfClass(cls), scene, v);
    outcome.Minimizes += v.Minimize ? 1 : 0;
    outcome.Removed = v.Swallow;
  }
  return outcome;
}

// Whatever the number of peeks, the event is swallowed exactly when a taken-only event is, and
// minimized as often as a taken-only event is: at most once. A release comes after its press,
// which went through the same loop, and a second release after it minimizes nothing.
TEST(EscapeFilter, PeekingBeforeTakingMinimizesAsOftenAsTakingAlone) {
  const PluginSettings settings[] = {{0, 1, 1}, {1, 0, 0}, {1, 0, 1},
                                     {1, 1, 0}, {1, 1, 1}, {1, 2, 1}};
  const std::string_view classes[] = {"IMWindowClass", "MSBLWindowClass", "Notepad", ""};
  int minimizedIn[std::size(classes)] = {};
  for (const PluginSettings& s : settings) {
    for (std::size_t c = 0; c < std::size(classes); ++c) {
      for (bool released : {false, true}) {
        const FilterVerdict taken = FilterKeyEvent(s, kHcAction, kEsc, released, classes[c]);
        for (int peeks = 1; peeks <= 3; ++peeks) {
          SCOPED_TRACE(testing::Message() << classes[c] << " released " << released << " peeks "
                                          << peeks << " settings " << int{s.EnablePlugin} << ","
                                          << int{s.ESCAction} << "," << int{s.MinimizeMsgrMainWin});
          EscapePress remembered = kNoPress;
          if (released) PeekThenTake(s, false, classes[c], peeks, remembered);
          const LoopOutcome outcome = PeekThenTake(s, released, classes[c], peeks, remembered);
          EXPECT_EQ(outcome.Removed, taken.Swallow);
          EXPECT_EQ(outcome.Minimizes, taken.Minimize ? 1 : 0);
          minimizedIn[c] += outcome.Minimizes;
          if (released) {
            EXPECT_EQ(PeekThenTake(s, true, classes[c], peeks, remembered).Minimizes, 0)
                << "a second release has no press";
          }
        }
      }
    }
  }
  EXPECT_GT(minimizedIn[0], 0) << "the conversation window's minimize was reached";
  EXPECT_GT(minimizedIn[1], 0) << "the main window's minimize was reached";
}

// The decision is constexpr, so the hook callback can inline it whole.
static_assert(FilterKeyEvent({1, 1, 0}, 0, kEsc, true, "IMWindowClass") == kSwallowAndMinimize);

}  // namespace
}  // namespace tovrel
