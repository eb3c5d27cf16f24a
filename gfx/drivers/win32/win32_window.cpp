// The window layer's life cycle (class, window, window thread and its start
// handshake, presentation lock) and the common operations of the Windows
// back ends.
#include "win32_window.h"

#include <process.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "gfx/drivers/win32/win32_messages.h"
#include "gfx/input.h"
#include "gfx/mode.h"
#include "gfx/pages.h"

namespace pel::win32 {

WindowState windowState;

namespace {

WindowState& ws = windowState;
HANDLE windowThread = nullptr;
std::atomic<DWORD> threadId{0};
CRITICAL_SECTION presentation;
std::atomic<bool> lockReady{false};  // the window thread takes the lock before windowInit returns
BOOL savedScreenSaver = FALSE;

bool hasThread() { return !(modeFlags() & modeflag::openGl); }

// High-DPI systems scale the windows of programs that do not say they are
// aware; a scaled window then draws its own pixels instead. The newest
// entry point the system has, looked up by name; once a process.
void makeDpiAware() {
  static bool done = false;
  if (done) return;
  done = true;
  HMODULE user32 = GetModuleHandleA("USER32");
  using ContextFn = BOOL(WINAPI*)(HANDLE);
  if (auto setContext = entryPoint<ContextFn>(user32, "SetProcessDpiAwarenessContext")) {
    // Per monitor (version 2), else per monitor.
    if (setContext(reinterpret_cast<HANDLE>(static_cast<intptr_t>(-4))) ||
        setContext(reinterpret_cast<HANDLE>(static_cast<intptr_t>(-3))))
      return;
  }
  if (HMODULE shcore = LoadLibraryA("shcore.dll")) {
    using AwarenessFn = HRESULT(WINAPI*)(int);
    const auto setAwareness = entryPoint<AwarenessFn>(shcore, "SetProcessDpiAwareness");
    const bool set = setAwareness && SUCCEEDED(setAwareness(2));  // per monitor
    // Kept loaded: the setting is the process's for its life.
    if (set) return;
    FreeLibrary(shcore);
  }
  using AwareFn = BOOL(WINAPI*)();
  if (auto setAware = entryPoint<AwareFn>(user32, "SetProcessDPIAware")) setAware();
}

// The desktop's scale from the screen's dots per inch (real pixels once
// the process is aware).
int32_t desktopScale() {
  HDC screen = GetDC(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 96;
  if (screen) ReleaseDC(nullptr, screen);
  return scaleFromDpi(dpi);
}

// The caption, the layer's own copy: the window thread reads it when it
// opens a window (a toggle, a rebuild) while the program may set a new one.
char captionText[260];
std::atomic<int32_t> windowInitsToFail{0};

// Platform calls of the window rules, on the window of the message in hand.
const WindowPlatform platformCalls = {
    .trackLeave = [](void*) { trackMouseLeave(); },
    .clipToClient = [](void*) { clipCursorToClient(); },
    .releaseClip = [](void*) { ClipCursor(nullptr); },
    .capture =
        [](void*, bool take) {
          HWND window = messageWindow();
          if (take) {
            if (window) SetCapture(window);
          } else if (window && GetCapture() == window) {
            ReleaseCapture();
          }
        },
    .warpPointer =
        [](void*, int32_t x, int32_t y) {
          if (scaling()) {
            const ClientPoint c = clientFromPage(ws.picture, ws.width, ws.height, x, y);
            x = c.x;
            y = c.y;
          }
          POINT p{x, y};
          HWND window = messageWindow();
          if (!window) return;
          if (!fullScreen() || ws.scaledFullScreen) ClientToScreen(window, &p);
          SetCursorPos(p.x, p.y);
        },
    .updateCursor =
        [](void*) {
          if (HWND window = messageWindow()) PostMessageA(window, WM_SETCURSOR, 0, 0);
        },
    .initWindow =
        [](void*) {
          if (windowInitsToFail > 0) {
            --windowInitsToFail;
            return false;
          }
          return ws.hooks.initWindow() == 0;
        },
    .exitWindow = [](void*) { ws.hooks.exitWindow(); },
    .setHighPriority =
        [](void*, bool high) {
          if (hasThread()) SetThreadPriority(GetCurrentThread(), high ? THREAD_PRIORITY_ABOVE_NORMAL : THREAD_PRIORITY_NORMAL);
        },
    .window = nullptr,
};

}  // namespace

void copyCaption(const char* title) {
  std::snprintf(captionText, sizeof captionText, "%s", title ? title : "");
  // A title cut short (here or by the program's side) ends before the
  // character it cut, not in a replacement character.
  const std::size_t length = std::strlen(captionText);
  std::size_t lead = length;
  while (lead > 0 && (static_cast<uint8_t>(captionText[lead - 1]) & 0xC0) == 0x80) --lead;
  if (lead > 0) {
    const auto first = static_cast<uint8_t>(captionText[lead - 1]);
    const std::size_t needed = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : first >= 0xC0 ? 2 : 1;
    if (length - (lead - 1) < needed) captionText[lead - 1] = '\0';
  }
  ws.caption = captionText;
}

void wideCaption(const char* title, wchar_t* out, int size) {
  if (size <= 0) return;
  if (!title || MultiByteToWideChar(CP_UTF8, 0, title, -1, out, size) == 0) out[0] = L'\0';
}

// Value-initialised: every field zero.
void clearWindowState() {
  std::destroy_at(&ws);
  std::construct_at(&ws);
}

// The unshifted character of a virtual key on the user's keyboard layout.
static int32_t layoutCharacter(int32_t virtualKey) {
  return static_cast<int32_t>(MapVirtualKeyA(static_cast<UINT>(virtualKey & 0xFFFF), 2 /* MAPVK_VK_TO_CHAR */));
}

int32_t windowInit(const char* title, int32_t width, int32_t height, int32_t depth, int32_t refreshRate,
                   int32_t flags) {
  useUnshiftedCharacters(layoutCharacter);
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  GetVersionExA(&version);
  ws.version = static_cast<int32_t>(version.dwMajorVersion << 8 | version.dwMinorVersion);

  HMODULE user32 = GetModuleHandleA("USER32");
  ws.user32 = {
      entryPoint<decltype(User32Extras::SetLayeredWindowAttributes)>(user32, "SetLayeredWindowAttributes"),
      entryPoint<decltype(User32Extras::MonitorFromWindow)>(user32, "MonitorFromWindow"),
      entryPoint<decltype(User32Extras::MonitorFromPoint)>(user32, "MonitorFromPoint"),
      entryPoint<decltype(User32Extras::FlashWindowEx)>(user32, "FlashWindowEx"),
      entryPoint<decltype(User32Extras::TrackMouseEvent)>(user32, "TrackMouseEvent"),
      entryPoint<decltype(User32Extras::GetMonitorInfoA)>(user32, "GetMonitorInfoA"),
      entryPoint<decltype(User32Extras::ChangeDisplaySettingsExA)>(user32, "ChangeDisplaySettingsExA"),
  };

  ws.monitor = nullptr;
  if (ws.user32.MonitorFromPoint) {
    POINT pointer{};
    GetCursorPos(&pointer);
    ws.monitor = ws.user32.MonitorFromPoint(pointer, MONITOR_DEFAULTTONEAREST);
  }
  resetWindowRules(ws.rules, platformCalls, width, height, flags);
  // Shaped windows keep their own size: the layered key needs the page's pixels.
  ws.scale = flags & modeflag::shaped ? WindowScale{} : requestedWindowScale();
  ws.zoom = 1;
  ws.picture = {0, 0, width, height};
  ws.windowW = width;
  ws.windowH = height;
  ws.scaledFullScreen = false;
  if (ws.scale.on()) makeDpiAware();

  SystemParametersInfoA(SPI_GETSCREENSAVEACTIVE, 0, &savedScreenSaver, 0);
  SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, FALSE, nullptr, 0);

