// The Win32 window layer shared by the Windows back ends: the window class
// and window, the window procedure that turns messages into key codes,
// events and mouse state (through the platform-neutral window rules), the
// window thread with its start handshake, the presentation lock, and the
// operations most back ends put into their tables unchanged.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "gfx/blit.h"
#include "gfx/driver.h"
#include "gfx/drivers/window_record.h"
#include "gfx/mode.h"

namespace pel::win32 {

// What a back end gives the layer. `initWindow` creates the window and the
// surfaces (0 on success) and `exitWindow` destroys them; both run on the
// thread that owns the window and must tolerate a half-built state and a
// second call. `paint` puts the frame on the window again.
struct WindowHooks {
  int32_t (*initWindow)();
  void (*exitWindow)();
  void (*paint)();
  unsigned(__stdcall* threadMain)(void* startEvent);
  void (*pictureMoved)();  // optional: the picture's place changed (on the window's thread)
};

// user32 entry points that older systems lack, looked up by name.
struct User32Extras {
  BOOL(WINAPI* SetLayeredWindowAttributes)(HWND, COLORREF, BYTE, DWORD);
  HMONITOR(WINAPI* MonitorFromWindow)(HWND, DWORD);
  HMONITOR(WINAPI* MonitorFromPoint)(POINT, DWORD);
  BOOL(WINAPI* FlashWindowEx)(PFLASHWINFO);
  BOOL(WINAPI* TrackMouseEvent)(LPTRACKMOUSEEVENT);
  BOOL(WINAPI* GetMonitorInfoA)(HMONITOR, LPMONITORINFO);
  LONG(WINAPI* ChangeDisplaySettingsExA)(LPCSTR, LPDEVMODEA, HWND, DWORD, LPVOID);
};

// The shared record (width and height as passed to init, the client area
// windowW x windowH) and the Windows part.
struct WindowState : WindowRecord {
  int32_t version;  // major << 8 | minor
  HINSTANCE instance;
  WNDCLASSW windowClass;
  std::atomic<HWND> window;
  int32_t outerWidth, outerHeight;
  PALETTEENTRY palette[256];
  Blitter blitter;  // null: the page goes to the display unconverted
  HMONITOR monitor;
  std::atomic<bool> initialised;  // window threads run while it is set
  std::atomic<bool> paletteChanged;
  int32_t depth, refreshRate;  // as passed to init
  const char* caption;  // UTF-8
  char className[20];
  wchar_t wideClassName[20];
  WindowHooks hooks;
  User32Extras user32;
  bool scaledFullScreen;  // full screen without a display mode: the monitor's size, the picture scaled
  bool rebuilding;        // the toggle replaces the window (window thread): held keys stay held
};

extern WindowState windowState;

inline int32_t modeFlags() { return windowState.rules.modeFlags; }
inline bool fullScreen() { return modeFlags() & modeflag::fullScreen; }
// Whether the picture is shown other than at its own size at the top left.
inline bool scaling() { return windowState.scale.on() || windowState.scaledFullScreen; }

// Entry points come typeless; through void (*)() the cast is a plain one.
template <typename F>
F procAs(PROC entry) {
  return reinterpret_cast<F>(reinterpret_cast<void (*)()>(entry));
}

// An entry point looked up by name, null when the library lacks it.
template <typename F>
F entryPoint(HMODULE module, const char* name) {
  return procAs<F>(GetProcAddress(module, name));
}

// Releases a COM object, if any, and forgets it.
template <typename T>
void release(T*& object) {
  if (object) object->Release();
  object = nullptr;
}

// Each back end's init: clear the record, refuse what it cannot serve, store
// its hooks, then windowInit. 0 or -1.
void clearWindowState();
int32_t windowInit(const char* title, int32_t width, int32_t height, int32_t depth, int32_t refreshRate,
                   int32_t flags);
void windowExit();  // the common exit
// For the back ends' initWindow. 0 or -1.
int32_t openWindow(DWORD style, DWORD extendedStyle, int32_t x, int32_t y, int32_t outerWidth, int32_t outerHeight);
void drainMessages();
LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void toggleFullscreen();
void clipCursorToClient();
// Key state of the scan-code table from the thread's keyboard state; only
// while the window is active.
void refreshKeyState();

// Monitor rectangle, work area and device name of the window's monitor, when known.
struct MonitorInfo {
  bool known;
  RECT area, work;
  char device[CCHDEVICENAME];
};
MonitorInfo monitorInfo();
// Full screen: the display mode of the record's width, height, depth and
// (unless told not to) refresh rate on the monitor; the ChangeDisplaySettings
// result.
LONG setDisplayMode(const MonitorInfo& monitor, bool withRefreshRate = true);
// A framed window of this style around a client area of the record's size,
// centred on the monitor, or on the primary screen when it is not known.
struct Placement {
  int32_t x, y, outerWidth, outerHeight;
};
// A zoomed window's client area is the page times the zoom chosen here.
Placement centredWindow(const MonitorInfo& monitor, DWORD style);
// The framed style of a windowed mode for the mode flags: a sizing border
// and maximise box when the window is resizable.
DWORD windowedStyle(int32_t flags);
// Full screen: the display mode of the record (tried again without the
// refresh rate when asked), the window at the monitor's corner; where it
// cannot be set and scaling is asked for, a frameless window over the
// monitor shows the picture scaled (scaledFullScreen). False when neither;
// `modeSet` tells whether a display mode must be undone.
bool fullScreenPlacement(const MonitorInfo& monitor, Placement& place, bool& modeSet, bool retryWithoutRate = false);
// The picture's place for a client area of this size (the window thread,
// on WM_SIZE and when a window opens); marks every row.
void placePicture(int32_t clientW, int32_t clientH);
// The window's refresh rate; 0 when the system does not know it.
int32_t windowRefreshRate(HWND window);

// The window layer's own copy of a caption, which `caption` then names.
void copyCaption(const char* title);
// A caption (UTF-8) in UTF-16 for the window; a byte that is no UTF-8
// becomes U+FFFD. Empty when it does not fit `size` units with the zero
// (a caption copy always fits as many units as it has bytes).
void wideCaption(const char* title, wchar_t* out, int size);
// The open mode's refresh rate: set by a back end on the window thread
// (also after a toggle), read by the program's thread.
void publishRefreshRate(int32_t rate);
int32_t publishedRefreshRate();

// The common operations.
void lock();
void unlock();
void setPalette(int32_t index, int32_t red, int32_t green, int32_t blue);
void waitVsync();
int32_t getMouse(int32_t* x, int32_t* y, int32_t* wheel, int32_t* buttons, int32_t* clip);
int32_t setMouse(int32_t x, int32_t y, int32_t cursor, int32_t clip);
void setWindowTitle(const char* title);
int32_t setWindowPos(int32_t x, int32_t y);

// A back end's table: its name, init and mode list around the common
// operations.
constexpr DisplayDriver windowLayerDriver(const char* name, decltype(DisplayDriver::init) init,
                                          decltype(DisplayDriver::fetchModes) fetchModes) {
  return DisplayDriver{
      .name = name,
      .init = init,
      .exit = windowExit,
      .lock = lock,
      .unlock = unlock,
      .setPalette = setPalette,
      .waitVsync = waitVsync,
      .getMouse = getMouse,
      .setMouse = setMouse,
      .setWindowTitle = setWindowTitle,
      .setWindowPos = setWindowPos,
      .fetchModes = fetchModes,
  };
}

// The desktop's current mode, and the window; nothing in the runtime asks.
struct DesktopMode {
  int32_t width, height, bitsPerPixel, refreshRate;
};
bool desktopMode(DesktopMode& mode);
// The display's modes of a depth as (width << 16 | height), in a block the
// caller frees; null with a count of 0 when none or out of memory. With
// `alike`, 15 and 16 bits count as one depth, as do 24 and 32.
int32_t* displayModes(int32_t depth, bool alike, int32_t* count);
HWND windowHandle();
// The window thread's id, 0 without one (tests send it input).
DWORD windowThreadId();
// Tests: the next `count` windows that a toggle builds fail to open.
void failWindowInits(int32_t count);

}  // namespace pel::win32
