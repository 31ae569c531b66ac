#include "Memory.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "AllocationControl.hpp"
#include "Text.hpp"

namespace tovrel {
namespace {

class MemoryTest : public testing::Test {
 protected:
  void TearDown() override { test::FailAllocations(0); }
};

// Growth by doubling keeps every value; a refused allocation leaves the array exactly as it was,
// whichever growth it is, and the array grows again once memory is back.
TEST_F(MemoryTest, ArrayKeepsItsValuesThroughGrowthAndThroughRefusal) {
  Array<int> values;
  for (int i = 0; i < 100; ++i) ASSERT_TRUE(values.Push(i));
  ASSERT_EQ(values.size(), 100u);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(values[static_cast<std::size_t>(i)], i);

  const int* before = values.data();
  test::FailAllocations(1);
  const int more[200] = {};
  EXPECT_FALSE(values.Append(more, 200));
  EXPECT_FALSE(values.Resize(1000));
  EXPECT_FALSE(values.Reserve(1000));
  EXPECT_EQ(test::RefusedAllocations(), 3);
  test::FailAllocations(0);
  EXPECT_EQ(values.data(), before);
  ASSERT_EQ(values.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(values[static_cast<std::size_t>(i)], i);

  ASSERT_TRUE(values.Resize(150));
  EXPECT_EQ(values[99], 99);
  EXPECT_EQ(values[149], 0) << "new values are zero";
  // A size whose byte count would overflow is refused without asking the heap.
  test::CountAllocations(true);
  EXPECT_FALSE(values.Resize(static_cast<std::size_t>(-1) / 2));
  EXPECT_FALSE(values.Append(more, static_cast<std::size_t>(-1) - 10));
  EXPECT_EQ(test::Allocations(), 0);
  test::CountAllocations(false);
  EXPECT_EQ(values.size(), 150u);
}

// Text hands the system a terminated string in every state: empty, grown, refused, shrunk,
// cleared and released.
TEST_F(MemoryTest, TextIsAlwaysTerminated) {
  Text text;
  EXPECT_STREQ(text.c_str(), "");
  EXPECT_EQ(text.data(), nullptr) << "empty owns no memory";
  ASSERT_TRUE(text.Append("Software"));
  ASSERT_TRUE(text.Append("\\Quorvel"));
  EXPECT_STREQ(text.c_str(), "Software\\Quorvel");
  EXPECT_EQ(std::string_view(text), "Software\\Quorvel");

  const std::string longer(2000, 'x');
  test::FailAllocations(1);
  EXPECT_FALSE(text.Append(longer));
  test::FailAllocations(0);
  EXPECT_STREQ(text.c_str(), "Software\\Quorvel") << "a refused growth changes nothing";

  ASSERT_TRUE(text.Resize(4));
  EXPECT_STREQ(text.c_str(), "Soft");
  ASSERT_TRUE(text.Resize(6));
  EXPECT_EQ(std::memcmp(text.c_str(), "Soft\0\0", 7), 0) << "new units and the end are NUL";
  text.Clear();
  EXPECT_STREQ(text.c_str(), "");
  ASSERT_TRUE(text.Assign("again"));
  EXPECT_STREQ(text.c_str(), "again");
  text.Release();
  EXPECT_STREQ(text.c_str(), "");
  EXPECT_TRUE(text.empty());

  Text16 wide;
  ASSERT_TRUE(wide.Assign(u"\u0436\u5b57"));
  EXPECT_EQ(std::u16string_view(wide), u"\u0436\u5b57");
  EXPECT_EQ(wide.c_str()[2], u'\0');
}

struct Counted {
  static inline int alive = 0;
  int value;
  explicit Counted(int v) noexcept : value(v) { ++alive; }
  ~Counted() { --alive; }
  Counted(const Counted&) = delete;
  Counted& operator=(const Counted&) = delete;
};

// An object is built only in memory that was had, and destroyed and freed exactly once, however
// its owner goes.
TEST_F(MemoryTest, UniqueBuildsOnlyWithMemoryAndDestroysOnce) {
  test::FailAllocations(1);
  Unique<Counted> refused = Unique<Counted>::Make(1);
  test::FailAllocations(0);
  EXPECT_FALSE(refused);
  EXPECT_EQ(Counted::alive, 0) << "nothing built without memory";
  {
    Unique<Counted> first = Unique<Counted>::Make(2);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->value, 2);
    Unique<Counted> second = std::move(first);
    EXPECT_FALSE(first);  // NOLINT(bugprone-use-after-move): moved-from is empty by contract
    Counted* raw = second.Release();
    EXPECT_EQ(Counted::alive, 1) << "given up, not destroyed";
    const Unique<Counted> back(raw);
    EXPECT_EQ(back->value, 2);
  }
  EXPECT_EQ(Counted::alive, 0);
}

}  // namespace
}  // namespace tovrel
