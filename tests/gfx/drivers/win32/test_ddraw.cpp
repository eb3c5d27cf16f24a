// The "DirectX" back end (DirectDraw and DirectInput) under Wine on a
// private X server (see scripts/wine-env).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include <ddraw.h>

#include "gfx/driver.h"
#include "gfx/drivers/win32/ddraw_testing.h"
#include "gfx/drivers/win32/ddraw_modes.h"
#include "gfx/drivers/win32/win32_window.h"
#include "gfx/input.h"
#include "gfx/mode.h"
#include "gfx/pages.h"
#include "runtime/keys.h"
#include "holdings.h"
#include "resource_counter.h"
#include "win32_test_support.h"

using namespace pel;
using namespace pel::test;

namespace {

class DirectX : public ::testing::Test {
 protected:
  void SetUp() override {
    _putenv_s("KELGFX", "DirectX");
    while (takeKey() != 0) {
    }
  }
  void TearDown() override {
    closeScreen();
    setDisplayModeSetter(nullptr);
    setRetraceWaiter(nullptr);
  }
  static HWND window() { return win32::windowHandle(); }
  // Three whole passes of the window thread after now.
  static void settle() {
    const int64_t start = ddrawPasses();
    waitFor([&] { return ddrawPasses() >= start + 3; });
  }
  static void fill(uint32_t seed) {
    std::mt19937 random(seed);
    ScreenMode* m = currentMode();
    lockScreen();
    for (int i = 0; i < m->pitch * m->height; ++i) m->visibleBuffer[i] = static_cast<uint8_t>(random());
    unlockScreen(-1, -1);
  }
  static std::vector<EventRecord> events() {
    std::vector<EventRecord> out;
    EventRecord e;
    while (pollEvent(e)) out.push_back(e);
    return out;
  }
};

// Rows first to last of the window equal the page (or, with `equal` false,
// differ from it in at least one pixel each).
void expectRows(HWND w, const ScreenMode* m, int first, int last, bool equal, const char* what) {
  const std::vector<uint32_t> pixels = clientPixels(w, m->width, m->height);
  for (int y = first; y <= last; ++y) {
    bool same = true;
    for (int x = 0; x < m->width && same; ++x) same = pixels[static_cast<std::size_t>(y) * m->width + x] == convertedAs(m, x, y);
    ASSERT_EQ(same, equal) << what << " row " << y;
  }
}

// A display-mode setter that offers a chosen list and records the requests.
struct Offered {
  int32_t width, height, depth;
};
std::vector<Offered> offered;
std::vector<std::tuple<int32_t, int32_t, int32_t, uint32_t>> asked;
bool offer(int32_t w, int32_t h, int32_t depth, int32_t, uint32_t flags) {
  asked.emplace_back(w, h, depth, flags);
  for (const Offered& o : offered) {
    if (o.width == w && o.height == h && o.depth == depth) return true;
  }
  return false;
}
HRESULT offerHresult(int32_t w, int32_t h, int32_t depth, int32_t rate, DWORD flags) {
  return offer(w, h, depth, rate, flags) ? S_OK : E_FAIL;
}

}  // namespace

