// The X11 back end against a real X server: a private Xvfb per test.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "gfx/blit.h"
#include "gfx/driver.h"
#include "gfx/drivers/x11/x11_driver.h"
#include "gfx/input.h"
#include "gfx/mode.h"
#include "gfx/pages.h"
#include "runtime/keys.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

using namespace pel;

namespace {

class X11 : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int n = 90 + static_cast<int>(getpid() % 50);; ++n) {
      const std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
      struct stat st;
      if (stat(socket.c_str(), &st) == 0) continue;
      display = ":" + std::to_string(n);
      server = fork();
      if (server == 0) {
        execlp("Xvfb", "Xvfb", display.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp", nullptr);
        _exit(127);
      }
      for (int i = 0; i < 100 && stat(socket.c_str(), &st) != 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      break;
    }
    setenv("DISPLAY", display.c_str(), 1);
    unsetenv("KELGFX");
    probe = XOpenDisplay(display.c_str());
    ASSERT_NE(probe, nullptr) << "Xvfb did not start on " << display;
  }
  void TearDown() override {
    closeScreen();
    if (probe) XCloseDisplay(probe);
    if (server > 0) {
      kill(server, SIGTERM);
      waitpid(server, nullptr, 0);
    }
  }
  // The runtime's window: the one top-level child of the root window.
  Window findWindow() {
    for (int tries = 0; tries < 50; ++tries) {
      Window root, parent, *children = nullptr;
      unsigned count = 0;
      XQueryTree(probe, DefaultRootWindow(probe), &root, &parent, &children, &count);
      const Window found = count ? children[count - 1] : 0;
      if (children) XFree(children);
      if (found) return found;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return 0;
  }
  int windowCount() {
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    XQueryTree(probe, DefaultRootWindow(probe), &root, &parent, &children, &count);
    if (children) XFree(children);
    return static_cast<int>(count);
  }
  static void settle() { std::this_thread::sleep_for(std::chrono::milliseconds(120)); }
  std::string display;
  pid_t server = -1;
  Display* probe = nullptr;
};

uint32_t shownAs(const ScreenMode* m, int x, int y) {
  const uint8_t* row = m->visibleBuffer + y * m->pitch;
  if (m->bytesPerPixel == 4) return reinterpret_cast<const uint32_t*>(row)[x] & 0xFFFFFF;
  if (m->bytesPerPixel == 2) {
    const uint32_t p = reinterpret_cast<const uint16_t*>(row)[x];
    return ((p & 0xF800) << 8) | ((p & 0x7E0) << 5) | ((p & 0x1F) << 3);
  }
  const uint32_t e = m->palette[row[x]];
  return ((e & 0xFF) << 16) | (e & 0xFF00) | (e >> 16);
}

}  // namespace

TEST_F(X11, WindowHasTheTitleAndSize) {
  setTitle("Pellucet test");
  ASSERT_EQ(openScreenBySize(320, 200, 32, 1, 0, 0), 0);
  EXPECT_STREQ(currentMode()->driver->name, "X11");
  const Window w = findWindow();
  ASSERT_NE(w, 0u);
  char* name = nullptr;
  XFetchName(probe, w, &name);
  ASSERT_NE(name, nullptr);
  EXPECT_STREQ(name, "Pellucet test");
  XFree(name);
  XWindowAttributes a;
  XGetWindowAttributes(probe, w, &a);
  EXPECT_EQ(a.width, 320);
  EXPECT_EQ(a.height, 200);
}

TEST_F(X11, PagesReachTheWindowExactlyAtEachDepth) {
  std::mt19937 random(4);
  for (int depth : {8, 16, 32}) {
    ASSERT_EQ(openScreenBySize(64, 48, depth, 1, 0, 0), 0);
    ScreenMode* m = currentMode();
    lockScreen();
    for (int i = 0; i < m->pitch * m->height; ++i) m->visibleBuffer[i] = static_cast<uint8_t>(random());
    unlockScreen(-1, -1);
    settle();
    const Window w = findWindow();
    XImage* image = XGetImage(probe, w, 0, 0, 64, 48, AllPlanes, ZPixmap);
    ASSERT_NE(image, nullptr);
    for (int y = 0; y < 48; ++y) {
      for (int x = 0; x < 64; ++x) {
        ASSERT_EQ(XGetPixel(image, x, y) & 0xFFFFFF, shownAs(m, x, y)) << "depth " << depth << " at " << x << "," << y;
      }
    }
    XDestroyImage(image);
    closeScreen();
  }
}