  ws.instance = GetModuleHandleA(nullptr);
  copyCaption(title);
  std::snprintf(ws.className, sizeof ws.className, "%s%p", "kelgfxclass_", static_cast<void*>(&ws));
  ws.className[sizeof ws.className - 1] = '\0';
  for (std::size_t i = 0; i < sizeof ws.className; ++i) {
    ws.wideClassName[i] = static_cast<unsigned char>(ws.className[i]);
  }

  // A Unicode class: WM_CHAR brings UTF-16, not a byte of the code page.
  WNDCLASSW& c = ws.windowClass;
  c = {};
  c.style = (flags & modeflag::openGl) ? CS_DBLCLKS : CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW;
  c.lpfnWndProc = windowProcedure;
  c.hInstance = ws.instance;
  c.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  // The bars around a scaled picture; OpenGL windows clear their own.
  if (ws.scale.on() && !(flags & modeflag::openGl)) c.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  c.hIcon = LoadIconA(ws.instance, "KEL_PROGRAM_ICON");
  if (!c.hIcon) c.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
  c.lpszClassName = ws.wideClassName;
  RegisterClassW(&c);

  ws.width = width;
  ws.height = height;
  ws.depth = depth;
  ws.refreshRate = refreshRate;
  ws.initialised = true;
  resetKeyMessages();

