// Waits for a window with the given title, lets it run, saves what it shows
// as a PNG and sends it the Escape key (which ends the demo).
// Usage: pellucet-snapshot title picture.png [seconds]
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "demo/png_file.h"

namespace {

Window findTitled(Display* d, const char* title) {
  Window root, parent, *children = nullptr;
  unsigned count = 0;
  Window found = 0;
  if (XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count)) {
    for (unsigned i = 0; i < count && !found; ++i) {
      char* name = nullptr;
      if (XFetchName(d, children[i], &name) && name) {
        if (std::strcmp(name, title) == 0) found = children[i];
        XFree(name);
      }
    }
  }
  if (children) XFree(children);
  return found;
}

void sendKey(Display* d, Window w, KeySym symbol) {
  XKeyEvent key{};
  key.display = d;
  key.window = w;
  key.root = DefaultRootWindow(d);
  key.time = CurrentTime;
  key.same_screen = True;
  key.keycode = XKeysymToKeycode(d, symbol);
  for (int type : {KeyPress, KeyRelease}) {
    key.type = type;
    XSendEvent(d, w, True, type == KeyPress ? KeyPressMask : KeyReleaseMask, reinterpret_cast<XEvent*>(&key));
  }
  XFlush(d);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: pellucet-snapshot title picture.png [seconds]\n", stderr);
    return 2;
  }
  const double seconds = argc > 3 ? std::atof(argv[3]) : 3.0;
  Display* d = XOpenDisplay(nullptr);
  if (!d) {
    std::fputs("pellucet-snapshot: no X display\n", stderr);
    return 1;
  }
  Window w = 0;
  for (int tries = 0; tries < 200 && !w; ++tries) {
    w = findTitled(d, argv[1]);
    if (!w) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (!w) {
    std::fprintf(stderr, "pellucet-snapshot: no window titled \"%s\" appeared\n", argv[1]);
    XCloseDisplay(d);
    return 1;
  }
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  XWindowAttributes a{};
  XGetWindowAttributes(d, w, &a);
  XImage* image =
      XGetImage(d, w, 0, 0, static_cast<unsigned>(a.width), static_cast<unsigned>(a.height), AllPlanes, ZPixmap);
  bool written = false;
  if (image) {
    std::vector<uint32_t> pixels(static_cast<std::size_t>(a.width) * a.height);
    for (int y = 0; y < a.height; ++y) {
      for (int x = 0; x < a.width; ++x)
        pixels[static_cast<std::size_t>(y) * a.width + x] = XGetPixel(image, x, y) & 0xFFFFFF;
    }
    XDestroyImage(image);
    written = pel::writePng(argv[2], pixels.data(), a.width, a.height);
  }
  sendKey(d, w, XK_Escape);
  XCloseDisplay(d);
  if (!written) {
    std::fprintf(stderr, "pellucet-snapshot: could not save the window to %s\n", argv[2]);
    return 1;
  }
  return 0;
}
