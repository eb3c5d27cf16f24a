// The Wayland back end against a real compositor: a private headless weston
// per test, read back through its screenshooter. Weston's headless seat has
// no devices, so input goes through the back end's listeners with what a
// compositor would send.
#include <gtest/gtest.h>

#include <pellucet/pellucet.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <xkbcommon/xkbcommon.h>

#include "gfx/bytes_in_use.h"
#include "gfx/drivers/expected_pixels.h"
#include "gfx/driver.h"
#include "gfx/drivers/wayland/wayland_testing.h"
#include "gfx/drivers/window_scale.h"
#include "gfx/input.h"
#include "gfx/mode.h"
#include "gfx/pages.h"
#include "../idle_sleeps.h"
#include "private_sway.h"
#include "private_weston.h"
#include "protocol_trace.h"
#include "runtime/keys.h"

using namespace pel;

namespace {

// Until the window thread has presented what is marked and the compositor
// has had a frame to show it (a few seconds at most: a thread that stopped
// fails the test that follows, not hangs it).
void settle() {
  for (int i = 0; i < 3; ++i) {
    // The thread sleeps while it has nothing to do: each pass after a wake.
    const int64_t passes = waylandPasses();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (int64_t pass = 1; pass <= 2; ++pass) {
      waylandWake();
      while (waylandPasses() < passes + pass && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    currentMode()->driver->waitVsync();
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
}

void fill(uint32_t seed) {
  ScreenMode* m = currentMode();
  std::mt19937 random(seed);
  lockScreen();
  for (int y = 0; y < m->height; ++y) {
    for (int i = 0; i < m->width * m->bytesPerPixel; ++i) m->visibleBuffer[y * m->pitch + i] = static_cast<uint8_t>(random());
  }
  unlockScreen(-1, -1);
}

// Where the surface's corner lies in the screenshot: the first place whose
// top row shows the page's top row.
bool locate(const pellucet::Image& shot, int pictureW, int pictureH, int& left, int& top,
                   uint32_t (*expected)(int x, int y)) {
  for (top = 0; top + pictureH <= shot.height(); ++top) {
    for (left = 0; left + pictureW <= shot.width(); ++left) {
      int x = 0;
      while (x < pictureW && (shot.pixel(left + x, top) & 0xFFFFFF) == expected(x, 0)) ++x;
      if (x == pictureW) return true;
    }
  }
  return false;
}

// Pixels of a picture shown at (left, top) that differ from what it
// should show.
int wrongPixels(const pellucet::Image& shot, int left, int top, int pictureW, int pictureH,
                       uint32_t (*expected)(int x, int y)) {
  int wrong = 0;
  for (int y = 0; y < pictureH; ++y) {
    for (int x = 0; x < pictureW; ++x) wrong += (shot.pixel(left + x, top + y) & 0xFFFFFF) != expected(x, y);
  }
  return wrong;
}

// The same wherever the screenshot has the picture; -1 where it has none.
int wrongPixelsSomewhere(const pellucet::Image& shot, int pictureW, int pictureH, uint32_t (*expected)(int x, int y)) {
  int left = 0, top = 0;
  return locate(shot, pictureW, pictureH, left, top, expected) ? wrongPixels(shot, left, top, pictureW, pictureH, expected)
                                                               : -1;
}

// The page as shown at its own size, and scaled to the picture's size.
uint32_t pagePixel(int x, int y) {
  const ScreenMode* m = currentMode();
  return convertedAs(m, x, y / m->scanlineRepeat);
}
int shownW = 0, shownH = 0;
uint32_t scaledPixel(int x, int y) {
  const ScreenMode* m = currentMode();
  return convertedAs(m, x * m->width / shownW, y * m->height / shownH);
}


class Wayland : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(weston.start()) << "weston did not start";
    unsetenv("DISPLAY");  // a framed window would otherwise be left to X11
    setenv("KELGFX", "Wayland", 1);
  }
  void TearDown() override {
    closeScreen();
    requestWindowScale({});
    trace.stop();
    weston.stop();
  }
  // What the compositor is told, from the next connection on.
  void traceProtocol() { ASSERT_TRUE(trace.start(weston.runtimeDir)) << "no trace file"; }

  PrivateWeston weston;
  ProtocolTrace trace;
};

// Weston draws no frames: libdecor draws the title bar above the picture.
TEST_F(Wayland, FramedWindowsGetAFrameDrawnForThem) {
  ASSERT_EQ(openScreenBySize(160, 100, 32, 1, 0, 0), 0);
  ASSERT_STREQ(currentMode()->driver->name, "Wayland");
  fill(4);
  settle();
  const pellucet::Image shot = weston.screenshot();
  int left = 0, top = 0;
  ASSERT_TRUE(locate(shot, 160, 100, left, top, pagePixel));
  EXPECT_EQ(wrongPixels(shot, left, top, 160, 100, pagePixel), 0);
#ifdef PEL_HAVE_LIBDECOR
  int lit = 0;
  for (int y = std::max(top - 10, 0); y < top; ++y) {
    for (int x = left; x < left + 160; ++x) lit += (shot.pixel(x, y) & 0xFFFFFF) != 0;
  }
  EXPECT_GT(lit, 800) << "no title bar above the picture";
#endif
}

// waitVsync returns once the frame that shows the change is done; with
// nothing to show it waits about a refresh.
TEST_F(Wayland, WaitVsyncWaitsForTheFrameThatShowsTheChange) {
  traceProtocol();
  ASSERT_EQ(openScreenBySize(160, 100, 32, 1, modeflag::noFrame, 0), 0);
  fill(2);
  settle();
  const DisplayDriver* d = currentMode()->driver;
  for (int row : {10, 70}) {
    trace.watch();
    lockScreen();
    unlockScreen(row, row);
    d->waitVsync();
    const RowSpan sent = trace.sent();
    EXPECT_EQ(sent.first, row);
    EXPECT_EQ(sent.end, row + 1);
  }
  settle();
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 10; ++i) d->waitVsync();
  const auto each = (std::chrono::steady_clock::now() - start) / 10;
  EXPECT_GT(each, std::chrono::milliseconds(10));
  EXPECT_LT(each, std::chrono::milliseconds(40));  // not three refreshes, as a wait for a frame would be
}

// 320 x 200 in full screen on 1024 x 768: 1024 x 640 at (0, 64), black bars.
TEST_F(Wayland, FullScreenScalesThePictureWithBars) {
  ASSERT_EQ(openScreenBySize(320, 200, 32, 1, modeflag::fullScreen, 0), 0);
  fill(7);
  settle();
  const pellucet::Image shot = weston.screenshot();
  ASSERT_TRUE(shot);
  shownW = 1024;
  shownH = 640;
  EXPECT_EQ(wrongPixels(shot, 0, 64, 1024, 640, scaledPixel), 0);
  int bar = 0;
  for (int y = 0; y < 64; ++y) {
    for (int x = 0; x < 1024; ++x) bar += (shot.pixel(x, y) & 0xFFFFFF) != 0 || (shot.pixel(x, 767 - y) & 0xFFFFFF) != 0;
  }
  EXPECT_EQ(bar, 0);
}

// The colour key (magenta above 8 bits, index 0 at 8) shows what is under
// the window: the black desktop.
uint32_t shapedPixel(int x, int y) { return x < 40 ? 0 : pagePixel(x, y); }

TEST_F(Wayland, ShapedWindowsCutOutTheColourKey) {
  for (int32_t depth : {32, 8}) {
    ASSERT_EQ(openScreenBySize(160, 100, depth, 1, modeflag::shaped, 0), 0);
    ScreenMode* m = currentMode();
    fill(static_cast<uint32_t>(depth) + 20);
    lockScreen();
    for (int y = 0; y < 100; ++y) {
      for (int x = 0; x < 160; ++x) {
        uint8_t* p = m->visibleBuffer + y * m->pitch + x * m->bytesPerPixel;
        if (depth == 32) {
          const uint32_t key = x < 40 ? 0xFF00FF : (reinterpret_cast<uint32_t*>(p)[0] & 0xFFFFFF) == 0xFF00FF ? 0x123456 : 0;
          if (key) reinterpret_cast<uint32_t*>(p)[0] = key;
        } else if (x < 40 || *p == 0) {
          *p = x < 40 ? 0 : 1;
        }
      }
    }
    unlockScreen(-1, -1);
    settle();
    const pellucet::Image shot = weston.screenshot();
    EXPECT_EQ(wrongPixelsSomewhere(shot, 160, 100, shapedPixel), 0) << depth;
    closeScreen();
  }
}

TEST_F(Wayland, ZoomedWindowsScaleThePage) {
  traceProtocol();
  requestWindowScale({3, false});
  ASSERT_EQ(openScreenBySize(160, 100, 16, 1, modeflag::noFrame, 0), 0);
  EXPECT_EQ(publishedWindowZoom(), 3);
  fill(3);
  settle();
  const pellucet::Image shot = weston.screenshot();
  shownW = 480;
  shownH = 300;
  EXPECT_EQ(wrongPixelsSomewhere(shot, 480, 300, scaledPixel), 0);
  // Page row 37 is picture rows 111 to 113.
  ScreenMode* m = currentMode();
  trace.watch();
  lockScreen();
  std::fill_n(reinterpret_cast<uint16_t*>(m->visibleBuffer + 37 * m->pitch), 160, uint16_t{0xF800});
  unlockScreen(37, 37);
  settle();
  // What the compositor was told changed: those three rows, nothing more.
  std::vector<std::vector<long>> rectangles;
  const RowSpan sent = trace.sent(&rectangles);
  EXPECT_EQ(sent.first, 111);
  EXPECT_EQ(sent.end, 114);
  for (const std::vector<long>& r : rectangles) EXPECT_EQ(r[2], 480) << "damage wider than the picture";
  // The pointer: surface (3 * 11 + 1, 3 * 19 + 2) is page (11, 19).
  waylandFeedPointer(34, 59, 0, false, 0);
  int32_t x = 0, y = 0, wheel = 0, buttons = 0, clip = 0;
  ASSERT_EQ(currentMode()->driver->getMouse(&x, &y, &wheel, &buttons, &clip), 0);
  EXPECT_EQ(x, 11);
  EXPECT_EQ(y, 19);
}

// On an output of scale 2 (1024 x 768 logical, 2048 x 1536 real) the zoom
// counts real pixels: zoom 3 is 3 x 3 output pixels a page pixel, exactly,
// not 6 x 6 smoothed by the compositor; full screen fills the real pixels.
TEST(WaylandHiDpi, ZoomAndFullScreenCountTheOutputsRealPixels) {
  PrivateWeston weston;
  ASSERT_TRUE(weston.start(1024, 768, 2)) << "weston did not start";
  unsetenv("DISPLAY");
  setenv("KELGFX", "Wayland", 1);
  requestWindowScale({3, false});
  ASSERT_EQ(openScreenBySize(160, 100, 32, 1, modeflag::noFrame, 0), 0);
  EXPECT_EQ(publishedWindowZoom(), 3);
  fill(5);
  settle();
  int32_t w = 0, h = 0;
  waylandSurfaceSize(w, h);
  EXPECT_EQ(w, 240);  // logical pixels
  EXPECT_EQ(h, 150);
  pellucet::Image shot = weston.screenshot();
  shownW = 480;
  shownH = 300;
  EXPECT_EQ(wrongPixelsSomewhere(shot, 480, 300, scaledPixel), 0) << shot.width() << " x " << shot.height();
  // Surface point (20.5, 30.5) is output pixel (41, 61): page (13, 20).
  waylandFeedPointer(20.5, 30.5, 0, false, 0);
  int32_t x = 0, y = 0, wheel = 0, buttons = 0, clip = 0;
  ASSERT_EQ(currentMode()->driver->getMouse(&x, &y, &wheel, &buttons, &clip), 0);
  EXPECT_EQ(x, 13);
  EXPECT_EQ(y, 20);
  closeScreen();

  requestWindowScale({});
  ASSERT_EQ(openScreenBySize(320, 200, 32, 1, modeflag::fullScreen, 0), 0);
  fill(6);
  settle();
  shot = weston.screenshot();
  waylandSurfaceSize(w, h);
  EXPECT_EQ(w, 1024);
  EXPECT_EQ(h, 768);
  ASSERT_EQ(shot.width(), 2048);
  shownW = 2048;
  shownH = 1280;
  EXPECT_EQ(wrongPixels(shot, 0, 128, 2048, 1280, scaledPixel), 0);
  closeScreen();
}

std::string keymapText(const char* layout) {
  xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
  const xkb_rule_names names{"evdev", "pc105", layout, "", ""};
  xkb_keymap* keymap = xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
  char* text = keymap ? xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1) : nullptr;
  std::string out = text ? text : "";
  std::free(text);
  if (keymap) xkb_keymap_unref(keymap);
  xkb_context_unref(context);
  return out;
}

