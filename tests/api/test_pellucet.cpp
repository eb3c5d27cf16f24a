// The public layer over the runtime: typed events, the failure text, the
// palette call that repaints, and the calls that only pass through.
#include <gtest/gtest.h>

#include <pellucet/pellucet.h>

#include <cstdlib>
#include <string>

#include "../gfx/fake_drivers.h"
#include "gfx/input.h"
#include "gfx/mode.h"

namespace {

class Api : public ::testing::Test {
 protected:
  void SetUp() override { fake::Locking::install(); }
  void TearDown() override {
    pellucet::closeScreen();
    pel::setBackendList(nullptr);
  }
};

}  // namespace

TEST_F(Api, ScreenInfoIsTheModeOpened) {
  ASSERT_TRUE(pellucet::openScreen(320, 200, 24, 3));
  const pellucet::ScreenInfo info = pellucet::screenInfo();
  EXPECT_EQ(info.width, 320);
  EXPECT_EQ(info.height, 200);
  EXPECT_EQ(info.depth, 32);
  EXPECT_EQ(info.bytesPerPixel, 4);
  EXPECT_EQ(info.pitch, 1280);
  EXPECT_EQ(info.pages, 3);
  EXPECT_STREQ(info.backend, "Locking");
  EXPECT_STREQ(pellucet::lastFailure(), "");
  pellucet::closeScreen();
  EXPECT_FALSE(pellucet::screenOpen());
  EXPECT_EQ(pellucet::screenInfo().width, 0);
  EXPECT_STREQ(pellucet::screenInfo().backend, "");
}

TEST_F(Api, TypedEventsCarryTheDocumentedFields) {
  ASSERT_TRUE(pellucet::openScreen(64, 48, 32, 1));
  pel::ScreenMode* m = pel::currentMode();
  pellucet::Event e;
  EXPECT_FALSE(pellucet::pollEvent(e));
  m->keyState[0x2A] = 1;  // left Shift held
  m->keyState[0x1D] = 1;  // Ctrl held
  pel::postEvent({pel::KeyPress, 0x1E, 'A', 0, 0});
  pel::postEvent({pel::KeyRelease, 0x48, 0, 0, 0});
  pel::postEvent({pel::MouseMove, 0xFFFE, 7, 3, -4});
  pel::postEvent({pel::MouseButtonPress, 2, 0, 0, 0});
  pel::postEvent({pel::MouseWheel, -1, 0, 0, 0});
  pel::postEvent({pel::WindowGotFocus, 0, 0, 0, 0});
  pel::postEvent({pel::WindowClose, 0, 0, 0, 0});

  ASSERT_TRUE(pellucet::pollEvent(e));
  EXPECT_EQ(e.type, pellucet::EventType::KeyPress);
  EXPECT_EQ(e.scanCode, 0x1E);
  EXPECT_EQ(e.character, 'A');
  EXPECT_EQ(e.modifiers, pellucet::shift | pellucet::leftShift | pellucet::control);
  m->keyState[0x2A] = m->keyState[0x1D] = 0;
  ASSERT_TRUE(pellucet::pollEvent(e));
  EXPECT_EQ(e.type, pellucet::EventType::KeyRelease);
  EXPECT_EQ(e.scanCode, 0x48);
  EXPECT_EQ(e.character, 0);
  EXPECT_EQ(e.modifiers, 0u);
  ASSERT_TRUE(pellucet::pollEvent(e));
  EXPECT_EQ(e.type, pellucet::EventType::MouseMove);
  EXPECT_EQ(e.x, -2);  // left of the picture: the unsigned 16-bit value read back signed
  EXPECT_EQ(e.y, 7);
  EXPECT_EQ(e.dx, 3);
  EXPECT_EQ(e.dy, -4);
  // Events without a position get the pointer's, from the back end.
  ASSERT_TRUE(pellucet::pollEvent(e));
  EXPECT_EQ(e.type, pellucet::EventType::ButtonPress);
  EXPECT_EQ(e.button, 2);
  EXPECT_EQ(e.x, 10);
  EXPECT_EQ(e.y, 20);
  ASSERT_TRUE(pellucet::pollEvent(e));
  EXPECT_EQ(e.type, pellucet::EventType::Wheel);
  EXPECT_EQ(e.wheel, -1);
  EXPECT_EQ(e.x, 10);
  ASSERT_TRUE(pellucet::pollEvent(e));
  EXPECT_EQ(e.type, pellucet::EventType::FocusGained);
  ASSERT_TRUE(pellucet::waitEvent(e, 0));
  EXPECT_EQ(e.type, pellucet::EventType::Close);
  EXPECT_FALSE(pellucet::waitEvent(e, 20));  // times out
  const pellucet::Mouse now = pellucet::mouse();
  EXPECT_EQ(now.wheel, 3);
  EXPECT_EQ(now.buttons, 5);
}