  if (!hasThread()) {
    windowThread = nullptr;
    return 0;
  }
  InitializeCriticalSection(&presentation);
  lockReady = true;
  HANDLE started = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (!started) return -1;
  unsigned id = 0;
  auto thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, ws.hooks.threadMain, started, 0, &id));
  if (!thread) {
    CloseHandle(started);
    return -1;
  }
  threadId = id;
  const HANDLE objects[2] = {started, thread};
  const DWORD which = WaitForMultipleObjects(2, objects, FALSE, INFINITE);
  CloseHandle(started);
  windowThread = thread;
  if (which != WAIT_OBJECT_0) return -1;
  if (flags & modeflag::highPriority) SetThreadPriority(thread, THREAD_PRIORITY_ABOVE_NORMAL);
  return 0;
}

void windowExit() {
  if (!ws.initialised) return;
  publishWindowZoom(0);
  ws.initialised = false;
  ScreenMode* m = currentMode();
  if (m && m->lockCount != 0) {
    m->lockCount = 0;
    if (m->driver && m->driver->unlock) m->driver->unlock();
  }
  if (windowThread) {
    WaitForSingleObject(windowThread, INFINITE);
    CloseHandle(windowThread);
    windowThread = nullptr;
    threadId = 0;
  }
  if (lockReady) {
    lockReady = false;
    DeleteCriticalSection(&presentation);
  }
  ws.hooks.exitWindow();
  SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, static_cast<UINT>(savedScreenSaver), nullptr, 0);
  UnregisterClassW(ws.wideClassName, ws.instance);
  if (ws.rules.clip) {
    ClipCursor(nullptr);
    ws.rules.clip = false;
  }
}

int32_t openWindow(DWORD style, DWORD extendedStyle, int32_t x, int32_t y, int32_t outerWidth, int32_t outerHeight) {
  ws.outerWidth = outerWidth;
  ws.outerHeight = outerHeight;
  wchar_t caption[sizeof captionText];
  wideCaption(ws.caption, caption, static_cast<int>(std::size(caption)));
  HWND window = CreateWindowExW(extendedStyle, ws.wideClassName, caption, style, x, y, outerWidth, outerHeight,
                                nullptr, nullptr, ws.instance, nullptr);
  if (!window) return -1;
  ws.window = window;
  if (modeFlags() & modeflag::alwaysOnTop) {
    SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOSENDCHANGING);
  }
  SetForegroundWindow(window);
  return 0;
}

