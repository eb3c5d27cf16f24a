#include "x11_driver.h"

// The runtime's headers before X's, whose macros (KeyPress, None, ...) would
// otherwise rewrite the runtime's names.
#include "gfx/blit.h"
#include "gfx/drivers/window_rules.h"
#include "gfx/drivers/x11/x11_keys.h"
#include "gfx/drivers/x11/x11_settings.h"
#include "gfx/input.h"
#include "gfx/mode.h"
#include "runtime/console_engine.h"

#include "gfx/drivers/x11/x11_library.h"

#include <X11/Xatom.h>
#include <sys/ipc.h>
#include <sys/resource.h>
#include <sys/shm.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace pel {
namespace {

constexpr auto presentPeriod = std::chrono::milliseconds(10);
constexpr int32_t vkReturn = 0x0D;
constexpr int highPriorityNice = -5;  // granted only to privileged processes; refused quietly otherwise

struct Atoms {
  Atom deleteWindow, wmState, fullScreen, above, maximizedVert, maximizedHorz, motifHints, frameExtents, settings;
};

struct X11Window {
  // The display connection, its visual and the surface image live as long as
  // the back end; the window itself is rebuilt by the full-screen toggle.
  Display* display = nullptr;
  int screen = 0;
  Visual* visual = nullptr;
  int depth = 0;
  Atoms atoms{};
  bool hasShape = false;
  GC gc = nullptr;
  XImage* image = nullptr;
  XShmSegmentInfo shm{};
  bool shmAttached = false;
  Blitter blitter = nullptr;
  bool sameFormat = false;        // a 32-bit visual in the pages' channel order
  int32_t width = 0, height = 0;  // surface size (height includes the scan-line repeat)

  Window window = 0;
  int32_t windowW = 0, windowH = 0;  // the window's size as the window manager made it
  int32_t originX = 0, originY = 0;  // the picture's place in the window (centred in full screen)
  int32_t anchorX = 0, anchorY = 0;  // a root point on the monitor the window goes to
  std::vector<uint8_t> shapeBits;    // shaped windows: one bit a pixel, set where opaque

  std::thread thread;
  pid_t threadId = 0;
  std::atomic<bool> lost{false};  // the server went away
  std::mutex presentation;        // the driver's lock
  std::atomic<bool> running{false};
  std::mutex startLock;
  std::condition_variable started;
  int startResult = 1;  // 1 pending, 0 running, -1 failed

  std::mutex titleLock;
  std::string pendingTitle;
  bool titleChanged = false;

  WindowRules rules{};
  bool keyDown[256] = {};
  Time lastPress[6] = {};
  Time doubleClickMs = 400;
  std::string title;
};

X11Window* win = nullptr;
// Set before the first window thread starts and never cleared.
const x11::Library* xl = nullptr;
std::atomic<int64_t> rowsPresented{0};
std::atomic<int64_t> passes{0};

bool initWindow(void*);
void exitWindow(void*);
void placePicture(int32_t windowW, int32_t windowH);

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
          xl->XWarpPointer(win->display, None, win->window, 0, 0, 0, 0, x + win->originX, y + win->originY);
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
          setpriority(PRIO_PROCESS, static_cast<id_t>(win->threadId), high ? highPriorityNice : 0);
        },
    .window = nullptr,
};

// ---- Events ---------------------------------------------------------------

int32_t modifierWord(unsigned state, bool enhanced) {
  int32_t m = enhanced ? keymod::enhanced : 0;
  if (state & ShiftMask) m |= keymod::shift;
  if (state & ControlMask) m |= keymod::leftCtrl;
  if (state & Mod1Mask) m |= keymod::leftAlt;
  return m;
}

