#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "fake_drivers.h"
#include "gfx/input.h"
#include "gfx/mode.h"
#include "gfx/pages.h"
#include "runtime/clock.h"
#include "runtime/console.h"
#include "runtime/keys.h"
#include "runtime/runtime.h"

using namespace pel;

namespace {

std::mutex& presentation = fake::Locking::presentation;
const int& vsyncs = fake::Locking::vsyncs;

class Input : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Locking::install();
    ASSERT_EQ(openScreenBySize(64, 48, 32, 1, 0, 0), 0);
    while (takeKey() != 0) {
    }
  }
  void TearDown() override {
    closeScreen();
    setBackendList(nullptr);
  }
  static double msSince(double start) { return (timerSeconds() - start) * 1000.0; }
};

}  // namespace

TEST_F(Input, KeyRingDropsTheOldestOfSixteen) {
  for (int32_t code = 1; code <= 16; ++code) postKey(code);
  EXPECT_EQ(keyWaitingHook(), 1);
  for (int32_t code = 2; code <= 16; ++code) EXPECT_EQ(takeKey(), code);
  EXPECT_EQ(keyWaitingHook(), 0);
  EXPECT_EQ(takeKey(), 0);
}

TEST_F(Input, KeyStringsAndCodes) {
  postKey(closeKeyCode);
  EXPECT_EQ(readKeyHook(), "\xffk");
  postKey(closeKeyCode);
  EXPECT_EQ(waitKeyHook(), 27647);
  postKey(27);
  EXPECT_EQ(readKeyHook(), "\x1b");
  postKey(0x3BFF);
  EXPECT_EQ(readKeyHook(), "\xff;");
  postKey(static_cast<int8_t>(0x82));
  EXPECT_EQ(readKeyHook(), "\x82");
  postKey(static_cast<int8_t>(0x82));
  EXPECT_EQ(waitKeyHook(), -126);
  EXPECT_EQ(readKeyHook(), "");
  // Through the runtime's dispatch.
  postKey('q');
  EXPECT_EQ(readKey(), "q");
  EXPECT_EQ(keyWaiting(), 0);
}

TEST_F(Input, TranslateKey) {
  EXPECT_EQ(translateKey(27, 0x01, 0x1B, 0, 0), 27);                               // Escape
  EXPECT_EQ(translateKey(0, 0x3B, 0x70, 0, 0), 0x3BFF);                            // F1
  EXPECT_EQ(translateKey(0, 0x48, 0x26, keymod::enhanced, 0), 0x48FF);             // Up
  EXPECT_EQ(translateKey(0, 0x48, 0x26, keymod::enhanced | keymod::leftCtrl, 0), 0x8DFF);
  EXPECT_EQ(translateKey(0, 0x48, 0x26, keymod::enhanced | keymod::leftAlt, 0), 0x98FF);
  EXPECT_EQ(translateKey(0, 0x48, 0x26, 0, 0), 0x48FF);                            // keypad 8, Num Lock off
  EXPECT_EQ(translateKey('8', 0x48, 0x68, 0, 0), '8');                             // Num Lock on
  EXPECT_EQ(translateKey(0, 0x3E, 0x73, keymod::leftAlt, 0), closeKeyCode);        // Alt+F4
  EXPECT_EQ(translateKey(0, 0x1C, 0x0D, keymod::enhanced | keymod::leftCtrl, 0), 0x0A);  // keypad Enter
  EXPECT_EQ(translateKey(0, 0x35, 0x6F, keymod::enhanced | keymod::shift, 0), 0x3F);
  EXPECT_EQ(translateKey(0, 0x99, 0, keymod::enhanced, 0), -1);                    // no such row
  EXPECT_EQ(translateKey('a', 0x1E, 0x41, keymod::leftAlt, 0), 0x1EFF);            // Alt+A
  EXPECT_EQ(translateKey('A', 0x1E, 0x41, keymod::leftAlt | keymod::shift, 0), 0x1EFF);
  EXPECT_EQ(translateKey('x', 0x1E, 0x41, keymod::leftAlt, 0), 'x');               // another character stays one
  EXPECT_EQ(translateKey('a', 0x1E, 0x41, 0, 0), 'a');
  EXPECT_EQ(translateKey('a', 0x1E, 0x41, 0, 1), -1);                              // extended only
  EXPECT_EQ(translateKey(0x3A1, 0x1E, 0x41, 0, 0), 0xA1);                          // low byte of the character
  EXPECT_EQ(translateKey('1', 0x02, 0x31, keymod::leftAlt, 0), 0x78FF);            // Alt+1
  EXPECT_EQ(translateKey(0, 0x58, 0x7B, keymod::shift, 0), 0x88FF);                // Shift+F12
  EXPECT_EQ(translateKey(0, 0x2A, 0x10, keymod::shift, 0), -1);                    // Shift alone
}

