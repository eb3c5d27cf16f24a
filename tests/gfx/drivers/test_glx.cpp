// The "OpenGL" back end on X11 (GLX) against Mesa's software renderer on a
// private Xvfb per test.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "../bytes_in_use.h"
#include "gfx/driver.h"
#include "gfx/drivers/gl_setup.h"
#include "gfx/drivers/window_scale.h"
#include "gfx/drivers/x11/glx_testing.h"
#include "gfx/input.h"
#include "gfx/mode.h"
#include "gfx/pages.h"
#include "mesa_driver_resident.h"
#include "private_xvfb.h"
#include "runtime/keys.h"

#include "gfx/drivers/x11/x11_window.h"

#include <GL/glx.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include "x11_test_support.h"

using namespace pel;

namespace {

class GLX : public ::testing::Test {
 protected:
  void SetUp() override {
    mesa::keepSoftwareDriverResident();
    ASSERT_TRUE(server.start()) << "Xvfb did not start";
    setenv("DISPLAY", server.display.c_str(), 1);
    unsetenv("KELGFX");
    glOptions() = {};
    probe = XOpenDisplay(server.display.c_str());
    ASSERT_NE(probe, nullptr);
    while (takeKey() != 0) {
    }
  }
  void TearDown() override {
    closeScreen();
    setFramebufferChooser(nullptr);
    if (probe) XCloseDisplay(probe);
    server.stop();
  }
  static const GlEntryPoints& gl() { return *glEntryPoints(); }
  static void flip() { copyPage(-1, -1); }
  static void clearTo(uint32_t rgb) {
    gl().glClearColor(static_cast<float>(rgb >> 16 & 0xFF) / 255.0f, static_cast<float>(rgb >> 8 & 0xFF) / 255.0f,
                      static_cast<float>(rgb & 0xFF) / 255.0f, 1.0f);
    gl().glClear(GL_COLOR_BUFFER_BIT);
    flip();
  }
  // The picture window's pixels as the server has them.
  void expectColour(uint32_t rgb) {
    XSync(probe, False);
    const Window picture = x11::win->pictureWindow;
    XWindowAttributes a{};
    ASSERT_TRUE(XGetWindowAttributes(probe, picture, &a));
    XImage* image = XGetImage(probe, picture, 0, 0, static_cast<unsigned>(a.width), static_cast<unsigned>(a.height),
                              AllPlanes, ZPixmap);
    ASSERT_NE(image, nullptr);
    for (int y = 0; y < a.height; ++y) {
      for (int x = 0; x < a.width; ++x) {
        ASSERT_EQ(XGetPixel(image, x, y) & 0xFFFFFF, rgb) << "pixel " << x << "," << y;
      }
    }
    XDestroyImage(image);
  }
  static GLXContext currentContext() {
    void* gl = dlopen("libGL.so.1", RTLD_NOW | RTLD_NOLOAD);
    if (!gl) return nullptr;
    auto get = reinterpret_cast<GLXContext (*)()>(dlsym(gl, "glXGetCurrentContext"));
    GLXContext context = get ? get() : nullptr;
    dlclose(gl);
    return context;
  }
  void key(KeySym symbol, bool down) {
    XTestFakeKeyEvent(probe, XKeysymToKeycode(probe, symbol), down, 0);
    XSync(probe, False);
  }
  void altEnter() {
    key(XK_Alt_L, true);
    key(XK_Return, true);
    key(XK_Return, false);
    key(XK_Alt_L, false);
    pause();
  }
  // Time for the server to deliver what the probe sent.
  void pause() {
    XSync(probe, False);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  int windowCount() {
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    XQueryTree(probe, DefaultRootWindow(probe), &root, &parent, &children, &count);
    if (children) XFree(children);
    return static_cast<int>(count);
  }
  PrivateXvfb server;
  Display* probe = nullptr;
};

}  // namespace

// The mode opens on the last back end of the list; a clear and a flip put
// exactly that colour on the window.
TEST_F(GLX, ClearAndFlipShowTheColour) {
  ASSERT_EQ(openScreenBySize(320, 200, 32, 1, modeflag::openGl, 0), 0);
  EXPECT_STREQ(currentMode()->driver->name, "OpenGL");
  ASSERT_NE(glEntryPoints(), nullptr);
  EXPECT_NE(currentContext(), nullptr);
  XWindowAttributes a{};
  ASSERT_TRUE(XGetWindowAttributes(probe, x11::win->pictureWindow, &a));
  EXPECT_EQ(a.width, 320);
  EXPECT_EQ(a.height, 200);
  EXPECT_EQ(a.depth, DefaultDepth(probe, DefaultScreen(probe)));  // an opaque window
  for (uint32_t colour : {0x336699u, 0xFF0000u, 0x00FF80u}) {
    clearTo(colour);
    expectColour(colour);
  }
  closeScreen();
  EXPECT_EQ(glEntryPoints(), nullptr);
  EXPECT_EQ(currentContext(), nullptr);
  EXPECT_EQ(windowCount(), 0);
}

TEST_F(GLX, ModesWithoutTheFlagAreRefusedBeforeTheLibraryLoads) {
  ASSERT_EQ(dlopen("libGL.so.1", RTLD_NOW | RTLD_NOLOAD), nullptr) << "loaded by something else";
  EXPECT_EQ(glxDriver.init("x", 64, 48, 32, 0, 0), -1);
  glxDriver.exit();
  EXPECT_EQ(dlopen("libGL.so.1", RTLD_NOW | RTLD_NOLOAD), nullptr);
  ASSERT_EQ(openScreenBySize(64, 48, 32, 1, 0, 0), 0);
  EXPECT_STREQ(currentMode()->driver->name, "X11");
  EXPECT_EQ(dlopen("libGL.so.1", RTLD_NOW | RTLD_NOLOAD), nullptr);
}

TEST_F(GLX, OptionDefaultsFollowTheDepthAndFlags) {
  ASSERT_EQ(openScreenBySize(64, 48, 16, 1, modeflag::openGl, 0), 0);
  GlOptions o = glOptions();
  EXPECT_EQ(std::vector<int32_t>({o.colorBits, o.redBits, o.greenBits, o.blueBits, o.alphaBits, o.depthBits}),
            std::vector<int32_t>({16, 5, 5, 5, 0, 16}));
  glOptions() = {};
  ASSERT_EQ(openScreenBySize(64, 48, 32, 1, modeflag::openGl | glflag::stencil, 0), 0);
  o = glOptions();
  EXPECT_EQ(std::vector<int32_t>({o.colorBits, o.redBits, o.greenBits, o.blueBits, o.alphaBits, o.depthBits}),
            std::vector<int32_t>({32, 8, 8, 8, 8, 16}));
  EXPECT_EQ(o.stencilBits, 8);
  clearTo(0x204060);
  expectColour(0x204060);
}

// A chooser that offers at most 2 samples: libGL's own, without the sample
// attributes, for 2 or fewer.
std::vector<int> samplesAsked;
void** atMostTwoSamples(void* display, int screen, const int* attributes, int* count) {
  std::vector<int> plain;
  int samples = 0;
  for (const int* a = attributes; *a; a += 2) {
    if (a[0] == GLX_SAMPLES) samples = a[1];
    if (a[0] == GLX_SAMPLES || a[0] == GLX_SAMPLE_BUFFERS) continue;
    plain.insert(plain.end(), {a[0], a[1]});
  }
  plain.push_back(0);
  samplesAsked.push_back(samples);
  *count = 0;
  if (samples > 2) return nullptr;
  void* gl = dlopen("libGL.so.1", RTLD_NOW | RTLD_NOLOAD);
  auto choose = reinterpret_cast<decltype(&glXChooseFBConfig)>(dlsym(gl, "glXChooseFBConfig"));
  GLXFBConfig* configs = choose(static_cast<Display*>(display), screen, plain.data(), count);
  dlclose(gl);
  return reinterpret_cast<void**>(configs);
}

TEST_F(GLX, SamplesAreLoweredUntilAConfigurationIsFound) {
  setFramebufferChooser(atMostTwoSamples);
  ASSERT_EQ(openScreenBySize(64, 48, 32, 1, modeflag::openGl | glflag::multisample, 0), 0);
  EXPECT_EQ(samplesAsked, std::vector<int>({4, 2}));
  EXPECT_EQ(glxSamplesChosen(), 2);
  clearTo(0x808080);
  expectColour(0x808080);
}

// No window thread: the key state is read at flips.
TEST_F(GLX, TheKeyStateIsReadAtFlips) {
  ASSERT_EQ(openScreenBySize(64, 48, 32, 1, modeflag::openGl, 0), 0);
  XSetInputFocus(probe, x11::win->window, RevertToParent, CurrentTime);
  pause();
  flip();
  key(XK_Shift_L, true);
  pause();
  flip();
  EXPECT_EQ(currentMode()->keyState[0x2A], 1);
  key(XK_Shift_L, false);
  pause();
  flip();
  EXPECT_EQ(currentMode()->keyState[0x2A], 0);
}

// The pointer over the picture window counts from the picture's corner; the
// child window does not count as leaving the window.
TEST_F(GLX, ThePointerOverThePictureIsInTheWindow) {
  ASSERT_EQ(openScreenBySize(320, 200, 32, 1, modeflag::openGl, 0), 0);
  int x0 = 0, y0 = 0;
  Window child = 0;
  XTranslateCoordinates(probe, x11::win->pictureWindow, DefaultRootWindow(probe), 0, 0, &x0, &y0, &child);
  XTestFakeMotionEvent(probe, 0, x0 + 40, y0 + 30, 0);
  pause();
  flip();
  XTestFakeMotionEvent(probe, 0, x0 + 50, y0 + 35, 0);
  pause();
  flip();
  int32_t x = -1, y = -1, wheel = 0, buttons = 0, clip = 0;
  EXPECT_EQ(currentMode()->driver->getMouse(&x, &y, &wheel, &buttons, &clip), 0);
  EXPECT_EQ(x, 50);
  EXPECT_EQ(y, 35);
  EventRecord e;
  bool left = false;
  while (pollEvent(e)) left |= e.type == MouseExit;
  EXPECT_FALSE(left);
}

// Alt+Enter rebuilds the window around the picture; the context moves to
// the new picture window unchanged and drawing goes on.
TEST_F(GLX, AltEnterKeepsTheContext) {
  ASSERT_EQ(openScreenBySize(320, 200, 32, 1, modeflag::openGl, 0), 0);
  const GLXContext context = currentContext();
  ASSERT_NE(context, nullptr);
  XSetInputFocus(probe, x11::win->window, RevertToParent, CurrentTime);
  pause();
  flip();
  altEnter();
  flip();
  ASSERT_TRUE(x11::win->rules.modeFlags & modeflag::fullScreen);
  EXPECT_EQ(currentContext(), context);
  XWindowAttributes a{};
  ASSERT_TRUE(XGetWindowAttributes(probe, x11::win->window, &a));
  EXPECT_EQ(a.width, 1024);  // the private server's screen
  ASSERT_TRUE(XGetWindowAttributes(probe, x11::win->pictureWindow, &a));
  EXPECT_EQ(std::vector<int>({a.x, a.y, a.width, a.height}), std::vector<int>({352, 284, 320, 200}));
  clearTo(0x40C020);
  expectColour(0x40C020);
  XSetInputFocus(probe, x11::win->window, RevertToParent, CurrentTime);
  pause();
  altEnter();
  flip();
  EXPECT_FALSE(x11::win->rules.modeFlags & modeflag::fullScreen);
  EXPECT_EQ(currentContext(), context);
  clearTo(0x102030);
  expectColour(0x102030);
}

TEST_F(GLX, ModeSetsLeaveNothingBehind) {
  const char* asked = std::getenv("PEL_MODE_CYCLES");
  const int cycles = asked ? std::atoi(asked) : 200;
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(openScreenBySize(64, 48, 32, 1, modeflag::openGl, 0), 0);
    closeScreen();
  }
  const long before = bytesInUse();
  for (int i = 0; i < cycles; ++i) {
    ASSERT_EQ(openScreenBySize(64, 48, i % 2 ? 16 : 32, 1, modeflag::openGl, 0), 0) << i;
    if (i % 50 == 0) {
      clearTo(0x0000FF);
      expectColour(0x0000FF);
    }
    closeScreen();
  }
  const long after = bytesInUse();
  EXPECT_EQ(currentContext(), nullptr);
  EXPECT_EQ(windowCount(), 0);
  // Mesa keeps state of the connections it has seen (150 kB at first, then
  // a few hundred bytes a cycle here, varying run to run), so this bound
  // only catches gross leaks such as a context or a window's buffers a
  // cycle; LeakSanitizer (the sanitised run) catches every lost block.
  EXPECT_LT(after - before, 256 * 1024L + cycles * 2048L) << before << " bytes before, " << after << " bytes after";
}

