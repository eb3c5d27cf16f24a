#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#if defined(__GLIBC__)
#endif

#include "bytes_in_use.h"
#include "fake_drivers.h"
#include "gfx/fonts.h"
#include "gfx/memory.h"
#include "gfx/mode.h"
#include "gfx/pages.h"
#include "gfx/text_cells.h"
#include "runtime/console.h"
#include "runtime/hooks.h"
#include "runtime/runtime.h"

using namespace pel;
using fake::calls;

namespace {

class Mode : public ::testing::Test {
 protected:
  void SetUp() override { fake::install(); }
  void TearDown() override {
    closeScreen();
    setBackendList(nullptr);
  }
};

uint32_t pixel32(const ScreenMode* m, uint32_t page, int x, int y) {
  return reinterpret_cast<const uint32_t*>(m->pages[page] + y * m->pitch)[x];
}

}  // namespace

TEST_F(Mode, DemoModeOpensWithClearedPages) {
  ASSERT_EQ(openScreenBySize(800, 600, 32, 2, 36, 0), 0);
  const ScreenMode* m = currentMode();
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->driver, &fake::A::table);
  EXPECT_EQ(m->width, 800);
  EXPECT_EQ(m->height, 600);
  EXPECT_EQ(m->depth, 32);
  EXPECT_EQ(m->bytesPerPixel, 4);
  EXPECT_EQ(m->pitch, 3200);
  EXPECT_EQ(m->pageCount, 2u);
  EXPECT_EQ(m->visiblePage, 0u);
  EXPECT_EQ(m->visibleBuffer, m->pages[0]);
  EXPECT_EQ(m->textColumns, 100);
  EXPECT_EQ(m->textRows, 75);
  EXPECT_EQ(m->aspect, 1.0f);
  EXPECT_EQ(m->modeNumber, -1);
  EXPECT_EQ(m->colorMask, 0xFFFFFFFFu);
  EXPECT_EQ(m->defaultPalette, builtinPalette(3));
  EXPECT_EQ(m->font, builtinFont(0));
  EXPECT_EQ(reinterpret_cast<uintptr_t>(m->pages[0]) % 16, 0u);
  for (uint32_t page = 0; page < 2; ++page) {
    for (int y = 0; y < 600; y += 7) {
      for (int x = 0; x < 800; x += 3) ASSERT_EQ(pixel32(m, page, x, y), 0xFF000000u);
    }
    EXPECT_EQ(pixel32(m, page, 799, 599), 0xFF000000u);
  }
  // Palette reset does nothing above depth 8.
  EXPECT_EQ(m->palette[1], 0u);
  EXPECT_EQ(m->deviceColors[1], 0u);
  EXPECT_TRUE(fake::A::palette.empty());
  // The back end saw the flags unchanged and the asked refresh rate first.
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0], "A.init 800x600x32 rate 0 flags 36");
  // Context: work page 0, whole view, default colours.
  const DrawContext* c = getContext();
  EXPECT_EQ(c->workPage, 0);
  EXPECT_EQ(c->viewWidth, 800);
  EXPECT_EQ(c->viewHeight, 600);
  EXPECT_EQ(c->foreground, 0xFFFFFFFFu);
  EXPECT_EQ(c->background, 0xFF000000u);
  EXPECT_EQ(c->rows[1], m->pages[0] + 3200);
  // The work page's cells are blank in the context's colours; the other page's are zero.
  const auto* cells = reinterpret_cast<const TextCell*>(m->textPages[0]);
  EXPECT_EQ(cells[7499].character, 32);
  EXPECT_EQ(cells[7499].foreground, 0xFFFFFFFFu);
  EXPECT_EQ(cells[7499].background, 0xFF000000u);
  EXPECT_EQ(reinterpret_cast<const TextCell*>(m->textPages[1])[0].character, 0);
  // Hooks are installed, the exit routine registered.
  EXPECT_GT(filledHookSlots(), 0);
  EXPECT_NE(hooks().copyPage, nullptr);
  EXPECT_EQ(exitRoutine(), closeScreen);
}

