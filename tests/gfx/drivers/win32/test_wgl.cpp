// The "OpenGL" back end on Windows (WGL) against Wine's OpenGL, which Mesa's
// software renderer serves on the private X server.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "gfx/driver.h"
#include "gfx/drivers/gl_setup.h"
#include "gfx/drivers/win32/wgl_testing.h"
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

class WGL : public ::testing::Test {
 protected:
  void SetUp() override {
    _putenv_s("KELGFX", "OpenGL");
    glOptions() = {};
    while (takeKey() != 0) {
    }
  }
  void TearDown() override {
    closeScreen();
    setPixelFormatChooser(nullptr);
  }
  static HWND window() { return win32::windowHandle(); }
  static const GlEntryPoints& gl() { return *glEntryPoints(); }
  static void flip() { copyPage(-1, -1); }
  // Clears to the colour and flips; what the window shows next.
  static void clearTo(uint32_t rgb) {
    gl().glClearColor(static_cast<float>(rgb >> 16 & 0xFF) / 255.0f, static_cast<float>(rgb >> 8 & 0xFF) / 255.0f,
                      static_cast<float>(rgb & 0xFF) / 255.0f, 1.0f);
    gl().glClear(GL_COLOR_BUFFER_BIT);
    flip();
  }
  static void expectColour(int width, int height, uint32_t rgb) {
    const std::vector<uint32_t> pixels = clientPixels(window(), width, height);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
      ASSERT_EQ(pixels[i], rgb) << "pixel " << i % width << "," << i / width;
    }
  }
  static HGLRC currentContext() {
    using Current = HGLRC(WINAPI*)();
    auto get = reinterpret_cast<Current>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("opengl32.dll"), "wglGetCurrentContext")));
    return get ? get() : nullptr;
  }
};

}  // namespace

// The mode opens on the last back end of the list, with the context
// current on this thread; a clear and a flip reach the window exactly.
TEST_F(WGL, ClearAndFlipShowTheColour) {
  _putenv_s("KELGFX", "");
  ASSERT_EQ(openScreenBySize(320, 200, 32, 1, modeflag::openGl, 0), 0);
  ScreenMode* m = currentMode();
  EXPECT_STREQ(m->driver->name, "OpenGL");
  EXPECT_TRUE(m->flags & screenflag::openGl);
  ASSERT_NE(glEntryPoints(), nullptr);
  EXPECT_NE(currentContext(), nullptr);
  EXPECT_EQ(win32::windowThreadId(), 0u);  // no window thread
  RECT client{};
  GetClientRect(window(), &client);
  EXPECT_EQ(client.right, 320);
  EXPECT_EQ(client.bottom, 200);
  EXPECT_TRUE(GetWindowLongA(window(), GWL_STYLE) & WS_CAPTION);
  for (uint32_t colour : {0x336699u, 0xFF0000u, 0x00FF80u}) {
    clearTo(colour);
    expectColour(320, 200, colour);
  }
  closeScreen();
  EXPECT_EQ(glEntryPoints(), nullptr);
  EXPECT_EQ(window(), nullptr);
}

TEST_F(WGL, ModesWithoutTheFlagAreRefusedBeforeTheLibraryLoads) {
  ASSERT_EQ(GetModuleHandleA("opengl32.dll"), nullptr) << "loaded by something else";
  EXPECT_EQ(wglDriver.init("x", 64, 48, 32, 0, 0), -1);
  wglDriver.exit();
  EXPECT_EQ(GetModuleHandleA("opengl32.dll"), nullptr);
  // Asked for by name with a framebuffer mode, it refuses and mode setting
  // moves on to the other back ends.
  // (Wine's DirectDraw loads opengl32 itself, so the library is not looked
  // for after that.)
  ASSERT_EQ(openScreenBySize(64, 48, 32, 1, 0, 0), 0);
  EXPECT_STRNE(currentMode()->driver->name, "OpenGL");
}

TEST_F(WGL, OptionDefaultsFollowTheDepthAndFlags) {
  ASSERT_EQ(openScreenBySize(64, 48, 16, 1, modeflag::openGl, 0), 0);
  GlOptions o = glOptions();
  EXPECT_EQ(std::vector<int32_t>({o.colorBits, o.redBits, o.greenBits, o.blueBits, o.alphaBits, o.depthBits}),
            std::vector<int32_t>({16, 5, 5, 5, 0, 16}));
  glOptions() = {};
  ASSERT_EQ(openScreenBySize(64, 48, 32, 1, modeflag::openGl | glflag::stencil | glflag::accumulation, 0), 0);
  o = glOptions();
  EXPECT_EQ(std::vector<int32_t>({o.colorBits, o.redBits, o.greenBits, o.blueBits, o.alphaBits, o.depthBits}),
            std::vector<int32_t>({32, 8, 8, 8, 8, 16}));
  EXPECT_EQ(o.stencilBits, 8);
  EXPECT_EQ(std::vector<int32_t>({o.accumBits, o.accumRedBits, o.accumGreenBits, o.accumBlueBits, o.accumAlphaBits}),
            std::vector<int32_t>({32, 8, 8, 8, 8}));
  EXPECT_EQ(o.samples, 0);
  clearTo(0x204060);
  expectColour(64, 48, 0x204060);
}