constexpr uint32_t evTwo = 3, evA = 30, evLeftShift = 42, evQ = 16;
constexpr uint32_t evLeftAlt = 56, evEnter = 28;
constexpr uint32_t shiftMask = 1, altMask = 8;

// What a real compositor in the suite does not vary: the keymap the
// compositor sends decides the characters, the key state follows the keys,
// and losing the focus clears it.
TEST_F(Wayland, TheKeymapDecidesAndLostFocusClearsTheKeyState) {
  ASSERT_EQ(openScreenBySize(64, 48, 32, 1, modeflag::noFrame, 0), 0);
  const std::string us = keymapText("us");
  ASSERT_FALSE(us.empty()) << "no xkb data";
  waylandFeedKeymap(us.c_str());
  waylandFeedFocus(true);
  while (takeKey() != 0) {
  }
  auto tap = [](uint32_t code) {
    waylandFeedKey(code, true);
    waylandFeedKey(code, false);
  };
  waylandFeedKey(evLeftShift, true);
  waylandFeedModifiers(shiftMask, 0);
  EXPECT_EQ(currentMode()->keyState[0x2A], 1);
  tap(evA);
  EXPECT_EQ(readKey(), "A");
  waylandFeedModifiers(0, 0);
  waylandFeedKey(evLeftShift, false);
  EXPECT_EQ(currentMode()->keyState[0x2A], 0);

  // A French keymap's 2 key types é, code page 437's 0x82.
  waylandFeedKeymap(keymapText("fr").c_str());
  tap(evTwo);
  EXPECT_EQ(readKey(), "\x82");

  // Focus lost lets go of the held keys, clears the key state and says so.
  EventRecord e;
  while (pollEvent(e)) {
  }
  waylandFeedKey(evQ, true);
  EXPECT_EQ(currentMode()->keyState[0x10], 1);
  waylandFeedFocus(false);
  EXPECT_EQ(currentMode()->keyState[0x10], 0);
  bool sawFocusLost = false, sawRelease = false;
  while (pollEvent(e)) {
    sawFocusLost |= e.type == WindowLostFocus;
    sawRelease |= e.type == KeyRelease && e.a == 0x10;  // the held key, let go for the window
  }
  EXPECT_TRUE(sawFocusLost);
  EXPECT_TRUE(sawRelease);
}