TEST_F(Api, FailureTextNamesEachBackEndTried) {
  fake::install();
  fake::A::behaviour.acceptRate = -2;
  fake::A::behaviour.reason = "no display";
  EXPECT_FALSE(pellucet::openScreen(320, 200));
  EXPECT_STREQ(pellucet::lastFailure(), "A: no display; B: refused");
  EXPECT_FALSE(pellucet::openScreen(320, 200, 12));
  EXPECT_NE(std::string(pellucet::lastFailure()).find("size"), std::string::npos) << pellucet::lastFailure();
}

TEST_F(Api, PaletteCallRepaintsAndDrawingMarksRows) {
  fake::install();
  ASSERT_TRUE(pellucet::openScreen(32, 16, 8, 1));
  pel::ScreenMode* m = pel::currentMode();
  std::fill(m->dirty, m->dirty + 16, 0);
  fake::A::palette.clear();
  pellucet::setPalette(5, 0x10, 0x20, 0x30);
  EXPECT_EQ(m->palette[5], 0x302010u);
  ASSERT_EQ(fake::A::palette.size(), 1u);
  EXPECT_EQ(fake::A::palette[0], "5:16,32,48");
  for (int y = 0; y < 16; ++y) EXPECT_EQ(m->dirty[y], 1) << y;  // the whole screen repaints
  pellucet::setPalette(300, 1, 2, 3);  // out of range: nothing
  EXPECT_EQ(fake::A::palette.size(), 1u);
  // Drawing reaches the work page; the view's rows are marked.
  std::fill(m->dirty, m->dirty + 16, 0);
  pellucet::fillBox(2, 3, 4, 5, 9);
  EXPECT_EQ(m->pages[0][3 * 32 + 2], 9);
  EXPECT_EQ(m->pages[0][5 * 32 + 4], 9);
  EXPECT_EQ(m->pages[0][6 * 32 + 4], 0);
  EXPECT_EQ(m->dirty[3], 1);
  EXPECT_EQ(m->dirty[6], 0);
  pellucet::Pixels p = pellucet::lockPixels();
  ASSERT_EQ(p.data, m->pages[0]);
  p.data[15 * p.pitch + 31] = 7;
  pellucet::unlockPixels(15, 15);
  EXPECT_EQ(m->dirty[15], 1);
  EXPECT_EQ(m->lockCount, 0);
}

TEST_F(Api, FlipCopiesTheWorkPageToTheVisibleOne) {
  ASSERT_TRUE(pellucet::openScreen(16, 8, 32, 2));
  ASSERT_TRUE(pellucet::setPages(1, 0));
  pellucet::clear(0xFF102030u);
  pel::ScreenMode* m = pel::currentMode();
  EXPECT_EQ(reinterpret_cast<uint32_t*>(m->pages[0])[0], 0xFF000000u);
  pellucet::flip();
  EXPECT_EQ(reinterpret_cast<uint32_t*>(m->pages[0])[16 * 8 - 1], 0xFF102030u);
  const int before = fake::Locking::vsyncs;
  pellucet::waitVsync();
  EXPECT_EQ(fake::Locking::vsyncs, before + 1);
  pellucet::text(0, 0, "Hi", 0xFFFFFFFFu);
  int lit = 0;
  for (int i = 0; i < 16 * 8; ++i) lit += reinterpret_cast<uint32_t*>(m->pages[1])[i] == 0xFFFFFFFFu;
  EXPECT_GT(lit, 0);
}
