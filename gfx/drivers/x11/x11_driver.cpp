#include "x11_driver.h"

// The runtime's headers before X's, whose macros (KeyPress, None, ...) would
// otherwise rewrite the runtime's names.
#include "gfx/blit.h"
#include "gfx/drivers/window_rules.h"
#include "gfx/drivers/x11/x11_keys.h"
#include "gfx/input.h"
#include "gfx/mode.h"
#include "runtime/console_engine.h"

#include <X11/Xlib.h>
#include <X11/XKBlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

namespace pel {
namespace {

constexpr auto presentPeriod = std::chrono::milliseconds(10);
constexpr Time doubleClickMs = 400;

struct X11Window {
  Display* display = nullptr;
  Window window = 0;
  GC gc = nullptr;
  Atom deleteWindow = 0;
  XImage* image = nullptr;
  XShmSegmentInfo shm{};
  bool shmAttached = false;
  Blitter blitter = nullptr;
  int32_t width = 0, height = 0;  // surface size (height includes the scan-line repeat)

  std::thread thread;
  std::mutex presentation;  // the driver's lock
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
  std::string title;
};

X11Window* win = nullptr;
std::atomic<int64_t> rowsPresented{0};

// Platform calls of the window rules; the caller holds the presentation lock.
const WindowPlatform platformCalls = {
    .trackLeave = nullptr,  // X reports LeaveNotify by itself
    .clipToClient =
        [](void*) {
          XGrabPointer(win->display, win->window, True, 0, GrabModeAsync, GrabModeAsync, win->window, None, CurrentTime);
        },
    .releaseClip = [](void*) { XUngrabPointer(win->display, CurrentTime); },
    .capture = nullptr,  // X keeps delivering to the window while a button is held
    .warpPointer = [](void*, int32_t x, int32_t y) { XWarpPointer(win->display, None, win->window, 0, 0, 0, 0, x, y); },
    .updateCursor =
        [](void*) {
          if (win->rules.cursorVisible) {
            XUndefineCursor(win->display, win->window);
            return;
          }
          static const char empty[1] = {0};
          Pixmap blank = XCreateBitmapFromData(win->display, win->window, empty, 1, 1);
          XColor black{};
          Cursor cursor = XCreatePixmapCursor(win->display, blank, blank, &black, &black, 0, 0);
          XDefineCursor(win->display, win->window, cursor);
          XFreeCursor(win->display, cursor);
          XFreePixmap(win->display, blank);
        },
    .window = nullptr,
};

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
  const int length = XLookupString(&e, text, sizeof text, &keysym, nullptr);
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
  if (!press) {
    win->keyDown[e.keycode & 0xFF] = false;
    keyMessage(win->rules, KeyMessage::Up, vk, pc.scanCode, modifiers, character, 1, false);
    return;
  }
  const bool repeat = win->keyDown[e.keycode & 0xFF];
  win->keyDown[e.keycode & 0xFF] = true;
  // Alt+Enter toggles full screen on Windows; without switching here it is just a key.
  const KeyMessage kind = alt ? KeyMessage::SystemDown : KeyMessage::Down;
  const bool consumed = keyMessage(win->rules, kind, vk, pc.scanCode, modifiers, character, 1, repeat);
  if (!consumed && !alt && character != 0) characterMessage(win->rules, character, 1);
}

void buttonEvent(XButtonEvent& e, bool press) {
  switch (e.button) {
    case 4: case 5:
      if (press) wheelStep(win->rules, false, e.button == 4);
      return;
    case 6: case 7:
      if (press) wheelStep(win->rules, true, e.button == 7);
      return;
    case 8: case 9: {
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
  const bool doubleClick = last != 0 && e.time - last <= doubleClickMs;
  last = doubleClick ? 0 : e.time;
  buttonDown(win->rules, bit, doubleClick);
}

void handleEvents() {
  while (XPending(win->display)) {
    XEvent e;
    XNextEvent(win->display, &e);
    switch (e.type) {
      case KeyPress: keyEvent(e.xkey, true); break;
      case KeyRelease: keyEvent(e.xkey, false); break;
      case ButtonPress: buttonEvent(e.xbutton, true); break;
      case ButtonRelease: buttonEvent(e.xbutton, false); break;
      case MotionNotify:
        win->rules.pointerInClient = e.xmotion.x >= 0 && e.xmotion.y >= 0 && e.xmotion.x < win->width &&
                                     e.xmotion.y < win->height;
        pointerMove(win->rules, e.xmotion.x, e.xmotion.y, e.xmotion.x_root, e.xmotion.y_root);
        break;
      case EnterNotify:
        win->rules.pointerInClient = true;
        pointerMove(win->rules, e.xcrossing.x, e.xcrossing.y, e.xcrossing.x_root, e.xcrossing.y_root);
        break;
      case LeaveNotify:
        win->rules.pointerInClient = false;
        if (win->rules.mouseInside) pointerLeave(win->rules);
        break;
      case FocusIn:
        if (!win->rules.active) activation(win->rules, true);
        break;
      case FocusOut:
        if (win->rules.active) activation(win->rules, false);
        break;
      case Expose:
        if (ScreenMode* m = currentMode()) std::memset(m->dirty, 1, static_cast<std::size_t>(win->height));
        break;
      case ClientMessage:
        if (static_cast<Atom>(e.xclient.data.l[0]) == win->deleteWindow) closeRequest(win->rules);
        break;
      default: break;
    }
  }
}

// The rows that changed since the last pass, converted and put on the window.
void present() {
  ScreenMode* m = currentMode();
  if (!m || !win->image) return;
  // The band of page rows marked dirty, in surface rows.
  int32_t first = 0;
  while (first < m->height && !m->dirty[first]) ++first;
  if (first == m->height) return;
  int32_t last = m->height - 1;
  while (!m->dirty[last]) --last;
  win->blitter(reinterpret_cast<uint8_t*>(win->image->data), win->image->bytes_per_line);
  const int32_t top = first * m->scanlineRepeat, rows = (last - first + 1) * m->scanlineRepeat;
  if (win->shmAttached) {
    XShmPutImage(win->display, win->window, win->gc, win->image, 0, top, 0, top, static_cast<unsigned>(win->width),
                 static_cast<unsigned>(rows), False);
  } else {
    XPutImage(win->display, win->window, win->gc, win->image, 0, top, 0, top, static_cast<unsigned>(win->width),
              static_cast<unsigned>(rows));
  }
  std::memset(m->dirty, 0, static_cast<std::size_t>(m->height));
  rowsPresented += rows;
}

void refreshKeyState() {
  ScreenMode* m = currentMode();
  if (!m || !win->rules.active) return;
  char keys[32];
  XQueryKeymap(win->display, keys);
  for (uint32_t keycode = 8; keycode < 256; ++keycode) {
    const x11::PcKey pc = x11::pcKeyFromKeycode(keycode);
    if (pc.scanCode > 0 && pc.scanCode < 128) {
      const bool held = (keys[keycode / 8] >> (keycode % 8)) & 1;
      if (held || !pc.enhanced) m->keyState[pc.scanCode] = held;
    }
  }
}

// The surface image: shared memory where the server offers it.
bool createImage(Visual* visual, int depth) {
  if (XShmQueryExtension(win->display)) {
    win->image = XShmCreateImage(win->display, visual, static_cast<unsigned>(depth), ZPixmap, nullptr, &win->shm,
                                 static_cast<unsigned>(win->width), static_cast<unsigned>(win->height));
    if (win->image) {
      win->shm.shmid = shmget(IPC_PRIVATE, static_cast<std::size_t>(win->image->bytes_per_line) * win->height, IPC_CREAT | 0600);
      if (win->shm.shmid >= 0) {
        win->shm.shmaddr = win->image->data = static_cast<char*>(shmat(win->shm.shmid, nullptr, 0));
        win->shm.readOnly = False;
        // Marked for removal now, so the segment goes away with the last detach.
        const bool attached = win->shm.shmaddr != reinterpret_cast<char*>(-1) && XShmAttach(win->display, &win->shm);
        XSync(win->display, False);
        shmctl(win->shm.shmid, IPC_RMID, nullptr);
        if (attached) {
          win->shmAttached = true;
          return true;
        }
        if (win->shm.shmaddr != reinterpret_cast<char*>(-1)) shmdt(win->shm.shmaddr);
      }
      win->image->data = nullptr;
      XDestroyImage(win->image);
      win->image = nullptr;
    }
  }
  win->image = XCreateImage(win->display, visual, static_cast<unsigned>(depth), ZPixmap, 0, nullptr,
                            static_cast<unsigned>(win->width), static_cast<unsigned>(win->height), 32, 0);
  if (!win->image) return false;
  win->image->data = static_cast<char*>(std::calloc(static_cast<std::size_t>(win->image->bytes_per_line), static_cast<std::size_t>(win->height)));
  return win->image->data != nullptr;
}

bool openWindow() {
  win->display = XOpenDisplay(nullptr);
  if (!win->display) return false;
  Display* d = win->display;
  const int screen = DefaultScreen(d);
  Visual* visual = DefaultVisual(d, screen);
  const int depth = DefaultDepth(d, screen);
  if (visual->c_class != TrueColor) return false;
  // The blitter for the visual: its bits per pixel and channel order.
  int bitsPerPixel = 0, formats = 0;
  XPixmapFormatValues* list = XListPixmapFormats(d, &formats);
  for (int i = 0; i < formats; ++i) {
    if (list[i].depth == depth) bitsPerPixel = list[i].bits_per_pixel;
  }
  XFree(list);
  const int32_t blitDepth = bitsPerPixel == 32 ? 32 : bitsPerPixel == 24 ? 24 : depth == 15 ? 15 : 16;
  win->blitter = selectBlitter(blitDepth, visual->red_mask == 0xFF || visual->red_mask == 0x1F ? 1 : 0);
  if (!win->blitter) return false;

  XSetWindowAttributes attributes{};
  attributes.background_pixel = BlackPixel(d, screen);
  attributes.event_mask = KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask |
                          EnterWindowMask | LeaveWindowMask | FocusChangeMask | ExposureMask | StructureNotifyMask;
  win->window = XCreateWindow(d, RootWindow(d, screen), 0, 0, static_cast<unsigned>(win->width),
                              static_cast<unsigned>(win->height), 0, depth, InputOutput, visual,
                              CWBackPixel | CWEventMask, &attributes);
  if (!win->window) return false;
  XSizeHints* hints = XAllocSizeHints();
  if (hints) {
    hints->flags = PMinSize | PMaxSize;
    hints->min_width = hints->max_width = win->width;
    hints->min_height = hints->max_height = win->height;
    XSetWMNormalHints(d, win->window, hints);
    XFree(hints);
  }
  XStoreName(d, win->window, win->title.c_str());
  win->deleteWindow = XInternAtom(d, "WM_DELETE_WINDOW", False);
  XSetWMProtocols(d, win->window, &win->deleteWindow, 1);
  XkbSetDetectableAutoRepeat(d, True, nullptr);
  win->gc = XCreateGC(d, win->window, 0, nullptr);
  if (!createImage(visual, depth)) return false;
  XMapWindow(d, win->window);
  XSync(d, False);
  return true;
}

void closeWindow() {
  Display* d = win->display;
  if (!d) return;
  if (win->image) {
    if (win->shmAttached) {
      XShmDetach(d, &win->shm);
      XSync(d, False);
      shmdt(win->shm.shmaddr);
      win->image->data = nullptr;
    }
    XDestroyImage(win->image);  // frees the data of a plain image
    win->image = nullptr;
  }
  if (win->gc) XFreeGC(d, win->gc);
  if (win->window) XDestroyWindow(d, win->window);
  XCloseDisplay(d);
  win->display = nullptr;
}

void threadMain() {
  const bool opened = openWindow();
  {
    std::lock_guard guard(win->startLock);
    win->startResult = opened ? 0 : -1;
  }
  win->started.notify_all();
  if (!opened) {
    closeWindow();
    return;
  }
  {
    std::lock_guard guard(win->presentation);
    activation(win->rules, true);
  }
  while (win->running) {
    {
      std::lock_guard guard(win->presentation);
      {
        std::lock_guard titleGuard(win->titleLock);
        if (win->titleChanged) {
          XStoreName(win->display, win->window, win->pendingTitle.c_str());
          win->titleChanged = false;
        }
      }
      present();
      refreshKeyState();
      handleEvents();
      XFlush(win->display);
    }
    std::this_thread::sleep_for(presentPeriod);
  }
  std::lock_guard guard(win->presentation);
  closeWindow();
}

int32_t x11Init(const char* title, int32_t width, int32_t height, int32_t, int32_t, int32_t flags) {
  if (flags & modeflag::openGl) return -1;
  if (win) return -1;
  win = new X11Window;
  win->width = width;
  win->height = height;
  win->title = title ? title : "";
  win->rules = windowRules(platformCalls, width, height);
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

int32_t x11SetMouse(int32_t x, int32_t y, int32_t cursor, int32_t clip) {
  if (win) {
    rulesSetMouse(win->rules, x, y, cursor, clip);
    XFlush(win->display);
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

}  // namespace

int64_t x11RowsPresented() { return rowsPresented; }

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
};

}  // namespace pel
