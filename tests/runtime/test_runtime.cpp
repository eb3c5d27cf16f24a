#include <gtest/gtest.h>

#include <cstring>

#include "runtime/clock.h"
#include "runtime/console.h"
#include "runtime/hooks.h"
#include "runtime/runtime.h"

using namespace pel;

TEST(Runtime, EndWithoutModeOnlyExits) {
  EXPECT_EXIT(
      {
        runtimeInit(0, nullptr, 0);
        runtimeEnd(3);
      },
      ::testing::ExitedWithCode(3), "");
}

TEST(Runtime, EndRunsTheExitRoutineFirst) {
  EXPECT_EXIT(
      {
        setExitRoutine([] { std::fputs("closed", stderr); });
        runtimeEnd(0);
      },
      ::testing::ExitedWithCode(0), "closed");
}

TEST(Runtime, LastErrorIsStoredAndReturned) {
  EXPECT_EQ(setLastError(4), 4);
  EXPECT_EQ(lastError(), 4);
  EXPECT_EQ(setLastError(0), 0);
}

TEST(Runtime, ContextRecordsAreZeroFilledOnceAndKept) {
  auto* record = static_cast<unsigned char*>(contextRecord(ContextSlot::Draw, 64));
  ASSERT_NE(record, nullptr);
  for (int i = 0; i < 64; ++i) ASSERT_EQ(record[i], 0);
  record[5] = 9;
  EXPECT_EQ(contextRecord(ContextSlot::Draw, 64), record);
  EXPECT_EQ(record[5], 9);
  record[5] = 0;  // as found, for a repeat in the same process
}

TEST(Runtime, ClockIsMonotonicAndInSeconds) {
  const double a = timerSeconds();
  EXPECT_EQ(clockMode(), 2);
  const double b = timerSeconds();
  EXPECT_GE(b, a);
  EXPECT_LT(b - a, 0.1);
}

TEST(Runtime, HookSlotsDispatchToOwnFormsWhenEmpty) {
  hooks() = {};
  EXPECT_EQ(filledHookSlots(), 0);
  // Own forms without a mode.
  int32_t x = 5, y = 5, wheel = 5;
  EXPECT_EQ(mouseGet(&x, &y, &wheel, nullptr, nullptr), 1);
  EXPECT_EQ(x, -1);
  EXPECT_EQ(wheel, -1);
  EXPECT_EQ(lastError(), 1);
  EXPECT_EQ(portIn(0x3DA), -1);
  EXPECT_EQ(pageSet(1, 0), -1);
  EXPECT_EQ(pageCopy(-1, -1), 1);
  EXPECT_EQ(consoleReadCell(1, 1, 0), 0);
  EXPECT_EQ(keyHeld(1), 0);
  // Filled slots take over.
  hooks().portIn = [](int32_t port) { return port + 1; };
  hooks().setPages = [](int32_t w, int32_t v) { return (v << 8) | w; };
  hooks().copyPage = [](int32_t, int32_t) { return int32_t{0}; };
  EXPECT_EQ(filledHookSlots(), 3);
  EXPECT_EQ(portIn(0x3DA), 0x3DB);
  EXPECT_EQ(pageSet(1, 2), 0x201);
  EXPECT_EQ(pageCopy(-1, -1), 0);
  hooks() = {};
  EXPECT_EQ(filledHookSlots(), 0);
}

TEST(Runtime, ConsoleViewDefaultsAndCursorThroughHook) {
  hooks() = {};
  consoleReset80x25();
  consoleSetView(-1, -1);
  EXPECT_EQ(consoleViewTop(), 0);
  EXPECT_EQ(consoleViewBottom(), 24);
  static int32_t seenRow = 0, seenColumn = 0;
  hooks().cursor = [](int32_t row, int32_t column) {
    seenRow = row;
    seenColumn = column;
    return int32_t{0};
  };
  consoleSetView(3, 10);
  EXPECT_EQ(consoleViewTop(), 2);
  EXPECT_EQ(consoleViewBottom(), 9);
  EXPECT_EQ(seenRow, 3);
  EXPECT_EQ(seenColumn, 1);
  hooks() = {};
}

TEST(Runtime, OwnCursorFormReturnsOneBasedPair) {
  hooks() = {};
  EXPECT_EQ(consoleLocate(3, 5), 5 | 3 << 8);
  EXPECT_EQ(consoleColumn(), 5);
  EXPECT_EQ(consoleRow(), 3);
}
