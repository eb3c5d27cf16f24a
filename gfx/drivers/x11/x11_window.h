// The X11 window layer shared by the Linux back ends ("X11" presents the
// framebuffer from a window thread; "OpenGL" draws with GLX on the program's
// thread): the display connection, the window and its full-screen rebuild,
// events through the platform-neutral window rules, and the common
// operations. Include after the runtime's headers (see x11_library.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "gfx/drivers/wake_up.h"
#include "gfx/drivers/window_record.h"
#include "gfx/drivers/x11/x11_library.h"
#include "gfx/drivers/xkb_keys.h"

namespace pel::x11 {

struct Atoms {
  Atom deleteWindow, wmState, fullScreen, above, maximizedVert, maximizedHorz, motifHints, frameExtents, settings;
};

// What a back end adds to the window's life: run after the window is mapped
// (false undoes the build) and before it is destroyed.
struct WindowHooks {
  bool (*windowBuilt)();
  void (*windowGoing)();
  void (*pictureMoved)();  // the picture's place or shown size changed
};

// The shared record (the picture at `picture` in a window of windowW x
// windowH) and X's part.
struct X11Window : WindowRecord {
  // The connection lives as long as the back end; the window is rebuilt by
  // the full-screen toggle.
  Display* display = nullptr;
  int screen = 0;
  Visual* visual = nullptr;  // the default visual: the window's
  int depth = 0;
  Atoms atoms{};
  bool hasShape = false;
  int xkbEvent = -1;  // XKB's event code, for its keymap changes

  // A back end drawing with another visual (OpenGL) gets a child window of
  // that visual holding the picture; events still go to the window.
  Visual* pictureVisual = nullptr;
  int pictureDepth = 0;
  Colormap colormap = 0;
  Window pictureWindow = 0;

  // A back end that can scale its picture fills a full-screen window with
  // it, as a display mode of the picture's size would.
  bool scaleToFit = false;

  Window window = 0;
  int32_t anchorX = 0, anchorY = 0;  // a root point on the monitor the window goes to
  std::vector<uint8_t> shapeBits;    // shaped windows: one bit a pixel, set where opaque

  pid_t threadId = 0;       // the thread handling events, when it is not the program's
  std::mutex presentation;  // the "X11" back end's lock
  // Wakes that thread (never opened where the program's thread handles
  // them): for rows to present, a title, and events that a call on the
  // program's thread read into Xlib's queue.
  WakeUp wake;
  WindowHooks hooks{};
  xkb::Composer composer;  // dead keys and compose sequences
};

// The open window layer, null when none; the libraries once loaded.
extern X11Window* win;
extern const Library* xl;

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

// A fresh record for a picture of this size; null when the X libraries are
// missing or a layer is open already.
// X sizes windows in 16 bits, and servers keep them to signed ones.
constexpr int32_t largestWindowSide = 32767;
constexpr const char* tooLargeReason = "a window of at most 32767 x 32767 pixels";

X11Window* createLayer(const char* title, int32_t width, int32_t height, int32_t flags, WindowHooks hooks);
void destroyLayer();

// The connection, its default visual, atoms and settings. Closing also
// closes the window.
bool openDisplay();
void closeDisplay();

// The window for the mode flags in the rules record (the platform calls the
// full-screen toggle uses too).
bool initWindow(void* = nullptr);
void exitWindow(void* = nullptr);
// The picture's place in a window of this size: centred in full screen, and
// scaled there when the back end can.
void placePicture(int32_t windowW, int32_t windowH);

// Runs requests that may fail with an X error, which Xlib's default handler
// would answer by ending the process; false when one failed.
bool withoutErrorExitImpl(bool (*call)(void*), void* context);
template <typename Requests>
bool withoutErrorExit(Requests requests) {
  return withoutErrorExitImpl([](void* c) { return (*static_cast<Requests*>(c))(); }, &requests);
}

// Turns the queued X events into key codes, events and mouse state.
void handleEvents();
// The key state follows the key events, and the keymap X sends with the
// focus (KeymapNotify, 256 bits by X key code) for keys pressed elsewhere.
void applyKeymap(const char* keys);
// A title set from another thread reaches the window here.
void applyTitle();

// The common operations.
int32_t getMouse(int32_t* x, int32_t* y, int32_t* wheel, int32_t* buttons, int32_t* clip);
int32_t setMouse(int32_t x, int32_t y, int32_t cursor, int32_t clip);
void setTitle(const char* title);
void waitVsync();
int32_t setWindowPos(int32_t x, int32_t y);
int32_t* fetchModes(int32_t depth, int32_t* count);

}  // namespace pel::x11