void keyEvent(XKeyEvent& e, bool press) {
  const x11::PcKey pc = x11::pcKeyFromKeycode(e.keycode);
  char text[8] = {};
  KeySym keysym = 0;
  const int length = xl->XLookupString(&e, text, sizeof text, &keysym, nullptr);
  // The character in code page 437 (Latin-1 is the first page of Unicode).
  uint8_t character = 0;
  if (length == 1) {
    const char16_t wide = static_cast<uint8_t>(text[0]);
    const std::string bytes = wideToBytes(&wide, 1);
    character = static_cast<uint8_t>(bytes[0]);
    if (bytes[0] == '?' && wide != '?') character = 0;
  }
  const int32_t vk = x11::virtualKeyFromKeysym(keysym);
  const int32_t modifiers = modifierWord(e.state, pc.enhanced);
  const bool alt = modifiers & (keymod::leftAlt | keymod::rightAlt);
  bool& down = win->keyDown[e.keycode & 0xFF];
  if (!press) {
    down = false;
    // Keys let go while Alt is held are system keys, which pass unreported.
    if (!alt) keyMessage(win->rules, KeyMessage::Up, vk, pc.scanCode, modifiers, character, 1, false);
    return;
  }
  const bool repeat = down;
  down = true;
  if (alt && vk == vkReturn && win->rules.active) {
    toggleFullScreen(win->rules);
    return;
  }
  const KeyMessage kind = alt ? KeyMessage::SystemDown : KeyMessage::Down;
  const bool consumed = keyMessage(win->rules, kind, vk, pc.scanCode, modifiers, character, 1, repeat);
  if (!consumed && !alt && character != 0) characterMessage(win->rules, character, 1);
}

void buttonEvent(XButtonEvent& e, bool press) {
  switch (e.button) {
    case 4:
    case 5:
      if (press) wheelStep(win->rules, false, e.button == 4);
      return;
    case 6:
    case 7:
      if (press) wheelStep(win->rules, true, e.button == 7);
      return;
    case 8:
    case 9: {
      const bool first = e.button == 8 ? press : (win->rules.buttons & 8) != 0;
      const bool second = e.button == 9 ? press : (win->rules.buttons & 16) != 0;
      extraButtons(win->rules, first, second, press, false);
      return;
    }
    default: break;
  }
  const int32_t bit = e.button == 1 ? 1 : e.button == 3 ? 2 : e.button == 2 ? 4 : 0;
  if (!bit) return;
  if (!press) {
    buttonUp(win->rules, bit);
    return;
  }
  Time& last = win->lastPress[e.button];
  const bool doubleClick = last != 0 && e.time - last <= win->doubleClickMs;
  last = doubleClick ? 0 : e.time;
  buttonDown(win->rules, bit, doubleClick);
}

void pointerAt(int x, int y, int rootX, int rootY) {
  const int32_t cx = x - win->originX, cy = y - win->originY;
  win->rules.pointerInClient = cx >= 0 && cy >= 0 && cx < win->width && cy < win->height;
  pointerMove(win->rules, cx, cy, rootX, rootY);
}

// A window property of the given type and format (8: bytes, 32: longs, as
// Xlib hands them out), empty when absent or of another format; its memory
// goes with it.
class Property {
 public:
  Property(Display* d, Window w, Atom name, Atom type, int format, long longs) {
    Atom actualType = 0;
    int actualFormat = 0;
    unsigned long remaining = 0;
    if (xl->XGetWindowProperty(d, w, name, 0, longs, False, type, &actualType, &actualFormat, &count_, &remaining,
                               &data_) != Success) {
      data_ = nullptr;
    }
    if (!data_ || actualFormat != format) count_ = 0;
  }
  ~Property() {
    if (data_) xl->XFree(data_);
  }
  Property(const Property&) = delete;
  Property& operator=(const Property&) = delete;
  unsigned long size() const { return count_; }
  const uint8_t* bytes() const { return data_; }
  const long* longs() const { return reinterpret_cast<const long*>(data_); }

 private:
  unsigned char* data_ = nullptr;
  unsigned long count_ = 0;
};

// The window manager maximised the window: full screen takes its place.
bool maximised() {
  const Property states(win->display, win->window, win->atoms.wmState, XA_ATOM, 32, 64);
  for (unsigned long i = 0; i < states.size(); ++i) {
    const Atom state = static_cast<Atom>(states.longs()[i]);
    if (state == win->atoms.maximizedVert || state == win->atoms.maximizedHorz) return true;
  }
  return false;
}

