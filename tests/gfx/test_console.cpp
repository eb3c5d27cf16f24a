#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "demo/console_echo.h"
#include "fake_drivers.h"
#include "gfx/console.h"
#include "gfx/fonts.h"
#include "gfx/input.h"
#include "gfx/mode.h"
#include "gfx/pages.h"
#include "gfx/text_cells.h"
#include "runtime/console.h"
#include "runtime/hooks.h"
#include "runtime/keys.h"

using namespace pel;

namespace {

class Console : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Locking::install();
    ASSERT_EQ(openScreenBySize(800, 600, 32, 2, 36, 0), 0);
    while (takeKey() != 0) {
    }
  }
  void TearDown() override {
    closeScreen();
    setBackendList(nullptr);
  }
  static void print(const std::string& s) { consolePrint(s.data(), static_cast<int32_t>(s.size()), 0); }
  static std::string rowText(int32_t row, int32_t columns) {
    std::string out;
    for (int32_t column = 1; column <= columns; ++column) out.push_back(static_cast<char>(readCellHook(column, row, 0)));
    return out;
  }
  static uint32_t pixel(int x, int y) { return reinterpret_cast<const uint32_t*>(currentMode()->pages[0])[y * 800 + x]; }
};

// Feeds keys from another thread, each under the back end's lock as a window
// thread does.
void feed(const std::string& keys) {
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  for (char k : keys) {
    std::lock_guard guard(fake::Locking::presentation);
    postKey(static_cast<uint8_t>(k));
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
}

}  // namespace

TEST_F(Console, GridAndHooks) {
  EXPECT_EQ(filledHookSlots(), 27);
  int32_t columns = 0, rows = 0;
  consoleSize(&columns, &rows);
  EXPECT_EQ(columns, 100);
  EXPECT_EQ(rows, 75);
  EXPECT_EQ(consoleColumns(), 100);
  EXPECT_EQ(consoleViewBottom(), 74);
  EXPECT_EQ(consoleRow(), 1);  // the mode set put the cursor at row 1, column 1
}

TEST_F(Console, ParksAtTheLastCellAndScrollsOnTheNextPrint) {
  print("top line");
  consoleLocate(75, 1);
  print(std::string(100, 'x'));
  EXPECT_EQ(currentMode()->cursorColumn, 99);
  EXPECT_EQ(currentMode()->cursorRow, 74);
  EXPECT_NE(currentMode()->flags & screenflag::pendingNewline, 0u);
  EXPECT_EQ(rowText(1, 8), "top line");  // nothing scrolled yet
  print("A");
  EXPECT_EQ(rowText(1, 8), std::string(8, ' '));
  EXPECT_EQ(readCellHook(1, 74, 0), 'x');
  EXPECT_EQ(readCellHook(1, 75, 0), 'A');
  EXPECT_EQ(readCellHook(2, 75, 0), ' ');
  EXPECT_EQ(consoleColumn(), 2);
  // The pixels moved with the cells: cell row 74 shows an x, cell row 75 an A.
  auto cellLit = [](int column, int row) {
    int lit = 0;
    for (int y = 0; y < 8; ++y) {
      for (int x = 0; x < 8; ++x) lit += pixel(column * 8 + x, row * 8 + y) == 0xFFFFFFFFu;
    }
    return lit;
  };
  EXPECT_GT(cellLit(0, 73), 0);
  EXPECT_GT(cellLit(0, 74), 0);
  EXPECT_EQ(cellLit(1, 74), 0);
  EXPECT_EQ(cellLit(0, 0), 0);
}

TEST_F(Console, ControlCharacters) {
  print("ab\tc");
  EXPECT_EQ(readCellHook(9, 1, 0), 'c');
  print("\rZ\bY\n1");
  EXPECT_EQ(readCellHook(1, 1, 0), 'Y');
  EXPECT_EQ(readCellHook(1, 2, 0), '1');
  print("\x07");  // a beep writes nothing
  EXPECT_EQ(consoleColumn(), 2);
}

TEST_F(Console, CursorHook) {
  currentMode()->flags |= screenflag::pendingNewline;
  consoleLocate(4, 6);
  EXPECT_EQ(cursorHook(0, 0), 6 | 4 << 8);
  EXPECT_EQ(currentMode()->flags & screenflag::pendingNewline, 0u);
  EXPECT_EQ(cursorHook(3, 5), 5 | 3 << 8);
  // Far rows and columns wrap instead of overflowing (UBSan checks it).
  EXPECT_EQ(cursorHook(0x800000, 0x7FFFFFFF), static_cast<int32_t>(0x80000000u | 0xFF));
  EXPECT_EQ(cursorHook(0x1000000, 1), 1);  // 0xFFFFFF00 + 0x101, modulo 2^32
  cursorHook(3, 5);
  int32_t column = 0, row = 0;
  consolePosition(&column, &row);
  EXPECT_EQ(column, 5);
  EXPECT_EQ(row, 3);
}

TEST_F(Console, ClearWithColours) {
  colorHook(7, 1, 0);
  print("junk");
  clearHook(0);
  for (int y = 0; y < 600; y += 13) {
    for (int x = 0; x < 800; x += 7) ASSERT_EQ(pixel(x, y), 1u);
  }
  const TextCell& cell = reinterpret_cast<const TextCell*>(currentMode()->textPages[0])[1234];
  EXPECT_EQ(cell.character, 32);
  EXPECT_EQ(cell.foreground, 7u);
  EXPECT_EQ(cell.background, 1u);
  EXPECT_EQ(consoleRow(), 1);
  EXPECT_EQ(consoleColumn(), 1);
  EXPECT_EQ(getContext()->lastX, 400.0f);
  EXPECT_EQ(getContext()->lastY, 300.0f);
}