TEST(DisplayModeSearch, StandardVgaPartnerDepthsAndTallerHeights) {
  // 320 x 200 x 8 is asked for as the standard VGA mode.
  offered = {{320, 200, 8}};
  asked.clear();
  EXPECT_EQ(ddraw::searchDisplayMode(320, 200, 8, 0, offer), 0);
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(std::get<3>(asked[0]), ddraw::standardVgaMode);
  // 640 x 400 without that mode: 640 x 480, the picture 40 rows down; the
  // flag is for 320 x 200 x 8 alone.
  offered = {{640, 480, 32}};
  asked.clear();
  EXPECT_EQ(ddraw::searchDisplayMode(640, 400, 32, 0, offer), 40);
  EXPECT_EQ(asked, (std::vector<std::tuple<int32_t, int32_t, int32_t, uint32_t>>{
                       {640, 400, 32, 0}, {640, 400, 24, 0}, {640, 480, 32, 0}}));
  // 800 x 1200 has no taller standard height to go to.
  offered = {{800, 600, 32}, {800, 1024, 32}};
  asked.clear();
  EXPECT_EQ(ddraw::searchDisplayMode(800, 1200, 32, 0, offer), -1);
  EXPECT_EQ(asked.size(), 2u);
  // 16 bits on a display with only 15 at that size.
  offered = {{640, 480, 15}};
  asked.clear();
  EXPECT_EQ(ddraw::searchDisplayMode(640, 480, 16, 60, offer), 0);
  EXPECT_EQ(asked.back(), std::make_tuple(640, 480, 15, 0u));
  // 320 x 200 x 8 missing: 320 x 240 next, without the flag, 20 rows down.
  offered = {{320, 240, 8}};
  asked.clear();
  EXPECT_EQ(ddraw::searchDisplayMode(320, 200, 8, 0, offer), 20);
  EXPECT_EQ(asked.back(), std::make_tuple(320, 240, 8, 0u));
  // Heights run 240, 480, 600, 768, 1024, then stop.
  offered = {};
  asked.clear();
  EXPECT_EQ(ddraw::searchDisplayMode(100, 100, 8, 0, offer), -1);
  std::vector<int32_t> heights;
  for (const auto& a : asked) heights.push_back(std::get<1>(a));
  EXPECT_EQ(heights, (std::vector<int32_t>{100, 240, 480, 600, 768, 1024}));
}

// DirectInput's keyboard state reaches the key state.
TEST_F(DirectX, TheKeyStateFollowsDirectInput) {
  ASSERT_EQ(openScreenBySize(64, 48, 32, 1, 0, 0), 0);
  settle();
  sendKey(VK_SHIFT, false);
  settle();
  EXPECT_EQ(currentMode()->keyState[0x2A], 1);
  sendKey(VK_SHIFT, true);
  settle();
  EXPECT_EQ(currentMode()->keyState[0x2A], 0);
  sendKey('A', false);
  settle();
  EXPECT_EQ(currentMode()->keyState[0x1E], 1);
  sendKey('A', true);
  settle();
  EXPECT_EQ(currentMode()->keyState[0x1E], 0);
}

// On the plain X screen Wine sets no display mode: every full-screen
// attempt fails and mode setting goes on to a DirectX window, which shows
// the page.
TEST_F(DirectX, FullScreenThatCannotBeSetFallsBack) {
  win32::DesktopMode before{};
  ASSERT_TRUE(win32::desktopMode(before));
  ASSERT_EQ(openScreenBySize(640, 480, 32, 1, modeflag::fullScreen, 0), 0);
  ScreenMode* m = currentMode();
  EXPECT_STREQ(m->driver->name, "DirectX");
  ASSERT_FALSE(win32::fullScreen());
  RECT client{};
  GetClientRect(window(), &client);
  EXPECT_EQ(client.right, 640);
  EXPECT_EQ(client.bottom, 480);
  fill(21);
  settle();
  settle();
  expectRows(window(), m, 0, 479, true, "the window it fell back to");
  win32::DesktopMode now{};
  win32::desktopMode(now);
  EXPECT_EQ(now.width, before.width);
}

// The search through a made-up display: 640 x 400 becomes 640 x 480 with
// the picture 40 rows down.
TEST_F(DirectX, TheSearchSetsTheOffsetOfATallerMode) {
  offered = {{640, 480, 32}};
  asked.clear();
  setDisplayModeSetter(offerHresult);
  ASSERT_EQ(openScreenBySize(640, 400, 32, 1, modeflag::fullScreen, 0), 0);
  EXPECT_STREQ(currentMode()->driver->name, "DirectX");
  EXPECT_TRUE(win32::fullScreen());
  EXPECT_EQ(ddrawVerticalOffset(), 40);
  EXPECT_EQ(asked.size(), 3u);
  // The made-up mode leaves the display as it is: the picture lands in the
  // primary surface 40 rows below the window's top.
  ScreenMode* m = currentMode();
  fill(22);
  settle();
  settle();
  const std::vector<uint32_t> screen = clientPixels(window(), 640, 480, true);
  int wrong = 0;
  for (int y = 0; y < 400; ++y) {
    for (int x = 0; x < 640; ++x) wrong += screen[static_cast<std::size_t>(y + 40) * 640 + x] != convertedAs(m, x, y);
  }
  EXPECT_EQ(wrong, 0) << "page rows 0 to 399 on screen rows 40 to 439";
  closeScreen();
  // No height to go to: the attempt fails and mode setting moves on.
  offered = {};
  asked.clear();
  ASSERT_EQ(openScreenBySize(800, 1200, 32, 1, modeflag::fullScreen, 0), 0);
  EXPECT_FALSE(std::string(currentMode()->driver->name) == "DirectX" && win32::fullScreen());
  ASSERT_GE(asked.size(), 2u);
  EXPECT_EQ(asked[0], std::make_tuple(800, 1200, 32, 0u));
  EXPECT_EQ(asked[1], std::make_tuple(800, 1200, 24, 0u));
}