// The OpenGL example end to end: its discs on the window, then a key ends
// it with status 0.
TEST_F(GLX, TheExampleDrawsItsDiscsAndEndsOnAKey) {
  const std::string preload = mesa::preloadForChildren();
  const pid_t example = fork();
  if (example == 0) {
    if (!preload.empty()) setenv("LD_PRELOAD", preload.c_str(), 1);
    execl(PEL_EXAMPLE_BINARY, "opengl-discs", nullptr);
    _exit(127);
  }
  Window w = 0;
  for (int tries = 0; tries < 100 && !w; ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    XQueryTree(probe, DefaultRootWindow(probe), &root, &parent, &children, &count);
    for (unsigned i = 0; i < count && !w; ++i) {
      char* name = nullptr;
      if (XFetchName(probe, children[i], &name) && name) {
        if (std::string(name) == "Pellucet OpenGL discs") w = children[i];
        XFree(name);
      }
    }
    if (children) XFree(children);
  }
  ASSERT_NE(w, 0u) << "the example's window did not appear";
  int green = 0;
  for (int tries = 0; tries < 100 && green <= 20000; ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    XImage* image = XGetImage(probe, w, 0, 0, 800, 600, AllPlanes, ZPixmap);
    ASSERT_NE(image, nullptr);
    green = 0;
    for (int y = 0; y < 600; y += 2) {
      for (int x = 0; x < 800; x += 2) {
        const unsigned long p = XGetPixel(image, x, y);
        const unsigned long r = p >> 16 & 0xFF, g = p >> 8 & 0xFF, b = p & 0xFF;
        green += g > 0x40 && g > r && g > b;
      }
    }
    XDestroyImage(image);
  }
  EXPECT_GT(green, 20000);  // a good part of the window is lit by discs
  XSetInputFocus(probe, w, RevertToParent, CurrentTime);
  pause();
  key(XK_q, true);
  key(XK_q, false);
  int status = -1;
  pid_t ended = 0;
  const auto pressed = std::chrono::steady_clock::now();
  while (!ended && std::chrono::steady_clock::now() - pressed < std::chrono::seconds(10)) {
    ended = waitpid(example, &status, WNOHANG);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!ended) {
    kill(example, SIGKILL);
    waitpid(example, &status, 0);
  }
  ASSERT_EQ(ended, example) << "the example did not end on a key";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// Zoomed OpenGL windows: the program draws in page pixels (here 7 x 7
// blocks cleared through scissor boxes, whose edges fall between window pixels) and the picture window shows them
// scaled, at zoom 3 and after a resize to another shape, with every pixel
// where the framebuffer back ends would put it; the bars stay black.
TEST_F(GLX, ZoomedWindowsScaleWhatTheProgramDraws) {
  requestWindowScale({3, true});
  ASSERT_EQ(openScreenBySize(160, 100, 32, 1, modeflag::openGl, 0), 0);
  requestWindowScale({});
  constexpr int block = 7;
  auto colour = [](int bx, int by) { return 0x200000u | static_cast<uint32_t>(bx * 11) << 8 | static_cast<uint32_t>(by * 16); };
  auto draw = [&] {
    gl().glViewport(0, 0, 160, 100);
    gl().glEnable(GL_SCISSOR_TEST);
    for (int by = 0; by * block < 100; ++by) {
      for (int bx = 0; bx * block < 160; ++bx) {
        const uint32_t c = colour(bx, by);
        gl().glScissor(bx * block, 100 - (by + 1) * block, block, block);  // GL counts rows from the bottom
        gl().glClearColor(static_cast<float>(c >> 16) / 255.0f, static_cast<float>(c >> 8 & 0xFF) / 255.0f,
                          static_cast<float>(c & 0xFF) / 255.0f, 1.0f);
        gl().glClear(GL_COLOR_BUFFER_BIT);
      }
    }
    gl().glDisable(GL_SCISSOR_TEST);
    flip();
    XSync(probe, False);
  };
  auto wrongPixels = [&](int width, int height) {
    XImage* image = XGetImage(probe, x11::win->pictureWindow, 0, 0, static_cast<unsigned>(width),
                              static_cast<unsigned>(height), AllPlanes, ZPixmap);
    if (!image) return -1;
    int wrong = 0;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        wrong += (XGetPixel(image, x, y) & 0xFFFFFF) != colour(x * 160 / width / block, y * 100 / height / block);
      }
    }
    XDestroyImage(image);
    return wrong;
  };
  XWindowAttributes a{};
  draw();
  ASSERT_TRUE(XGetWindowAttributes(probe, x11::win->pictureWindow, &a));
  EXPECT_EQ(a.width, 480);
  EXPECT_EQ(a.height, 300);
  EXPECT_EQ(wrongPixels(480, 300), 0);
  // 500 x 260: the picture is 416 x 260, 42 pixels from the left.
  XResizeWindow(probe, x11::win->window, 500, 260);
  pause();
  flip();  // events (the new size) arrive at flips, on the program's thread
  draw();
  ASSERT_TRUE(XGetWindowAttributes(probe, x11::win->pictureWindow, &a));
  EXPECT_EQ(a.x, 42);
  EXPECT_EQ(a.y, 0);
  EXPECT_EQ(a.width, 416);
  EXPECT_EQ(a.height, 260);
  EXPECT_EQ(wrongPixels(416, 260), 0);
}