TEST_F(Mode, InvalidSizesAreRefusedAndLeaveTheModeOpen) {
  ASSERT_EQ(openScreenBySize(320, 200, 8, 1, 0, 0), 0);
  const ScreenMode* before = currentMode();
  EXPECT_EQ(openScreenBySize(320, 200, 12, 1, 0, 0), 1);
  EXPECT_EQ(openScreenBySize(0, 200, 8, 1, 0, 0), 1);
  EXPECT_EQ(openScreenBySize(320, -1, 8, 1, 0, 0), 1);
  EXPECT_EQ(lastError(), 1);
  EXPECT_EQ(currentMode(), before);
  EXPECT_EQ(openScreenByNumber(3, 0, 0, 0, 0), 1);
  EXPECT_EQ(openScreenByNumber(22, 0, 0, 0, 0), 1);
  EXPECT_EQ(openScreenByNumber(-1, 0, 0, 0, 0), 1);
  EXPECT_EQ(currentMode(), before);
}

TEST_F(Mode, OversizedPagesAreRefusedWithoutTouchingTheOpenMode) {
  ASSERT_EQ(openScreenBySize(320, 200, 8, 2, 0, 0), 0);
  ScreenMode* before = currentMode();
  const uint8_t* page0 = before->pages[0];
  consoleSetView(3, 10);
  const int32_t top = consoleViewTop(), bottom = consoleViewBottom();
  const int32_t columns = consoleColumns(), rows = consoleRows();
  // Overflowing pages, more than 2 GiB of pages, and a pitch past INT32_MAX.
  EXPECT_EQ(openScreenBySize(65536, 65536, 32, 1, 0, 0), 1);
  EXPECT_EQ(openScreenBySize(16384, 16384, 32, 3, 0, 0), 1);
  EXPECT_EQ(openScreenBySize(0x40000000, 1, 32, 1, 0, 0), 1);
  EXPECT_EQ(openScreenBySize(800, 600, 32, 2000000000, 0, 0), 1);
  EXPECT_EQ(lastError(), 1);
  EXPECT_EQ(currentMode(), before);
  EXPECT_EQ(before->pages[0], page0);
  EXPECT_EQ(consoleViewTop(), top);
  EXPECT_EQ(consoleViewBottom(), bottom);
  EXPECT_EQ(consoleColumns(), columns);
  EXPECT_EQ(consoleRows(), rows);
  EXPECT_NE(hooks().copyPage, nullptr);
  // The mode still draws.
  ASSERT_NE(getContext(), nullptr);
  EXPECT_EQ(getContext()->rows[199], before->pages[0] + 199 * 320);
}

TEST_F(Mode, FailureTextNamesEachBackEndTriedAndWhy) {
  fake::A::behaviour.acceptRate = -2;
  fake::A::behaviour.reason = "no display";
  EXPECT_EQ(openScreenBySize(320, 200, 32, 1, 0, 0), 1);
  EXPECT_STREQ(modeSetFailure(), "A: no display; B: refused");
  EXPECT_EQ(openScreenBySize(65536, 65536, 32, 1, 0, 0), 1);
  EXPECT_NE(std::string(modeSetFailure()).find("size"), std::string::npos);
  setenv("KELGFX", "C", 1);
  EXPECT_EQ(openScreenBySize(320, 200, 32, 1, 0, 0), 1);
  unsetenv("KELGFX");
  EXPECT_STREQ(modeSetFailure(), "KELGFX: names no back end here; the others were tried; A: no display; B: refused");
  fake::B::behaviour.acceptRate = -1;
  EXPECT_EQ(openScreenBySize(320, 200, 32, 1, 0, 0), 0);
  EXPECT_STREQ(modeSetFailure(), "");
}