void drainMessages() {
  MSG message;
  // The wide calls: the narrow ones would bring WM_CHAR through the code page.
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

void toggleFullscreen() {
  if (modeFlags() & modeflag::noSwitching) return;
  // The rebuilt window goes to the monitor this one is on.
  ws.monitor = ws.user32.MonitorFromWindow ? ws.user32.MonitorFromWindow(ws.window, MONITOR_DEFAULTTONEAREST)
                                           : nullptr;
  ws.rebuilding = true;
  toggleFullScreen(ws.rules);
  ws.rebuilding = false;
}

void clipCursorToClient() {
  HWND window = messageWindow();
  RECT r;
  if (!window || !GetClientRect(window, &r)) return;
  if (scaling()) r = {ws.picture.x, ws.picture.y, ws.picture.x + ws.picture.width, ws.picture.y + ws.picture.height};
  POINT corners[2] = {{r.left, r.top}, {r.right, r.bottom}};
  ClientToScreen(window, &corners[0]);
  ClientToScreen(window, &corners[1]);
  const RECT area{corners[0].x, corners[0].y, corners[1].x, corners[1].y};
  ClipCursor(&area);
}

void refreshKeyState() {
  ScreenMode* m = currentMode();
  if (!m || !ws.rules.active) return;
  BYTE state[256];
  if (!GetKeyboardState(state)) return;
  for (const ScanCodeRow* row = ScanCodeTable; row->scanCode; ++row) {
    const bool down = (state[row->primary] & 0x80) || (row->alternative && (state[row->alternative] & 0x80));
    m->keyState[row->scanCode] = down ? 1 : 0;
  }
}

MonitorInfo monitorInfo() {
  MonitorInfo info{};
  if (!ws.user32.GetMonitorInfoA || !ws.monitor) return info;
  MONITORINFOEXA mi{};
  mi.cbSize = sizeof mi;
  if (!ws.user32.GetMonitorInfoA(ws.monitor, &mi)) return info;
  info.known = true;
  info.area = mi.rcMonitor;
  info.work = mi.rcWork;
  std::memcpy(info.device, mi.szDevice, sizeof info.device);
  return info;
}

LONG setDisplayMode(const MonitorInfo& monitor, bool withRefreshRate) {
  DEVMODEA mode{};
  static_assert(sizeof mode == 156);
  mode.dmSize = sizeof mode;
  mode.dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT | (withRefreshRate ? DM_DISPLAYFREQUENCY : 0);
  mode.dmPelsWidth = static_cast<DWORD>(ws.width);
  mode.dmPelsHeight = static_cast<DWORD>(ws.height);
  mode.dmBitsPerPel = static_cast<DWORD>(ws.depth);
  mode.dmDisplayFrequency = withRefreshRate ? static_cast<DWORD>(ws.refreshRate) : 0;
  return ws.user32.ChangeDisplaySettingsExA
             ? ws.user32.ChangeDisplaySettingsExA(monitor.known ? monitor.device : nullptr, &mode, nullptr,
                                                  CDS_FULLSCREEN, nullptr)
             : ChangeDisplaySettingsA(&mode, CDS_FULLSCREEN);
}

Placement centredWindow(const MonitorInfo& monitor, DWORD style) {
  if (ws.scale.on()) {
    // The work area less the frame is what a window's client area can cover.
    RECT frame{0, 0, 0, 0};
    AdjustWindowRect(&frame, style, FALSE);
    RECT work = monitor.known ? monitor.work : RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    ws.zoom = chooseZoom(ws.scale, (work.right - work.left) - (frame.right - frame.left),
                         (work.bottom - work.top) - (frame.bottom - frame.top), ws.width, ws.height, desktopScale());
  }
  publishWindowZoom(ws.zoom);
  placePicture(ws.width * ws.zoom, ws.height * ws.zoom);
  RECT outer{0, 0, ws.width * ws.zoom, ws.height * ws.zoom};
  AdjustWindowRect(&outer, style, FALSE);
  Placement p{0, 0, outer.right - outer.left, outer.bottom - outer.top};
  if (monitor.known) {
    p.x = monitor.area.left + ((monitor.area.right - monitor.area.left - p.outerWidth) >> 1);
    p.y = monitor.area.top + ((monitor.area.bottom - monitor.area.top - p.outerHeight) >> 1);
  } else {
    p.x = (GetSystemMetrics(SM_CXSCREEN) - p.outerWidth) >> 1;
    p.y = (GetSystemMetrics(SM_CYSCREEN) - p.outerHeight) >> 1;
  }
  return p;
}

DWORD windowedStyle(int32_t flags) {
  if (flags & modeflag::noFrame) return WS_POPUP;
  DWORD style = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | ((flags & modeflag::noSwitching) ? 0 : WS_MAXIMIZEBOX);
  if (ws.scale.resizable) style |= WS_THICKFRAME | WS_MAXIMIZEBOX;
  return style;
}

bool fullScreenPlacement(const MonitorInfo& monitor, Placement& place, bool& modeSet, bool retryWithoutRate) {
  ws.scaledFullScreen = false;
  modeSet = setDisplayMode(monitor) == DISP_CHANGE_SUCCESSFUL ||
            (retryWithoutRate && setDisplayMode(monitor, false) == DISP_CHANGE_SUCCESSFUL);
  const RECT area = monitor.known ? monitor.area : RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  if (modeSet) {
    // The monitor's corner: a secondary monitor does not start at 0, 0.
    place = {monitor.known ? area.left : 0, monitor.known ? area.top : 0, ws.width, ws.height};
    placePicture(ws.width, ws.height);
    return true;
  }
  if (!ws.scale.on()) return false;
  place = {area.left, area.top, area.right - area.left, area.bottom - area.top};
  ws.scaledFullScreen = true;
  placePicture(place.outerWidth, place.outerHeight);
  return true;
}

void placePicture(int32_t clientW, int32_t clientH) {
  placeWindow(ws, clientW, clientH,
              pictureInWindow(clientW, clientH, ws.width, ws.height, scaling() ? PicturePlace::scaled : PicturePlace::corner,
                              fullScreen() || ws.scale.resizable ? 0 : ws.zoom));
  markAllRows();
  if (ws.hooks.pictureMoved) ws.hooks.pictureMoved();
}

int32_t windowRefreshRate(HWND window) {
  HDC device = GetDC(window);
  const int rate = GetDeviceCaps(device, VREFRESH);
  ReleaseDC(window, device);
  // 0 and 1 stand for the hardware's default rate, which is not known.
  return rate > 1 ? rate : 0;
}

// ---- The common operations -------------------------------------------------

void lock() {
  if (lockReady) EnterCriticalSection(&presentation);
}

void unlock() {
  if (lockReady) LeaveCriticalSection(&presentation);
}

void setPalette(int32_t index, int32_t red, int32_t green, int32_t blue) {
  if (index < 0 || index > 255) return;
  ws.palette[index] = {static_cast<BYTE>(red), static_cast<BYTE>(green), static_cast<BYTE>(blue), PC_NOCOLLAPSE};
  ws.paletteChanged = true;
}

void publishRefreshRate(int32_t rate) {
  if (ScreenMode* m = currentMode()) std::atomic_ref<int32_t>(m->refreshRate).store(rate);
}

int32_t publishedRefreshRate() {
  ScreenMode* m = currentMode();
  return m ? std::atomic_ref<int32_t>(m->refreshRate).load() : 0;
}

void waitVsync() {
  const int32_t rate = publishedRefreshRate();
  Sleep(rate > 0 ? static_cast<DWORD>(1000 / rate) : 16);
}

int32_t getMouse(int32_t* x, int32_t* y, int32_t* wheel, int32_t* buttons, int32_t* clip) {
  return rulesGetMouse(ws.rules, x, y, wheel, buttons, clip);
}

int32_t setMouse(int32_t x, int32_t y, int32_t cursor, int32_t clip) {
  if (ws.window) rulesSetMouse(ws.rules, x, y, cursor, clip);
  return 0;
}

void setWindowTitle(const char* title) {
  wchar_t caption[sizeof captionText];
  lock();
  copyCaption(title);
  wideCaption(ws.caption, caption, static_cast<int>(std::size(caption)));
  unlock();
  HWND window = ws.window;
  if (!window) return;
  // SetWindowTextW waits for the window thread, which needs the lock to pump.
  const ScreenMode* m = currentMode();
  const bool held = m && m->lockCount != 0;
  if (held) unlock();
  SetWindowTextW(window, caption);
  if (held) lock();
}

int32_t setWindowPos(int32_t x, int32_t y) {
  HWND window = ws.window;
  if (!window || fullScreen()) return 0;
  if (x == keepCoordinate && y == keepCoordinate) {
    RECT r;
    if (!GetWindowRect(window, &r)) return 0;
    return static_cast<int32_t>(static_cast<uint32_t>(r.top) << 16 | (static_cast<uint32_t>(r.left) & 0xFFFF));
  }
  SetWindowPos(window, nullptr, x, y, 0, 0, SWP_ASYNCWINDOWPOS | SWP_NOOWNERZORDER | SWP_NOZORDER | SWP_NOSIZE);
  return 0;
}

bool desktopMode(DesktopMode& mode) {
  DEVMODEA d{};
  d.dmSize = sizeof d;
  if (!EnumDisplaySettingsA(nullptr, ENUM_CURRENT_SETTINGS, &d)) return false;
  mode = {static_cast<int32_t>(d.dmPelsWidth), static_cast<int32_t>(d.dmPelsHeight),
          static_cast<int32_t>(d.dmBitsPerPel), static_cast<int32_t>(d.dmDisplayFrequency)};
  return true;
}

int32_t* displayModes(int32_t depth, bool alike, int32_t* count) {
  const auto takes = [&](int32_t bits) {
    if (bits == depth) return true;
    if (!alike) return false;
    return (depth == 16 && bits == 15) || (depth == 15 && bits == 16) || (depth == 32 && bits == 24) ||
           (depth == 24 && bits == 32);
  };
  int32_t* modes = nullptr;
  int32_t n = 0;
  DEVMODEA mode{};
  mode.dmSize = sizeof mode;
  for (DWORD i = 0; EnumDisplaySettingsA(nullptr, i, &mode); ++i) {
    if (!takes(static_cast<int32_t>(mode.dmBitsPerPel))) continue;
    auto* grown = static_cast<int32_t*>(std::realloc(modes, (static_cast<std::size_t>(n) + 1) * sizeof(int32_t)));
    if (!grown) {
      // A list cut short would pass for the whole one.
      std::free(modes);
      modes = nullptr;
      n = 0;
      break;
    }
    modes = grown;
    modes[n++] = static_cast<int32_t>(mode.dmPelsWidth << 16 | (mode.dmPelsHeight & 0xFFFF));
  }
  if (count) *count = n;
  return modes;
}

HWND windowHandle() { return ws.window; }
void failWindowInits(int32_t count) { windowInitsToFail = count; }
DWORD windowThreadId() { return threadId; }

}  // namespace pel::win32
