// The public events as the window rules post them: recorded where and with
// which modifiers they happened, every press a ButtonPress, Alt combinations
// as presses and releases, and the wheel's step. The runtime's own records
// stay as they were.
#include <gtest/gtest.h>

#include <pellucet/pellucet.h>

#include <vector>

#include "../gfx/drivers/quiet_platform.h"
#include "../gfx/fake_drivers.h"
#include "gfx/drivers/window_record.h"
#include "gfx/drivers/window_rules.h"
#include "gfx/input.h"
#include "gfx/mode.h"

namespace {

using pellucet::EventType;

constexpr int32_t vkMenu = 0x12, vkReturn = 0x0D, vkX = 0x58, vkShift = 0x10, vkA = 0x41;

using test::quietPlatform;

class PublicEvents : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Locking::install();
    ASSERT_TRUE(pellucet::openScreen(640, 480, 32, 1));
    pel::resetWindowRules(w, quietPlatform, 640, 480);
    w.active = true;
    while (pellucet::takeKey() != 0) {
    }
  }
  void TearDown() override {
    pellucet::closeScreen();
    pel::setBackendList(nullptr);
  }
  static std::vector<pellucet::Event> events() {
    std::vector<pellucet::Event> out;
    pellucet::Event e;
    while (pellucet::pollEvent(e)) out.push_back(e);
    return out;
  }
  void moveTo(int x, int y) { pel::pointerMove(w, x, y, x + 100, y + 100); }
  pel::WindowRules w;
};

}  // namespace

// Five quick strokes from (100, y) to (400, y), taken only afterwards: each
// press where it began, each release where it ended.
TEST_F(PublicEvents, PressesAndReleasesAreWhereTheyHappened) {
  moveTo(10, 10);
  events();
  for (int i = 0; i < 5; ++i) {
    moveTo(100, 50 + i);
    pel::buttonDown(w, 1, false);
    moveTo(400, 50 + i);
    pel::buttonUp(w, 1);
  }
  moveTo(600, 400);  // where the pointer is when the program looks
  int presses = 0, releases = 0;
  for (const pellucet::Event& e : events()) {
    if (e.type == EventType::ButtonPress) {
      EXPECT_EQ(e.x, 100);
      EXPECT_EQ(e.y, 50 + presses);
      ++presses;
    } else if (e.type == EventType::ButtonRelease) {
      EXPECT_EQ(e.x, 400);
      EXPECT_EQ(e.y, 50 + releases);
      ++releases;
    }
  }
  EXPECT_EQ(presses, 5);
  EXPECT_EQ(releases, 5);
}

// A second press within the double-click time is still a press, with two
// clicks; the runtime's own record stays a double click.
TEST_F(PublicEvents, EveryPressIsAButtonPress) {
  moveTo(20, 20);
  events();
  pel::buttonDown(w, 1, false);
  pel::buttonUp(w, 1);
  moveTo(160, 20);
  pel::buttonDown(w, 1, true);
  pel::buttonUp(w, 1);
  const auto e = events();
  ASSERT_EQ(e.size(), 5u);
  EXPECT_EQ(e[0].type, EventType::ButtonPress);
  EXPECT_EQ(e[0].clicks, 1);
  EXPECT_EQ(e[2].type, EventType::MouseMove);
  EXPECT_EQ(e[3].type, EventType::ButtonPress);
  EXPECT_EQ(e[3].clicks, 2);
  EXPECT_EQ(e[3].x, 160);
  EXPECT_EQ(e[3].button, 1);
  pel::buttonDown(w, 2, true);
  pel::EventRecord r{};
  ASSERT_TRUE(pel::pollEvent(r));
  EXPECT_EQ(r.type, pel::MouseDoubleClick);
}