void handleEvents() {
  while (xl->XPending(win->display)) {
    XEvent e;
    xl->XNextEvent(win->display, &e);
    if (e.type == MappingNotify) {  // sent to every client, with no window
      xl->XRefreshKeyboardMapping(&e.xmapping);
      continue;
    }
    // Events still queued for a window the toggle replaced are dropped.
    if (e.xany.window != win->window) continue;
    switch (e.type) {
      case KeyPress: keyEvent(e.xkey, true); break;
      case KeyRelease: keyEvent(e.xkey, false); break;
      case ButtonPress: buttonEvent(e.xbutton, true); break;
      case ButtonRelease: buttonEvent(e.xbutton, false); break;
      case MotionNotify: pointerAt(e.xmotion.x, e.xmotion.y, e.xmotion.x_root, e.xmotion.y_root); break;
      case EnterNotify: pointerAt(e.xcrossing.x, e.xcrossing.y, e.xcrossing.x_root, e.xcrossing.y_root); break;
      case LeaveNotify:
        win->rules.pointerInClient = false;
        if (win->rules.mouseInside) pointerLeave(win->rules);
        break;
      case FocusIn:
        if (!win->rules.active) activation(win->rules, true);
        break;
      case FocusOut:
        if (win->rules.active && e.xfocus.mode != NotifyGrab) activation(win->rules, false);
        break;
      case Expose: markAllRows(); break;
      case ConfigureNotify:
        if (e.xconfigure.width != win->windowW || e.xconfigure.height != win->windowH) {
          placePicture(e.xconfigure.width, e.xconfigure.height);
          xl->XClearWindow(win->display, win->window);
          markAllRows();
        }
        break;
      case PropertyNotify:
        if (e.xproperty.atom == win->atoms.wmState && win->rules.active &&
            !(win->rules.modeFlags & modeflag::fullScreen) && maximised()) {
          toggleFullScreen(win->rules);
        }
        break;
      case ClientMessage:
        if (static_cast<Atom>(e.xclient.data.l[0]) == win->atoms.deleteWindow) closeRequest(win->rules);
        break;
      default: break;
    }
  }
}

// ---- Presentation ---------------------------------------------------------

// A shaped window shows only the pixels that are not the colour key:
// magenta above 8 bits a pixel, index 0 at 8 bits and below.
void reshape(const ScreenMode* m, int32_t top, int32_t rows) {
  const int32_t stride = (win->width + 7) / 8;
  for (int32_t r = top; r < top + rows; ++r) {
    const uint8_t* source = m->visibleBuffer + static_cast<std::size_t>(r / m->scanlineRepeat) * m->pitch;
    uint8_t* bits = win->shapeBits.data() + static_cast<std::size_t>(r) * stride;
    std::memset(bits, 0, static_cast<std::size_t>(stride));
    for (int32_t x = 0; x < win->width; ++x) {
      bool opaque;
      if (m->bytesPerPixel == 4) {
        opaque = (reinterpret_cast<const uint32_t*>(source)[x] & 0xFFFFFF) != 0xFF00FF;
      } else if (m->bytesPerPixel == 2) {
        opaque = reinterpret_cast<const uint16_t*>(source)[x] != 0xF81F;
      } else {
        opaque = source[x] != 0;
      }
      bits[x >> 3] |= static_cast<uint8_t>(opaque << (x & 7));
    }
  }
  Pixmap mask =
      xl->XCreateBitmapFromData(win->display, win->window, reinterpret_cast<const char*>(win->shapeBits.data()),
                                static_cast<unsigned>(win->width), static_cast<unsigned>(win->height));
  xl->XShapeCombineMask(win->display, win->window, ShapeBounding, win->originX, win->originY, mask, ShapeSet);
  xl->XFreePixmap(win->display, mask);
}

// A 32-bit page on a 32-bit visual of the same channel order needs no
// conversion: the band is copied as it is. The C library's copy writes whole
// cache lines without reading them first, which matters for memory the
// server reads next.
void copyBand(const ScreenMode* m, int32_t top, int32_t rows) {
  auto* image = reinterpret_cast<uint8_t*>(win->image->data);
  const auto stride = static_cast<std::size_t>(win->image->bytes_per_line);
  const auto rowBytes = static_cast<std::size_t>(win->width) * 4;
  if (m->scanlineRepeat == 1 && stride == static_cast<std::size_t>(m->pitch)) {
    std::memcpy(image + top * stride, m->visibleBuffer + top * stride, rows * stride);
    return;
  }
  for (int32_t r = top; r < top + rows; ++r) {
    std::memcpy(image + r * stride, m->visibleBuffer + static_cast<std::size_t>(r / m->scanlineRepeat) * m->pitch,
                rowBytes);
  }
}