// Alt+Enter rebuilds the window in full screen over the output and back.
TEST_F(Wayland, AltEnterTogglesFullScreenAndBack) {
  ASSERT_EQ(openScreenBySize(160, 100, 32, 1, modeflag::noFrame, 0), 0);
  waylandFeedKeymap(keymapText("us").c_str());
  waylandFeedFocus(true);
  auto altEnter = [] {
    waylandFeedKey(evLeftAlt, true);
    waylandFeedModifiers(altMask, 0);
    waylandFeedKey(evEnter, true);
    waylandFeedKey(evEnter, false);
    waylandFeedModifiers(0, 0);
    waylandFeedKey(evLeftAlt, false);
  };
  altEnter();
  fill(9);
  settle();
  int32_t w = 0, h = 0;
  waylandSurfaceSize(w, h);
  EXPECT_EQ(w, 1024);
  EXPECT_EQ(h, 768);
  shownW = 1024;
  shownH = 640;
  EXPECT_EQ(wrongPixels(weston.screenshot(), 0, 64, 1024, 640, scaledPixel), 0);
  waylandFeedFocus(true);  // the new window's focus
  altEnter();
  settle();
  waylandSurfaceSize(w, h);
  EXPECT_EQ(w, 160);
  EXPECT_EQ(h, 100);
  const pellucet::Image shot = weston.screenshot();
  EXPECT_EQ(wrongPixelsSomewhere(shot, 160, 100, pagePixel), 0);
}

TEST_F(Wayland, HeldKeysRepeatAtTheCompositorsRate) {
  ASSERT_EQ(openScreenBySize(64, 48, 32, 1, modeflag::noFrame, 0), 0);
  waylandFeedKeymap(keymapText("us").c_str());
  waylandFeedFocus(true);
  while (takeKey() != 0) {
  }
  waylandFeedKey(evA, true);
  std::this_thread::sleep_for(std::chrono::milliseconds(900));  // weston: 400 ms, then 40 a second
  waylandFeedKey(evA, false);
  int count = 0;
  while (int32_t k = takeKey()) count += k == 'a';
  EXPECT_GE(count, 5);
  EXPECT_LE(count, 30);
}

TEST_F(Wayland, ButtonsWheelsAndLeaving) {
  ASSERT_EQ(openScreenBySize(64, 48, 32, 1, modeflag::noFrame, 0), 0);
  EventRecord e;
  waylandFeedPointer(10, 20, 0x110, true, 1000);
  int32_t x = 0, y = 0, wheel = 0, buttons = 0, clip = 0;
  const DisplayDriver* d = currentMode()->driver;
  ASSERT_EQ(d->getMouse(&x, &y, &wheel, &buttons, &clip), 0);
  EXPECT_EQ(x, 10);
  EXPECT_EQ(y, 20);
  EXPECT_EQ(buttons, 1);
  waylandFeedPointer(10, 20, 0x110, false, 1010);
  waylandFeedPointer(10, 20, 0x110, true, 1100);  // within the double-click time
  waylandFeedPointer(10, 20, 0x110, false, 1110);
  waylandFeedPointer(10, 20, 0x111, true, 2000);
  d->getMouse(&x, &y, &wheel, &buttons, &clip);
  EXPECT_EQ(buttons, 2);
  waylandFeedPointer(10, 20, 0x111, false, 2010);
  waylandFeedWheel(false, -10);  // up: forward
  waylandFeedWheel(false, -10);
  waylandFeedWheel(false, 5);    // half a notch: nothing yet
  d->getMouse(&x, &y, &wheel, &buttons, &clip);
  EXPECT_EQ(wheel, 2);
  bool doubleClick = false;
  while (pollEvent(e)) doubleClick |= e.type == MouseDoubleClick;
  EXPECT_TRUE(doubleClick);
  waylandFeedPointerLeave();
  bool left = false;
  while (pollEvent(e)) left |= e.type == MouseExit;
  EXPECT_TRUE(left);
}

// Events the public layer has, in words: buttons with what is held, wheel
// steps, the pointer leaving.
std::vector<std::string> pointerWords() {
  std::vector<std::string> out;
  pellucet::Event e;
  while (pellucet::pollEvent(e)) {
    using T = pellucet::EventType;
    if (e.type == T::ButtonPress) out.push_back("press " + std::to_string(e.button) + " holding " + std::to_string(e.buttons));
    if (e.type == T::ButtonRelease) out.push_back("release " + std::to_string(e.button) + " holding " + std::to_string(e.buttons));
    if (e.type == T::Wheel || e.type == T::HorizontalWheel)
      out.push_back(std::string(e.type == T::Wheel ? "wheel " : "hwheel ") + std::to_string(e.step));
    if (e.type == T::MouseLeave) out.push_back("leave");
  }
  return out;
}
using Words = std::vector<std::string>;