// Modifiers are those held when the event happened, whatever is held when
// the program takes it.
TEST_F(PublicEvents, ModifiersAreThoseHeldWhenItHappened) {
  pel::keyMessage(w, pel::KeyMessage::Down, vkShift, 0x2A, pel::keymod::shift, 0, 1, false);
  pel::keyMessage(w, pel::KeyMessage::Down, vkA, 0x1E, pel::keymod::shift, 'A', 1, false);
  pel::buttonDown(w, 1, false);
  pel::keyMessage(w, pel::KeyMessage::Up, vkShift, 0x2A, 0, 0, 1, false);
  pel::buttonUp(w, 1);
  pel::currentMode()->keyState[0x1D] = 1;  // Ctrl held when the program looks
  const auto e = events();
  ASSERT_EQ(e.size(), 5u);
  EXPECT_EQ(e[1].type, EventType::KeyPress);
  EXPECT_EQ(e[1].modifiers, pellucet::shift);
  EXPECT_EQ(e[2].type, EventType::ButtonPress);
  EXPECT_EQ(e[2].modifiers, pellucet::shift);
  EXPECT_EQ(e[4].type, EventType::ButtonRelease);
  EXPECT_EQ(e[4].modifiers, 0u);
}

// The logo key and the locks reach the public bits.
TEST_F(PublicEvents, SuperAndTheLocksAreModifiers) {
  const int32_t word = pel::keymod::super | pel::keymod::capsLock | pel::keymod::numLock;
  pel::keyMessage(w, pel::KeyMessage::Down, vkA, 0x1E, word, 'a', 1, false);
  pel::keyMessage(w, pel::KeyMessage::Down, 0x5B, 0x5B, pel::keymod::enhanced, 0, 1, false);  // the logo key itself
  const auto e = events();
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[0].modifiers, pellucet::super | pellucet::capsLock | pellucet::numLock);
  EXPECT_EQ(e[1].modifiers, pellucet::super);  // its own press counts it
}

// Alt+X: Alt's press, X's press with Alt, X's release when X is let go, and
// Alt's release. The runtime's records keep its own rule: one KeyRelease for
// X at the press, and nothing else.
TEST_F(PublicEvents, AltCombinationsArePressesAndReleases) {
  const int32_t alt = pel::keymod::leftAlt;
  EXPECT_TRUE(pel::keyMessage(w, pel::KeyMessage::SystemDown, vkMenu, 0x38, alt, 0, 1, false));
  EXPECT_FALSE(pel::keyMessage(w, pel::KeyMessage::SystemDown, vkX, 0x2D, alt, 'x', 1, false));
  pel::keyMessage(w, pel::KeyMessage::SystemDown, vkX, 0x2D, alt, 'x', 1, true);  // held
  pel::systemKeyUp(w, vkX, alt);
  pel::systemKeyUp(w, vkMenu, 0);
  EXPECT_EQ(pellucet::takeKey(), 0);
  // Taken through the runtime, from a copy of the queue.
  pel::ScreenMode* m = pel::currentMode();
  const uint32_t read = m->eventRead;
  std::vector<int32_t> runtime;
  pel::EventRecord r{};
  while (pel::pollEvent(r)) runtime.push_back(r.type << 8 | r.a);
  EXPECT_EQ(runtime, (std::vector<int32_t>{pel::KeyRelease << 8 | 0x2D, pel::KeyRelease << 8 | 0x2D}));
  m->eventRead = read;
  const auto e = events();
  ASSERT_EQ(e.size(), 5u);
  EXPECT_EQ(e[0].type, EventType::KeyPress);
  EXPECT_EQ(e[0].scanCode, 0x38);
  EXPECT_EQ(e[0].modifiers, pellucet::alt);
  EXPECT_EQ(e[1].type, EventType::KeyPress);
  EXPECT_EQ(e[1].scanCode, 0x2D);
  EXPECT_EQ(e[1].modifiers, pellucet::alt);
  EXPECT_EQ(e[2].type, EventType::KeyRepeat);
  EXPECT_EQ(e[3].type, EventType::KeyRelease);
  EXPECT_EQ(e[3].scanCode, 0x2D);
  EXPECT_EQ(e[4].type, EventType::KeyRelease);
  EXPECT_EQ(e[4].scanCode, 0x38);
  EXPECT_EQ(e[4].modifiers, 0u);
}