TEST_F(Console, TextSizeChoosesTheFont) {
  ASSERT_EQ(openScreenByNumber(17, 0, 0, 0, 0), 0);  // 640 x 400
  EXPECT_EQ(textSizeHook(80, 50), 80 | 25 << 16);
  EXPECT_EQ(currentMode()->font, builtinFont(0));
  EXPECT_EQ(currentMode()->textRows, 50);
  ASSERT_EQ(openScreenByNumber(18, 0, 0, 0, 0), 0);  // 640 x 480
  textSizeHook(80, 30);
  EXPECT_EQ(currentMode()->font, builtinFont(2));
  EXPECT_EQ(textSizeHook(80, 40), 80 | 30 << 16);  // cell height 12: no font
  EXPECT_EQ(currentMode()->textRows, 30);
  EXPECT_EQ(textSizeHook(0, 0), 80 | 30 << 16);
}

TEST_F(Console, CellsAtEachDepth) {
  ASSERT_EQ(openScreenByNumber(13, 0, 0, 0, 0), 0);
  colorHook(14, 1, 0);
  print("A");
  EXPECT_EQ(readCellHook(1, 1, 0), 65);
  EXPECT_EQ(readCellHook(1, 1, 1), 1 * 256 + 14);
  EXPECT_EQ(readCellHook(0, 1, 0), 0);
  EXPECT_EQ(readCellHook(41, 1, 0), 0);
  ASSERT_EQ(openScreenBySize(64, 32, 16, 1, 0, 0), 0);
  colorHook(static_cast<int32_t>(0x00FF0000), 0x000000FF, 0);
  EXPECT_EQ(static_cast<uint32_t>(colorHook(0, 0, 3)), 0xFFFF0000u);  // 0xF800 widened
  print("B");
  EXPECT_EQ(static_cast<uint32_t>(readCellHook(1, 1, 1)), 0xFFFF0000u);
  EXPECT_EQ(static_cast<uint32_t>(readCellHook(1, 1, 2)), 0xFF0000FFu);
  ASSERT_EQ(openScreenBySize(64, 32, 32, 1, 0, 0), 0);
  colorHook(0x00123456, 0x00654321, 0);
  print("\x82");
  EXPECT_EQ(readCellHook(1, 1, 0), 0x82);  // cells keep the byte value
  EXPECT_EQ(readCellHook(1, 1, 1), 0x00123456);
  EXPECT_EQ(readCellHook(1, 1, 2), 0x00654321);
}

TEST_F(Console, ReadLineWithKeysFromAnotherThread) {
  std::thread producer(feed, std::string("Hxy\b\bi!\r"));
  char line[32];
  EXPECT_EQ(consoleReadLine("Name", line, sizeof line, 0, 1, 1), 0);
  producer.join();
  EXPECT_STREQ(line, "Hi!");
  EXPECT_EQ(rowText(1, 9), "Name? Hi!");
  EXPECT_EQ(readCellHook(10, 1, 0), ' ');  // the block is gone
  EXPECT_EQ(consoleRow(), 2);  // moved to a new line
}

TEST_F(Console, BackspaceAtTheFirstCellStaysThere) {
  consoleLocate(1, 100);
  std::thread producer(feed, std::string("ab\b\b\b\r"));
  char line[8];
  consoleReadString(line, sizeof line);
  producer.join();
  EXPECT_STREQ(line, "\r");
  consoleLocate(1, 1);
  std::thread again(feed, std::string("\b\b\r"));
  EXPECT_NE(consoleReadString(line, 1), nullptr);  // room for nothing but the end
  again.join();
  EXPECT_STREQ(line, "");
  EXPECT_EQ(currentMode()->cursorRow, 0);
}

TEST_F(Console, ReadingFromTheLastCellOfTheScrollRegionLeavesNoStrayBlock) {
  consoleSetView(10, 20);
  consoleLocate(20, 100);
  std::thread producer(feed, std::string("ab\b\r"));
  char line[8];
  consoleReadString(line, sizeof line);
  producer.join();
  EXPECT_STREQ(line, "a\r");
  // The first key lands where the reading started; the region scrolled once,
  // for the second key, which backspace then took away.
  EXPECT_EQ(readCellHook(100, 19, 0), 'a');
  for (int32_t row = 1; row <= 75; ++row) {
    for (int32_t column = 1; column <= 100; ++column) {
      ASSERT_NE(readCellHook(column, row, 0), 219) << column << ", " << row;
    }
  }
  EXPECT_EQ(readCellHook(1, 20, 0), ' ');
}

TEST(ConsoleExample, GreetsAndEchoesInjectedKeys) {
  fake::Locking::install();
  std::thread producer([] {
    feed("Ada\r");
    postEvent({KeyPress, 0x1E, 'a', 0, 0});
    postEvent({KeyRelease, 0x1E, 'a', 0, 0});
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    std::lock_guard guard(fake::Locking::presentation);
    postKey(27);
  });
  const std::string transcript = consoleEcho();
  producer.join();
  EXPECT_EQ(transcript,
            "Pellucet console\nHello, Ada!\nKeys, Escape ends:\npress scan 30 char 97\nrelease scan 30 char 97\n");
}