// Wine's chooser gives 4-sample formats whatever is asked; this one offers
// at most 2, so the back end asks for 4, then 2, and keeps 2.
std::vector<int> samplesAsked;
BOOL WINAPI atMostTwoSamples(HDC device, const int* attributes, const FLOAT*, UINT, int* format, UINT* count) {
  int samples = 0;
  for (const int* a = attributes; *a; a += 2) {
    if (a[0] == 0x2042) samples = a[1];  // WGL_SAMPLES_ARB
  }
  samplesAsked.push_back(samples);
  if (samples > 2) return FALSE;
  PIXELFORMATDESCRIPTOR d{};
  d.nSize = sizeof d;
  d.nVersion = 1;
  d.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
  d.iPixelType = PFD_TYPE_RGBA;
  d.cColorBits = 32;
  *format = ChoosePixelFormat(device, &d);
  *count = 1;
  return TRUE;
}

BOOL WINAPI noArbFormat(HDC, const int*, const FLOAT*, UINT, int*, UINT* count) {
  *count = 0;
  return FALSE;
}

bool multisampleEnabled() {
  using IsEnabled = unsigned char(WINAPI*)(unsigned);
  auto isEnabled = win32::entryPoint<IsEnabled>(GetModuleHandleA("opengl32.dll"), "glIsEnabled");
  return isEnabled && isEnabled(0x809D);  // GL_MULTISAMPLE
}

TEST_F(WGL, SamplesAreLoweredUntilAFormatIsFound) {
  setPixelFormatChooser(atMostTwoSamples);
  ASSERT_EQ(openScreenBySize(64, 48, 32, 1, modeflag::openGl | glflag::multisample, 0), 0);
  EXPECT_EQ(samplesAsked, std::vector<int>({4, 2}));
  EXPECT_EQ(wglSamplesChosen(), 2);
  EXPECT_EQ(glOptions().samples, 4);  // the request stays for later mode sets
  EXPECT_TRUE(multisampleEnabled());
  clearTo(0x808080);
  expectColour(64, 48, 0x808080);
}

// Multisampling is switched on only where the format has samples: not on a
// format of the plain chooser, which knows nothing of them. (Wine's OpenGL
// has ARB_multisample with GL_MULTISAMPLE on from the start, so glIsEnabled
// cannot tell the plain case apart there; no error and no samples can.)
TEST_F(WGL, MultisamplingOnlyOnAFormatWithSamples) {
  ASSERT_EQ(openScreenBySize(64, 48, 32, 1, modeflag::openGl | glflag::multisample, 0), 0);
  EXPECT_GT(wglSamplesChosen(), 0);
  EXPECT_TRUE(multisampleEnabled()) << "the ARB chooser's format";
  closeScreen();
  setPixelFormatChooser(noArbFormat);
  ASSERT_EQ(openScreenBySize(64, 48, 32, 1, modeflag::openGl | glflag::multisample, 0), 0);
  EXPECT_EQ(wglSamplesChosen(), 0) << "the plain chooser's format";
  using GetError = unsigned(WINAPI*)();
  auto glGetError = win32::entryPoint<GetError>(GetModuleHandleA("opengl32.dll"), "glGetError");
  ASSERT_NE(glGetError, nullptr);
  EXPECT_EQ(glGetError(), 0u);
  clearTo(0x306090);
  expectColour(64, 48, 0x306090);
}

// No window thread: the key state is read at flips, before the messages
// are drained, so a key shows in it from the second flip after it went down.
TEST_F(WGL, TheKeyStateIsReadAtFlips) {
  ASSERT_EQ(openScreenBySize(64, 48, 32, 1, modeflag::openGl, 0), 0);
  flip();
  sendKey(VK_SHIFT, false);
  Sleep(100);
  flip();
  EXPECT_EQ(currentMode()->keyState[0x2A], 0);
  flip();
  EXPECT_EQ(currentMode()->keyState[0x2A], 1);
  sendKey(VK_SHIFT, true);
  Sleep(100);
  flip();
  flip();
  EXPECT_EQ(currentMode()->keyState[0x2A], 0);
}