// The rows that changed since the last pass, converted and put on the window.
void present() {
  ScreenMode* m = currentMode();
  if (!m || !win->image || !win->window) return;
  // The band of page rows marked dirty, in surface rows.
  int32_t first = 0;
  while (first < m->height && !m->dirty[first]) ++first;
  if (first == m->height) return;
  int32_t last = m->height - 1;
  while (!m->dirty[last]) --last;
  const int32_t top = first * m->scanlineRepeat, rows = (last - first + 1) * m->scanlineRepeat;
  if (win->sameFormat && m->bytesPerPixel == 4) {
    copyBand(m, top, rows);
  } else {
    win->blitter(reinterpret_cast<uint8_t*>(win->image->data), win->image->bytes_per_line);
  }
  if (!win->shapeBits.empty()) reshape(m, top, rows);
  if (win->shmAttached) {
    xl->XShmPutImage(win->display, win->window, win->gc, win->image, 0, top, win->originX, win->originY + top,
                     static_cast<unsigned>(win->width), static_cast<unsigned>(rows), False);
  } else {
    xl->XPutImage(win->display, win->window, win->gc, win->image, 0, top, win->originX, win->originY + top,
                  static_cast<unsigned>(win->width), static_cast<unsigned>(rows));
  }
  std::memset(m->dirty, 0, static_cast<std::size_t>(m->height));
  rowsPresented += rows;
}

void refreshKeyState() {
  ScreenMode* m = currentMode();
  if (!m || !win->rules.active) return;
  char keys[32];
  xl->XQueryKeymap(win->display, keys);
  for (uint32_t keycode = 8; keycode < 256; ++keycode) {
    const x11::PcKey pc = x11::pcKeyFromKeycode(keycode);
    if (pc.scanCode > 0 && pc.scanCode < 128) {
      const bool held = (keys[keycode / 8] >> (keycode % 8)) & 1;
      if (held || !pc.enhanced) m->keyState[pc.scanCode] = held;
    }
  }
}

// ---- The display and its surface ------------------------------------------

std::atomic<bool> requestFailed{false};
int noteError(Display*, XErrorEvent*) {
  requestFailed = true;
  return 0;
}

// Runs requests that may fail with an X error, which Xlib's default handler
// would answer by ending the process; false when one failed.
template <typename Requests>
bool withoutErrorExit(Requests requests) {
  xl->XSync(win->display, False);
  requestFailed = false;
  auto previous = xl->XSetErrorHandler(noteError);
  const bool done = requests();
  xl->XSync(win->display, False);
  xl->XSetErrorHandler(previous);
  return done && !requestFailed;
}

// Attaching shared memory fails on a remote server.
bool attachShared() {
  return withoutErrorExit([] { return xl->XShmAttach(win->display, &win->shm) != 0; });
}

// The settings manager's double-click time, when one runs. Its window may
// go away between the two requests.
Time doubleClickTime() {
  constexpr Time fallback = 400;
  Display* d = win->display;
  const std::string selection = "_XSETTINGS_S" + std::to_string(win->screen);
  const Atom settings = win->atoms.settings;
  const Window owner = xl->XGetSelectionOwner(d, xl->XInternAtom(d, selection.c_str(), False));
  if (!owner) return fallback;
  std::optional<int32_t> time;
  withoutErrorExit([&] {
    const Property property(d, owner, settings, settings, 8, 1 << 16);
    if (property.size()) time = x11::integerSetting(property.bytes(), property.size(), "Net/DoubleClickTime");
    return true;
  });
  return time && *time > 0 ? static_cast<Time>(*time) : fallback;
}

