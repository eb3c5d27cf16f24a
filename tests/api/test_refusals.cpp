// Bad input to the public layer gets a clear failure, not a silent wrong
// result; and the calls that had no screen to work with fall back as
// documented.
#include <gtest/gtest.h>

#include <pellucet/pellucet.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "../gfx/fake_drivers.h"
#include "gfx/input.h"
#include "gfx/mode.h"

namespace {

class Refusals : public ::testing::Test {
 protected:
  void TearDown() override {
    pellucet::closeScreen();
    pel::setBackendList(nullptr);
    unsetenv("KELGFX");
  }
};

}  // namespace

TEST_F(Refusals, PagesOutOfRangeChangeNothing) {
  setenv("KELGFX", "null", 1);
  ASSERT_TRUE(pellucet::openScreen(64, 48, 32, 2));
  pel::ScreenMode* m = pel::currentMode();
  EXPECT_FALSE(pellucet::setPages(5, 7));
  EXPECT_FALSE(pellucet::setPages(0, 2));
  EXPECT_FALSE(pellucet::setPages(-2, 0));
  EXPECT_EQ(m->visiblePage, 0u);
  EXPECT_TRUE(pellucet::setPages(1, -1));
  EXPECT_TRUE(pellucet::setPages(-1, 1));
  EXPECT_EQ(m->visiblePage, 1u);
  pellucet::closeScreen();
  EXPECT_FALSE(pellucet::setPages(0, 0));
}

TEST_F(Refusals, NumberedScreensOutsideTheListAreRefused) {
  setenv("KELGFX", "null", 1);
  ASSERT_TRUE(pellucet::openNumberedScreen(13));
  EXPECT_EQ(pellucet::screenInfo().width, 320);
  for (int number : {0, -1, 22}) {
    EXPECT_FALSE(pellucet::openNumberedScreen(number)) << number;
    EXPECT_NE(std::string(pellucet::lastFailure()).find("no numbered screen " + std::to_string(number)), std::string::npos)
        << pellucet::lastFailure();
    EXPECT_TRUE(pellucet::screenOpen()) << "the open screen stays";
  }
  ASSERT_TRUE(pellucet::openScreen(32, 32));
  EXPECT_STREQ(pellucet::lastFailure(), "");
}

// An open refused for its size leaves the screen that was open; one that
// every back end refuses has closed it already.
TEST_F(Refusals, ARefusedOpenLeavesTheOpenScreen) {
  fake::install();
  ASSERT_TRUE(pellucet::openScreen(64, 48, 32, 1));
  EXPECT_FALSE(pellucet::openScreen(64, 48, 12));
  EXPECT_TRUE(pellucet::screenOpen());
  EXPECT_EQ(pellucet::screenInfo().width, 64);
  fake::A::behaviour.acceptRate = -2;
  EXPECT_FALSE(pellucet::openScreen(128, 96, 32, 1));
  EXPECT_STREQ(pellucet::lastFailure(), "A: refused; B: refused");
  EXPECT_FALSE(pellucet::screenOpen()) << "a size accepted closes the open screen before the back ends are asked";
}

// On the null back end, which has no retrace, waitVsync still takes about a
// frame.
TEST_F(Refusals, WaitVsyncTakesAboutAFrameWithoutARetrace) {
  setenv("KELGFX", "null", 1);
  ASSERT_TRUE(pellucet::openScreen(64, 48));
  pellucet::waitVsync();
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 10; ++i) pellucet::waitVsync();
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GT(ms, 10 * 1000.0 / 60 * 0.9);
}

// With no screen, waitKey reads standard input that is no terminal, and
// gives 0 at its end.
TEST_F(Refusals, WaitKeyWithoutAScreenReadsStandardInput) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ASSERT_EQ(write(fds[1], "q\x82", 2), 2);
  close(fds[1]);
  const int saved = dup(STDIN_FILENO);
  ASSERT_GE(dup2(fds[0], STDIN_FILENO), 0);
  close(fds[0]);
  std::clearerr(stdin);
  const int first = pellucet::waitKey();
  const int second = pellucet::waitKey();
  const int end = pellucet::waitKey();
  dup2(saved, STDIN_FILENO);
  close(saved);
  std::clearerr(stdin);
  EXPECT_EQ(first, 'q');
  EXPECT_EQ(second, 0x82);
  EXPECT_EQ(end, 0);
}

// readLine ends with the cursor at the start of the next line, as a
// terminal does.
TEST_F(Refusals, ReadLineEndsOnTheNextLine) {
  setenv("KELGFX", "null", 1);
  ASSERT_TRUE(pellucet::openScreen(320, 200, 8, 1));
  pellucet::locate(3, 5);
  for (int code : {'h', 'i', '\r'}) pel::postKey(code);
  char buffer[16];
  EXPECT_EQ(pellucet::readLine(buffer, sizeof buffer), "hi");
  const pel::ScreenMode* m = pel::currentMode();
  EXPECT_EQ(m->cursorRow, 3);  // 0-based: the fourth line
  EXPECT_EQ(m->cursorColumn, 0);
}