// Another surface of the client's (libdecor's title bar): its presses and
// wheels are not the program's, and the press there, whose release goes to
// the compositor's move, leaves nothing held. A press on the picture whose
// release goes elsewhere (a compositor's grab takes the pointer away) is
// let go as the pointer leaves, and that release, coming later, adds
// nothing. (Neither weston nor sway here gives a libdecor frame real input:
// weston's headless seat has no pointer and sway draws its own frames.)
TEST_F(Wayland, PressesAndWheelsOnTheFrameAreNotTheProgramsAndHeldButtonsGoWithThePointer) {
  ASSERT_EQ(openScreenBySize(64, 48, 32, 1, 0, 0), 0);
  pointerWords();
  waylandFeedPointerEnter(false, 30, 10);
  waylandFeedButton(0x110, true, 1000);
  waylandFeedWheelFrame(false, -1, 0, -15);
  EXPECT_EQ(pellucet::mouse().buttons, 0);
  waylandFeedPointerLeave();  // the move grab
  waylandFeedPointerEnter(false, 30, 10);
  waylandFeedButton(0x110, false, 1400);  // its release, had the grab passed it on
  EXPECT_EQ(pointerWords(), Words{});
  EXPECT_EQ(pellucet::mouse().buttons, 0);

  waylandFeedPointerEnter(true, 10, 10);
  waylandFeedButton(0x110, true, 3000);
  waylandFeedButton(0x114, true, 3010);
  EXPECT_EQ(pellucet::mouse().buttons, 17);
  waylandFeedPointerLeave();
  EXPECT_EQ(pellucet::mouse().buttons, 0);
  waylandFeedPointerEnter(true, 10, 10);
  waylandFeedButton(0x110, false, 3500);
  waylandFeedButton(0x114, false, 3510);
  EXPECT_EQ(pointerWords(), (Words{"press 1 holding 1", "press 16 holding 17", "release 1 holding 16",
                                   "release 16 holding 0", "leave"}));
  EXPECT_EQ(pellucet::mouse().buttons, 0);
}

// A frame's wheel notches count once, whatever axis value comes with them
// (10 units on weston, 15 on sway); a high-resolution wheel's part notches
// (axis_value120) add up, and touchpads' continuous values carry their
// remainder.
TEST_F(Wayland, WheelFramesCountNotchesOnceAndCarryTheRest) {
  ASSERT_EQ(openScreenBySize(64, 48, 32, 1, modeflag::noFrame, 0), 0);
  waylandFeedPointerEnter(true, 10, 10);
  pointerWords();
  waylandFeedWheelFrame(false, -1, 0, -15);  // a notch up on sway
  waylandFeedWheelFrame(false, -1, 0, -15);
  waylandFeedWheelFrame(false, 1, 0, 10);  // down on weston
  EXPECT_EQ(pointerWords(), (Words{"wheel 1", "wheel 1", "wheel -1"}));
  waylandFeedWheelFrame(false, 0, -60, -7.5);  // half a notch up: nothing yet
  EXPECT_EQ(pointerWords(), Words{});
  waylandFeedWheelFrame(false, 0, -60, -7.5);
  waylandFeedWheelFrame(true, 0, 240, 30);  // two notches right
  EXPECT_EQ(pointerWords(), (Words{"wheel 1", "hwheel 1", "hwheel 1"}));
  for (int i = 0; i < 3; ++i) waylandFeedWheelFrame(false, 0, 0, 4);  // a touchpad: 12 units, one step down
  EXPECT_EQ(pointerWords(), Words{"wheel -1"});
  for (int i = 0; i < 2; ++i) waylandFeedWheelFrame(false, 0, 0, 4);  // with the 2 left over, another
  EXPECT_EQ(pointerWords(), Words{"wheel -1"});
  // Absurd values are bounded, never a flood.
  waylandFeedWheelFrame(false, 1 << 30, 0, 0);
  EXPECT_LE(pointerWords().size(), 64u);
  // Wheels over the frame are libdecor's.
  waylandFeedPointerEnter(false, 10, 10);
  waylandFeedWheelFrame(false, -1, 0, -15);
  EXPECT_EQ(pointerWords(), Words{});
}

TEST_F(Wayland, LostCompositorActsAsACloseRequest) {
  ASSERT_EQ(openScreenBySize(64, 48, 32, 1, modeflag::noFrame, 0), 0);
  while (takeKey() != 0) {
  }
  weston.stop();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!keyWaiting() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(keyWaiting());
  EXPECT_EQ(waitKey(), closeKeyCode);
  lockScreen();  // drawing goes on harmlessly
  unlockScreen(-1, -1);
  currentMode()->driver->waitVsync();
  closeScreen();
}

// With the screen open and nothing happening, a program waiting in
// waitKey and in waitEvent sleeps: its threads wake twice a second at most
// (a window thread on a tick of its own, or a wait that looks for input
// every few milliseconds, wakes a hundred times). The compositor's close
// request ends each wait.
TEST_F(Wayland, AnIdleProgramSleeps) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "ThreadSanitizer's own thread wakes on a timer";
#endif
  ASSERT_EQ(openScreenBySize(64, 48, 32, 1, modeflag::noFrame, 0), 0);
  fill(8);
  settle();
  constexpr int ms = 2000, allowed = 2 * ms / 1000 + 3;
  int key = 0;
  const long inWaitKey = sleepsWhileWaiting(ms, [&] { key = pellucet::waitKey(); }, waylandFeedClose);
  EXPECT_NE(key, 0);
  EXPECT_LE(inWaitKey, allowed) << "wakes in " << ms << " ms of waitKey";
  pellucet::Event e;
  while (pellucet::pollEvent(e)) {
  }
  bool got = false;
  const long inWaitEvent = sleepsWhileWaiting(ms, [&] { got = pellucet::waitEvent(e, 20000); }, waylandFeedClose);
  EXPECT_TRUE(got);
  EXPECT_LE(inWaitEvent, allowed) << "wakes in " << ms << " ms of waitEvent";
}

TEST_F(Wayland, RepeatedModeSetsLeaveNothingBehind) {
  // The client library keeps a few kilobytes of its own from the first
  // connections on.
  for (int i = 0; i < 50; ++i) {
    ASSERT_EQ(openScreenBySize(80, 60, i % 2 ? 32 : 16, 1, modeflag::noFrame, 0), 0);
    closeScreen();
  }
  const long before = bytesInUse();
  const char* env = std::getenv("PEL_WAYLAND_CYCLES");
  const int cycles = env ? std::atoi(env) : 200;
  for (int i = 0; i < cycles; ++i) {
    ASSERT_EQ(openScreenBySize(80, 60, i % 2 ? 32 : 16, 1, modeflag::noFrame, 0), 0);
    closeScreen();
  }
  const long after = bytesInUse();
  EXPECT_LT(after - before, cycles * 16L) << before << " bytes before, " << after << " bytes after";
}