// Inside Wine's virtual desktop display modes change for real.
TEST_F(DirectX, DesktopFullScreenModes) {
  win32::DesktopMode desktop{};
  ASSERT_TRUE(win32::desktopMode(desktop));
  if (desktop.width != 1280) GTEST_SKIP() << "not in the virtual desktop";
  for (auto [width, height, depth] : {std::tuple{640, 480, 32}, std::tuple{320, 200, 8}}) {
    ASSERT_EQ(openScreenBySize(width, height, depth, 1, modeflag::fullScreen, 0), 0) << width;
    ASSERT_TRUE(win32::fullScreen());
    win32::DesktopMode now{};
    win32::desktopMode(now);
    EXPECT_EQ(now.width, width);
    EXPECT_EQ(now.height, height);
    EXPECT_EQ(ddrawVerticalOffset(), 0);
    ScreenMode* m = currentMode();
    fill(static_cast<uint32_t>(width));
    settle();
    settle();
    const std::vector<uint32_t> pixels = clientPixels(window(), width, height, true);
    int wrong = 0;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) wrong += pixels[static_cast<std::size_t>(y) * width + x] != convertedAs(m, x, y);
    }
    EXPECT_EQ(wrong, 0) << width << " x " << height << " x " << depth;
  }
  closeScreen();
  win32::DesktopMode now{};
  win32::desktopMode(now);
  EXPECT_EQ(now.width, 1280);
}

// Back from full screen, the window returns to where it was.
TEST_F(DirectX, DesktopReturningFromFullScreenKeepsThePlace) {
  win32::DesktopMode desktop{};
  ASSERT_TRUE(win32::desktopMode(desktop));
  if (desktop.width != 1280) GTEST_SKIP() << "not in the virtual desktop";
  ASSERT_EQ(openScreenBySize(640, 480, 32, 1, 0, 0), 0);
  settle();
  currentMode()->driver->setWindowPos(100, 50);
  settle();
  RECT before{};
  GetWindowRect(window(), &before);
  EXPECT_EQ(before.left, 100);
  EXPECT_EQ(before.top, 50);
  tapKey(VK_RETURN, {VK_MENU});
  settle();
  ASSERT_TRUE(win32::fullScreen());
  tapKey(VK_RETURN, {VK_MENU});
  settle();
  ASSERT_FALSE(win32::fullScreen());
  RECT after{};
  GetWindowRect(window(), &after);
  EXPECT_EQ(after.left, before.left);
  EXPECT_EQ(after.top, before.top);
  fill(9);
  settle();
  settle();
  expectRows(window(), currentMode(), 0, 479, true, "after the switches");
}

// Surfaces reported lost are restored and presenting goes on; a display
// mode changed behind the back end's back rebuilds everything.
TEST_F(DirectX, LostSurfacesAreRestored) {
  ASSERT_EQ(openScreenBySize(320, 200, 32, 1, 0, 0), 0);
  settle();
  simulateLostSurfaces(3, false);
  fill(11);
  settle();
  settle();
  expectRows(window(), currentMode(), 0, 199, true, "after a loss");
  const int64_t rebuilt = ddrawRebuilds();
  simulateLostSurfaces(1, true);
  settle();
  EXPECT_EQ(ddrawRebuilds(), rebuilt + 1);
  ASSERT_NE(window(), nullptr);
  fill(12);
  settle();
  settle();
  expectRows(window(), currentMode(), 0, 199, true, "after the rebuild");
}

