// "X11" and "OpenGL-GLX" on a private Xvfb: pixels read back with
// XGetImage, keys typed through XTEST, the close request and the title
// through the window manager's protocols, as a window manager would.
#include <pellucet/pellucet.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "../private_xvfb.h"
#include "conformance.h"
#include "gfx/drivers/x11/x11_testing.h"
#include "gfx/scale.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/XKBlib.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xdamage.h>
#include <X11/keysym.h>

#include "../x11_test_support.h"

namespace pel::conformance {
namespace {

PrivateXvfb server;
Display* probe = nullptr;
bool openGl = false;
Damage damage = 0;
int damageEvents = 0;

std::string start() {
  if (!server.start()) return "Xvfb did not start";
  setenv("DISPLAY", server.display.c_str(), 1);
  unsetenv("WAYLAND_DISPLAY");
  probe = XOpenDisplay(server.display.c_str());
  return probe ? "" : "no connection to Xvfb";
}

void stop() {
  damage = 0;  // goes with the connection
  if (probe) XCloseDisplay(probe);
  probe = nullptr;
  server.stop();
}

// The program's window: the one top-level child of the root window.
Window window() {
  Window root = 0, parent = 0, *children = nullptr;
  unsigned count = 0;
  XQueryTree(probe, DefaultRootWindow(probe), &root, &parent, &children, &count);
  const Window found = count ? children[count - 1] : 0;
  if (children) XFree(children);
  return found;
}

// The window thread's passes (or, for OpenGL, flips) after the server has
// taken what the probe sent.
void settle() {
  XSync(probe, False);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  if (openGl) {
    for (int i = 0; i < 3; ++i) pellucet::flip();
    return;
  }
  // The thread sleeps while it has nothing to do: each pass after a wake.
  const int64_t start = x11Passes();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (int64_t pass = 1; pass <= 3; ++pass) {
    x11Wake();
    while (x11Passes() < start + pass && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

std::vector<uint32_t> grab(int32_t& width, int32_t& height) {
  const Window w = window();
  XWindowAttributes a{};
  if (!w || !XGetWindowAttributes(probe, w, &a)) return {};
  XImage* image = XGetImage(probe, w, 0, 0, static_cast<unsigned>(a.width), static_cast<unsigned>(a.height),
                            AllPlanes, ZPixmap);
  if (!image) return {};
  width = a.width;
  height = a.height;
  std::vector<uint32_t> pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) pixels[static_cast<std::size_t>(y) * width + x] = XGetPixel(image, x, y) & 0xFFFFFF;
  }
  XDestroyImage(image);
  return pixels;
}

// The key code that types a symbol; a symbol no key has goes on a spare
// key code, as a tool that types any character would put it.
KeyCode keycodeFor(KeySym symbol) {
  if (const KeyCode code = XKeysymToKeycode(probe, symbol)) return code;
  int first = 0, last = 0, perCode = 0;
  XDisplayKeycodes(probe, &first, &last);
  KeySym* map = XGetKeyboardMapping(probe, static_cast<KeyCode>(first), last - first + 1, &perCode);
  KeyCode spare = 0;
  for (int code = last; map && code >= first && !spare; --code) {
    bool empty = true;
    for (int i = 0; i < perCode; ++i) empty &= map[(code - first) * perCode + i] == NoSymbol;
    if (empty) spare = static_cast<KeyCode>(code);
  }
  if (map) XFree(map);
  if (!spare) return 0;
  KeySym symbols[2] = {symbol, symbol};
  XChangeKeyboardMapping(probe, spare, 2, symbols, 1);
  XSync(probe, False);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the window's client hears of the new map
  return spare;
}

void keyEvent(KeySym symbol, bool press) { XTestFakeKeyEvent(probe, keycodeFor(symbol), press, 0); }

bool type(const std::vector<Key>& keys) {
  const Window w = window();
  if (!w) return false;
  XSetInputFocus(probe, w, RevertToParent, CurrentTime);
  XSync(probe, False);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const KeySym modifiers[] = {XK_Shift_L, XK_Control_L, XK_Alt_L};
  for (const Key& k : keys) {
    const KeySym symbol = XStringToKeysym(k.name);
    if (symbol == NoSymbol || !keycodeFor(symbol)) return false;
    for (int i = 0; i < 3; ++i) {
      if (k.modifiers & (1u << i)) keyEvent(modifiers[i], true);
    }
    keyEvent(symbol, true);
    keyEvent(symbol, false);
    for (int i = 2; i >= 0; --i) {
      if (k.modifiers & (1u << i)) keyEvent(modifiers[i], false);
    }
    XSync(probe, False);
    // OpenGL windows take events at flips only: each key arrives apart, the
    // last at the program's next flip.
    if (openGl && &k != &keys.back()) pellucet::flip();
  }
  return true;
}

bool requestClose() {
  const Window w = window();
  if (!w) return false;
  sendCloseRequest(probe, w);
  XSync(probe, False);
  return true;
}

// The server's own record of what was drawn on the window: one rectangle
// an event.
void watch() {
  int error = 0;
  const Window w = window();
  if (!w || !XDamageQueryExtension(probe, &damageEvents, &error)) return;
  if (damage) XDamageDestroy(probe, damage);
  damage = XDamageCreate(probe, w, XDamageReportRawRectangles);
  XSync(probe, False);
  while (XPending(probe)) {
    XEvent e;
    XNextEvent(probe, &e);
  }
}

bool sentRows(int32_t& first, int32_t& end) {
  if (!damage) return false;
  XSync(probe, False);
  RowSpan sent{};
  while (XPending(probe)) {
    XEvent e;
    XNextEvent(probe, &e);
    if (e.type != damageEvents + XDamageNotify) continue;
    const auto& d = reinterpret_cast<const XDamageNotifyEvent&>(e);
    sent = joined(sent, {d.area.y, d.area.y + d.area.height});
  }
  first = sent.first;
  end = sent.end;
  return true;
}

// The server repeats held keys itself, at the keyboard's rate.
bool holdKey(const char* name, int ms, int delay, int rate) {
  const Window w = window();
  const KeyCode code = XKeysymToKeycode(probe, XStringToKeysym(name));
  if (!w || !code || !XkbSetAutoRepeatRate(probe, XkbUseCoreKbd, static_cast<unsigned>(delay),
                                           static_cast<unsigned>(1000 / rate)))
    return false;
  XSetInputFocus(probe, w, RevertToParent, CurrentTime);
  XTestFakeKeyEvent(probe, code, True, 0);
  XSync(probe, False);
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  // OpenGL windows take their events at flips.
  while (std::chrono::steady_clock::now() < until) {
    if (openGl) pellucet::flip();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  XTestFakeKeyEvent(probe, code, False, 0);
  XSync(probe, False);
  return true;
}

// XTEST moves the pointer on the root window: client points from the
// window's place.
bool pointTo(int32_t x, int32_t y) {
  const Window w = window();
  if (!w) return false;
  int rootX = 0, rootY = 0;
  Window child = 0;
  XTranslateCoordinates(probe, w, DefaultRootWindow(probe), x, y, &rootX, &rootY, &child);
  XTestFakeMotionEvent(probe, -1, rootX, rootY, 0);
  XSync(probe, False);
  return true;
}

// X numbers the middle button 2 and the right one 3.
bool click(int32_t button, int32_t count) {
  const unsigned xButton = button == 2 ? 3 : button == 3 ? 2 : 1;
  for (int i = 0; i < count; ++i) {
    XTestFakeButtonEvent(probe, xButton, True, 0);
    XTestFakeButtonEvent(probe, xButton, False, 0);
  }
  XSync(probe, False);
  return true;
}

// Buttons 4 and 5 are the wheel's notches away from the user and towards.
bool scroll(int32_t notches) {
  for (int i = 0; i < (notches < 0 ? -notches : notches); ++i) {
    XTestFakeButtonEvent(probe, notches > 0 ? 4 : 5, True, 0);
    XTestFakeButtonEvent(probe, notches > 0 ? 4 : 5, False, 0);
  }
  XSync(probe, False);
  return true;
}

bool resize(int32_t width, int32_t height) {
  const Window w = window();
  if (!w) return false;
  XResizeWindow(probe, w, static_cast<unsigned>(width), static_cast<unsigned>(height));
  XSync(probe, False);
  return true;
}

// Without a window manager the focus goes where it is set: to the root
// window, or back to ours.
// One key down or up through XTEST, wherever the focus is.
bool pressKey(const char* name, bool press) {
  const KeySym symbol = XStringToKeysym(name);
  if (symbol == NoSymbol || !keycodeFor(symbol)) return false;
  keyEvent(symbol, press);
  XSync(probe, False);
  // OpenGL windows take events at flips only.
  if (openGl) pellucet::flip();
  return true;
}

bool focus(bool take) {
  const Window w = window();
  if (!w) return false;
  XSetInputFocus(probe, take ? w : DefaultRootWindow(probe), RevertToParent, CurrentTime);
  XSync(probe, False);
  return true;
}

bool title(std::string& title) {
  char* name = nullptr;
  const Window w = window();
  if (!w || !XFetchName(probe, w, &name) || !name) return false;
  title = name;
  XFree(name);
  return true;
}

}  // namespace

const Backend x11Backend = {
    .name = "X11",
    .driver = "X11",
    .flags = 0,
    .start = [] {
      openGl = false;
      return start();
    },
    .stop = stop,
    .settle = settle,
    .grab = grab,
    .type = type,
    .requestClose = requestClose,
    .title = title,
    .noScreen = nullptr,
    .noInput = nullptr,
    .watch = watch,
    .sentRows = sentRows,
    .holdKey = holdKey,
    .pointTo = pointTo,
    .click = click,
    .scroll = scroll,
    .resize = resize,
    .focus = focus,
    // Any symbol goes on a spare key code (keycodeFor).
    .anyCharacter = true,
    .pressKey = pressKey,
};

// The same window and input, with a program that draws with OpenGL: no
// page pixels to compare, and no damage of the runtime's to read.
const Backend glxBackend = [] {
  Backend b = x11Backend;
  b.name = "OpenGL-GLX";
  b.driver = "OpenGL";
  b.flags = pellucet::openGl;
  b.start = [] {
    openGl = true;
    return start();
  };
  b.grab = nullptr;
  b.noScreen = "programs draw with OpenGL here, not on pages";
  b.watch = nullptr;
  b.sentRows = nullptr;
  return b;
}();

}  // namespace pel::conformance