// A wlroots compositor: frames drawn by the compositor, and keys typed on a
// virtual keyboard, each with a keymap of its own; the pointer from a
// virtual pointer; what the client sent in its protocol trace.
class Sway : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("command -v sway grim wtype swaymsg >/dev/null 2>&1") != 0) GTEST_SKIP() << "no sway, grim or wtype";
    ASSERT_TRUE(sway.start()) << "sway did not start";
    unsetenv("DISPLAY");
    setenv("KELGFX", "Wayland", 1);
    trace();
  }
  void TearDown() override {
    closePointer();
    // Keys typed here are no later test's.
    while (currentMode() && takeKey() != 0) {
    }
    closeScreen();
    endTrace();
    sway.stop();
  }
  // Each wtype is a new virtual keyboard, whose first key is pressed before
  // the client has the keyboard (it arrives as held at the focus): a Shift
  // goes first.
  void type(const std::string& arguments) {
    ASSERT_EQ(std::system(sway.tool("wtype -k Shift_L -s 100 " + arguments).c_str()), 0) << arguments;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!keyWaiting() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  bool swaymsg(const std::string& command) {
    return std::system(sway.tool("swaymsg '" + command + "' >/dev/null 2>&1").c_str()) == 0;
  }

  // The client's side of the protocol as libwayland traces it (WAYLAND_DEBUG)
  // to standard error: kept in a file for the test, anything else written
  // there passed on at its end. Once on, libwayland traces every later
  // connection of the process: every test here traces.
  void trace() {
    traceFile = sway.runtimeDir + "/client-trace";
    const int fd = open(traceFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    std::fflush(stderr);
    savedStderr = dup(2);
    dup2(fd, 2);
    close(fd);
    setenv("WAYLAND_DEBUG", "client", 1);
  }
  static bool traced(const std::string& line) { return line.size() > 1 && line[0] == '[' && line.find("] ") != std::string::npos; }
  std::vector<std::string> tracedLines() const {
    std::fflush(stderr);
    std::ifstream in(traceFile);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
      if (traced(line)) lines.push_back(line);
    }
    return lines;
  }
  void endTrace() {
    unsetenv("WAYLAND_DEBUG");
    if (savedStderr < 0) return;
    std::fflush(stderr);
    dup2(savedStderr, 2);
    close(savedStderr);
    savedStderr = -1;
    std::ifstream in(traceFile);
    for (std::string line; std::getline(in, line);) {
      if (!traced(line)) std::fprintf(stderr, "%s\n", line.c_str());
    }
  }

  // One virtual pointer (the seat has a pointer while it lives), a command
  // a line, each given time to arrive; closing it takes the pointer away.
  bool pointer(const std::string& command) {
#ifdef PEL_VIRTUAL_POINTER
    if (!pointerTool) {
      pointerTool = popen(sway.tool("WAYLAND_DEBUG= " + std::string(PEL_VIRTUAL_POINTER)).c_str(), "w");
      if (!pointerTool) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the window takes the seat's new pointer
    }
    const bool sent = std::fprintf(pointerTool, "%s\n", command.c_str()) > 0 && std::fflush(pointerTool) == 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    return sent;
#else
    (void)command;
    return false;
#endif
  }
  void closePointer() {
    if (pointerTool) pclose(pointerTool);
    pointerTool = nullptr;
  }

  PrivateSway sway;
  std::string traceFile;
  int savedStderr = -1;
  FILE* pointerTool = nullptr;
};

// The window's app_id: the program's name.
std::string ourAppId() { return program_invocation_short_name; }

TEST_F(Sway, AFramedWindowGetsTheCompositorsFrameAndShowsThePage) {
  ASSERT_EQ(openScreenBySize(160, 100, 32, 1, 0, 0), 0);
  ASSERT_STREQ(currentMode()->driver->name, "Wayland");
  fill(11);
  settle();
  // A fixed-size window floats, with a title bar the compositor draws.
  const std::string tree = sway.tree();
  // Its app_id is the program's name, so that desktops tell programs apart.
  EXPECT_NE(tree.find("\"app_id\": \"" + ourAppId() + "\""), std::string::npos) << tree;
  EXPECT_NE(tree.find("\"border\": \"normal\""), std::string::npos) << tree;
  const pellucet::Image shot = sway.screenshot();
  ASSERT_TRUE(shot);
  EXPECT_EQ(wrongPixelsSomewhere(shot, 160, 100, pagePixel), 0);
  // Frameless: the compositor draws none.
  closeScreen();
  ASSERT_EQ(openScreenBySize(160, 100, 32, 1, modeflag::noFrame, 0), 0);
  settle();
  const std::string bare = sway.tree();
  EXPECT_EQ(bare.find("\"border\": \"normal\""), std::string::npos) << bare;
}

// A resizable window is tiled over the output: the picture follows the size
// the compositor gives, keeping its shape, with bars.
TEST_F(Sway, ResizableWindowsTakeTheTilesSizeAndKeepTheShape) {
  requestWindowScale({1, true});
  ASSERT_EQ(openScreenBySize(160, 100, 32, 1, 0, 0), 0);
  requestWindowScale({});
  fill(12);
  settle();
  int32_t w = 0, h = 0;
  waylandSurfaceSize(w, h);
  EXPECT_GT(w, 500);
  EXPECT_GT(h, 500);
  const PictureRect r = centredPicture(w, h, 160, 100);
  shownW = r.width;
  shownH = r.height;
  const pellucet::Image shot = sway.screenshot();
  int left = 0, top = 0;
  ASSERT_TRUE(locate(shot, r.width, r.height, left, top, scaledPixel)) << w << " x " << h;
  EXPECT_EQ(wrongPixels(shot, left, top, r.width, r.height, scaledPixel), 0);
  // The bars around it are black.
  int bars = 0;
  for (int y = top - r.y; y < top - r.y + h; ++y) {
    for (int x = left - r.x; x < left - r.x + w; ++x) {
      const bool inside = x >= left && x < left + r.width && y >= top && y < top + r.height;
      if (!inside) bars += (shot.pixel(x, y) & 0xFFFFFF) != 0;
    }
  }
  EXPECT_EQ(bars, 0);
}

// The compositor's own full screen (sway's command here, a maximise button
// elsewhere) switches a fixed-size window to full screen and back, unless
// switching is off.
TEST_F(Sway, TheCompositorsFullScreenSwitchesTheMode) {
  for (int32_t flags : {0, modeflag::noSwitching}) {
    ASSERT_EQ(openScreenBySize(160, 100, 32, 1, flags, 0), 0);
    fill(13);
    settle();
    auto fullScreen = [&](const char* how) {
      ASSERT_EQ(std::system(sway.tool("swaymsg '[app_id=" + ourAppId() + "] fullscreen " + how + "' >/dev/null").c_str()), 0);
      for (int i = 0; i < 5; ++i) settle();
    };
    fullScreen("enable");
    int32_t w = 0, h = 0;
    waylandSurfaceSize(w, h);
    EXPECT_EQ(w, flags ? 160 : 1024) << flags;
    EXPECT_EQ(h, flags ? 100 : 768) << flags;
    fullScreen("disable");
    waylandSurfaceSize(w, h);
    EXPECT_EQ(w, 160) << flags;
    EXPECT_EQ(h, 100) << flags;
    closeScreen();
  }
}