TEST_F(DirectX, ModeSetsLeaveNothingBehind) {
  ASSERT_TRUE(ResourceCounter::install());
  // DirectDrawCreate alone takes most of a second under Wine: 100 cycles
  // here, 500 by hand (PEL_MODE_CYCLES=500).
  const int cycles = modeCycles(100);
  ASSERT_EQ(openScreenBySize(64, 48, 8, 1, 0, 0), 0);
  ASSERT_EQ(openScreenBySize(64, 48, 32, 1, 0, 0), 0);
  closeScreen();
  const Holdings before = Holdings::now();
  for (int i = 0; i < cycles; ++i) {
    ASSERT_EQ(openScreenBySize(64, 48, i % 2 ? 8 : 32, 1, 0, 0), 0) << i;
  }
  closeScreen();
  before.expectKept(64 * 1024);
}

namespace {

// A retrace 5 ms after the wait starts, and one that comes at once.
void retraceAfter5ms() { Sleep(5); }
void retraceAtOnce() {}

// The period the back end paces to: the mode's rate, 60 Hz when unknown.
double periodMs() {
  const int32_t rate = currentMode()->refreshRate;
  return 1000.0 / (rate < 24 || rate > 480 ? 60 : rate);
}

void drawFrame(int i) {
  ScreenMode* m = currentMode();
  lockScreen();
  std::memset(m->visibleBuffer + static_cast<std::ptrdiff_t>(i % m->height) * m->pitch, i, static_cast<std::size_t>(m->pitch));
  unlockScreen(i % m->height, i % m->height);
}

}  // namespace

// waitVsync sets the retrace event without the presentation lock: the window
// thread holds that lock while it waits for the event, so a waitVsync that
// took it would make every such wait run out.
TEST_F(DirectX, WaitVsyncLetsTheWindowThreadPresentRightAfterTheRetrace) {
  ASSERT_EQ(openScreenBySize(320, 200, 32, 1, 0, 0), 0);
  settle();
  setRetraceWaiter(retraceAfter5ms);
  const int64_t before = ddrawRetraceTimeouts(), passesBefore = ddrawPasses();
  for (int i = 0; i < 40; ++i) {
    drawFrame(i);
    currentMode()->driver->waitVsync();
  }
  EXPECT_GT(ddrawPasses() - passesBefore, 20);
  EXPECT_EQ(ddrawRetraceTimeouts() - before, 0) << "waits for the retrace event that ran out";
}

// Where the retrace wait returns at once (Wine here, some drivers), a loop
// of drawing and waitVsync still runs at about the refresh rate.
TEST_F(DirectX, WaitVsyncPacesWhereTheRetraceWaitReturnsAtOnce) {
  ASSERT_EQ(openScreenBySize(320, 200, 32, 1, 0, 0), 0);
  settle();
  for (RetraceWaiter waiter : {retraceAtOnce, static_cast<RetraceWaiter>(nullptr)}) {
    setRetraceWaiter(waiter);
    currentMode()->driver->waitVsync();
    const auto start = std::chrono::steady_clock::now();
    constexpr int frames = 30;
    for (int i = 0; i < frames; ++i) {
      drawFrame(i);
      currentMode()->driver->waitVsync();
    }
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GT(ms, frames * periodMs() * 0.9) << (waiter ? "made-up retrace" : "the system's retrace");
  }
}

// A windowed work surface lost while the primary is not is restored, and
// the whole page shown again.
TEST_F(DirectX, ALostWorkSurfaceIsRestored) {
  ASSERT_EQ(openScreenBySize(320, 200, 32, 1, 0, 0), 0);
  fill(31);
  settle();
  settle();
  simulateLostWorkSurface();
  fill(32);
  settle();
  settle();
  expectRows(window(), currentMode(), 0, 199, true, "after the work surface was lost");
}

namespace {

// A full-screen mode on the made-up display, which then takes no mode at
// all, and a display mode change behind the back end's back: every rebuild
// fails.
void startAFailingRebuild() {
  offered = {{640, 480, 32}};
  setDisplayModeSetter(offerHresult);
  ASSERT_EQ(openScreenBySize(640, 480, 32, 1, modeflag::fullScreen, 0), 0);
  ASSERT_TRUE(win32::fullScreen());
  ASSERT_STREQ(currentMode()->driver->name, "DirectX");
  offered = {};
  const int64_t rebuilt = ddrawRebuilds();
  simulateLostSurfaces(1, true);
  ASSERT_TRUE(waitFor([&] { return ddrawRebuilds() > rebuilt; }));
}

}  // namespace