TEST_F(Input, ScanCodesFromVirtualKeys) {
  EXPECT_EQ(scancodeFromVirtualKey(0x1B), 0x01);
  EXPECT_EQ(scancodeFromVirtualKey(0x10), 0x2A);
  EXPECT_EQ(scancodeFromVirtualKey(0x11), 0x1D);
  EXPECT_EQ(scancodeFromVirtualKey(0x12), 0x38);
  EXPECT_EQ(scancodeFromVirtualKey(0x0D), 0x1C);
  EXPECT_EQ(scancodeFromVirtualKey(0x67), 0x47);
  EXPECT_EQ(scancodeFromVirtualKey(0x6D), 0x0C);
  EXPECT_EQ(scancodeFromVirtualKey(0x6F), 0x35);
  EXPECT_EQ(scancodeFromVirtualKey(0x41), 0x1E);
  EXPECT_EQ(scancodeFromVirtualKey(0), 0);
  EXPECT_EQ(scancodeFromVirtualKey(0xFF), 0);
}

TEST_F(Input, SleepHook) {
  postKey('k');
  double start = timerSeconds();
  EXPECT_EQ(sleepHook(1), 0);
  EXPECT_EQ(takeKeyFlag(), 1);  // a short sleep leaves the flag alone
  start = timerSeconds();
  EXPECT_EQ(sleepHook(0), 0);
  EXPECT_EQ(sleepHook(-7), 0);
  EXPECT_LT(msSince(start), 20.0);
  std::thread producer([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::lock_guard guard(presentation);
    postKey('z');
  });
  start = timerSeconds();
  EXPECT_EQ(sleepHook(150), 1);  // the key test before the second 50 ms step sees it
  const double tookLong = msSince(start);
  producer.join();
  EXPECT_GE(tookLong, 45.0);
  EXPECT_LT(tookLong, 120.0);
  std::thread later([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    std::lock_guard guard(presentation);
    postKey('y');
  });
  EXPECT_EQ(sleepHook(-1), 1);
  later.join();
  // Through the runtime's dispatch.
  start = timerSeconds();
  EXPECT_EQ(sleepMs(30), 0);
  EXPECT_GE(msSince(start), 29.0);
}

TEST_F(Input, KeyHeld) {
  currentMode()->keyState[5] = 1;
  EXPECT_EQ(keyHeldHook(5), -1);
  EXPECT_EQ(keyHeldHook(6), 0);
  EXPECT_EQ(keyHeldHook(128), 0);
  EXPECT_EQ(keyHeldHook(-1), 0);
  EXPECT_EQ(keyHeld(5), -1);
}

TEST_F(Input, EventQueueDropsTheOldestOf128) {
  for (int32_t i = 0; i < 128; ++i) postEvent({KeyPress, i, 0, 0, 0});
  EventRecord e{};
  for (int32_t i = 1; i < 128; ++i) {
    ASSERT_TRUE(pollEvent(e));
    EXPECT_EQ(e.a, i);
  }
  EXPECT_FALSE(pollEvent(e));
  EXPECT_FALSE(waitEvent(e, 30));
  postEvent({WindowClose, 0, 0, 0, 0});
  EXPECT_TRUE(waitEvent(e, -1));
  EXPECT_EQ(e.type, WindowClose);
}

// Bare records come back word for word, with their fields named for the
// public layer; the window layer's records reach the runtime in its view.
TEST_F(Input, EachReaderSeesTheRecordsItsRulesGiveIt) {
  postEvent({WindowClose, 1, 2, 3, 4});
  postEvent({MouseButtonPress, 4, 5, 6, 7});
  WindowEvent shown{};
  shown.type = KeyPress;
  shown.key = {0x38, 0, KeyReport::publicOnly, 0x38, 0};
  postEvent(shown);
  shown.key = {0x2D, 'x', KeyReport::systemPress, 0x2D, 'x'};
  postEvent(shown);
  shown.type = MouseMove;
  shown.pointer = {10, 20, -3, 4};
  postEvent(shown);
  std::vector<std::vector<int32_t>> runtime;
  for (EventRecord e{}; pollEvent(e);) runtime.push_back({e.type, e.a, e.b, e.c, e.d});
  EXPECT_EQ(runtime, (std::vector<std::vector<int32_t>>{{WindowClose, 1, 2, 3, 4},
                                                         {MouseButtonPress, 4, 5, 6, 7},
                                                         {KeyRelease, 0x2D, 'x', 0, 0},
                                                         {MouseMove, 10, 20, -3, 4}}));
  postEvent({MouseButtonPress, 4, 5, 6, 7});
  postEvent({MouseWheel, -2, 0, 0, 0});
  WindowEvent named{};
  ASSERT_TRUE(pollWindowEvent(named));
  EXPECT_EQ(named.buttons, 4);
  EXPECT_FALSE(named.moment.known);
  ASSERT_TRUE(pollWindowEvent(named));
  EXPECT_EQ(named.wheel.position, -2);
  EXPECT_FALSE(pollWindowEvent(named));
}

