#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "gfx/driver.h"
#include "gfx/drivers/window_rules.h"
#include "gfx/input.h"
#include "gfx/mode.h"

using namespace pel;

namespace {

std::vector<std::string> platformCalls;
int failingInits = 0;  // the next rebuilds that fail

const WindowPlatform recordingPlatform = {
    .trackLeave = [](void*) { platformCalls.push_back("track"); },
    .clipToClient = [](void*) { platformCalls.push_back("clip"); },
    .releaseClip = [](void*) { platformCalls.push_back("unclip"); },
    .capture = [](void*, bool take) { platformCalls.push_back(take ? "capture" : "release"); },
    .warpPointer = [](void*, int32_t x, int32_t y) { platformCalls.push_back("warp " + std::to_string(x) + "," + std::to_string(y)); },
    .updateCursor = [](void*) { platformCalls.push_back("cursor"); },
    .initWindow =
        [](void*) {
          platformCalls.push_back("init");
          return failingInits-- <= 0;
        },
    .exitWindow = [](void*) { platformCalls.push_back("exit"); },
    .setHighPriority = [](void*, bool high) { platformCalls.push_back(high ? "high" : "normal"); },
    .window = nullptr,
};

class Rules : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("KELGFX", "null", 1);
    ASSERT_EQ(openScreenBySize(800, 600, 32, 1, 0, 0), 0);
    while (takeKey() != 0) {
    }
    resetWindowRules(w, recordingPlatform, 800, 600);
    w.active = true;
    platformCalls.clear();
    failingInits = 0;
  }
  void TearDown() override { closeScreen(); }
  static std::vector<EventRecord> events() {
    std::vector<EventRecord> out;
    EventRecord e;
    while (pollEvent(e)) out.push_back(e);
    return out;
  }
  WindowRules w;
};

}  // namespace

TEST_F(Rules, KeyPath) {
  // F1 pressed: the ring gets its extended code, a KeyPress its scan code.
  EXPECT_FALSE(keyMessage(w, KeyMessage::Down, 0x70, 0x3B, 0, 0, 1, false));
  EXPECT_EQ(takeKey(), 0x3BFF);
  auto e = events();
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].type, KeyPress);
  EXPECT_EQ(e[0].a, 0x3B);
  EXPECT_EQ(e[0].b, 0);
  // Auto-repeat with a count of 3: three codes, one KeyRepeat.
  keyMessage(w, KeyMessage::Down, 0x26, 0x48, keymod::enhanced, 0, 3, true);
  EXPECT_EQ(takeKey(), 0x48FF);
  EXPECT_EQ(takeKey(), 0x48FF);
  EXPECT_EQ(takeKey(), 0x48FF);
  EXPECT_EQ(takeKey(), 0);
  EXPECT_EQ(events()[0].type, KeyRepeat);
  // Escape: no code from the key message (the character message brings 27), b = 27.
  keyMessage(w, KeyMessage::Down, 0x1B, 0x01, 0, 27, 1, false);
  EXPECT_EQ(takeKey(), 0);
  e = events();
  EXPECT_EQ(e[0].a, 1);
  EXPECT_EQ(e[0].b, 27);
  // A system key-down posts KeyRelease and queues nothing; Alt+F4, a system
  // key too, queues the close key and posts nothing.
  keyMessage(w, KeyMessage::SystemDown, 0x41, 0x1E, keymod::leftAlt, 'a', 1, false);
  EXPECT_EQ(takeKey(), 0);
  EXPECT_EQ(events()[0].type, KeyRelease);
  EXPECT_TRUE(keyMessage(w, KeyMessage::SystemDown, 0x73, 0x3E, keymod::leftAlt, 0, 1, false));
  EXPECT_EQ(takeKey(), closeKeyCode);
  EXPECT_EQ(takeKey(), 0);
  // Held, it repeats; the repeats ask for nothing more.
  EXPECT_TRUE(keyMessage(w, KeyMessage::SystemDown, 0x73, 0x3E, keymod::leftAlt, 0, 3, true));
  EXPECT_TRUE(keyMessage(w, KeyMessage::Down, 0x73, 0x3E, keymod::leftAlt, 0, 1, true));
  EXPECT_EQ(takeKey(), 0);
  EXPECT_TRUE(keyMessage(w, KeyMessage::Down, 0x73, 0x3E, keymod::leftAlt, 0, 1, false));
  EXPECT_EQ(takeKey(), closeKeyCode);
  EXPECT_TRUE(keyMessage(w, KeyMessage::Up, 0x73, 0x3E, keymod::leftAlt, 0, 1, false));
  EXPECT_EQ(takeKey(), 0);
  EXPECT_TRUE(events().empty());
  // Alt and F10 post no event and are consumed.
  EXPECT_TRUE(keyMessage(w, KeyMessage::Down, 0x12, 0x38, keymod::leftAlt, 0, 1, false));
  EXPECT_TRUE(keyMessage(w, KeyMessage::Up, 0x79, 0x44, 0, 0, 1, false));
  EXPECT_TRUE(events().empty());
}