// The pointer's picture and the seat's pointer as the compositor heard of
// them. What the client asked for, in words: "enter" (the compositor's),
// "arrow" and "none" (set_cursor with a surface, with nil, each answering
// the last enter's serial), "release" (the pointer let go).
std::vector<std::string> pointerRequests(const std::vector<std::string>& lines) {
  std::vector<std::string> out;
  std::string serial = "?";
  for (const std::string& line : lines) {
    const std::size_t enter = line.find(".enter("), cursor = line.find(".set_cursor(");
    if (line.find("wl_pointer@") == std::string::npos) continue;
    if (enter != std::string::npos && line.find(" -> ") == std::string::npos) {
      serial = line.substr(enter + 7, line.find(',', enter) - enter - 7);
      out.push_back("enter");
    } else if (cursor != std::string::npos) {
      const std::string answered = line.substr(cursor + 12, line.find(',', cursor) - cursor - 12);
      out.push_back(std::string(line.find(", nil,") != std::string::npos ? "none" : "arrow") +
                    (answered == serial ? "" : " (serial " + answered + " after " + serial + ")"));
    } else if (line.find(" -> wl_pointer@") != std::string::npos && line.find(".release()") != std::string::npos) {
      out.push_back("release");
    }
  }
  return out;
}

// The pointer gets the theme's arrow as it enters and none while the
// program hides it (at the next enter too); a pointer that goes away is
// released; each wheel notch is one step, whatever units it comes with.
TEST_F(Sway, ThePointersPictureItsReleaseAndWheelNotches) {
#ifndef PEL_VIRTUAL_POINTER
  GTEST_SKIP() << "the build has no virtual pointer tool";
#endif
  ASSERT_EQ(openScreenBySize(160, 100, 32, 1, modeflag::fullScreen, 0), 0);
  settle();
  ASSERT_TRUE(pointer("move 500 400 1024 768"));
  settle();
  pellucet::showCursor(false);
  settle();
  closePointer();  // the seat's pointer goes
  settle();
  ASSERT_TRUE(pointer("move 510 410 1024 768"));
  settle();
  pellucet::showCursor(true);
  settle();
  EXPECT_EQ(pointerRequests(tracedLines()), (Words{"enter", "arrow", "none", "release", "enter", "none", "arrow"}));

  pointerWords();
  ASSERT_TRUE(pointer("scroll 5"));
  ASSERT_TRUE(pointer("scroll -3"));
  settle();
  EXPECT_EQ(pointerWords(), (Words{"wheel 1", "wheel 1", "wheel 1", "wheel 1", "wheel 1", "wheel -1", "wheel -1",
                                   "wheel -1"}));
}

// Every keyboard the seat takes back (each wtype's virtual keyboard ends
// with it) is released, not just forgotten by the client, which would
// leave the compositor holding one for each.
TEST_F(Sway, KeyboardsThatGoAreReleased) {
  ASSERT_EQ(openScreenBySize(64, 48, 32, 1, 0, 0), 0);
  settle();
  for (int i = 0; i < 3; ++i) {
    type("-k a");
    settle();
  }
  int taken = 0, released = 0;
  for (const std::string& line : tracedLines()) {
    taken += line.find(".get_keyboard(") != std::string::npos;
    released += line.find(" -> wl_keyboard@") != std::string::npos && line.find(".release()") != std::string::npos;
  }
  EXPECT_GE(taken, 3);
  EXPECT_EQ(released, taken);
}