TEST_F(X11, OnlyTheDirtyBandIsSent) {
  ASSERT_EQ(openScreenBySize(64, 48, 32, 1, 0, 0), 0);
  findWindow();
  settle();
  const int64_t before = x11RowsPresented();
  lockScreen();
  unlockScreen(5, 14);
  settle();
  EXPECT_EQ(x11RowsPresented() - before, 10);
  settle();
  EXPECT_EQ(x11RowsPresented() - before, 10);  // nothing new, nothing sent
}

TEST_F(X11, KeysAndTheCloseRequest) {
  ASSERT_EQ(openScreenBySize(64, 48, 32, 1, 0, 0), 0);
  const Window w = findWindow();
  XSetInputFocus(probe, w, RevertToParent, CurrentTime);
  XSync(probe, False);
  settle();
  auto press = [&](KeySym sym, KeySym modifier = 0) {
    if (modifier) XTestFakeKeyEvent(probe, XKeysymToKeycode(probe, modifier), True, 0);
    XTestFakeKeyEvent(probe, XKeysymToKeycode(probe, sym), True, 0);
    XTestFakeKeyEvent(probe, XKeysymToKeycode(probe, sym), False, 0);
    if (modifier) XTestFakeKeyEvent(probe, XKeysymToKeycode(probe, modifier), False, 0);
    XSync(probe, False);
    settle();
  };
  press(XK_Escape);
  EXPECT_EQ(readKey(), "\x1b");
  press(XK_F1);
  EXPECT_EQ(readKey(), "\xff;");
  press(XK_Up, XK_Control_L);
  EXPECT_EQ(readKey(), "\xff\x8d");
  press(XK_a);
  EXPECT_EQ(readKey(), "a");
  EventRecord e;
  bool sawPress = false;
  while (pollEvent(e)) sawPress |= e.type == KeyPress && e.a == 0x1E;
  EXPECT_TRUE(sawPress);
  // The window manager's close request.
  XEvent close{};
  close.xclient.type = ClientMessage;
  close.xclient.window = w;
  close.xclient.message_type = XInternAtom(probe, "WM_PROTOCOLS", False);
  close.xclient.format = 32;
  close.xclient.data.l[0] = static_cast<long>(XInternAtom(probe, "WM_DELETE_WINDOW", False));
  XSendEvent(probe, w, False, NoEventMask, &close);
  XSync(probe, False);
  settle();
  EXPECT_EQ(waitKey(), closeKeyCode);
  bool sawClose = false;
  while (pollEvent(e)) sawClose |= e.type == WindowClose;
  EXPECT_TRUE(sawClose);
  EXPECT_EQ(windowCount(), 1);  // still open
}

TEST_F(X11, TypedAccentAndTheMouse) {
  ASSERT_EQ(openScreenBySize(64, 48, 32, 1, 0, 0), 0);
  const Window w = findWindow();
  XSetInputFocus(probe, w, RevertToParent, CurrentTime);
  // A spare key code typing e-acute (the server's default map has none).
  int low = 0, high = 0;
  XDisplayKeycodes(probe, &low, &high);
  KeySym accent[] = {XK_eacute};
  XChangeKeyboardMapping(probe, high, 1, accent, 1);
  XSync(probe, False);
  settle();
  XTestFakeKeyEvent(probe, static_cast<unsigned>(high), True, 0);
  XTestFakeKeyEvent(probe, static_cast<unsigned>(high), False, 0);
  XSync(probe, False);
  settle();
  EXPECT_EQ(readKey(), "\x82");  // code page 437
  EventRecord e;
  while (pollEvent(e)) {
  }
  // Into the window, a click, a wheel step.
  XTestFakeMotionEvent(probe, 0, 10, 12, 0);
  XSync(probe, False);
  settle();
  XTestFakeMotionEvent(probe, 0, 20, 15, 0);
  XTestFakeButtonEvent(probe, 1, True, 0);
  XTestFakeButtonEvent(probe, 1, False, 0);
  XTestFakeButtonEvent(probe, 4, True, 0);
  XTestFakeButtonEvent(probe, 4, False, 0);
  XSync(probe, False);
  settle();
  std::vector<int32_t> types;
  int32_t moveX = -1, wheel = 0;
  while (pollEvent(e)) {
    types.push_back(e.type);
    if (e.type == MouseMove) moveX = e.a;
    if (e.type == MouseWheel) wheel = e.a;
  }
  auto has = [&](int32_t type) { return std::find(types.begin(), types.end(), type) != types.end(); };
  EXPECT_TRUE(has(MouseEnter));
  EXPECT_TRUE(has(MouseButtonPress));
  EXPECT_TRUE(has(MouseButtonRelease));
  EXPECT_EQ(moveX, 20);
  EXPECT_EQ(wheel, 1);
  int32_t x = 0, y = 0, buttons = -1;
  EXPECT_EQ(getMouseHook(&x, &y, &wheel, &buttons, nullptr), 0);
  EXPECT_EQ(x, 20);
  EXPECT_EQ(y, 15);
  EXPECT_EQ(buttons, 0);
}