TEST_F(Mode, DepthNormalisation) {
  ASSERT_EQ(openScreenBySize(64, 32, 15, 0, 0, 0), 0);
  EXPECT_EQ(currentMode()->depth, 16);
  EXPECT_EQ(currentMode()->colorMask, 0xFFFFu);
  EXPECT_EQ(currentMode()->bytesPerPixel, 2);
  EXPECT_EQ(currentMode()->pageCount, 1u);
  ASSERT_EQ(openScreenBySize(64, 32, 24, 1, 0, 0), 0);
  EXPECT_EQ(currentMode()->depth, 32);
  EXPECT_EQ(currentMode()->bytesPerPixel, 4);
  ASSERT_EQ(openScreenBySize(64, 32, 4, 1, 0, 0), 0);
  EXPECT_EQ(currentMode()->colorMask, 15u);
  EXPECT_EQ(currentMode()->bytesPerPixel, 1);
  EXPECT_EQ(getContext()->foreground, 15u);
  EXPECT_EQ(getContext()->background, 0u);
}

TEST_F(Mode, NumberedScreens) {
  ASSERT_EQ(openScreenByNumber(13, 32, 0, 0, 0), 0);
  EXPECT_EQ(currentMode()->depth, 8);
  EXPECT_EQ(currentMode()->modeNumber, 13);
  EXPECT_FLOAT_EQ(currentMode()->aspect, static_cast<float>(200.0 / 320.0 * 1.3333333333333333));
  ASSERT_EQ(openScreenByNumber(18, 32, 0, 0, 0), 0);
  EXPECT_EQ(currentMode()->width, 640);
  EXPECT_EQ(currentMode()->height, 480);
  EXPECT_EQ(currentMode()->depth, 32);
  EXPECT_EQ(currentMode()->font, builtinFont(2));
  calls.clear();
  ASSERT_EQ(openScreenByNumber(2, 0, 0, 0, 0), 0);
  EXPECT_EQ(currentMode()->scanlineRepeat, 2);
  EXPECT_EQ(calls.back(), "A.init 640x400x1 rate 0 flags 0");
  ASSERT_EQ(openScreenByNumber(1, 0, 0, 0, 0), 0);
  EXPECT_EQ(currentMode()->pageCount, 8u);
  ASSERT_EQ(openScreenByNumber(1, 0, 3, 0, 0), 0);
  EXPECT_EQ(currentMode()->pageCount, 3u);
}

TEST_F(Mode, ScreenZeroClosesAndEmptiesHooks) {
  ASSERT_EQ(openScreenBySize(32, 32, 8, 1, 0, 0), 0);
  calls.clear();
  EXPECT_EQ(openScreenByNumber(0, 0, 0, 0, 0), 0);
  EXPECT_EQ(currentMode(), nullptr);
  EXPECT_EQ(filledHookSlots(), 0);
  EXPECT_EQ(calls, std::vector<std::string>{"A.exit"});
}

TEST_F(Mode, RefreshRateIsRetriedWithZero) {
  fake::A::behaviour.acceptRate = 0;
  ASSERT_EQ(openScreenBySize(32, 16, 32, 1, 0, 75), 0);
  EXPECT_EQ(calls, (std::vector<std::string>{"A.init 32x16x32 rate 75 flags 0", "A.exit",
                                              "A.init 32x16x32 rate 0 flags 0"}));
}

TEST_F(Mode, PassesWithoutANameToggleFullScreenLast) {
  fake::A::behaviour.acceptRate = -2;
  fake::B::behaviour.acceptRate = -1;
  fake::B::behaviour.acceptFlags = 0x25;
  ASSERT_EQ(openScreenBySize(32, 16, 32, 1, 0x24, 60), 0);
  EXPECT_EQ(currentMode()->driver, &fake::B::table);
  const std::vector<std::string> expected = {
      "A.init 32x16x32 rate 60 flags 36", "A.exit", "A.init 32x16x32 rate 0 flags 36", "A.exit",
      "B.init 32x16x32 rate 60 flags 36", "B.exit", "B.init 32x16x32 rate 0 flags 36", "B.exit",
      "A.init 32x16x32 rate 60 flags 37", "A.exit", "A.init 32x16x32 rate 0 flags 37", "A.exit",
      "B.init 32x16x32 rate 60 flags 37"};
  EXPECT_EQ(calls, expected);
}

