// Zoomed and resizable windows on every Windows back end, under Wine: the
// page scaled by the same rule as everywhere (destination (x, y) shows page
// pixel (x * w / W, y * h / H)), black bars after a resize, the band of one
// changed row, the pointer both ways, and full screen without a display mode.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gfx/driver.h"
#include "gfx/drivers/gl_setup.h"
#include "gfx/drivers/win32/d2d_testing.h"
#include "gfx/drivers/win32/ddraw_testing.h"
#include "gfx/drivers/win32/gdi_testing.h"
#include "gfx/drivers/win32/win32_window.h"
#include "gfx/drivers/window_scale.h"
#include "gfx/input.h"
#include "gfx/mode.h"
#include "gfx/pages.h"
#include "win32_test_support.h"

using namespace pel;
using namespace pel::test;

namespace {

uint32_t colour(int x, int y) { return 0x00400000u | static_cast<uint32_t>(x) << 8 | static_cast<uint32_t>(y); }

// Pixels of the client area that differ from the picture at r with bars
// around it; `changedRow` (a page row) is all 0xFFEEDD.
int wrongPixels(HWND w, int clientW, int clientH, PictureRect r, int changedRow = -1) {
  const std::vector<uint32_t> pixels = clientPixels(w, clientW, clientH, true);
  int wrong = 0;
  for (int y = 0; y < clientH; ++y) {
    for (int x = 0; x < clientW; ++x) {
      const int dx = x - r.x, dy = y - r.y;
      uint32_t expected = 0;
      if (dx >= 0 && dy >= 0 && dx < r.width && dy < r.height) {
        const int py = dy * 100 / r.height;
        expected = py == changedRow ? 0x00FFEEDDu : colour(dx * 160 / r.width, py);
      }
      wrong += pixels[static_cast<std::size_t>(y) * clientW + x] != expected;
    }
  }
  return wrong;
}

// Waits (5 s at most) until the window shows the picture; the count left.
int settledWrongPixels(HWND w, int clientW, int clientH, PictureRect r, int changedRow = -1) {
  int wrong = -1;
  waitFor([&] { return (wrong = wrongPixels(w, clientW, clientH, r, changedRow)) == 0; });
  return wrong;
}

void fillPage() {
  ScreenMode* m = currentMode();
  lockScreen();
  for (int y = 0; y < 100; ++y) {
    for (int x = 0; x < 160; ++x) reinterpret_cast<uint32_t*>(m->visibleBuffer + y * m->pitch)[x] = colour(x, y);
  }
  unlockScreen(-1, -1);
}

SIZE clientSize(HWND w) {
  RECT r{};
  GetClientRect(w, &r);
  return {r.right, r.bottom};
}

// The window's client area made `width` x `height`, as a user dragging its border would.
void resizeClient(HWND w, int width, int height) {
  RECT outer{0, 0, width, height};
  AdjustWindowRect(&outer, static_cast<DWORD>(GetWindowLongA(w, GWL_STYLE)), FALSE);
  SetWindowPos(w, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// The back end a check runs on, named as KELGFX names it.
std::string backend;

void useBackend(const char* name) {
  backend = name;
  _putenv_s("KELGFX", name);
  while (takeKey() != 0) {
  }
}

// The last band of scaled rows the back end sent: first row and count.
std::pair<int32_t, int32_t> lastScaledBand() {
  int32_t first = 0, lines = 0;
  if (backend == "GDI") gdiLastScaledBand(first, lines);
  if (backend == "Direct2D") d2dLastBand(first, lines);
  if (backend == "DirectX") ddrawLastBand(first, lines);
  return {first, lines};
}

void zoomedWindowsScaleThePageAndFollowResizes(const char* name) {
  useBackend(name);
  requestWindowScale({3, true});
  ASSERT_EQ(openScreenBySize(160, 100, 32, 1, 0, 0), 0);
  requestWindowScale({});
  EXPECT_STREQ(currentMode()->driver->name, name);
  EXPECT_EQ(publishedWindowZoom(), 3);
  fillPage();
  const HWND w = win32::windowHandle();
  SIZE size = clientSize(w);
  ASSERT_EQ(size.cx, 480);
  ASSERT_EQ(size.cy, 300);
  EXPECT_EQ(settledWrongPixels(w, 480, 300, {0, 0, 480, 300}), 0);

  // 500 x 260 holds the picture at 416 x 260, 42 pixels from the left.
  resizeClient(w, 500, 260);
  size = clientSize(w);
  ASSERT_EQ(size.cx, 500);
  ASSERT_EQ(size.cy, 260);
  const PictureRect r = centredPicture(500, 260, 160, 100);
  EXPECT_EQ(settledWrongPixels(w, 500, 260, r), 0);

  // Page row 37 is picture rows 97 and 98 (ceil(37 * 2.6) to ceil(38 * 2.6)).
  ScreenMode* m = currentMode();
  lockScreen();
  std::fill_n(reinterpret_cast<uint32_t*>(m->visibleBuffer + 37 * m->pitch), 160, 0x00FFEEDDu);
  unlockScreen(37, 37);
  EXPECT_EQ(settledWrongPixels(w, 500, 260, r, 37), 0);
  EXPECT_EQ(lastScaledBand(), std::make_pair(97, 2));

  // The pointer: client (42 + 30, 50) is page (11, 19); the bars are outside.
  const DisplayDriver* d = currentMode()->driver;
  SetForegroundWindow(w);
  POINT p{42 + 30, 50};
  ClientToScreen(w, &p);
  SetCursorPos(p.x, p.y);
  int32_t v[5] = {};
  EXPECT_TRUE(waitFor([&] { return d->getMouse(&v[0], &v[1], &v[2], &v[3], &v[4]) == 0 && v[0] == 11; }));
  EXPECT_EQ(v[0], 11);
  EXPECT_EQ(v[1], 19);
  p = {20, 50};
  ClientToScreen(w, &p);
  SetCursorPos(p.x, p.y);
  EXPECT_TRUE(waitFor([&] { return d->getMouse(&v[0], &v[1], &v[2], &v[3], &v[4]) == -1; }));
  // Page (10, 20) is the block from client x 68 to 70 and y 52 to 54.
  lockScreen();
  d->setMouse(10, 20, -1, -1);
  unlockScreen(1, 0);
  GetCursorPos(&p);
  ScreenToClient(w, &p);
  EXPECT_EQ(p.x, 42 + 27);
  EXPECT_EQ(p.y, 53);
  closeScreen();
}

void fullScreenWithoutADisplayModeScalesThePicture(const char* name) {
  useBackend(name);
  requestWindowScale({1, false});
  ASSERT_EQ(openScreenBySize(160, 100, 32, 1, modeflag::fullScreen, 0), 0);
  requestWindowScale({});
  EXPECT_STREQ(currentMode()->driver->name, name);
  fillPage();
  const HWND w = win32::windowHandle();
  const SIZE size = clientSize(w);
  ASSERT_EQ(size.cx, 1280);
  ASSERT_EQ(size.cy, 1024);
  EXPECT_EQ(settledWrongPixels(w, 1280, 1024, {0, 112, 1280, 800}), 0);
  closeScreen();
}

}  // namespace

TEST(Zoom, GdiWindowsScaleThePageAndFollowResizes) { zoomedWindowsScaleThePageAndFollowResizes("GDI"); }
TEST(Zoom, Direct2DWindowsScaleThePageAndFollowResizes) { zoomedWindowsScaleThePageAndFollowResizes("Direct2D"); }
TEST(Zoom, DirectXWindowsScaleThePageAndFollowResizes) { zoomedWindowsScaleThePageAndFollowResizes("DirectX"); }
// Wine's plain X screen offers no 160 x 100 display mode: with the option
// on, full screen is a frameless window over the 1280 x 1024 monitor with
// the picture scaled into 1280 x 800 in the middle.
TEST(Zoom, GdiFullScreenWithoutADisplayModeScalesThePicture) { fullScreenWithoutADisplayModeScalesThePicture("GDI"); }
TEST(Zoom, Direct2DFullScreenWithoutADisplayModeScalesThePicture) {
  fullScreenWithoutADisplayModeScalesThePicture("Direct2D");
}
TEST(Zoom, DirectXFullScreenWithoutADisplayModeScalesThePicture) {
  fullScreenWithoutADisplayModeScalesThePicture("DirectX");
}

// OpenGL: the program draws in page pixels (7 x 7 blocks cleared through
// scissor boxes) and the window shows them at zoom 3, then in the middle of
// a resized window with black bars, every pixel where the framebuffer back
// ends would put it.
TEST(Zoom, OpenGlWindowsScaleWhatTheProgramDraws) {
  _putenv_s("KELGFX", "OpenGL");
  requestWindowScale({3, true});
  ASSERT_EQ(openScreenBySize(160, 100, 32, 1, modeflag::openGl, 0), 0);
  requestWindowScale({});
  const GlEntryPoints& gl = *glEntryPoints();
  constexpr int block = 7;
  auto blockColour = [](int bx, int by) {
    return 0x200000u | static_cast<uint32_t>(bx * 11) << 8 | static_cast<uint32_t>(by * 16);
  };
  auto draw = [&] {
    gl.glViewport(0, 0, 160, 100);
    gl.glClearColor(1.0f, 1.0f, 1.0f, 1.0f);  // the bars stay black all the same
    gl.glClear(GL_COLOR_BUFFER_BIT);
    gl.glEnable(GL_SCISSOR_TEST);
    for (int by = 0; by * block < 100; ++by) {
      for (int bx = 0; bx * block < 160; ++bx) {
        const uint32_t c = blockColour(bx, by);
        gl.glScissor(bx * block, 100 - (by + 1) * block, block, block);
        gl.glClearColor(static_cast<float>(c >> 16) / 255.0f, static_cast<float>(c >> 8 & 0xFF) / 255.0f,
                        static_cast<float>(c & 0xFF) / 255.0f, 1.0f);
        gl.glClear(GL_COLOR_BUFFER_BIT);
      }
    }
    gl.glDisable(GL_SCISSOR_TEST);
    copyPage(-1, -1);
  };
  auto wrong = [&](int clientW, int clientH, PictureRect r) {
    const std::vector<uint32_t> pixels = clientPixels(win32::windowHandle(), clientW, clientH, true);
    int count = 0;
    for (int y = 0; y < clientH; ++y) {
      for (int x = 0; x < clientW; ++x) {
        const int dx = x - r.x, dy = y - r.y;
        const uint32_t expected = dx >= 0 && dy >= 0 && dx < r.width && dy < r.height
                                      ? blockColour(dx * 160 / r.width / block, dy * 100 / r.height / block)
                                      : 0u;
        count += pixels[static_cast<std::size_t>(y) * clientW + x] != expected;
      }
    }
    return count;
  };
  const HWND w = win32::windowHandle();
  ASSERT_EQ(clientSize(w).cx, 480);
  ASSERT_EQ(clientSize(w).cy, 300);
  int left = -1;
  waitFor([&] {
    draw();
    return (left = wrong(480, 300, {0, 0, 480, 300})) == 0;
  });
  EXPECT_EQ(left, 0);
  resizeClient(w, 500, 260);
  waitFor([&] {
    copyPage(-1, -1);  // messages (the new size) arrive at flips
    draw();
    return (left = wrong(500, 260, centredPicture(500, 260, 160, 100))) == 0;
  });
  EXPECT_EQ(left, 0);
  closeScreen();
}