// A held key repeats at the compositor's rate and delay (sway's, set here)
// and stops as the focus goes to another workspace, its release going
// elsewhere.
TEST_F(Sway, RepeatFollowsTheCompositorAndStopsWhenTheFocusGoes) {
  ASSERT_TRUE(swaymsg("input type:keyboard repeat_delay 150"));
  ASSERT_TRUE(swaymsg("input type:keyboard repeat_rate 40"));
  ASSERT_EQ(openScreenBySize(64, 48, 32, 1, 0, 0), 0);
  settle();
  pellucet::Event e;
  while (pellucet::pollEvent(e)) {
  }
  std::thread hold([&] {
    std::system(sway.tool("wtype -k Shift_L -s 100 -P a -s 1500 -p a 2>/dev/null").c_str());
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(700));  // 100 ms, the 150 ms delay, then about 18 repeats
  ASSERT_TRUE(swaymsg("workspace 2"));
  hold.join();
  settle();
  int before = 0, after = 0;
  bool gone = false;
  while (pellucet::pollEvent(e)) {
    gone |= e.type == pellucet::EventType::FocusLost;
    if (e.type == pellucet::EventType::KeyRepeat && e.scanCode == pellucet::scan::a) ++(gone ? after : before);
  }
  EXPECT_TRUE(gone);
  EXPECT_GE(before, 10);  // the usual 600 ms and 25 a second would give none or two
  EXPECT_EQ(after, 0);
}

// A character no key of a US keyboard has, typed on a virtual keyboard.
TEST_F(Sway, KeysTypedOnAVirtualKeyboard) {
  ASSERT_EQ(openScreenBySize(64, 48, 32, 1, 0, 0), 0);
  settle();
  type("\xc3\xa9");  // é
  EXPECT_EQ(readKey(), "\x82");
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr auto demoEndsWithin = std::chrono::seconds(3);
#else
constexpr auto demoEndsWithin = std::chrono::seconds(1);
#endif

TEST_F(Sway, TheDemoShowsItsDiscsAndEndsOnAKey) {
  const pid_t demo = fork();
  if (demo == 0) {
    setenv("KELGFX", "Wayland", 1);
    unsetenv("WAYLAND_DEBUG");  // its frames untraced
    execl(PEL_DEMO_BINARY, "pellucet", nullptr);
    _exit(127);
  }
  // The discs light most of the screen's middle once the first frames are up.
  int green = 0;
  for (int tries = 0; tries < 100 && green <= 40000; ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const pellucet::Image shot = sway.screenshot();
    green = 0;
    for (int y = 0; y < shot.height(); y += 2) {
      for (int x = 0; x < shot.width(); x += 2) {
        const uint32_t p = shot.pixel(x, y) & 0xFFFFFF;
        green += (p & 0xFF00FF) == 0 && (p & 0xFF00) != 0;
      }
    }
  }
  EXPECT_GT(green, 40000);
  EXPECT_NE(sway.tree().find("Pellucet v0.50 by Ixo"), std::string::npos);
  ASSERT_EQ(std::system(sway.tool("wtype -k Shift_L -s 100 -k q").c_str()), 0);
  const auto pressed = std::chrono::steady_clock::now();
  int status = -1;
  pid_t ended = 0;
  while (!ended && std::chrono::steady_clock::now() - pressed < std::chrono::seconds(5)) {
    ended = waitpid(demo, &status, WNOHANG);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!ended) {
    kill(demo, SIGKILL);
    waitpid(demo, &status, 0);
  }
  ASSERT_TRUE(ended) << "the demo did not end on a key";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_LT(std::chrono::steady_clock::now() - pressed, demoEndsWithin);
}

// The number of the object named `kind@N` first in a traced line.
long idOf(const std::string& line, const std::string& kind) {
  const std::size_t at = line.find(kind);
  return at == std::string::npos ? -1 : std::atol(line.c_str() + at + kind.size());
}
bool sent(const std::string& line) { return line.find("] -> ") != std::string::npos || line.find("]  -> ") != std::string::npos; }

// What the trace shows of the buffers: each attached while the compositor
// held it (from its attach to its release), or made over bytes of one the
// compositor held; the pools made and grown, the buffers made.
struct BufferRecord {
  std::string faults;
  int pools = 0, poolResizes = 0, buffers = 0;
};
BufferRecord bufferRecord(const std::vector<std::string>& lines) {
  BufferRecord r;
  struct Bytes {
    long pool, from, end;
  };
  std::map<long, Bytes> bytes;  // by wl_buffer id
  std::map<long, bool> held;
  for (const std::string& line : lines) {
    if (line.find("wl_display@1.error(") != std::string::npos) r.faults += line.substr(line.find("error")) + "; ";
    if (sent(line) && line.find(".create_pool(") != std::string::npos) ++r.pools;
    if (sent(line) && line.find("wl_shm_pool@") != std::string::npos && line.find(".resize(") != std::string::npos)
      ++r.poolResizes;
    if (sent(line) && line.find(".create_buffer(") != std::string::npos) {
      ++r.buffers;
      const long pool = idOf(line, "wl_shm_pool@");
      const std::vector<long> a = ProtocolTrace::arguments(line, ".create_buffer");  // id, offset, w, h, stride, format
      if (a.size() < 6) continue;
      const Bytes made{pool, a[1], a[1] + a[4] * a[3]};
      for (const auto& [id, b] : bytes) {
        if (held[id] && b.pool == made.pool && made.from < b.end && b.from < made.end)
          r.faults += "wl_buffer@" + std::to_string(a[0]) + " made over held wl_buffer@" + std::to_string(id) + "; ";
      }
      bytes[a[0]] = made;
      held[a[0]] = false;
    } else if (sent(line) && line.find(".attach(wl_buffer@") != std::string::npos) {
      const long id = ProtocolTrace::arguments(line, ".attach")[0];
      if (held[id]) r.faults += "wl_buffer@" + std::to_string(id) + " attached while held; ";
      held[id] = true;
    } else if (!sent(line) && line.find("wl_buffer@") != std::string::npos && line.find(".release()") != std::string::npos) {
      held[idOf(line, "wl_buffer@")] = false;
    } else if (sent(line) && line.find("wl_buffer@") != std::string::npos && line.find(".destroy()") != std::string::npos) {
      // Gone with its pool: its id may name a new buffer.
      held.erase(idOf(line, "wl_buffer@"));
      bytes.erase(idOf(line, "wl_buffer@"));
    }
  }
  return r;
}

// A member's number in the text of a JSON object, from `from` on.
int jsonNumber(const std::string& text, std::size_t from, const std::string& key) {
  const std::size_t at = text.find("\"" + key + "\": ", from);
  return at == std::string::npos ? -1 : std::atoi(text.c_str() + at + key.size() + 4);
}

// The window's place on the layout, frame and title bar included, from
// sway's tree: the "rect" of the node holding our app_id (the borders) and
// its "deco_rect" (the title bar above, in the same coordinates for a
// floating window).
bool windowRect(const std::string& tree, int& x, int& y, int& width, int& height, int& titleBar) {
  const std::size_t app = tree.find("\"app_id\": \"" + ourAppId() + "\"");
  const std::size_t rect = app == std::string::npos ? app : tree.rfind("\"rect\": {", app);
  const std::size_t deco = app == std::string::npos ? app : tree.rfind("\"deco_rect\": {", app);
  if (rect == std::string::npos || deco == std::string::npos) return false;
  titleBar = jsonNumber(tree, deco, "height");
  x = jsonNumber(tree, rect, "x");
  y = std::min(jsonNumber(tree, rect, "y"), jsonNumber(tree, deco, "y"));
  width = jsonNumber(tree, rect, "width");
  height = jsonNumber(tree, rect, "y") + jsonNumber(tree, rect, "height") - y;
  return true;
}

void settleLonger() {
  for (int i = 0; i < 4; ++i) settle();
}

// Sway with two outputs side by side, 1200 x 900 real pixels each (sway's
// scales keep the real size: at 1.5 it is 800 x 600 logical, which places a
// centred window on whole real pixels).
class SwayOutputs : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("command -v sway grim swaymsg >/dev/null 2>&1") != 0) GTEST_SKIP() << "no sway, grim or swaymsg";
    ASSERT_TRUE(sway.start(1200, 900, 2)) << "sway did not start";
    unsetenv("DISPLAY");
    setenv("KELGFX", "Wayland", 1);
  }
  void TearDown() override {
    closeScreen();
    requestWindowScale({});
    sway.stop();
  }
  PrivateSway sway;
};

// The window's scale is that of the output it is on: opened on the focused
// second output of scale 2, moved to the first of scale 1 and back, each
// page pixel is zoom x zoom real pixels; full screen goes to the focused
// output and fills its real pixels.
TEST_F(SwayOutputs, TheScaleAndFullScreenComeFromTheWindowsOutput) {
  ASSERT_TRUE(sway.command("output HEADLESS-2 scale 2"));
  ASSERT_TRUE(sway.command("focus output HEADLESS-2"));
  requestWindowScale({3, false});
  ASSERT_EQ(openScreenBySize(160, 100, 32, 1, modeflag::noFrame, 0), 0);
  EXPECT_EQ(publishedWindowZoom(), 3);
  fill(21);
  settleLonger();
  shownW = 480;
  shownH = 300;
  pellucet::Image shot = sway.screenshot("HEADLESS-2");
  ASSERT_EQ(shot.width(), 1200);
  EXPECT_EQ(wrongPixelsSomewhere(shot, 480, 300, scaledPixel), 0) << "opened on the second output";
  for (const char* output : {"HEADLESS-1", "HEADLESS-2"}) {
    ASSERT_TRUE(sway.command("[app_id=" + ourAppId() + "] move container to output " + output));
    ASSERT_TRUE(sway.command(std::string("focus output ") + output));
    settleLonger();
    shot = sway.screenshot(output);
    EXPECT_EQ(wrongPixelsSomewhere(shot, 480, 300, scaledPixel), 0) << "moved to " << output;
  }
  closeScreen();

  requestWindowScale({});
  ASSERT_TRUE(sway.command("focus output HEADLESS-2"));
  ASSERT_EQ(openScreenBySize(320, 200, 32, 1, modeflag::fullScreen, 0), 0);
  fill(22);
  settleLonger();
  int32_t w = 0, h = 0;
  waylandSurfaceSize(w, h);
  EXPECT_EQ(w, 600);
  EXPECT_EQ(h, 450);
  shot = sway.screenshot("HEADLESS-2");
  ASSERT_EQ(shot.width(), 1200);
  shownW = 1200;
  shownH = 750;
  EXPECT_EQ(wrongPixels(shot, 0, 75, 1200, 750, scaledPixel), 0);
}

