#include "x11_driver.h"
#include "x11_testing.h"

// The runtime's headers before X's, whose macros (KeyPress, None, ...) would
// otherwise rewrite the runtime's names.
#include "gfx/blit.h"
#include "gfx/drivers/present.h"
#include "gfx/drivers/window_rules.h"
#include "gfx/mode.h"
#include "gfx/pages.h"
#include "gfx/scale.h"

#include "gfx/drivers/x11/x11_window.h"

#include <poll.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

namespace pel {
namespace {

using namespace x11;

// An image in the window's format, in shared memory where the server offers it.
struct Image {
  XImage* image = nullptr;
  XShmSegmentInfo shm{};
  bool shmAttached = false;
};

// The surface image and the window thread that presents it.
struct Surface {
  GC gc = nullptr;
  Image page;    // the picture converted, at its own size
  Image scaled;  // the picture as a full-screen window shows it, when larger
  Presenter presenter;

  std::thread thread;
  std::atomic<bool> running{false};
};
Surface surface;

std::atomic<int64_t> rowsPresented{0};
std::atomic<int64_t> passes{0};


// A shaped window shows only the pixels that are not the colour key:
// magenta above 8 bits a pixel, index 0 at 8 bits and below.
void reshape(const ScreenMode* m, int32_t top, int32_t rows) {
  const int32_t stride = (win->width + 7) / 8;
  for (int32_t r = top; r < top + rows; ++r) {
    const uint8_t* source = m->visibleBuffer + static_cast<std::size_t>(r / m->scanlineRepeat) * m->pitch;
    uint8_t* bits = win->shapeBits.data() + static_cast<std::size_t>(r) * stride;
    std::memset(bits, 0, static_cast<std::size_t>(stride));
    for (int32_t x = 0; x < win->width; ++x) {
      const bool opaque = !isColourKey(source, x, m->bytesPerPixel);
      bits[x >> 3] |= static_cast<uint8_t>(opaque << (x & 7));
    }
  }
  Pixmap mask =
      xl->XCreateBitmapFromData(win->display, win->window, reinterpret_cast<const char*>(win->shapeBits.data()),
                                static_cast<unsigned>(win->width), static_cast<unsigned>(win->height));
  xl->XShapeCombineMask(win->display, win->window, ShapeBounding, win->picture.x, win->picture.y, mask, ShapeSet);
  xl->XFreePixmap(win->display, mask);
}

// Puts rows [top, top + rows) of the image at (x, y + top) in the window.
void put(const Image& i, int32_t x, int32_t y, int32_t top, int32_t rows) {
  const auto width = static_cast<unsigned>(i.image->width);
  if (i.shmAttached) {
    xl->XShmPutImage(win->display, win->window, surface.gc, i.image, 0, top, x, y + top, width,
                     static_cast<unsigned>(rows), False);
  } else {
    xl->XPutImage(win->display, win->window, surface.gc, i.image, 0, top, x, y + top, width,
                  static_cast<unsigned>(rows));
  }
}

bool createImage(Image& i, int32_t width, int32_t height);
void destroyImage(Image& i);

// The scaled image and its map for the picture's size on the window; the
// image goes when the picture is shown at its own size again.
bool prepareScaled(bool scaled) {
  Image& i = surface.scaled;
  if (!scaled) {
    if (i.image) destroyImage(i);
    return true;
  }
  if (i.image && i.image->width == win->picture.width && i.image->height == win->picture.height) return true;
  destroyImage(i);
  return createImage(i, win->picture.width, win->picture.height);
}

// The rows that changed since the last pass, converted and put on the window.
void present() {
  ScreenMode* m = currentMode();
  if (!m || !surface.page.image || !win->window) return;
  const bool scaled = win->picture.width != win->width || win->picture.height != win->height;
  if (!prepareScaled(scaled)) return;
  XImage* image = (scaled ? surface.scaled : surface.page).image;
  const PresentedRows band = surface.presenter.take(m, win->picture.width, win->picture.height,
                                                    reinterpret_cast<uint8_t*>(image->data),
                                                    static_cast<std::size_t>(image->bytes_per_line));
  if (band.empty()) return;
  const int32_t rows = band.rows.end - band.rows.first;
  if (!scaled && !win->shapeBits.empty()) reshape(m, band.rows.first, rows);
  put(scaled ? surface.scaled : surface.page, win->picture.x, win->picture.y, band.rows.first, rows);
  finishPresent(m, true);
  rowsPresented += band.lines.end - band.lines.first;
}

// ---- The surface ----------------------------------------------------------

// Attaching shared memory fails on a remote server.
bool attachShared(XShmSegmentInfo& shm) {
  return withoutErrorExit([&shm] { return xl->XShmAttach(win->display, &shm) != 0; });
}

bool createImage(Image& i, int32_t width, int32_t height) {
  const auto w = static_cast<unsigned>(width), h = static_cast<unsigned>(height);
  if (xl->hasXext && xl->XShmQueryExtension(win->display)) {
    i.image = xl->XShmCreateImage(win->display, win->visual, static_cast<unsigned>(win->depth), ZPixmap, nullptr,
                                  &i.shm, w, h);
    if (i.image) {
      i.shm.shmid = shmget(IPC_PRIVATE, static_cast<std::size_t>(i.image->bytes_per_line) * h, IPC_CREAT | 0600);
      if (i.shm.shmid >= 0) {
        i.shm.shmaddr = i.image->data = static_cast<char*>(shmat(i.shm.shmid, nullptr, 0));
        i.shm.readOnly = False;
        const bool mapped = i.shm.shmaddr != reinterpret_cast<char*>(-1);
        const bool attached = mapped && attachShared(i.shm);
        // Marked for removal now, so the segment goes away with the last detach.
        shmctl(i.shm.shmid, IPC_RMID, nullptr);
        if (attached) {
          i.shmAttached = true;
          return true;
        }
        if (mapped) shmdt(i.shm.shmaddr);
      }
      i.image->data = nullptr;
      XDestroyImage(i.image);
      i.image = nullptr;
    }
  }
  i.image = xl->XCreateImage(win->display, win->visual, static_cast<unsigned>(win->depth), ZPixmap, 0, nullptr, w, h,
                             32, 0);
  if (!i.image) return false;
  i.image->data = static_cast<char*>(std::calloc(static_cast<std::size_t>(i.image->bytes_per_line), h));
  if (i.image->data) return true;
  XDestroyImage(i.image);
  i.image = nullptr;
  return false;
}

void destroyImage(Image& i) {
  if (i.image) {
    if (i.shmAttached) {
      xl->XShmDetach(win->display, &i.shm);
      xl->XSync(win->display, False);
      shmdt(i.shm.shmaddr);
      i.image->data = nullptr;
    }
    XDestroyImage(i.image);  // frees the data of a plain image
  }
  i = Image{};
}

// The blitter for the default visual (its bits per pixel and channel order),
// and the image.
bool openSurface() {
  Display* d = win->display;
  if (win->visual->c_class != TrueColor) return false;
  int bitsPerPixel = 0, formats = 0;
  XPixmapFormatValues* list = xl->XListPixmapFormats(d, &formats);
  for (int i = 0; i < formats; ++i) {
    if (list[i].depth == win->depth) bitsPerPixel = list[i].bits_per_pixel;
  }
  if (list) xl->XFree(list);
  const int32_t blitDepth = bitsPerPixel == 32 ? 32 : bitsPerPixel == 24 ? 24 : win->depth == 15 ? 15 : 16;
  const uint32_t redMask = static_cast<uint32_t>(win->visual->red_mask);
  const int32_t order = redMask == 0xFF || redMask == 0x1F ? 1 : 0;
  const Blitter blitter = selectBlitter(blitDepth, order);
  if (!blitter) return false;
  surface.gc = xl->XCreateGC(d, RootWindow(d, win->screen), 0, nullptr);
  if (!createImage(surface.page, win->width, win->height)) return false;
  // 32-bit pages on a 32-bit visual of their channel order go as they are.
  const ScreenMode* m = currentMode();
  const bool sameFormat = blitDepth == 32 && order == 0 && m && m->bytesPerPixel == 4;
  surface.presenter.setFormat(sameFormat ? nullptr : blitter, surface.page.image->bits_per_pixel / 8);
  return true;
}

void closeSurface() {
  if (!win->display) return;
  destroyImage(surface.scaled);
  destroyImage(surface.page);
  surface.presenter.reset();
  if (surface.gc) xl->XFreeGC(win->display, surface.gc);
  surface.gc = nullptr;
}

// ---- The window thread and the operations ---------------------------------

void threadMain() {
  win->threadId = gettid();
  const char* failure = !openDisplay()   ? "no X display (is DISPLAY set?)"
                        : !openSurface() ? "the screen's visual is not true colour"
                        : !initWindow()  ? "the window could not be made"
                                         : nullptr;
  if (failure) refuseBecause(failure);
  const bool opened = failure == nullptr;
  win->start.report(opened);
  if (!opened) {
    closeSurface();
    closeDisplay();
    return;
  }
  {
    std::lock_guard guard(win->presentation);
    activation(win->rules, true);
  }
  bool told = false;
  while (surface.running) {
    if (win->lost) {
      if (!told) {
        std::lock_guard guard(win->presentation);
        closeRequest(win->rules);
        told = true;
      }
      // Nothing comes from the server any more: asleep until the exit.
      win->wake.sleep(-1, -1);
      continue;
    }
    bool queued = false;
    {
      std::lock_guard guard(win->presentation);
      // Events first: an exposure or a new size marks the rows this pass
      // then presents. The key state follows the key events and the keymap
      // X sends with the focus: no round trip to the server on each pass.
      applyTitle();
      handleEvents();
      present();
      xl->XFlush(win->display);
      // Replies waited for in this pass (a keymap fetched for a key, a
      // sync) may have brought events along into the client library's
      // queues, where poll cannot see them: XPending moves them into
      // Xlib's and counts them.
      queued = !win->lost && xl->XPending(win->display) > 0;
    }
    ++passes;
    if (queued || win->lost) continue;
    // Asleep until the server sends something or the program wakes the
    // thread (rows marked, a title, the exit): no tick.
    const short events = win->wake.sleep(ConnectionNumber(win->display), -1);
    // A hang-up is Xlib's to find on the next pass (it reports the lost
    // connection); should it not, the thread still does not spin.
    if ((events & (POLLHUP | POLLERR | POLLNVAL)) && !(events & POLLIN))
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::lock_guard guard(win->presentation);
  exitWindow();
  closeSurface();
  closeDisplay();
}

int32_t x11Init(const char* title, int32_t width, int32_t height, int32_t, int32_t, int32_t flags) {
  if (refusesOpenGlMode(flags)) return -1;
  if (width > largestWindowSide || height > largestWindowSide) {
    refuseBecause(tooLargeReason);
    return -1;
  }
  if (!createLayer(title, width, height, flags, {})) {
    refuseBecause("the X11 libraries are missing");
    return -1;
  }
  win->scaleToFit = true;
  if (!win->wake.open()) {
    destroyLayer();
    refuseBecause("no descriptor to wake the window thread with");
    return -1;
  }
  win->start.reset();
  surface.running = true;
  surface.thread = std::thread(threadMain);
  return win->start.wait() ? 0 : -1;
}

void x11Exit() {
  if (!win || !surface.thread.joinable()) return;
  surface.running = false;
  win->wake.wake();
  ScreenMode* m = currentMode();
  if (m && m->lockCount != 0) {
    m->lockCount = 0;
    win->presentation.unlock();
  }
  surface.thread.join();
  win->wake.close();
  destroyLayer();
}

}  // namespace

int64_t x11RowsPresented() { return rowsPresented; }
int64_t x11Passes() { return passes; }
void x11Wake() {
  if (win) win->wake.wake();
}

void x11PresentNow(int32_t first, int32_t last) {
  ScreenMode* m = modeToPresent(x11Driver, first, last);
  if (!m || !win || !win->display || !surface.page.image) return;
  std::lock_guard guard(win->presentation);
  markRows(m, first, last);
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
    .waitVsync = waitVsync,
    .getMouse = getMouse,
    .setMouse = setMouse,
    .setWindowTitle = setTitle,
    .setWindowPos = setWindowPos,
    .fetchModes = fetchModes,
    .rowsMarked = [] { win->wake.wake(); },
};

}  // namespace pel
