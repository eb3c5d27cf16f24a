#include <gtest/gtest.h>

#include <cstdlib>

#include "../gfx/fake_drivers.h"
#include "demo/disc.h"
#include "demo/pellucet.h"
#include "gfx/input.h"
#include "gfx/mode.h"
#include "gfx/pages.h"
#include "runtime/keys.h"
#include "runtime/random.h"

using namespace pel;

namespace {

double fakeNow = 1000.0;
double fakeClock() { return fakeNow; }

class Demo : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("KELGFX", "null", 1);
    ASSERT_EQ(openScreenBySize(800, 600, 32, 2, 36, 0), 0);
    setPages(1, 0);
    screenBase = reinterpret_cast<uint32_t*>(workPagePointer());
    fakeNow = 1000.0;
    ASSERT_TRUE(demoStart(state, 12345.0, fakeClock));
  }
  void TearDown() override {
    demoEnd(state);
    closeScreen();
  }
  static uint32_t shown(int x, int y) { return reinterpret_cast<const uint32_t*>(currentMode()->pages[0])[y * 800 + x]; }
  DemoState state;
};

}  // namespace

TEST_F(Demo, CellsStartInsideTheMarginWithSmallSpeeds) {
  seedRandom(12345.0, 2);
  for (int i = 0; i < 50; ++i) {
    const CellRecord& c = state.cells[i];
    EXPECT_EQ(c.x, static_cast<float>(100 + nextRandom(1.0f) * 599));
    EXPECT_EQ(c.y, static_cast<float>(100 + nextRandom(1.0f) * 399));
    EXPECT_EQ(c.dx, static_cast<float>(nextRandom(1.0f) - 0.5));
    EXPECT_EQ(c.dy, static_cast<float>(nextRandom(1.0f) - 0.5));
    nextRandom(1.0f);
    EXPECT_GE(c.x, 100.0f);
    EXPECT_LT(c.x, 699.0f);
    EXPECT_GE(c.y, 100.0f);
    EXPECT_LT(c.y, 499.0f);
    EXPECT_GE(c.dx, -0.5f);
    EXPECT_LT(c.dx, 0.5f);
    EXPECT_EQ(c.mark1, 0);
    EXPECT_EQ(c.aux, 0u);
  }
}

TEST_F(Demo, CellsBounceOnlyBeyondTheMargin) {
  state.cells[0] = {100.2f, 300.0f, -0.5f, 0.0f, 0, 0, 0, 0};  // reaches 99.7
  state.cells[1] = {100.5f, 300.0f, -0.5f, 0.0f, 0, 0, 0, 0};  // reaches exactly 100.0
  state.cells[2] = {400.0f, 500.25f, 0.0f, 0.25f, 0, 0, 0, 0};  // reaches 500.5
  demoFrame(state);
  EXPECT_FLOAT_EQ(state.cells[0].x, 99.7f);
  EXPECT_EQ(state.cells[0].dx, 0.5f);
  EXPECT_EQ(state.cells[1].x, 100.0f);
  EXPECT_EQ(state.cells[1].dx, -0.5f);
  EXPECT_EQ(state.cells[2].dy, -0.25f);
  demoFrame(state);
  EXPECT_FLOAT_EQ(state.cells[0].x, 100.2f);  // back inside on the next frame
}

TEST_F(Demo, FirstWindowShowsZeroAndOne) {
  EXPECT_EQ(frameRateText(state), "0 fps / average: 1 fps");
  demoFrame(state);
  EXPECT_EQ(frameRateText(state), "0 fps / average: 1 fps");
}

TEST_F(Demo, SteadySixtyFramesPerWindowShowSixtyOne) {
  demoFrame(state);
  for (int frame = 1; frame < 60 * 300; ++frame) {
    fakeNow += 1.0 / 60.0 + 1e-7;
    countFrame(state);
  }
  EXPECT_EQ(state.shownFps, 60u);
  EXPECT_EQ(frameRateText(state), "60 fps / average: 61 fps");
}

TEST_F(Demo, FrameCountWrapKeepsTheAverageFinite) {
  state.framesTotal = 65535;
  state.averageFps = 59.6f;
  state.shownFps = 60;
  demoFrame(state);
  EXPECT_EQ(state.framesTotal, 0);
  EXPECT_EQ(state.averageFps, 59.6f);
  countFrame(state);
  EXPECT_EQ(state.averageFps, 60.0f);  // the mean restarts from the shown value
  EXPECT_EQ(frameRateText(state), "60 fps / average: 61 fps");
  state.averageFps = 65535.6f;  // rounded average taken modulo 65536
  EXPECT_EQ(frameRateText(state), "60 fps / average: 1 fps");
}

TEST_F(Demo, OneFrameDrawsRingsAndClearsTheTextArea) {
  std::fill(screenBase, screenBase + 800 * 600, 0x00123456u);
  for (int i = 0; i < 50; ++i) state.cells[i] = {400.0f, 300.0f, 0, 0, 0, 0, 0, 0};
  state.cells[0] = {150.0f, 150.0f, 0, 0, 0, 0, 0, 0};
  state.cells[1] = {650.0f, 450.0f, 0, 0, 0, 0, 0, 0};
  demoFrame(state);
  EXPECT_EQ(shown(150, 150), 0x0000FC00u);
  EXPECT_EQ(shown(650, 450), 0x0000FC00u);
  EXPECT_EQ(shown(150, 51), 0x00000300u);   // outer rim: only the first pass's radius 99
  EXPECT_EQ(shown(650, 549), 0x00000300u);
  EXPECT_EQ(shown(150, 53), 0x00000800u);   // second pass: radius 97, level 7.65 -> 8
  EXPECT_EQ(shown(150, 50), 0x00123456u);   // beyond every disc
  EXPECT_EQ(shown(199, 9), 0u);             // the text area, cleared
  EXPECT_EQ(shown(0, 0), 0x00123456u);
  EXPECT_EQ(shown(1, 1), 0u);               // '0' has no top-left pixel
  EXPECT_EQ(shown(3, 1), 0xFFFFFFFFu);      // its top row: pixels 2..5 set
}

[[noreturn]] void runDemo() {
  char name[] = "pellucet";
  char* argv[] = {name, nullptr};
  pellucetMain(1, argv);
}

TEST(DemoProgram, AKeyEndsTheLoop) {
  setenv("KELGFX", "null", 1);
  for (int32_t key : {int32_t{'x'}, 0x48FF, 0x6BFF}) {
    EXPECT_EXIT(
        {
          postKey(key);
          runDemo();
        },
        ::testing::ExitedWithCode(0), "")
        << key;
  }
}

TEST(DemoProgram, NoDisplayIsReportedAndFails) {
  fake::install();
  fake::A::behaviour.acceptRate = -2;
  EXPECT_EXIT(
      runDemo(),
      ::testing::ExitedWithCode(1), "no display back end could be opened.*KELGFX");
}
