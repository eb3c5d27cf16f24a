// The X client libraries, looked up when the back end first opens rather
// than linked, so that programs start on machines without them (the back end
// then fails to open and mode setting moves on). libX11 is required;
// libXext (shared memory, shaped windows) and libXrandr (the mode list and
// refresh rate) are optional. Include after the runtime's headers: X's
// macros (None, KeyPress, ...) clash with the runtime's names.
#pragma once

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/shape.h>
#ifdef PEL_HAVE_XRANDR
#include <X11/extensions/Xrandr.h>
#endif

// Every entry point the back end calls, listed once per library.
#define PEL_X11_ENTRIES(X)                                                                                           \
  X(XAllocSizeHints) X(XChangeProperty) X(XClearWindow) X(XCloseDisplay) X(XCreateBitmapFromData) X(XCreateColormap) X(XCreateGC)       \
  X(XCreateImage) X(XCreatePixmapCursor) X(XCreateWindow) X(XDefineCursor) X(XDestroyWindow) X(XFlush) X(XFree)      \
  X(XFreeColormap) X(XFreeCursor) X(XFreeGC) X(XFreePixmap) X(XGetSelectionOwner) X(XGetWindowProperty) X(XGrabPointer)               \
  X(XInternAtom) X(XInternAtoms) X(XListPixmapFormats) X(XLookupKeysym) X(XLookupString) X(XMapRaised) X(XMapWindow) X(XMoveWindow) X(XMoveResizeWindow) X(XNextEvent)   \
  X(XOpenDisplay) X(XPending) X(XPutImage) X(XQueryPointer) X(XRefreshKeyboardMapping)               \
  X(XSetErrorHandler) X(XSetIOErrorHandler) X(XSetWMNormalHints) X(XSetWMProtocols) X(XStoreName) X(XSync)           \
  X(XTranslateCoordinates) X(XUndefineCursor) X(XUngrabPointer) X(XWarpPointer) X(XkbQueryExtension)              \
  X(XkbRefreshKeyboardMapping) X(XkbSelectEvents) X(XkbSetDetectableAutoRepeat)
#define PEL_XEXT_ENTRIES(X)                                                                                          \
  X(XShapeCombineMask) X(XShapeQueryExtension) X(XShmAttach) X(XShmCreateImage) X(XShmDetach) X(XShmPutImage)        \
  X(XShmQueryExtension)
#ifdef PEL_HAVE_XRANDR
#define PEL_XRANDR_ENTRIES(X)                                                                                        \
  X(XRRConfigCurrentRate) X(XRRFreeMonitors) X(XRRFreeScreenConfigInfo) X(XRRFreeScreenResources)                    \
  X(XRRGetMonitors) X(XRRGetScreenInfo) X(XRRGetScreenResourcesCurrent) X(XRRQueryExtension)
#else
#define PEL_XRANDR_ENTRIES(X)
#endif

namespace pel::x11 {

struct Library {
#define PEL_X11_POINTER(name) decltype(&::name) name = nullptr;
  PEL_X11_ENTRIES(PEL_X11_POINTER)
  PEL_XEXT_ENTRIES(PEL_X11_POINTER)
  PEL_XRANDR_ENTRIES(PEL_X11_POINTER)
#undef PEL_X11_POINTER
  // libX11 1.7 and later: a lost connection no longer ends the process.
  decltype(&::XSetIOErrorExitHandler) XSetIOErrorExitHandler = nullptr;
  bool hasXext = false;    // every entry of libXext found
  bool hasXrandr = false;  // every entry of libXrandr found
};

// The libraries, loaded on the first call; null when libX11 or one of its
// entries is missing.
const Library* library();

}  // namespace pel::x11