TEST_F(Mode, NamedBackEndIsTriedFirstInEveryLetterCase) {
  setenv("KELGFX", "b", 1);
  fake::A::behaviour.acceptRate = -2;
  ASSERT_EQ(openScreenBySize(8, 8, 8, 1, 0, 60), 1);
  EXPECT_EQ(currentMode(), nullptr);
  EXPECT_EQ(filledHookSlots(), 0);
  std::vector<std::string> order;
  for (const std::string& call : calls) {
    if (call.find("rate 0") != std::string::npos) order.push_back(call.substr(0, 1) + call.substr(call.size() - 1));
  }
  // Pass 1: B; pass 2: A, B; pass 3: B toggled; pass 4: A, B toggled.
  EXPECT_EQ(order, (std::vector<std::string>{"B0", "A0", "B0", "B1", "A1", "B1"}));
  EXPECT_EQ(calls.size(), 24u);  // every init (two per try) followed by exit
}

TEST_F(Mode, NameMatchingNothingRunsOnlyTheOpenPasses) {
  setenv("KELGFX", "Direct3D", 1);
  fake::A::behaviour.acceptRate = -2;
  EXPECT_EQ(openScreenBySize(8, 8, 8, 1, 0, 0), 1);
  EXPECT_EQ(calls.size(), 16u);  // passes 2 and 4 only: A and B, two tries each, each with exit
  EXPECT_EQ(calls[0].substr(0, 1), "A");
}

TEST_F(Mode, NullNameOrFlagsSelectTheNullBackEndWithoutInit) {
  setenv("KELGFX", "nULl", 1);
  ASSERT_EQ(openScreenBySize(8, 8, 8, 1, 0, 0), 0);
  EXPECT_EQ(currentMode()->driver, &nullDriver);
  unsetenv("KELGFX");
  fake::A::behaviour.acceptRate = -2;
  ASSERT_EQ(openScreenBySize(8, 8, 8, 1, -1, 0), 0);
  EXPECT_EQ(currentMode()->driver, &nullDriver);
  EXPECT_TRUE(calls.empty());
}

TEST_F(Mode, ShapedWindowImpliesNoSwitchingAndNoFrame) {
  ASSERT_EQ(openScreenBySize(8, 8, 32, 1, 0x10, 0), 0);
  EXPECT_EQ(calls.back(), "A.init 8x8x32 rate 0 flags 28");
}

TEST_F(Mode, AlphaFlagSelectsBlendingRoutines) {
  ASSERT_EQ(openScreenBySize(8, 8, 32, 1, 0x40, 0), 0);
  EXPECT_NE(currentMode()->flags & screenflag::alphaPrimitives, 0u);
  DrawContext* c = getContext();
  chooseDrawRoutines(c, 0x80FF0000u);
  EXPECT_EQ(c->putPixel, pixelRoutines.blendPut);
  EXPECT_NE(c->putPixel, putPixel32);
  chooseDrawRoutines(c, 0xFFFF0000u);
  EXPECT_EQ(c->putPixel, putPixel32);
  ASSERT_EQ(openScreenBySize(8, 8, 32, 1, -1, 0), 0);  // -1 sets no internal flags
  EXPECT_EQ(currentMode()->flags & screenflag::alphaPrimitives, 0u);
}

TEST_F(Mode, SecondModeSetRebuildsTheContext) {
  ASSERT_EQ(openScreenBySize(16, 16, 8, 2, 0, 0), 0);
  DrawContext* c = getContext();
  const uint32_t firstId = c->modeId;
  setPages(1, 0);
  c->foreground = 3;
  ASSERT_EQ(openScreenBySize(16, 16, 8, 2, 0, 0), 0);
  c = getContext();
  EXPECT_NE(c->modeId, firstId);
  EXPECT_EQ(c->workPage, 0);
  EXPECT_EQ(c->foreground, 15u);
}

TEST_F(Mode, DefaultTitleIsTheProgramName) {
  ASSERT_EQ(openScreenBySize(8, 8, 8, 1, 0, 0), 0);
  ASSERT_NE(windowTitle(), nullptr);
  EXPECT_STREQ(windowTitle(), "test_mode");
}