// Inside the virtual desktop, where display modes change: the window is
// restyled, not rebuilt, so the context and its device context stay.
TEST_F(WGL, DesktopFullScreenKeepsTheContext) {
  win32::DesktopMode desktop{};
  ASSERT_TRUE(win32::desktopMode(desktop));
  if (desktop.width != 1280) GTEST_SKIP() << "not in the virtual desktop";
  ASSERT_EQ(openScreenBySize(640, 480, 32, 1, modeflag::openGl, 0), 0);
  const HGLRC context = currentContext();
  const HWND before = window();
  ASSERT_NE(context, nullptr);
  flip();
  tapKey(VK_RETURN, {VK_MENU});
  ASSERT_TRUE(waitFor([] {
    flip();
    return win32::fullScreen();
  }));
  win32::DesktopMode now{};
  win32::desktopMode(now);
  EXPECT_EQ(now.width, 640);
  EXPECT_EQ(now.height, 480);
  EXPECT_EQ(window(), before);
  EXPECT_EQ(currentContext(), context);
  EXPECT_EQ(GetWindowLongA(window(), GWL_STYLE) & WS_CAPTION, 0);
  clearTo(0x40C020);
  expectColour(640, 480, 0x40C020);
  tapKey(VK_RETURN, {VK_MENU});
  ASSERT_TRUE(waitFor([] {
    flip();
    return !win32::fullScreen();
  }));
  win32::desktopMode(now);
  EXPECT_EQ(now.width, 1280);
  EXPECT_EQ(currentContext(), context);
  EXPECT_TRUE(GetWindowLongA(window(), GWL_STYLE) & WS_CAPTION);
  clearTo(0x102030);
  expectColour(640, 480, 0x102030);
}

// On the plain X screen the display mode cannot change: the toggle is
// undone, and the window comes back as it was with the same context.
TEST_F(WGL, FullScreenThatCannotBeSetFallsBack) {
  ASSERT_EQ(openScreenBySize(320, 200, 32, 1, modeflag::openGl, 0), 0);
  const HGLRC context = currentContext();
  flip();
  tapKey(VK_RETURN, {VK_MENU});
  Sleep(200);
  flip();
  EXPECT_FALSE(win32::fullScreen());
  EXPECT_TRUE(IsWindowVisible(window()));
  EXPECT_TRUE(GetWindowLongA(window(), GWL_STYLE) & WS_CAPTION);
  EXPECT_EQ(currentContext(), context);
  clearTo(0x123456);
  expectColour(320, 200, 0x123456);
}

TEST_F(WGL, ModeSetsLeaveNothingBehind) {
  ASSERT_TRUE(ResourceCounter::install());
  const int cycles = modeCycles(200);
  ASSERT_EQ(openScreenBySize(64, 48, 32, 1, modeflag::openGl, 0), 0);
  closeScreen();
  const Holdings before = Holdings::now();
  for (int i = 0; i < cycles; ++i) {
    ASSERT_EQ(openScreenBySize(64, 48, i % 2 ? 16 : 32, 1, modeflag::openGl, 0), 0) << i;
    if (i % 50 == 0) {
      clearTo(0x0000FF);
      expectColour(64, 48, 0x0000FF);
    }
  }
  closeScreen();
  EXPECT_EQ(currentContext(), nullptr);
  // The Windows heaps (the C library's among them) come back to the byte
  // here; a leak of 100 bytes a cycle would show as 20 kB.
  before.expectKept(16 * 1024);
}

// The OpenGL example end to end: its discs on the window, then a key ends
// it with status 0.
TEST_F(WGL, TheExampleDrawsItsDiscsAndEndsOnAKey) {
  const std::string example = PEL_EXAMPLE_BINARY;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::string command = "\"" + example + "\"";
  ASSERT_TRUE(CreateProcessA(example.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                             &process))
      << example;
  HWND w = nullptr;
  EXPECT_TRUE(waitFor([&] { return (w = FindWindowA(nullptr, "Pellucet OpenGL discs")) != nullptr; }, 20000));
  int green = 0;
  waitFor(
      [&] {
        const auto pixels = clientPixels(w, 800, 600, true);
        green = 0;
        for (const uint32_t p : pixels) {
          const uint32_t r = p >> 16 & 0xFF, g = p >> 8 & 0xFF, b = p & 0xFF;
          green += g > 0x40 && g > r && g > b;
        }
        return green > 80000;
      },
      20000);
  EXPECT_GT(green, 80000);  // a good part of the window is lit by discs
  SetForegroundWindow(w);
  Sleep(100);
  tapKey(VK_SPACE);
  EXPECT_EQ(WaitForSingleObject(process.hProcess, 10000), WAIT_OBJECT_0);
  DWORD status = 1;
  GetExitCodeProcess(process.hProcess, &status);
  EXPECT_EQ(status, 0u);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}