TEST_F(Input, MouseThroughTheBackEnd) {
  int32_t x = 0, y = 0, wheel = 0, buttons = 0;
  EXPECT_EQ(getMouseHook(&x, &y, &wheel, &buttons, nullptr), 0);
  EXPECT_EQ(x, 10);
  EXPECT_EQ(buttons, 5);
  EXPECT_EQ(setMouseHook(1, 2, 1, 0), 1);  // this back end has no setter
  EXPECT_EQ(lastError(), 1);
  setenv("KELGFX", "null", 1);
  ASSERT_EQ(openScreenBySize(64, 48, 32, 1, 0, 0), 0);
  EXPECT_EQ(getMouseHook(&x, &y, &wheel, nullptr, nullptr), 1);
  EXPECT_EQ(x, -1);
  EXPECT_EQ(wheel, -1);
}

TEST_F(Input, RetraceAndPalettePorts) {
  EXPECT_EQ(portInHook(0x3DA), 8);
  EXPECT_EQ(vsyncs, 1);
  EXPECT_EQ(portInHook(0x3C9), -1);  // depth 32: no palette
  EXPECT_EQ(portOutHook(0x3C8, 1), -1);
  ASSERT_EQ(openScreenByNumber(13, 0, 0, 0, 0), 0);
  EXPECT_EQ(portInHook(0x103DA), 8);  // low 16 bits of the port
  EXPECT_EQ(portOutHook(0x3C7, 4), 0);
  EXPECT_EQ(portInHook(0x3C9), 42);   // colour 4: red 170 -> 42
  EXPECT_EQ(portInHook(0x3C9), 0);
  EXPECT_EQ(portInHook(0x3C9), 0);
  EXPECT_EQ(portInHook(0x3C9), 42);   // the index moved on to colour 5
  EXPECT_EQ(portOutHook(0x3C8, 1), 0);
  portOutHook(0x3C9, 63);
  portOutHook(0x3C9, 0);
  EXPECT_EQ(portOutHook(0x3C9, 63), 0);
  EXPECT_EQ(currentMode()->palette[1], 0x00FF00FFu);
  EXPECT_EQ(portOutHook(0x3C6, 0), -1);
  // A 64-colour screen: the default colour changes, and every pixel value mapped to it.
  ASSERT_EQ(openScreenByNumber(9, 0, 0, 0, 0), 0);
  portOutHook(0x3C8, 20);
  portOutHook(0x3C9, 1);
  portOutHook(0x3C9, 2);
  portOutHook(0x3C9, 3);
  EXPECT_EQ(currentMode()->deviceColors[20], 0x000C0804u);
  EXPECT_EQ(currentMode()->palette[6], 0x000C0804u);
}

TEST_F(Input, KeysAndEventsFromAnotherThread) {
  // The producer posts under the back end's lock, as a window thread does,
  // and never runs more than the ring can hold ahead of the reader.
  constexpr int32_t keys = 3000, events = 3000;
  std::atomic<int32_t> keysRead{0}, eventsRead{0};
  std::thread producer([&] {
    for (int32_t k = 1, e = 1; k <= keys || e <= events;) {
      if (k <= keys && k - 1 - keysRead.load() < 15) {
        std::lock_guard guard(presentation);
        postKey(k++);
      }
      if (e <= events && e - 1 - eventsRead.load() < 127) postEvent({MouseMove, e++, 0, 0, 0});
      std::this_thread::yield();
    }
  });
  int32_t lastKey = 0, lastEvent = 0;
  int round = 0;
  while (lastKey < keys || lastEvent < events) {
    int32_t code = 0;
    switch (round++ % 3) {
      case 0: {
        const std::string s = readKeyHook();
        if (!s.empty()) code = static_cast<uint8_t>(s[0]) | (s.size() > 1 ? static_cast<uint8_t>(s[1]) << 8 : 0);
        break;
      }
      case 1:
        if (keyWaitingHook()) code = waitKeyHook();
        break;
      default:
        if (lastKey < keys && keyWaiting()) code = waitKeyHook();
    }
    if (code) {
      ASSERT_EQ(code & 0xFFFF, (lastKey + 1) & 0xFFFF);
      ++lastKey;
      keysRead.store(lastKey);
    }
    EventRecord e;
    while (pollEvent(e)) {
      ASSERT_EQ(e.a, lastEvent + 1);
      lastEvent = e.a;
      eventsRead.store(lastEvent);
    }
  }
  producer.join();
}