TEST_F(Mode, EveryAllocationFailureEndsInErrorOneWithNothingOpen) {
  int failures = 0;
  for (int n = 1; n < 200; ++n) {
    failAllocationAfter(n);
    const int32_t result = openScreenBySize(40, 30, 32, 3, 0, 0);
    failAllocationAfter(0);
    if (result == 0) {
      ASSERT_NE(currentMode(), nullptr);
      closeScreen();
      break;
    }
    ++failures;
    ASSERT_EQ(result, 1) << n;
    ASSERT_EQ(currentMode(), nullptr) << n;
    ASSERT_EQ(filledHookSlots(), 0) << n;
  }
  EXPECT_GT(failures, 10);
}

// The demo's mode opened and closed many times in a row keeps its memory
// flat. PEL_MODE_CYCLES raises the count (10,000 for the full check).
TEST_F(Mode, RepeatedOpenAndCloseDoesNotGrow) {
  const char* env = std::getenv("PEL_MODE_CYCLES");
  const int cycles = env ? std::atoi(env) : 400;
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(openScreenBySize(800, 600, 32, 2, -1, 0), 0);
    closeScreen();
  }
  const long before = bytesInUse();
  for (int i = 0; i < cycles; ++i) {
    ASSERT_EQ(openScreenBySize(800, 600, 32, 2, -1, 0), 0);
    closeScreen();
  }
  const long after = bytesInUse();
  EXPECT_EQ(currentMode(), nullptr);
  EXPECT_EQ(after, before) << before << " bytes before, " << after << " bytes after " << cycles << " cycles";
  std::printf("allocated: %ld bytes before, %ld bytes after %d cycles\n", before, after, cycles);
}

TEST_F(Mode, TextModeResetsTheConsoleView) {
  consoleSetView(2, 5);
  ASSERT_EQ(openScreenBySize(8, 8, 8, 1, 0, 0), 0);
  EXPECT_EQ(consoleViewTop(), 0);
  consoleSetView(2, 5);
  closeScreen();  // at exit: the console is left as it is
  EXPECT_EQ(consoleViewTop(), 0);
}

TEST_F(Mode, ImageTargetsOfBothHeaderForms) {
  ASSERT_EQ(openScreenBySize(64, 48, 32, 1, 0, 0), 0);
  DrawContext* c = getContext();
  struct {
    ImageHeader header;
    uint16_t pixels[3 * 5];
  } image{{longImageTag, 2, 3, 5, 6, {}}, {}};
  ASSERT_TRUE(selectTarget(c, &image));
  EXPECT_EQ(c->viewWidth, 3);
  EXPECT_EQ(c->viewHeight, 5);
  EXPECT_EQ(c->targetBytesPerPixel, 2);
  EXPECT_EQ(c->rows[4], reinterpret_cast<uint8_t*>(image.pixels) + 24);
  EXPECT_EQ(pixelRoutines.put, putPixel16);
  // Short form: width in bits 3.., height in the second word, the mode's pixel size.
  alignas(4) uint8_t shortImage[4 + 10 * 2 * 4] = {10 << 3, 0, 2, 0};
  ASSERT_TRUE(selectTarget(c, shortImage));
  EXPECT_EQ(c->viewWidth, 10);
  EXPECT_EQ(c->viewHeight, 2);
  EXPECT_EQ(c->targetPitch, 40);
  EXPECT_EQ(pixelRoutines.put, putPixel32);
  // Back to the screen: its view is restored.
  resetScreenTarget(c);
  EXPECT_EQ(c->viewWidth, 64);
  EXPECT_EQ(c->rows[0], currentMode()->pages[0]);
  // Headers without drawable pixels are refused.
  ImageHeader bad{longImageTag, 3, 4, 4, 12, {}};
  EXPECT_FALSE(selectTarget(c, &bad));
  EXPECT_EQ(c->target, nullptr);
  // Another image at the address of the selected one (memory freed and given
  // out again) is read afresh, not drawn with the old image's rows.
  ASSERT_TRUE(selectTarget(c, shortImage));
  shortImage[0] = 3 << 3;
  shortImage[2] = 1;
  ASSERT_TRUE(selectTarget(c, shortImage));
  EXPECT_EQ(c->viewWidth, 3);
  EXPECT_EQ(c->viewHeight, 1);
  EXPECT_EQ(c->targetPitch, 12);
}