// The surface image: shared memory where the server offers it.
bool createImage() {
  const unsigned w = static_cast<unsigned>(win->width), h = static_cast<unsigned>(win->height);
  if (xl->hasXext && xl->XShmQueryExtension(win->display)) {
    win->image = xl->XShmCreateImage(win->display, win->visual, static_cast<unsigned>(win->depth), ZPixmap, nullptr,
                                     &win->shm, w, h);
    if (win->image) {
      win->shm.shmid = shmget(IPC_PRIVATE, static_cast<std::size_t>(win->image->bytes_per_line) * h, IPC_CREAT | 0600);
      if (win->shm.shmid >= 0) {
        win->shm.shmaddr = win->image->data = static_cast<char*>(shmat(win->shm.shmid, nullptr, 0));
        win->shm.readOnly = False;
        const bool mapped = win->shm.shmaddr != reinterpret_cast<char*>(-1);
        const bool attached = mapped && attachShared();
        // Marked for removal now, so the segment goes away with the last detach.
        shmctl(win->shm.shmid, IPC_RMID, nullptr);
        if (attached) {
          win->shmAttached = true;
          return true;
        }
        if (mapped) shmdt(win->shm.shmaddr);
      }
      win->image->data = nullptr;
      XDestroyImage(win->image);
      win->image = nullptr;
    }
  }
  win->image =
      xl->XCreateImage(win->display, win->visual, static_cast<unsigned>(win->depth), ZPixmap, 0, nullptr, w, h, 32, 0);
  if (!win->image) return false;
  win->image->data = static_cast<char*>(std::calloc(static_cast<std::size_t>(win->image->bytes_per_line), h));
  return win->image->data != nullptr;
}

// The server went away (it was stopped, or the session ended): the window
// thread stops using the connection and the program is told as if the
// window had been closed, instead of Xlib ending the process.
void connectionLost(Display*, void*) { win->lost = true; }

// Xlib's own handler of a lost connection ends the process; this one lets
// the back end's connection go to connectionLost and leaves every other
// connection of the program to the handler it had.
std::atomic<Display*> ourDisplay{nullptr};
XIOErrorHandler previousIoHandler = nullptr;
int ioError(Display* d) {
  if (d == ourDisplay.load()) return 0;
  return previousIoHandler ? previousIoHandler(d) : 0;
}

void surviveLostConnection(Display* d) {
  if (!xl->XSetIOErrorExitHandler) return;
  static std::once_flag installed;
  std::call_once(installed, [] { previousIoHandler = xl->XSetIOErrorHandler(ioError); });
  ourDisplay = d;
  xl->XSetIOErrorExitHandler(d, connectionLost, nullptr);
}

bool openDisplay() {
  win->display = xl->XOpenDisplay(nullptr);
  if (!win->display) return false;
  Display* d = win->display;
  surviveLostConnection(d);
  win->screen = DefaultScreen(d);
  win->visual = DefaultVisual(d, win->screen);
  win->depth = DefaultDepth(d, win->screen);
  // The first window opens on the monitor the pointer is on.
  Window rootReturn = 0, child = 0;
  int windowX = 0, windowY = 0;
  unsigned buttons = 0;
  xl->XQueryPointer(d, RootWindow(d, win->screen), &rootReturn, &child, &win->anchorX, &win->anchorY, &windowX,
                    &windowY, &buttons);
  if (win->visual->c_class != TrueColor) return false;
  // The blitter for the visual: its bits per pixel and channel order.
  int bitsPerPixel = 0, formats = 0;
  XPixmapFormatValues* list = xl->XListPixmapFormats(d, &formats);
  for (int i = 0; i < formats; ++i) {
    if (list[i].depth == win->depth) bitsPerPixel = list[i].bits_per_pixel;
  }
  if (list) xl->XFree(list);
  const int32_t blitDepth = bitsPerPixel == 32 ? 32 : bitsPerPixel == 24 ? 24 : win->depth == 15 ? 15 : 16;
  const uint32_t redMask = static_cast<uint32_t>(win->visual->red_mask);
  const int32_t order = redMask == 0xFF || redMask == 0x1F ? 1 : 0;
  win->blitter = selectBlitter(blitDepth, order);
  if (!win->blitter) return false;
  win->sameFormat = blitDepth == 32 && order == 0;

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
  win->doubleClickMs = doubleClickTime();
  int shapeEvent = 0, shapeError = 0;
  win->hasShape = xl->hasXext && xl->XShapeQueryExtension(d, &shapeEvent, &shapeError);
  xl->XkbSetDetectableAutoRepeat(d, True, nullptr);
  win->gc = xl->XCreateGC(d, RootWindow(d, win->screen), 0, nullptr);
  return createImage();
}