// Shared-memory segments this process created, from /proc (Linux); other
// tests may be running their own servers meanwhile.
int sharedSegments() {
  FILE* f = std::fopen("/proc/sysvipc/shm", "r");
  if (!f) return 0;
  char line[512];
  int mine = 0;
  std::fgets(line, sizeof line, f);  // the heading
  while (std::fgets(line, sizeof line, f)) {
    long key, id, perms, size, creator;
    if (std::sscanf(line, "%ld %ld %lo %ld %ld", &key, &id, &perms, &size, &creator) == 5 && creator == getpid()) ++mine;
  }
  std::fclose(f);
  return mine;
}

TEST_F(X11, RepeatedModeSetsLeaveNoWindowsOrSegments) {
  const int segments = sharedSegments();
  ASSERT_EQ(openScreenBySize(80, 60, 32, 1, 0, 0), 0);
  EXPECT_EQ(sharedSegments(), segments + 1);  // the window's image is in shared memory
  closeScreen();
  for (int i = 0; i < 100; ++i) {
    ASSERT_EQ(openScreenBySize(80, 60, i % 2 ? 32 : 16, 1, 0, 0), 0);
    closeScreen();
  }
  EXPECT_EQ(windowCount(), 0);
  XSync(probe, False);
  EXPECT_EQ(sharedSegments(), segments);
}

TEST_F(X11, TheDemoShowsItsDiscsAndEndsOnAKey) {
  const pid_t demo = fork();
  if (demo == 0) {
    execl(PEL_DEMO_BINARY, "pellucet", nullptr);
    _exit(127);
  }
  Window w = 0;
  for (int tries = 0; tries < 100 && !w; ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const Window candidate = findWindow();
    char* name = nullptr;
    if (candidate && XFetchName(probe, candidate, &name) && name) {
      if (std::string(name) == "Pellucet v0.50 by Ixo") w = candidate;
      XFree(name);
    }
  }
  ASSERT_NE(w, 0u) << "the demo's window did not appear";
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  XImage* image = XGetImage(probe, w, 0, 0, 800, 600, AllPlanes, ZPixmap);
  ASSERT_NE(image, nullptr);
  int green = 0, white = 0;
  for (int y = 0; y < 600; y += 2) {
    for (int x = 0; x < 800; x += 2) {
      const unsigned long p = XGetPixel(image, x, y) & 0xFFFFFF;
      green += (p & 0xFF00FF) == 0 && (p & 0xFF00) != 0;
      white += y <= 9 && x <= 200 && p == 0xFFFFFF;
    }
  }
  XDestroyImage(image);
  EXPECT_GT(green, 50000);  // most of the window is lit by discs
  EXPECT_GT(white, 20);     // the frame-rate line
  XSetInputFocus(probe, w, RevertToParent, CurrentTime);
  XSync(probe, False);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const auto pressed = std::chrono::steady_clock::now();
  XTestFakeKeyEvent(probe, XKeysymToKeycode(probe, XK_q), True, 0);
  XTestFakeKeyEvent(probe, XKeysymToKeycode(probe, XK_q), False, 0);
  XSync(probe, False);
  int status = -1;
  pid_t ended = 0;
  while (!ended && std::chrono::steady_clock::now() - pressed < std::chrono::seconds(3)) {
    ended = waitpid(demo, &status, WNOHANG);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const auto took = std::chrono::steady_clock::now() - pressed;
  if (!ended) {
    kill(demo, SIGKILL);
    waitpid(demo, &status, 0);
  }
  ASSERT_NE(ended, 0) << "the demo did not end on a key";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_LT(took, std::chrono::seconds(1));
}
