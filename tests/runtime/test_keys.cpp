#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "runtime/clock.h"
#include "runtime/hooks.h"
#include "runtime/keys.h"
#include "runtime/terminal_input.h"

using namespace pel;
using namespace std::chrono_literals;

namespace {

double elapsedMs(double since) { return (timerSeconds() - since) * 1000.0; }

int32_t decode(std::string_view bytes, std::size_t* used = nullptr) {
  int32_t code = -1;
  const std::size_t n = decodeTerminalKey(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), code);
  if (used) *used = n;
  return code;
}

// Every test starts with no hooks, an empty console ring and no key flag.
class Keys : public ::testing::Test {
 protected:
  void SetUp() override {
    hooks() = {};
    while (takeConsoleKey() != 0) {
    }
    takeConsoleKeyFlag();
  }
  void TearDown() override { hooks() = {}; }
};

}  // namespace

TEST_F(Keys, StringsOfKeyCodes) {
  EXPECT_EQ(keyString(0), "");
  EXPECT_EQ(keyString('A'), "A");
  EXPECT_EQ(keyString(27), "\x1b");
  EXPECT_EQ(keyString(0x3BFF), "\xff;");   // F1
  EXPECT_EQ(keyString(0x6BFF), "\xffk");   // close
  EXPECT_EQ(keyString(-126), "\x82");      // upper-half character, stored signed
}

TEST_F(Keys, ReadKeyOnEmptyRingReturnsAtOnce) {
  const double start = timerSeconds();
  EXPECT_EQ(readKey(), "");
  EXPECT_EQ(keyWaiting(), 0);
  EXPECT_LT(elapsedMs(start), 20.0);
}

TEST_F(Keys, ConsoleRingKeepsOrderAndSplitsExtendedCodes) {
  postConsoleKey('x');
  postConsoleKey(0x48FF);
  postConsoleKey('y');
  EXPECT_EQ(keyWaiting(), 1);
  EXPECT_EQ(readKey(), "x");
  EXPECT_EQ(takeConsoleChar(), 255);
  EXPECT_EQ(takeConsoleChar(), 0x48);
  EXPECT_EQ(waitKey(), 'y');
  EXPECT_EQ(keyWaiting(), 0);
  EXPECT_EQ(takeConsoleChar(), 0);
}

TEST_F(Keys, ConsoleRingRefusesKeysWhenFull) {
  for (int i = 1; i <= 600; ++i) postConsoleKey(i);
  for (int i = 1; i <= 511; ++i) ASSERT_EQ(takeConsoleKey(), i);
  EXPECT_EQ(takeConsoleKey(), 0);
}

TEST_F(Keys, SleepReturnsEarlyOnAKey) {
  std::thread producer([] {
    std::this_thread::sleep_for(30ms);
    postConsoleKey('k');
  });
  const double start = timerSeconds();
  const int32_t result = sleepMs(250);
  const double took = elapsedMs(start);
  producer.join();
  EXPECT_EQ(result, 1);
  EXPECT_LT(took, 200.0);
  EXPECT_GE(took, 25.0);
  EXPECT_EQ(readKey(), "k");
}

TEST_F(Keys, ShortSleepIgnoresKeys) {
  postConsoleKey('k');
  const double start = timerSeconds();
  EXPECT_EQ(sleepMs(60), 0);
  EXPECT_GE(elapsedMs(start), 59.0);
  EXPECT_EQ(takeConsoleKeyFlag(), 1);  // left for whoever asks next
}

TEST_F(Keys, SleepWithPendingKeyAndLongDurationReturnsAtOnce) {
  postConsoleKey('k');
  const double start = timerSeconds();
  EXPECT_EQ(sleepMs(1000), 1);
  EXPECT_LT(elapsedMs(start), 20.0);
  EXPECT_EQ(takeConsoleKeyFlag(), 0);  // cleared on reading
}

TEST_F(Keys, SleepMinusOneWaitsForAKey) {
  std::thread producer([] {
    std::this_thread::sleep_for(80ms);
    postConsoleKey('z');
  });
  const double start = timerSeconds();
  EXPECT_EQ(sleepMs(-1), 1);
  EXPECT_GE(elapsedMs(start), 75.0);
  producer.join();
}

TEST_F(Keys, NegativeAndZeroSleepsReturnAtOnce) {
  const double start = timerSeconds();
  EXPECT_EQ(sleepMs(-7), 0);
  EXPECT_EQ(sleepMs(0), 0);
  EXPECT_EQ(sleepMs(INT32_MIN), 0);
  EXPECT_LT(elapsedMs(start), 20.0);
}

TEST_F(Keys, HooksTakeOverSleepAndKeys) {
  hooks().sleep = [](int32_t ms) { return ms * 2; };
  hooks().readKey = [] { return std::string("\xff;"); };
  hooks().waitKey = [] { return int32_t{0x6BFF}; };
  hooks().keyWaiting = [] { return int32_t{1}; };
  postConsoleKey('q');
  EXPECT_EQ(sleepMs(21), 42);
  EXPECT_EQ(readKey(), "\xff;");
  EXPECT_EQ(waitKey(), 0x6BFF);
  EXPECT_EQ(keyWaiting(), 1);
  hooks() = {};
  EXPECT_EQ(readKey(), "q");  // the console ring was not touched
}

TEST(TerminalInput, DecodesCharactersAndEscapeSequences) {
  EXPECT_EQ(decode("a"), 'a');
  EXPECT_EQ(decode("\x7f"), 8);
  EXPECT_EQ(decode("\n"), 13);
  EXPECT_EQ(decode("\x1b"), 27);
  EXPECT_EQ(decode("\x1b[A"), 0x48FF);
  EXPECT_EQ(decode("\x1b[B"), 0x50FF);
  EXPECT_EQ(decode("\x1b[D"), 0x4BFF);
  EXPECT_EQ(decode("\x1bOP"), 0x3BFF);
  EXPECT_EQ(decode("\x1b[15~"), 0x3FFF);
  EXPECT_EQ(decode("\x1b[24~"), 0x86FF);
  EXPECT_EQ(decode("\x1b[3~"), 0x53FF);
  EXPECT_EQ(decode("\x1b[1;5A"), 0x48FF);
  std::size_t used = 0;
  EXPECT_EQ(decode("\x1b[5~rest", &used), 0x49FF);
  EXPECT_EQ(used, 4u);
  EXPECT_EQ(decode("\x1b[12", &used), 27);  // cut off: Escape alone
  EXPECT_EQ(used, 1u);
  EXPECT_EQ(decode("\x1b[99~", &used), 0);   // names no key
  EXPECT_EQ(used, 5u);
  EXPECT_EQ(decode("\x1bx"), 27);
}