TEST_F(Rules, CharactersAndClose) {
  characterMessage(w, 130, 2);  // e-acute in code page 437
  EXPECT_EQ(takeKey(), -126);
  EXPECT_EQ(readKeyHook(), "\x82");
  closeRequest(w);
  EXPECT_EQ(readKeyHook(), "\xffk");
  const auto e = events();
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].type, WindowClose);
}

TEST_F(Rules, FirstMoveEnterAndLeave) {
  pointerMove(w, 10, 20, 110, 220);  // first move: position only, but the enter fires
  auto e = events();
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].type, MouseEnter);
  EXPECT_EQ(e[0].a, 10);
  EXPECT_EQ(e[0].c, 0);
  EXPECT_EQ(platformCalls, std::vector<std::string>{"track"});
  pointerMove(w, 10, 20, 110, 220);  // no movement: nothing
  EXPECT_TRUE(events().empty());
  pointerMove(w, -1, 25, 99, 225);  // captured and dragged left: a reads 65535
  e = events();
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].type, MouseMove);
  EXPECT_EQ(e[0].a, 65535);
  EXPECT_EQ(e[0].c, -11);
  EXPECT_EQ(e[0].d, 5);
  pointerLeave(w);
  EXPECT_EQ(events()[0].type, MouseExit);
  EXPECT_FALSE(w.mouseInside);
  w.active = false;
  pointerMove(w, 30, 30, 130, 230);  // inactive: no event
  EXPECT_TRUE(events().empty());
}

TEST_F(Rules, ButtonsAndWheels) {
  buttonDown(w, 1, false);
  buttonDown(w, 4, true);
  buttonUp(w, 1);
  buttonUp(w, 4);
  auto e = events();
  ASSERT_EQ(e.size(), 4u);
  EXPECT_EQ(e[0].type, MouseButtonPress);
  EXPECT_EQ(e[1].type, MouseDoubleClick);
  EXPECT_EQ(e[1].a, 4);
  EXPECT_EQ(e[3].type, MouseButtonRelease);
  EXPECT_EQ(platformCalls.back(), "release");
  extraButtons(w, true, true, true, false);
  extraButtons(w, false, true, false, false);
  e = events();
  EXPECT_EQ(e[0].a, 24);
  EXPECT_EQ(e[1].a, 8);
  EXPECT_EQ(w.buttons, 16);
  wheelStep(w, false, true);
  wheelStep(w, false, true);
  wheelStep(w, false, false);
  wheelStep(w, true, false);
  e = events();
  EXPECT_EQ(e[1].a, 2);
  EXPECT_EQ(e[2].a, 1);
  EXPECT_EQ(e[3].type, MouseHWheel);
  EXPECT_EQ(e[3].a, -1);
}

TEST_F(Rules, ActivationClearsKeysAndReportsFocus) {
  currentMode()->keyState[30] = 1;
  w.pointerInClient = true;
  w.mouseX = 5;
  activation(w, true);
  EXPECT_EQ(currentMode()->keyState[30], 0);
  EXPECT_EQ(currentMode()->dirty[599], 1);
  auto e = events();
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[0].type, WindowGotFocus);
  EXPECT_EQ(e[1].type, MouseEnter);
  EXPECT_EQ(e[1].a, 5);
  activation(w, false);
  e = events();
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[0].type, MouseExit);
  EXPECT_EQ(e[1].type, WindowLostFocus);
  // Minimised while keeping the focus: inactive, without a focus event.
  activation(w, true);
  events();
  activation(w, false, false);
  e = events();
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].type, MouseExit);
  EXPECT_FALSE(w.active);
}