// Alt+Enter switches to full screen; Enter's release that follows belongs to
// no press the program saw, and is not delivered.
TEST_F(PublicEvents, AltEnterLeavesNoStrayRelease) {
  const int32_t alt = pel::keymod::leftAlt;
  pel::keyMessage(w, pel::KeyMessage::SystemDown, vkMenu, 0x38, alt, 0, 1, false);
  pel::toggleFullScreen(w);
  pel::keyMessage(w, pel::KeyMessage::Up, vkReturn, 0x1C, alt, 0, 1, false);
  pel::systemKeyUp(w, vkMenu, 0);
  pel::keyMessage(w, pel::KeyMessage::Down, vkReturn, 0x1C, 0, 13, 1, false);
  pel::keyMessage(w, pel::KeyMessage::Up, vkReturn, 0x1C, 0, 13, 1, false);
  std::vector<std::pair<EventType, int>> keys;
  for (const pellucet::Event& e : events()) {
    if (e.type == EventType::KeyPress || e.type == EventType::KeyRelease) keys.emplace_back(e.type, e.scanCode);
  }
  EXPECT_EQ(keys, (std::vector<std::pair<EventType, int>>{{EventType::KeyPress, 0x38},
                                                           {EventType::KeyRelease, 0x38},
                                                           {EventType::KeyPress, 0x1C},
                                                           {EventType::KeyRelease, 0x1C}}));
}

TEST_F(PublicEvents, WheelsGiveTheirStep) {
  moveTo(30, 40);
  events();
  pel::wheelStep(w, false, true);
  pel::wheelStep(w, false, true);
  pel::wheelStep(w, false, false);
  pel::wheelStep(w, true, false);
  const auto e = events();
  ASSERT_EQ(e.size(), 4u);
  EXPECT_EQ(e[0].step, 1);
  EXPECT_EQ(e[1].wheel, 2);
  EXPECT_EQ(e[2].step, -1);
  EXPECT_EQ(e[2].wheel, 1);
  EXPECT_EQ(e[2].x, 30);
  EXPECT_EQ(e[3].type, EventType::HorizontalWheel);
  EXPECT_EQ(e[3].step, -1);
}

// Characters above 127 come as 0-255: code page 437's é is 130.
TEST_F(PublicEvents, KeysAboveAsciiAreUnsigned) {
  pel::characterMessage(w, 130, 1);
  pel::characterMessage(w, 'a', 1);
  EXPECT_EQ(pellucet::takeKey(), 130);
  EXPECT_EQ(pellucet::takeKey(), 'a');
  pel::postKey(0x48FF);
  EXPECT_EQ(pellucet::takeKey(), 0x48FF);
}

// A window's first place is no news; each later change of its client area
// or of the picture's place in it is a Resize, and windowSize() keeps the
// last. A screen without a window has its own size.
TEST_F(PublicEvents, ResizesAreTheirNewPlace) {
  EXPECT_EQ(pellucet::windowSize().width, 640);
  EXPECT_EQ(pellucet::windowSize().height, 480);
  events();
  pel::WindowRecord record;
  pel::placeWindow(record, 640, 480, {0, 0, 640, 480});
  EXPECT_TRUE(events().empty());
  pel::placeWindow(record, 640, 480, {0, 0, 640, 480});
  EXPECT_TRUE(events().empty());
  pel::placeWindow(record, 1000, 600, {100, 0, 800, 600});
  const auto e = events();
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].type, EventType::Resize);
  EXPECT_EQ(e[0].width, 1000);
  EXPECT_EQ(e[0].height, 600);
  EXPECT_EQ(e[0].picture.x, 100);
  EXPECT_EQ(e[0].picture.width, 800);
  const pellucet::WindowSize now = pellucet::windowSize();
  EXPECT_EQ(now.width, 1000);
  EXPECT_EQ(now.picture.x, 100);
  EXPECT_EQ(now.picture.height, 600);
  // The runtime's reader never sees it.
  pel::placeWindow(record, 800, 600, {0, 0, 800, 600});
  pel::EventRecord r{};
  EXPECT_FALSE(pel::pollEvent(r));
}