void closeDisplay() {
  Display* d = win->display;
  if (!d) return;
  if (win->image) {
    if (win->shmAttached) {
      xl->XShmDetach(d, &win->shm);
      xl->XSync(d, False);
      shmdt(win->shm.shmaddr);
      win->image->data = nullptr;
    }
    XDestroyImage(win->image);  // frees the data of a plain image
    win->image = nullptr;
  }
  if (win->gc) xl->XFreeGC(d, win->gc);
  xl->XCloseDisplay(d);
  ourDisplay = nullptr;  // after: closing a lost connection may report again
  win->display = nullptr;
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

// ---- The window -----------------------------------------------------------

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

// The picture sits in the middle of a full-screen window, whatever size the
// window manager gave it, and at the top left of a framed one.
void placePicture(int32_t windowW, int32_t windowH) {
  const bool full = win->rules.modeFlags & modeflag::fullScreen;
  win->windowW = windowW;
  win->windowH = windowH;
  win->originX = full ? (windowW - win->width) / 2 : 0;
  win->originY = full ? (windowH - win->height) / 2 : 0;
}

// A window of the surface's size centred on its monitor, or in full screen a
// frameless window covering the monitor with the picture in the middle.
bool initWindow(void*) {
  Display* d = win->display;
  const int32_t flags = win->rules.modeFlags;
  const bool full = flags & modeflag::fullScreen;
  const Area monitor = monitorArea();
  const int32_t outerW = full ? monitor.width : win->width, outerH = full ? monitor.height : win->height;
  placePicture(outerW, outerH);
  const int32_t x = monitor.x + (full ? 0 : (monitor.width - outerW) / 2);
  const int32_t y = monitor.y + (full ? 0 : (monitor.height - outerH) / 2);
  if ((flags & modeflag::shaped) && !win->hasShape) return false;

  XSetWindowAttributes attributes{};
  attributes.background_pixel = BlackPixel(d, win->screen);
  attributes.event_mask = KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask |
                          EnterWindowMask | LeaveWindowMask | FocusChangeMask | ExposureMask | PropertyChangeMask |
                          StructureNotifyMask;
  win->window = xl->XCreateWindow(d, RootWindow(d, win->screen), x, y, static_cast<unsigned>(outerW),
                                  static_cast<unsigned>(outerH), 0, win->depth, InputOutput, win->visual,
                                  CWBackPixel | CWEventMask, &attributes);
  if (!win->window) return false;
  // A fixed size; without switching the window manager offers no maximise.
  if (XSizeHints* hints = xl->XAllocSizeHints()) {
    hints->flags = PPosition | PMinSize | (full || (flags & modeflag::noSwitching) ? PMaxSize : 0);
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
  xl->XStoreName(d, win->window, win->title.c_str());
  xl->XSetWMProtocols(d, win->window, &win->atoms.deleteWindow, 1);
  if (flags & modeflag::shaped) {
    win->shapeBits.assign(static_cast<std::size_t>((win->width + 7) / 8) * static_cast<std::size_t>(win->height), 0);
  }
  xl->XMapRaised(d, win->window);
  xl->XSync(d, False);
  if (ScreenMode* m = currentMode()) m->refreshRate = refreshRate();
  return true;
}

void exitWindow(void*) {
  if (win->rules.clip) xl->XUngrabPointer(win->display, CurrentTime);
  // The rebuilt window goes to the monitor this one is on.
  Window child = 0;
  if (win->window && !win->lost) {
    xl->XTranslateCoordinates(win->display, win->window, RootWindow(win->display, win->screen), win->windowW / 2,
                              win->windowH / 2, &win->anchorX, &win->anchorY, &child);
  }
  if (win->window) xl->XDestroyWindow(win->display, win->window);
  win->window = 0;
  win->shapeBits.clear();
  std::memset(win->keyDown, 0, sizeof win->keyDown);
}

// ---- The window thread and the operations ---------------------------------

void threadMain() {
  win->threadId = gettid();
  const bool opened = openDisplay() && initWindow(nullptr);
  {
    std::lock_guard guard(win->startLock);
    win->startResult = opened ? 0 : -1;
  }
  win->started.notify_all();
  if (!opened) {
    if (win->display) exitWindow(nullptr);
    closeDisplay();
    return;
  }
  {
    std::lock_guard guard(win->presentation);
    activation(win->rules, true);
  }
  bool told = false;
  while (win->running) {
    if (win->lost) {
      if (!told) {
        std::lock_guard guard(win->presentation);
        closeRequest(win->rules);
        told = true;
      }
      std::this_thread::sleep_for(presentPeriod);
      continue;
    }
    {
      std::lock_guard guard(win->presentation);
      {
        std::lock_guard titleGuard(win->titleLock);
        if (win->titleChanged) {
          xl->XStoreName(win->display, win->window, win->pendingTitle.c_str());
          win->titleChanged = false;
        }
      }
      present();
      refreshKeyState();
      handleEvents();
      xl->XFlush(win->display);
    }
    ++passes;
    std::this_thread::sleep_for(presentPeriod);
  }
  std::lock_guard guard(win->presentation);
  exitWindow(nullptr);
  closeDisplay();
}

int32_t x11Init(const char* title, int32_t width, int32_t height, int32_t, int32_t, int32_t flags) {
  if (flags & modeflag::openGl) return -1;
  if (win) return -1;
  if (!xl) xl = x11::library();
  if (!xl) return -1;
  win = new X11Window;
  win->width = width;
  win->height = height;
  win->title = title ? title : "";
  resetWindowRules(win->rules, platformCalls, width, height, flags);
  win->running = true;
  win->thread = std::thread(threadMain);
  std::unique_lock wait(win->startLock);
  win->started.wait(wait, [] { return win->startResult != 1; });
  return win->startResult;
}

void x11Exit() {
  if (!win) return;
  win->running = false;
  ScreenMode* m = currentMode();
  if (m && m->lockCount != 0) {
    m->lockCount = 0;
    win->presentation.unlock();
  }
  if (win->thread.joinable()) win->thread.join();
  delete win;
  win = nullptr;
}

int32_t x11GetMouse(int32_t* x, int32_t* y, int32_t* wheel, int32_t* buttons, int32_t* clip) {
  return win ? rulesGetMouse(win->rules, x, y, wheel, buttons, clip) : -1;
}

// Called under the runtime's lock, which keeps the window thread away.
int32_t x11SetMouse(int32_t x, int32_t y, int32_t cursor, int32_t clip) {
  if (win && win->window) {
    rulesSetMouse(win->rules, x, y, cursor, clip);
    xl->XFlush(win->display);
  }
  return 0;
}

void x11SetTitle(const char* title) {
  if (!win) return;
  std::lock_guard guard(win->titleLock);
  win->pendingTitle = title ? title : "";
  win->titleChanged = true;
}

void x11WaitVsync() {
  const ScreenMode* m = currentMode();
  const int32_t rate = m ? m->refreshRate : 0;
  std::this_thread::sleep_for(std::chrono::milliseconds(rate > 0 ? 1000 / rate : 16));
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

int32_t x11SetWindowPos(int32_t x, int32_t y) {
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
  }
  if (!held) win->presentation.unlock();
  return result;
}

// The display's modes of the given depth as (width << 16) | height; the
// depths 15 and 16, and 24 and 32, stand for each other.
int32_t* x11FetchModes(int32_t depth, int32_t* count) {
  if (count) *count = 0;
  if (!xl) xl = x11::library();  // no window thread can be running yet
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

}  // namespace

int64_t x11RowsPresented() { return rowsPresented; }
int64_t x11Passes() { return passes; }

void x11PresentNow(int32_t first, int32_t last) {
  ScreenMode* m = currentMode();
  if (!win || !win->display || !m || first < 0 || last >= m->height || first > last) return;
  std::lock_guard guard(win->presentation);
  std::memset(m->dirty + first, 1, static_cast<std::size_t>(last - first + 1));
  present();
  xl->XSync(win->display, False);
}

const DisplayDriver x11Driver = {
    .name = "X11",
    .init = x11Init,
    .exit = x11Exit,
    .lock = [] { win->presentation.lock(); },
    .unlock = [] { win->presentation.unlock(); },
    .setPalette = [](int32_t, int32_t, int32_t, int32_t) {},  // the blitter reads the mode's palette
    .waitVsync = x11WaitVsync,
    .getMouse = x11GetMouse,
    .setMouse = x11SetMouse,
    .setWindowTitle = x11SetTitle,
    .setWindowPos = x11SetWindowPos,
    .fetchModes = x11FetchModes,
};

}  // namespace pel
