// The X11 window layer: the connection, the window and its rebuild for the
// full-screen toggle, and the common operations.
// The runtime's headers before X's (see x11_library.h).
#include "gfx/driver.h"
#include "gfx/drivers/window_rules.h"
#include "gfx/drivers/x11/x11_settings.h"
#include "gfx/mode.h"

#include "gfx/drivers/x11/x11_window.h"

#include <X11/Xatom.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>

namespace pel::x11 {

X11Window* win = nullptr;
// Set before the first window opens and never cleared.
const Library* xl = nullptr;

namespace {

constexpr int highPriorityNice = -5;  // granted only to privileged processes; refused quietly otherwise

// Platform calls of the window rules; the caller holds the presentation lock.
const WindowPlatform platformCalls = {
    .trackLeave = nullptr,  // X reports LeaveNotify by itself
    .clipToClient =
        [](void*) {
          xl->XGrabPointer(win->display, win->window, True, 0, GrabModeAsync, GrabModeAsync, win->window, None,
                           CurrentTime);
        },
    .releaseClip = [](void*) { xl->XUngrabPointer(win->display, CurrentTime); },
    .capture = nullptr,  // X keeps delivering to the window while a button is held
    .warpPointer =
        [](void*, int32_t x, int32_t y) {
          xl->XWarpPointer(win->display, None, win->window, 0, 0, 0, 0,
                           win->picture.x + windowFromPicture(x, win->picture.width, win->width),
                           win->picture.y + windowFromPicture(y, win->picture.height, win->height));
        },
    .updateCursor =
        [](void*) {
          if (win->rules.cursorVisible) {
            xl->XUndefineCursor(win->display, win->window);
            return;
          }
          static const char empty[1] = {0};
          Pixmap blank = xl->XCreateBitmapFromData(win->display, win->window, empty, 1, 1);
          XColor black{};
          Cursor cursor = xl->XCreatePixmapCursor(win->display, blank, blank, &black, &black, 0, 0);
          xl->XDefineCursor(win->display, win->window, cursor);
          xl->XFreeCursor(win->display, cursor);
          xl->XFreePixmap(win->display, blank);
        },
    .initWindow = initWindow,
    .exitWindow = exitWindow,
    .setHighPriority =
        [](void*, bool high) {
          if (win->threadId) setpriority(PRIO_PROCESS, static_cast<id_t>(win->threadId), high ? highPriorityNice : 0);
        },
    .window = nullptr,
};

std::atomic<bool> requestFailed{false};
int noteError(Display*, XErrorEvent*) {
  requestFailed = true;
  return 0;
}

}  // namespace

bool withoutErrorExitImpl(bool (*call)(void*), void* context) {
  xl->XSync(win->display, False);
  requestFailed = false;
  auto previous = xl->XSetErrorHandler(noteError);
  const bool done = call(context);
  xl->XSync(win->display, False);
  xl->XSetErrorHandler(previous);
  return done && !requestFailed;
}

namespace {

// An integer setting of the settings manager, when one runs and has it. Its
// window may go away between the two requests.
std::optional<int32_t> managerSetting(const char* name) {
  Display* d = win->display;
  const std::string selection = "_XSETTINGS_S" + std::to_string(win->screen);
  const Atom settings = win->atoms.settings;
  const Window owner = xl->XGetSelectionOwner(d, xl->XInternAtom(d, selection.c_str(), False));
  if (!owner) return std::nullopt;
  std::optional<int32_t> value;
  withoutErrorExit([&] {
    const Property property(d, owner, settings, settings, 8, 1 << 16);
    if (property.size()) value = integerSetting(property.bytes(), property.size(), name);
    return true;
  });
  return value;
}

Time doubleClickTime() {
  constexpr Time fallback = 400;
  const std::optional<int32_t> time = managerSetting("Net/DoubleClickTime");
  return time && *time > 0 ? static_cast<Time>(*time) : fallback;
}

// The desktop's scale, for the zoom of windows that ask for it: the settings
// manager's window scale or dots per inch (in 1024ths), else Xft.dpi from
// the server's resources.
int32_t desktopScale() {
  if (const std::optional<int32_t> factor = managerSetting("Gdk/WindowScalingFactor"); factor && *factor >= 1)
    return scaleFromDpi(*factor * 96);
  if (const std::optional<int32_t> dpi = managerSetting("Xft/DPI"); dpi && *dpi > 0) return scaleFromDpi(*dpi / 1024);
  Display* d = win->display;
  const Property resources(d, RootWindow(d, win->screen), XA_RESOURCE_MANAGER, XA_STRING, 8, 1 << 16);
  return scaleFromDpi(resourceDpi(reinterpret_cast<const char*>(resources.bytes()), resources.size()));
}

// The server went away (it was stopped, or the session ended): the window
// thread stops using the connection and the program is told as if the
// window had been closed, instead of Xlib ending the process.
void connectionLost(Display*, void*) { win->lost = true; }

// Xlib's own handlers end the process on a lost connection and on any
// protocol error. On the back end's connection a lost server goes to
// connectionLost, and a protocol error (a window another client destroyed,
// a race with the window manager) is dropped: the requests that can fail in
// the ordinary course run under withoutErrorExit. Every other connection of
// the program keeps the handlers it had.
std::atomic<Display*> ourDisplay{nullptr};
XIOErrorHandler previousIoHandler = nullptr;
XErrorHandler previousErrorHandler = nullptr;
int ioError(Display* d) {
  if (d == ourDisplay.load()) return 0;
  return previousIoHandler ? previousIoHandler(d) : 0;
}
int protocolError(Display* d, XErrorEvent* e) {
  if (d == ourDisplay.load()) return 0;
  return previousErrorHandler ? previousErrorHandler(d, e) : 0;
}

void adoptConnection(Display* d) {
  static std::once_flag installed;
  std::call_once(installed, [] {
    previousErrorHandler = xl->XSetErrorHandler(protocolError);
    if (xl->XSetIOErrorExitHandler) previousIoHandler = xl->XSetIOErrorHandler(ioError);
  });
  ourDisplay = d;
  if (xl->XSetIOErrorExitHandler) xl->XSetIOErrorExitHandler(d, connectionLost, nullptr);
}

// The display's refresh rate, 0 when the server does not say.
int32_t refreshRate() {
#ifdef PEL_HAVE_XRANDR
  int event = 0, error = 0;
  if (!xl->hasXrandr || !xl->XRRQueryExtension(win->display, &event, &error)) return 0;
  XRRScreenConfiguration* config = xl->XRRGetScreenInfo(win->display, RootWindow(win->display, win->screen));
  if (!config) return 0;
  const int32_t rate = xl->XRRConfigCurrentRate(config);
  xl->XRRFreeScreenConfigInfo(config);
  return rate;
#else
  return 0;
#endif
}

struct Area {
  int32_t x, y, width, height;
};

// The monitor holding the anchor point, else the primary one; the whole
// screen when RandR cannot tell.
Area monitorArea() {
  Display* d = win->display;
  Area area{0, 0, DisplayWidth(d, win->screen), DisplayHeight(d, win->screen)};
#ifdef PEL_HAVE_XRANDR
  int event = 0, error = 0, count = 0;
  if (!xl->hasXrandr || !xl->XRRQueryExtension(d, &event, &error)) return area;
  XRRMonitorInfo* monitors = xl->XRRGetMonitors(d, RootWindow(d, win->screen), True, &count);
  if (!monitors) return area;
  int chosen = -1;
  for (int i = 0; i < count && chosen < 0; ++i) {
    const XRRMonitorInfo& m = monitors[i];
    if (win->anchorX >= m.x && win->anchorY >= m.y && win->anchorX < m.x + m.width && win->anchorY < m.y + m.height)
      chosen = i;
  }
  for (int i = 0; i < count && chosen < 0; ++i) {
    if (monitors[i].primary) chosen = i;
  }
  if (chosen >= 0) area = {monitors[chosen].x, monitors[chosen].y, monitors[chosen].width, monitors[chosen].height};
  xl->XRRFreeMonitors(monitors);
#endif
  return area;
}

// The monitor's part that the desktop leaves to windows (its panels and
// docks excluded), where the window manager says.
Area workArea(const Area& monitor) {
  Display* d = win->display;
  const Property work(d, RootWindow(d, win->screen), xl->XInternAtom(d, "_NET_WORKAREA", False), XA_CARDINAL, 32, 4);
  if (work.size() != 4) return monitor;
  const long* w = work.longs();
  const int32_t left = std::max<int32_t>(monitor.x, static_cast<int32_t>(w[0]));
  const int32_t top = std::max<int32_t>(monitor.y, static_cast<int32_t>(w[1]));
  const int32_t right = std::min<int32_t>(monitor.x + monitor.width, static_cast<int32_t>(w[0] + w[2]));
  const int32_t bottom = std::min<int32_t>(monitor.y + monitor.height, static_cast<int32_t>(w[1] + w[3]));
  return right > left && bottom > top ? Area{left, top, right - left, bottom - top} : monitor;
}

// The outer window's top-left corner: the client's place less the frame the
// window manager drew around it.
int32_t windowPosition() {
  Display* d = win->display;
  int rootX = 0, rootY = 0;
  Window child = 0;
  if (!xl->XTranslateCoordinates(d, win->window, RootWindow(d, win->screen), 0, 0, &rootX, &rootY, &child)) return 0;
  const Property extents(d, win->window, win->atoms.frameExtents, XA_CARDINAL, 32, 4);  // left, right, top, bottom
  if (extents.size() == 4) {
    rootX -= static_cast<int>(extents.longs()[0]);
    rootY -= static_cast<int>(extents.longs()[2]);
  }
  return static_cast<int32_t>(static_cast<uint32_t>(rootY) << 16 | (static_cast<uint32_t>(rootX) & 0xFFFF));
}

}  // namespace

X11Window* createLayer(const char* title, int32_t width, int32_t height, int32_t flags, WindowHooks hooks) {
  if (win) return nullptr;
  if (!xl) xl = library();
  if (!xl) return nullptr;
  win = new X11Window;
  win->width = width;
  win->height = height;
  win->title.set(title);
  win->hooks = hooks;
  win->scale = requestedWindowScale();
  resetWindowRules(win->rules, platformCalls, width, height, flags);
  return win;
}

void destroyLayer() {
  publishWindowZoom(0);
  xkb::closeComposer(win->composer);
  delete win;
  win = nullptr;
}

bool openDisplay() {
  win->display = xl->XOpenDisplay(nullptr);
  if (!win->display) return false;
  Display* d = win->display;
  adoptConnection(d);
  win->screen = DefaultScreen(d);
  win->visual = DefaultVisual(d, win->screen);
  win->depth = DefaultDepth(d, win->screen);
  // The first window opens on the monitor the pointer is on.
  Window rootReturn = 0, child = 0;
  int windowX = 0, windowY = 0;
  unsigned buttons = 0;
  xl->XQueryPointer(d, RootWindow(d, win->screen), &rootReturn, &child, &win->anchorX, &win->anchorY, &windowX,
                    &windowY, &buttons);
  const char* names[] = {"WM_DELETE_WINDOW",
                         "_NET_WM_STATE",
                         "_NET_WM_STATE_FULLSCREEN",
                         "_NET_WM_STATE_ABOVE",
                         "_NET_WM_STATE_MAXIMIZED_VERT",
                         "_NET_WM_STATE_MAXIMIZED_HORZ",
                         "_MOTIF_WM_HINTS",
                         "_NET_FRAME_EXTENTS", "_XSETTINGS_SETTINGS"};
  Atom atoms[std::size(names)];
  xl->XInternAtoms(d, const_cast<char**>(names), std::size(names), False, atoms);
  win->atoms = {atoms[0], atoms[1], atoms[2], atoms[3], atoms[4], atoms[5], atoms[6], atoms[7], atoms[8]};
  win->clicks.ms = static_cast<uint32_t>(doubleClickTime());
  int shapeEvent = 0, shapeError = 0;
  win->hasShape = xl->hasXext && xl->XShapeQueryExtension(d, &shapeEvent, &shapeError);
  xl->XkbSetDetectableAutoRepeat(d, True, nullptr);
  // Keymap changes as XKB reports them, each applied as it comes: left to
  // Xlib's own bookkeeping, a change that comes while the last one is being
  // fetched can be lost, and its keys looked up in the old map.
  int opcode = 0, error = 0, major = XkbMajorVersion, minor = XkbMinorVersion;
  win->xkbEvent = -1;
  if (xl->XkbQueryExtension(d, &opcode, &win->xkbEvent, &error, &major, &minor))
    xl->XkbSelectEvents(d, XkbUseCoreKbd, XkbMapNotifyMask, XkbMapNotifyMask);
  return true;
}

void closeDisplay() {
  Display* d = win->display;
  if (!d) return;
  exitWindow();
  if (win->colormap) xl->XFreeColormap(d, win->colormap);
  win->colormap = 0;
  xl->XCloseDisplay(d);
  ourDisplay = nullptr;  // after: closing a lost connection may report again
  win->display = nullptr;
}

// The picture sits in the middle of a full-screen window, whatever size the
// window manager gave it, and at the top left of a framed one; zoomed and
// resizable windows scale it to the window, centred.
void placePicture(int32_t windowW, int32_t windowH) {
  const int32_t flags = win->rules.modeFlags;
  const bool full = flags & modeflag::fullScreen;
  const bool scaled = !(flags & modeflag::shaped) && ((full && win->scaleToFit) || win->scale.on());
  const PictureRect shown =
      pictureInWindow(windowW, windowH, win->width, win->height,
                      scaled ? PicturePlace::scaled : full ? PicturePlace::centred : PicturePlace::corner,
                      full || win->scale.resizable ? 0 : win->zoom);
  const PictureRect& was = win->picture;
  const bool changed = shown.x != was.x || shown.y != was.y || shown.width != was.width || shown.height != was.height;
  placeWindow(*win, windowW, windowH, shown);
  if (win->pictureWindow) {
    xl->XMoveResizeWindow(win->display, win->pictureWindow, win->picture.x, win->picture.y, static_cast<unsigned>(shown.width),
                          static_cast<unsigned>(shown.height));
  }
  if (changed && win->hooks.pictureMoved) win->hooks.pictureMoved();
}

// A window of the surface's size centred on its monitor, or in full screen a
// frameless window covering the monitor with the picture in the middle.
bool initWindow(void*) {
  Display* d = win->display;
  const int32_t flags = win->rules.modeFlags;
  const bool full = flags & modeflag::fullScreen;
  const Area monitor = monitorArea();
  const bool zoomed = win->scale.on() && !(flags & modeflag::shaped);
  if (zoomed) {
    const Area work = workArea(monitor);
    win->zoom = chooseZoom(win->scale, work.width, work.height, win->width, win->height, desktopScale());
  }
  // A zoomed window larger than X allows is the picture at its own size.
  if (int64_t{win->width} * win->zoom > largestWindowSide || int64_t{win->height} * win->zoom > largestWindowSide)
    win->zoom = 1;
  publishWindowZoom(win->zoom);
  const int32_t outerW = full ? monitor.width : win->width * win->zoom;
  const int32_t outerH = full ? monitor.height : win->height * win->zoom;
  placePicture(outerW, outerH);
  const int32_t x = monitor.x + (full ? 0 : (monitor.width - outerW) / 2);
  const int32_t y = monitor.y + (full ? 0 : (monitor.height - outerH) / 2);
  if ((flags & modeflag::shaped) && !win->hasShape) return false;

  XSetWindowAttributes attributes{};
  attributes.background_pixel = BlackPixel(d, win->screen);
  attributes.event_mask = KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask |
                          EnterWindowMask | LeaveWindowMask | FocusChangeMask | KeymapStateMask | ExposureMask |
                          PropertyChangeMask |
                          StructureNotifyMask;
  win->window = xl->XCreateWindow(d, RootWindow(d, win->screen), x, y, static_cast<unsigned>(outerW),
                                  static_cast<unsigned>(outerH), 0, win->depth, InputOutput, win->visual,
                                  CWBackPixel | CWEventMask, &attributes);
  if (!win->window) return false;
  // A fixed size; without switching the window manager offers no maximise.
  // A resizable window takes any size, the picture following it.
  if (XSizeHints* hints = xl->XAllocSizeHints()) {
    const bool anySize = win->scale.resizable && !full && zoomed;
    hints->flags = PPosition | (anySize ? 0 : PMinSize) |
                   (!anySize && (full || (flags & modeflag::noSwitching)) ? PMaxSize : 0);
    hints->x = x;
    hints->y = y;
    hints->min_width = hints->max_width = outerW;
    hints->min_height = hints->max_height = outerH;
    xl->XSetWMNormalHints(d, win->window, hints);
    xl->XFree(hints);
  }
  Atom states[2];
  int stateCount = 0;
  if (full) states[stateCount++] = win->atoms.fullScreen;
  if (flags & modeflag::alwaysOnTop) states[stateCount++] = win->atoms.above;
  if (stateCount) {
    xl->XChangeProperty(d, win->window, win->atoms.wmState, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(states), stateCount);
  }
  if (full || (flags & modeflag::noFrame)) {
    const long motif[5] = {2, 0, 0, 0, 0};  // decorations given, and none
    xl->XChangeProperty(d, win->window, win->atoms.motifHints, win->atoms.motifHints, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(motif), 5);
  }
  xl->XStoreName(d, win->window, win->title.current().c_str());
  xl->XSetWMProtocols(d, win->window, &win->atoms.deleteWindow, 1);
  if (flags & modeflag::shaped) {
    win->shapeBits.assign(static_cast<std::size_t>((win->width + 7) / 8) * static_cast<std::size_t>(win->height), 0);
  }
  if (win->pictureVisual) {
    XSetWindowAttributes pictureAttributes{};
    pictureAttributes.colormap = win->colormap;
    win->pictureWindow = xl->XCreateWindow(d, win->window, win->picture.x, win->picture.y, static_cast<unsigned>(win->picture.width),
                                     static_cast<unsigned>(win->picture.height), 0, win->pictureDepth, InputOutput,
                                     win->pictureVisual, CWColormap | CWBorderPixel | CWBackPixel, &pictureAttributes);
    if (!win->pictureWindow) return false;
    xl->XMapWindow(d, win->pictureWindow);
  }
  xl->XMapRaised(d, win->window);
  xl->XSync(d, False);
  if (ScreenMode* m = currentMode()) m->refreshRate = refreshRate();
  return !win->hooks.windowBuilt || win->hooks.windowBuilt();
}

void exitWindow(void*) {
  if (win->window && win->hooks.windowGoing) win->hooks.windowGoing();
  if (win->rules.clip) xl->XUngrabPointer(win->display, CurrentTime);
  // The rebuilt window goes to the monitor this one is on.
  Window child = 0;
  if (win->window && !win->lost) {
    xl->XTranslateCoordinates(win->display, win->window, RootWindow(win->display, win->screen), win->windowW / 2,
                              win->windowH / 2, &win->anchorX, &win->anchorY, &child);
  }
  if (win->window) xl->XDestroyWindow(win->display, win->window);
  win->window = 0;
  win->pictureWindow = 0;  // went with its parent
  win->shapeBits.clear();
  std::memset(win->keyDown, 0, sizeof win->keyDown);
}

int32_t getMouse(int32_t* x, int32_t* y, int32_t* wheel, int32_t* buttons, int32_t* clip) {
  return win ? rulesGetMouse(win->rules, x, y, wheel, buttons, clip) : -1;
}

// Called under the runtime's lock, which keeps a window thread away.
int32_t setMouse(int32_t x, int32_t y, int32_t cursor, int32_t clip) {
  if (win && win->window) {
    rulesSetMouse(win->rules, x, y, cursor, clip);
    xl->XFlush(win->display);
    // A grab's reply may have brought events into Xlib's queue, which the
    // window thread's poll would not see.
    win->wake.wake();
  }
  return 0;
}

// The thread handling events sets it (see applyTitle).
void setTitle(const char* title) {
  if (!win) return;
  win->title.set(title);
  win->wake.wake();
}

void applyTitle() {
  std::string title;
  if (win->window && win->title.takeChange(title)) xl->XStoreName(win->display, win->window, title.c_str());
}

void waitVsync() {
  const ScreenMode* m = currentMode();
  const int32_t rate = m ? m->refreshRate : 0;
  std::this_thread::sleep_for(std::chrono::milliseconds(rate > 0 ? 1000 / rate : 16));
}

int32_t setWindowPos(int32_t x, int32_t y) {
  if (!win) return 0;
  // The program may already hold the lock (the runtime counts its holds).
  const ScreenMode* m = currentMode();
  const bool held = m && m->lockCount != 0;
  if (!held) win->presentation.lock();
  int32_t result = 0;
  if (win->window && !(win->rules.modeFlags & modeflag::fullScreen)) {
    if (x == keepCoordinate && y == keepCoordinate) {
      result = windowPosition();
    } else {
      xl->XMoveWindow(win->display, win->window, x, y);
      xl->XFlush(win->display);
    }
    win->wake.wake();  // the round trips may have queued events (see setMouse)
  }
  if (!held) win->presentation.unlock();
  return result;
}

// The display's modes of the given depth as (width << 16) | height; the
// depths 15 and 16, and 24 and 32, stand for each other.
int32_t* fetchModes(int32_t depth, int32_t* count) {
  if (count) *count = 0;
  if (!xl) xl = library();  // no window thread can be running yet
  if (!xl) return nullptr;
  Display* d = xl->XOpenDisplay(nullptr);
  if (!d) return nullptr;
  const int screen = DefaultScreen(d);
  int bitsPerPixel = DefaultDepth(d, screen), formats = 0;
  if (XPixmapFormatValues* list = xl->XListPixmapFormats(d, &formats)) {
    for (int i = 0; i < formats; ++i) {
      if (list[i].depth == DefaultDepth(d, screen)) bitsPerPixel = list[i].bits_per_pixel;
    }
    xl->XFree(list);
  }
  auto same = [](int32_t a, int32_t b) {
    return a == b || (a == 15 && b == 16) || (a == 16 && b == 15) || (a == 24 && b == 32) || (a == 32 && b == 24);
  };
  std::vector<int32_t> sizes;
  if (same(depth, bitsPerPixel) || depth == DefaultDepth(d, screen)) {
    auto add = [&](uint32_t w, uint32_t h) { sizes.push_back(static_cast<int32_t>(w << 16 | (h & 0xFFFF))); };
#ifdef PEL_HAVE_XRANDR
    int event = 0, error = 0;
    if (xl->hasXrandr && xl->XRRQueryExtension(d, &event, &error)) {
      if (XRRScreenResources* resources = xl->XRRGetScreenResourcesCurrent(d, RootWindow(d, screen))) {
        for (int i = 0; i < resources->nmode; ++i) add(resources->modes[i].width, resources->modes[i].height);
        xl->XRRFreeScreenResources(resources);
      }
    }
#endif
    if (sizes.empty())
      add(static_cast<uint32_t>(DisplayWidth(d, screen)), static_cast<uint32_t>(DisplayHeight(d, screen)));
  }
  xl->XCloseDisplay(d);
  if (sizes.empty()) return nullptr;
  auto* modes = static_cast<int32_t*>(std::malloc(sizes.size() * sizeof(int32_t)));
  if (!modes) return nullptr;
  std::memcpy(modes, sizes.data(), sizes.size() * sizeof(int32_t));
  if (count) *count = static_cast<int32_t>(sizes.size());
  return modes;
}

}  // namespace pel::x11