// A rebuild that keeps failing lets go of the lock between tries, then
// tells the program once, as a closed window does.
TEST_F(DirectX, ARebuildThatKeepsFailingTellsTheProgram) {
  ASSERT_NO_FATAL_FAILURE(startAFailingRebuild());
  events();
  int locked = 0;
  int32_t key = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (key == 0 && std::chrono::steady_clock::now() < deadline) {
    lockScreen();
    ++locked;
    unlockScreen(0, 0);
    Sleep(20);
    key = takeKey();
  }
  EXPECT_EQ(key, closeKeyCode);
  EXPECT_GE(locked, 10) << "the program's thread could take the lock only this often during the rebuild";
  Sleep(100);
  EXPECT_EQ(takeKey(), 0);
  const auto e = events();
  EXPECT_EQ(std::count_if(e.begin(), e.end(), [](const EventRecord& r) { return r.type == WindowClose; }), 1);
}

// Closing the screen during a rebuild ends it at once, and leaves no close
// key behind.
TEST_F(DirectX, ClosingTheScreenEndsARebuild) {
  ASSERT_NO_FATAL_FAILURE(startAFailingRebuild());
  Sleep(50);
  const auto start = std::chrono::steady_clock::now();
  closeScreen();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 2.0);
  EXPECT_EQ(takeKey(), 0);
}

// The display's modes of a depth, inside the virtual desktop.
TEST_F(DirectX, DesktopModeListsByDepth) {
  win32::DesktopMode desktop{};
  ASSERT_TRUE(win32::desktopMode(desktop));
  if (desktop.width != 1280) GTEST_SKIP() << "not in the virtual desktop";
  for (auto [depth, width, height] : {std::tuple{32, 640, 480}, std::tuple{8, 320, 200}, std::tuple{16, 800, 600}}) {
    int32_t count = 0;
    int32_t* modes = ddrawDriver.fetchModes(depth, &count);
    ASSERT_NE(modes, nullptr) << depth;
    std::vector<int32_t> list(modes, modes + count);
    std::free(modes);
    EXPECT_NE(std::find(list.begin(), list.end(), width << 16 | height), list.end()) << depth;
    EXPECT_EQ(std::find(list.begin(), list.end(), 1600 << 16 | 1200), list.end()) << depth;
  }
}

// The mode list's own callback: a 16-bit mode with the 5-5-5 green mask is
// a 15-bit one, listed for 15 and not for 16, and 5-6-5 the other way.
TEST(DirectXModeList, FifteenAndSixteenBitModesAreToldApart) {
  auto mode = [](DWORD width, DWORD height, DWORD bits, DWORD green) {
    DDSURFACEDESC d{};
    d.dwSize = sizeof d;
    d.dwWidth = width;
    d.dwHeight = height;
    d.ddpfPixelFormat.dwSize = sizeof d.ddpfPixelFormat;
    d.ddpfPixelFormat.dwFlags = DDPF_RGB;
    d.ddpfPixelFormat.dwRGBBitCount = bits;
    d.ddpfPixelFormat.dwGBitMask = green;
    return d;
  };
  const DDSURFACEDESC modes[] = {mode(640, 480, 16, 0x3E0), mode(800, 600, 16, 0x7E0), mode(320, 200, 8, 0),
                                 mode(1024, 768, 32, 0xFF00), mode(320, 240, 16, 0x3E0)};
  EXPECT_EQ(ddrawModesOf(15, modes, 5), (std::vector<int32_t>{640 << 16 | 480, 320 << 16 | 240}));
  EXPECT_EQ(ddrawModesOf(16, modes, 5), (std::vector<int32_t>{800 << 16 | 600}));
  EXPECT_EQ(ddrawModesOf(8, modes, 5), (std::vector<int32_t>{320 << 16 | 200}));
  EXPECT_EQ(ddrawModesOf(32, modes, 5), (std::vector<int32_t>{1024 << 16 | 768}));
  EXPECT_TRUE(ddrawModesOf(24, modes, 5).empty());
  static_assert(ddraw::modeDepth(16, 0x3E0) == 15 && ddraw::modeDepth(16, 0x7E0) == 16);
}