// At a fractional scale (1.5) the buffers are drawn at the output's real
// resolution and shown 1:1: no pixel of the picture is a blend, each page
// pixel is a block of zoom x zoom real pixels; full screen likewise.
TEST_F(SwayOutputs, FractionalScalesShowEveryPixelUnblended) {
  ASSERT_TRUE(sway.command("output HEADLESS-1 scale 1.5"));
  ASSERT_TRUE(sway.command("focus output HEADLESS-1"));
  requestWindowScale({3, false});
  ASSERT_EQ(openScreenBySize(160, 100, 32, 1, modeflag::noFrame, 0), 0);
  fill(23);
  settleLonger();
  shownW = 480;
  shownH = 300;
  pellucet::Image shot = sway.screenshot("HEADLESS-1");
  ASSERT_EQ(shot.width(), 1200);
  EXPECT_EQ(wrongPixelsSomewhere(shot, 480, 300, scaledPixel), 0);
  // The program hears of the window in its logical pixels.
  const pellucet::WindowSize size = pellucet::windowSize();
  EXPECT_EQ(size.width, 320);
  EXPECT_EQ(size.picture.width, 320);
  EXPECT_EQ(size.picture.height, 200);
  closeScreen();

  requestWindowScale({});
  ASSERT_EQ(openScreenBySize(300, 225, 32, 1, modeflag::fullScreen, 0), 0);
  fill(24);
  settleLonger();
  int32_t w = 0, h = 0;
  waylandSurfaceSize(w, h);
  EXPECT_EQ(w, 800);
  EXPECT_EQ(h, 600);
  shot = sway.screenshot("HEADLESS-1");
  shownW = 1200;
  shownH = 900;
  EXPECT_EQ(wrongPixels(shot, 0, 0, 1200, 900, scaledPixel), 0);
}

// zoomToFit leaves room for the compositor's title bar: a 320 x 256 screen
// on a 1280 x 1024 output opens at zoom 3, its frame whole on the output.
TEST(SwayZoomToFit, TheWindowAndItsTitleBarFitTheOutput) {
  if (std::system("command -v sway grim swaymsg >/dev/null 2>&1") != 0) GTEST_SKIP() << "no sway, grim or swaymsg";
  PrivateSway sway;
  ASSERT_TRUE(sway.start(1280, 1024)) << "sway did not start";
  unsetenv("DISPLAY");
  setenv("KELGFX", "Wayland", 1);
  requestWindowScale({windowzoom::fit, false});
  ASSERT_EQ(openScreenBySize(320, 256, 32, 1, 0, 0), 0);
  requestWindowScale({});
  fill(25);
  settleLonger();
  const std::string tree = sway.tree();
  int x = 0, y = 0, w = 0, h = 0, titleBar = 0;
  ASSERT_TRUE(windowRect(tree, x, y, w, h, titleBar)) << tree;
  EXPECT_GT(titleBar, 0) << "no title bar";
  EXPECT_GE(x, 0);
  EXPECT_GE(y, 0) << "the title bar is above the output, at zoom " << publishedWindowZoom();
  EXPECT_LE(x + w, 1280) << w;
  EXPECT_LE(y + h, 1024) << h << " tall at zoom " << publishedWindowZoom();
  closeScreen();
}

// The trace of a window on sway.
class SwayTrace : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("command -v sway swaymsg >/dev/null 2>&1") != 0) GTEST_SKIP() << "no sway or swaymsg";
    ASSERT_TRUE(sway.start()) << "sway did not start";
    unsetenv("DISPLAY");
    setenv("KELGFX", "Wayland", 1);
    ASSERT_TRUE(trace.start(sway.runtimeDir));
  }
  void TearDown() override {
    closeScreen();
    requestWindowScale({});
    trace.stop();
    sway.stop();
  }
  PrivateSway sway;
  ProtocolTrace trace;
};

// While the program holds the pixels for 2 s, every ping the compositor
// sends is answered (sway pings a client for each new toplevel: one is
// made and dropped on the window's connection during the hold). The trace
// shows an event as it is dispatched; a line of the test's own marks the
// end of the hold.
TEST_F(SwayTrace, PingsAreAnsweredWhileTheProgramHoldsThePixels) {
  ASSERT_EQ(openScreenBySize(64, 48, 32, 1, modeflag::noFrame, 0), 0);
  fill(26);
  settle();
  const std::size_t before = trace.lines(0).size();
  lockScreen();
  waylandProvokePing();
  std::this_thread::sleep_for(std::chrono::seconds(2));
  std::fprintf(stderr, "[0] the pixels let go\n");
  unlockScreen(-1, -1);
  settle();
  const std::vector<std::string> lines = trace.lines(0);
  std::map<long, bool> unanswered;
  int pings = 0;
  for (std::size_t i = before; i < lines.size() && lines[i].find("the pixels let go") == std::string::npos; ++i) {
    if (!sent(lines[i]) && lines[i].find(".ping(") != std::string::npos) {
      unanswered[ProtocolTrace::arguments(lines[i], ".ping")[0]] = true;
      ++pings;
    }
    if (sent(lines[i]) && lines[i].find(".pong(") != std::string::npos) unanswered.erase(ProtocolTrace::arguments(lines[i], ".pong")[0]);
  }
  EXPECT_GE(pings, 1) << "no ping answered while the pixels were held";
  EXPECT_TRUE(unanswered.empty()) << unanswered.size() << " pings unanswered while the pixels were held";
}

// Frames as fast as the program draws them over 50 resizes: no buffer is
// attached while the compositor holds it or made over its bytes, and the
// one pool made is grown and reused, not made again at each size.
TEST_F(SwayTrace, BuffersWaitForTheirReleaseAndThePoolIsReused) {
  requestWindowScale({1, true});
  ASSERT_EQ(openScreenBySize(160, 100, 32, 1, 0, 0), 0);
  settle();
  EXPECT_TRUE(sway.command("[app_id=" + ourAppId() + "] floating enable"));
  std::mt19937 random(27);
  for (int step = 0; step < 50; ++step) {
    const int w = 200 + (step * 37) % 400, h = 150 + (step * 23) % 300;
    if (!sway.command("[app_id=" + ourAppId() + "] resize set " + std::to_string(w) + " " + std::to_string(h))) break;
    for (int frame = 0; frame < 3; ++frame) {
      fill(static_cast<uint32_t>(random()));
      std::this_thread::sleep_for(std::chrono::milliseconds(frame * 4));
    }
  }
  settle();
  const BufferRecord r = bufferRecord(trace.lines(0));
  EXPECT_EQ(r.faults, "");
  EXPECT_GE(r.buffers, 60) << "the window was not resized";
  EXPECT_LE(r.pools + r.poolResizes, 10) << r.pools << " pools made, " << r.poolResizes << " grown";
}

TEST(WaylandRefusal, WithoutAWaylandDisplayTheNextBackEndIsTried) {
  unsetenv("WAYLAND_DISPLAY");
  unsetenv("DISPLAY");
  unsetenv("KELGFX");
  EXPECT_NE(openScreenBySize(64, 48, 32, 1, 0, 0), 0);
  const std::string why = modeSetFailure();
  EXPECT_NE(why.find("Wayland: no Wayland display"), std::string::npos) << why;
}

}  // namespace
