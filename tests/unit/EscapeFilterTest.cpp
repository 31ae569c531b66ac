#include "plugin/EscapeFilter.hpp"

#include <gtest/gtest.h>

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
};

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
    {"Main_MinimizeBoth_Release", {1, 1, 1}, 0, kEsc, true, "MSBLWindowClass", kPassAndMinimize},
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
};

class EscapeFilterTable : public testing::TestWithParam<Row> {};

TEST_P(EscapeFilterTable, DecidesAsTheTableSays) {
  const Row& row = GetParam();
  const FilterVerdict verdict =
      FilterKeyEvent(row.Settings, row.Code, row.Key, row.Released, row.Class);
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

// The decision is constexpr, so the hook callback can inline it whole.
static_assert(FilterKeyEvent({1, 1, 0}, 0, kEsc, true, "IMWindowClass") == kSwallowAndMinimize);

}  // namespace
}  // namespace tovrel