TEST_F(Rules, MouseQueryAndSetter) {
  int32_t v[5] = {7, 7, 7, 7, 7};
  EXPECT_EQ(rulesGetMouse(w, &v[0], &v[1], &v[2], &v[3], &v[4]), -1);  // pointer outside
  EXPECT_EQ(v[0], 7);
  rulesSetMouse(w, keepCoordinate, keepCoordinate, -1, -1);
  EXPECT_TRUE(platformCalls.empty());
  rulesSetMouse(w, -5, 10000, -1, -1);
  EXPECT_EQ(platformCalls, std::vector<std::string>{"warp 0,599"});
  EXPECT_EQ(rulesGetMouse(w, &v[0], &v[1], &v[2], &v[3], &v[4]), 0);
  EXPECT_EQ(v[0], 0);
  EXPECT_EQ(v[1], 599);
  platformCalls.clear();
  rulesSetMouse(w, keepCoordinate, keepCoordinate, 0, 1);
  EXPECT_EQ(platformCalls, (std::vector<std::string>{"cursor", "clip"}));
  EXPECT_FALSE(w.cursorVisible);
  EXPECT_TRUE(w.clip);
  w.active = false;
  EXPECT_EQ(rulesGetMouse(w, &v[0], &v[1], &v[2], &v[3], &v[4]), -1);
}

TEST_F(Rules, HighPriorityFollowsTheFocus) {
  activation(w, false);
  activation(w, true);
  EXPECT_TRUE(platformCalls.empty());
  w.modeFlags = modeflag::highPriority;
  activation(w, true);
  activation(w, false);
  EXPECT_EQ(platformCalls, (std::vector<std::string>{"high", "normal"}));
}

TEST_F(Rules, FullScreenToggle) {
  pointerMove(w, 10, 20, 110, 220);
  w.clip = true;
  events();
  std::memset(currentMode()->dirty, 0, 600);
  platformCalls.clear();
  EXPECT_TRUE(toggleFullScreen(w));
  EXPECT_EQ(platformCalls, (std::vector<std::string>{"unclip", "exit", "init"}));
  EXPECT_EQ(w.modeFlags, modeflag::fullScreen);
  EXPECT_TRUE(w.active);
  EXPECT_FALSE(w.mouseInside);
  EXPECT_EQ(currentMode()->dirty[0], 1);
  EXPECT_EQ(currentMode()->dirty[599], 1);
  const auto e = events();
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].type, MouseExit);
  // A rebuild that fails goes back to the previous mode.
  failingInits = 1;
  platformCalls.clear();
  EXPECT_FALSE(toggleFullScreen(w));
  EXPECT_EQ(platformCalls, (std::vector<std::string>{"unclip", "exit", "init", "exit", "init"}));
  EXPECT_EQ(w.modeFlags, modeflag::fullScreen);
  // No switching: nothing at all.
  w.modeFlags = modeflag::noSwitching;
  w.mouseInside = true;
  platformCalls.clear();
  EXPECT_FALSE(toggleFullScreen(w));
  EXPECT_TRUE(platformCalls.empty());
  EXPECT_TRUE(events().empty());
  EXPECT_TRUE(w.mouseInside);
}

// Typed text reaches the public layer whole, in pieces that fit a record and
// are cut between characters; control characters are keys, not text.
TEST_F(Rules, TypedTextComesInWholeCharacters) {
  WindowEvent e{};
  while (pollWindowEvent(e)) {
  }
  std::string typed = "\t\x7f";
  for (int i = 0; i < 12; ++i) typed += "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80";  // a é € 😀, 10 bytes
  textTyped(w, typed.c_str());
  std::string joined;
  int pieces = 0;
  while (pollWindowEvent(e)) {
    ASSERT_EQ(e.type, TextInput);
    const std::string piece(e.text);
    EXPECT_LT(piece.size(), sizeof e.text);
    // A piece ends at a character's end: its last lead byte has all its continuation bytes.
    std::size_t lead = piece.size() - 1;
    while (lead > 0 && (static_cast<uint8_t>(piece[lead]) & 0xC0) == 0x80) --lead;
    const uint8_t first = static_cast<uint8_t>(piece[lead]);
    const std::size_t length = first < 0x80 ? 1 : first < 0xE0 ? 2 : first < 0xF0 ? 3 : 4;
    EXPECT_EQ(piece.size() - lead, length) << "piece " << pieces;
    joined += piece;
    ++pieces;
  }
  EXPECT_EQ(joined, typed.substr(2));
  EXPECT_EQ(pieces, 4);  // 120 bytes, at most 31 a piece
  // The runtime's reader never sees text.
  textTyped(w, "x");
  EventRecord r{};
  EXPECT_FALSE(pollEvent(r));
  char out[5] = {};
  EXPECT_EQ(utf8Of(0xD800, out), 0);
  EXPECT_EQ(utf8Of(0x110000, out), 0);
}
