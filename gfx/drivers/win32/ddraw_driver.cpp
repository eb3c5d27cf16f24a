#include "ddraw_driver.h"
#include "ddraw_testing.h"

#define DIRECTINPUT_VERSION 0x0300
#include <ddraw.h>
#include <dinput.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "gfx/drivers/win32/ddraw_modes.h"
#include "gfx/drivers/present.h"
#include "gfx/drivers/win32/win32_window.h"
#include "gfx/mode.h"
#include "gfx/pages.h"
#include "gfx/retrace_pacer.h"

namespace pel {
namespace {

using namespace win32;
WindowState& ws = windowState;

constexpr GUID iidDirectDraw2 = {0xB3A6F3E0, 0x2B43, 0x11CF, {0xA2, 0xDE, 0x00, 0xAA, 0x00, 0xB9, 0x33, 0x56}};
constexpr GUID guidSysKeyboard = {0x6F1D2B61, 0xD5A0, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
constexpr GUID guidKey = {0x55728220, 0xD33C, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

// How often a lost surface is restored within one pass before the pass
// gives up (the next pass, 10 ms later, tries again), and how often the
// rebuild after a display mode change tries before the back end gives up.
constexpr int restoreTries = 4;
constexpr int rebuildTries = 10;
constexpr DWORD rebuildPause = 300;

using DirectDrawCreateFn = HRESULT(WINAPI*)(GUID*, LPDIRECTDRAW*, IUnknown*);
using DirectInputCreateFn = HRESULT(WINAPI*)(HINSTANCE, DWORD, LPDIRECTINPUTA*, LPUNKNOWN);

struct DirectX {
  HMODULE ddrawLibrary, dinputLibrary;
  DirectDrawCreateFn directDrawCreate;
  LPDIRECTDRAWENUMERATEEXA enumerateEx;
  DirectInputCreateFn directInputCreate;
  IDirectDraw2* dd;
  IDirectDrawSurface* primary;
  IDirectDrawSurface* work;  // the primary itself in full screen
  IDirectDrawClipper* clipper;
  IDirectDrawPalette* palette;
  IDirectInputA* input;
  IDirectInputDeviceA* keyboard;
  int32_t verticalOffset;
  // The band converted into the work surface, which is the picture's shown
  // size (scaled windows convert at the page's size first).
  Presenter presenter;
  int32_t workW, workH;
  bool clearBars;  // the client area is filled black before the next present
  // Windowed: the work surface's rows converted since the last present;
  // only they are put on the window, unless it must be painted whole.
  RowSpan unshown;
  HANDLE retrace;
  bool broken;  // the rebuild gave up: nothing is shown any more
};
DirectX dx{};
POINT windowPosition{};  // where a window (re)opens
std::atomic<bool> retraceWaiting{false};
RetracePacer retracePacer;  // the program's thread only

std::atomic<int64_t> passes{0}, rebuilds{0}, retraceTimeouts{0};
// Windowed: the work rows of the last Blt onto the window (tests).
LastBand lastBand;
DisplayModeSetter modeSetter = nullptr;
RetraceWaiter retraceWaiter = nullptr;
std::atomic<int32_t> lossesToFake{0};
std::atomic<bool> wrongModeToFake{false}, workLossToFake{false};

// The keyboard's data format: 256 buttons, one byte each.
DIOBJECTDATAFORMAT keyObjects[256];
DIDATAFORMAT keyboardFormat;

void buildKeyboardFormat() {
  for (DWORD i = 0; i < 256; ++i) {
    keyObjects[i] = {&guidKey, i, (i << 8) | 0x8000000C, 0};
  }
  keyboardFormat = {sizeof(DIDATAFORMAT), sizeof(DIOBJECTDATAFORMAT), DIDF_RELAXIS, 256, 256, keyObjects};
}
#if !defined(_WIN64)
static_assert(sizeof(DIDATAFORMAT) == 24 && sizeof(DIOBJECTDATAFORMAT) == 16 && sizeof(DDSURFACEDESC) == 108 &&
              sizeof(DDBLTFX) == 100);
#endif

// The display device of the window's monitor.
struct DeviceSearch {
  HMONITOR monitor;
  GUID guid;
  bool found;
};

BOOL WINAPI matchMonitor(GUID* guid, LPSTR, LPSTR, LPVOID context, HMONITOR monitor) {
  auto* search = static_cast<DeviceSearch*>(context);
  if (guid && monitor == search->monitor) {
    search->guid = *guid;
    search->found = true;
    return FALSE;
  }
  return TRUE;
}

// DirectDrawCreate and IDirectDraw2 from it; null on failure.
IDirectDraw2* createDirectDraw(DirectDrawCreateFn create, GUID* device) {
  if (!create) return nullptr;
  IDirectDraw* first = nullptr;
  if (FAILED(create(device, &first, nullptr)) || !first) return nullptr;
  IDirectDraw2* dd = nullptr;
  if (FAILED(first->QueryInterface(iidDirectDraw2, reinterpret_cast<void**>(&dd)))) dd = nullptr;
  first->Release();
  return dd;
}

bool setMode(int32_t width, int32_t height, int32_t depth, int32_t rate, uint32_t flags) {
  const HRESULT result =
      modeSetter ? modeSetter(width, height, depth, rate, flags)
                 : dx.dd->SetDisplayMode(static_cast<DWORD>(width), static_cast<DWORD>(height), static_cast<DWORD>(depth),
                                         static_cast<DWORD>(rate), flags);
  return SUCCEEDED(result);
}

// The windowed work surface, of the picture's shown size; video memory may
// be short, and system memory serves as well.
bool createWork() {
  DDSURFACEDESC desc{};
  desc.dwSize = sizeof desc;
  desc.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH;
  desc.dwWidth = static_cast<DWORD>(ws.picture.width);
  desc.dwHeight = static_cast<DWORD>(ws.picture.height);
  desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY;
  if (FAILED(dx.dd->CreateSurface(&desc, &dx.work, nullptr))) {
    desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN;
    if (FAILED(dx.dd->CreateSurface(&desc, &dx.work, nullptr))) return false;
  }
  dx.workW = ws.picture.width;
  dx.workH = ws.picture.height;
  dx.clearBars = scaling();
  return true;
}

bool shownScaled() { return ws.picture.width != ws.width || ws.picture.height != ws.height; }

// Full screen with the display to itself; a full screen that scales the
// picture over the monitor is a window to DirectDraw.
bool exclusive() { return fullScreen() && !ws.scaledFullScreen; }

// After a resize the work surface follows the picture's size.
bool followWindowSize() {
  if (exclusive() || (dx.workW == ws.picture.width && dx.workH == ws.picture.height)) return dx.work != nullptr;
  release(dx.work);
  markAllRows();
  return createWork();
}

int32_t initWindow() {
  dx = DirectX{};
  ws.scaledFullScreen = false;
  ScreenMode* m = currentMode();
  if (!m) return -1;
  dx.ddrawLibrary = LoadLibraryA("ddraw.dll");
  dx.dinputLibrary = LoadLibraryA("dinput.dll");
  if (!dx.ddrawLibrary || !dx.dinputLibrary) return -1;
  dx.directDrawCreate = entryPoint<DirectDrawCreateFn>(dx.ddrawLibrary, "DirectDrawCreate");
  dx.enumerateEx = entryPoint<LPDIRECTDRAWENUMERATEEXA>(dx.ddrawLibrary, "DirectDrawEnumerateExA");
  dx.directInputCreate = entryPoint<DirectInputCreateFn>(dx.dinputLibrary, "DirectInputCreateA");

  const bool full = fullScreen();
  DeviceSearch search{ws.monitor, {}, false};
  if (full && dx.enumerateEx && ws.monitor) dx.enumerateEx(matchMonitor, &search, DDENUM_ATTACHEDSECONDARYDEVICES);
  dx.dd = createDirectDraw(dx.directDrawCreate, search.found ? &search.guid : nullptr);
  if (!dx.dd) return -1;
  if (!dx.directInputCreate || FAILED(dx.directInputCreate(ws.instance, 0x0300, &dx.input, nullptr))) return -1;

  if (full) {
    if (openWindow(WS_POPUP | WS_VISIBLE, 0, 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)) != 0)
      return -1;
    if (FAILED(dx.dd->SetCooperativeLevel(ws.window, DDSCL_EXCLUSIVE | DDSCL_FULLSCREEN | DDSCL_ALLOWREBOOT)))
      return -1;
    dx.verticalOffset = ddraw::searchDisplayMode(ws.width, ws.height, ws.depth, ws.refreshRate, setMode);
    if (dx.verticalOffset < 0) {
      dx.verticalOffset = 0;
      // No display mode for the page: with the option on, the picture
      // scaled over the monitor in the frameless window, as elsewhere.
      if (!ws.scale.on() || FAILED(dx.dd->SetCooperativeLevel(ws.window, DDSCL_NORMAL))) return -1;
      const MonitorInfo monitor = monitorInfo();
      const RECT area =
          monitor.known ? monitor.area : RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
      SetWindowPos(ws.window, HWND_TOP, area.left, area.top, area.right - area.left, area.bottom - area.top,
                   SWP_NOACTIVATE);
      ws.scaledFullScreen = true;
      placePicture(area.right - area.left, area.bottom - area.top);
    }
  } else {
    const DWORD style = windowedStyle(modeFlags());
    Placement place{};
    if (scaling()) {
      place = centredWindow(monitorInfo(), style);
    } else {
      RECT outer{0, 0, ws.width, ws.height};
      AdjustWindowRect(&outer, style, FALSE);
      place = {windowPosition.x, windowPosition.y, outer.right - outer.left, outer.bottom - outer.top};
    }
    if (openWindow(style | WS_VISIBLE, 0, place.x, place.y, place.outerWidth, place.outerHeight) != 0) return -1;
    if (FAILED(dx.dd->SetCooperativeLevel(ws.window, DDSCL_NORMAL))) return -1;
  }
  if (!exclusive() &&
      (FAILED(dx.dd->CreateClipper(0, &dx.clipper, nullptr)) || FAILED(dx.clipper->SetHWnd(0, ws.window))))
    return -1;

  DDSURFACEDESC desc{};
  desc.dwSize = sizeof desc;
  desc.dwFlags = DDSD_CAPS;
  desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
  if (FAILED(dx.dd->CreateSurface(&desc, &dx.primary, nullptr))) return -1;
  if (exclusive()) {
    dx.work = dx.primary;
    dx.work->AddRef();  // released on its own, like the windowed one
  } else {
    if (FAILED(dx.primary->SetClipper(dx.clipper))) return -1;
    if (!createWork()) return -1;
  }

  DDPIXELFORMAT format{};
  format.dwSize = sizeof format;
  static_assert(sizeof format == 32);
  if (FAILED(dx.primary->GetPixelFormat(&format)) || !(format.dwFlags & DDPF_RGB)) return -1;
  const int32_t bits = static_cast<int32_t>(format.dwRGBBitCount);
  if (bits == 8) {
    if (FAILED(dx.dd->CreatePalette(DDPCAPS_8BIT | DDPCAPS_INITIALIZE | DDPCAPS_ALLOW256, ws.palette, &dx.palette,
                                    nullptr)) ||
        FAILED(dx.primary->SetPalette(dx.palette)))
      return -1;
    ws.paletteChanged = false;
  }
  const int32_t blitDepth = ddraw::modeDepth(format.dwRGBBitCount, format.dwGBitMask);
  const DWORD red = format.dwRBitMask;
  const bool reversed = (bits >= 16 && bits <= 23 && red == 0x1F) || (bits >= 24 && (red == 0x1F || red == 0xFF));
  ws.blitter = selectBlitter(blitDepth, reversed ? 1 : 0);
  if (!ws.blitter) return -1;
  dx.presenter.setFormat(ws.blitter, (bits + 7) / 8);

  DWORD frequency = 0;
  publishRefreshRate(SUCCEEDED(dx.dd->GetMonitorFrequency(&frequency)) ? static_cast<int32_t>(frequency) : 0);
  dx.retrace = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!dx.retrace) return -1;

  buildKeyboardFormat();
  if (FAILED(dx.input->CreateDevice(guidSysKeyboard, &dx.keyboard, nullptr)) ||
      FAILED(dx.keyboard->SetDataFormat(&keyboardFormat)))
    return -1;
  return SUCCEEDED(dx.keyboard->Acquire()) ? 0 : -1;
}

// Releases whatever initWindow built; safe on a half-built state and twice.
void exitWindow() {
  HWND window = ws.window;
  if (window && !fullScreen()) {
    RECT r;
    if (GetWindowRect(window, &r)) windowPosition = {r.left, r.top};
  }
  if (dx.keyboard) dx.keyboard->Unacquire();
  release(dx.keyboard);
  release(dx.input);
  if (dx.dd) {
    if (exclusive()) {
      release(dx.work);
      if (dx.primary) {
        DDBLTFX fill{};
        fill.dwSize = sizeof fill;
        fill.dwFillColor = 0;
        dx.primary->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fill);
      }
      release(dx.palette);
      release(dx.primary);
      dx.dd->RestoreDisplayMode();
      if (window) dx.dd->SetCooperativeLevel(window, DDSCL_NORMAL);
    } else {
      release(dx.palette);
      release(dx.primary);
      release(dx.work);
      release(dx.clipper);
    }
    release(dx.dd);
  }
  if (window) {
    DestroyWindow(window);
    ws.window = nullptr;
  }
  if (dx.ddrawLibrary) FreeLibrary(dx.ddrawLibrary);
  if (dx.dinputLibrary) FreeLibrary(dx.dinputLibrary);
  dx.ddrawLibrary = dx.dinputLibrary = nullptr;
  if (dx.retrace) CloseHandle(dx.retrace);
  dx.retrace = nullptr;
  ws.blitter = nullptr;
  dx.presenter.reset();
}

bool primaryLost() {
  if (lossesToFake > 0) {
    --lossesToFake;
    return true;
  }
  return dx.primary && dx.primary->IsLost() == DDERR_SURFACELOST;
}

// The windowed work surface can be lost on its own, with the primary intact.
bool workLost() {
  if (!dx.work || dx.work == dx.primary) return false;
  return workLossToFake || dx.work->IsLost() == DDERR_SURFACELOST;
}

// The display mode changed behind the back end's back: everything is built
// again. Between tries the lock is let go, so the program's thread is not
// held up; after the last one the program is told as if the window had
// been closed, and nothing is shown any more.
// A program that closes the screen meanwhile ends the rebuild at once.
void rebuild() {
  ++rebuilds;
  exitWindow();
  for (int attempt = 0; attempt < rebuildTries && ws.initialised; ++attempt) {
    if (initWindow() == 0) {
      if (ws.user32.FlashWindowEx) {
        FLASHWINFO flash{sizeof flash, ws.window, FLASHW_STOP, 0, 0};
        ws.user32.FlashWindowEx(&flash);
      }
      markAllRows();
      return;
    }
    exitWindow();
    unlock();
    for (DWORD waited = 0; waited < rebuildPause && ws.initialised; waited += 10) Sleep(10);
    lock();
  }
  dx.broken = true;
  if (ws.initialised) closeRequest(ws.rules);
}

// Restores lost surfaces; false when they are still lost after a few tries
// (another program holds the display) or the rebuild gave up.
bool restoreLostSurfaces() {
  for (int tries = 0; tries < restoreTries && !dx.broken; ++tries) {
    const bool primary = primaryLost(), work = workLost();
    if (!primary && !work) return true;
    // A restored surface's contents are gone: the whole page goes again.
    markAllRows();
    if (work) {
      workLossToFake = false;
      dx.work->Restore();
    }
    if (!primary) continue;
    HRESULT result = dx.primary->Restore();
    if (wrongModeToFake.exchange(false)) result = DDERR_WRONGMODE;
    // Only the window thread may rebuild: the window belongs to it.
    if (result == DDERR_WRONGMODE) {
      if (GetCurrentThreadId() != windowThreadId()) return false;
      rebuild();
    }
  }
  return !dx.broken && !primaryLost() && !workLost();
}

HRESULT lockWork(DDSURFACEDESC& desc) {
  return workLossToFake && dx.work != dx.primary ? DDERR_SURFACELOST : dx.work->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr);
}

void addUnshown(int32_t first, int32_t end) { dx.unshown = joined(dx.unshown, {first, end}); }

// The work surface's new rows onto the window's client area; all of them
// when the window must be painted whole.
void presentStep(bool whole) {
  HWND window = ws.window;
  if (!window || !dx.primary || !dx.work || dx.work == dx.primary) return;
  whole = whole || dx.clearBars;
  const RowSpan rows = whole ? RowSpan{0, dx.workH}
                             : RowSpan{std::max(dx.unshown.first, 0), std::min(dx.unshown.end, dx.workH)};
  if (rows.first >= rows.end) return;
  POINT origin{0, 0};
  ClientToScreen(window, &origin);
  RECT destination{origin.x + ws.picture.x, origin.y + ws.picture.y + rows.first, origin.x + ws.picture.x + dx.workW,
                   origin.y + ws.picture.y + rows.end};
  RECT source{0, rows.first, dx.workW, rows.end};
  if (dx.clearBars) {
    // The bars: what the window showed before it was resized stays there
    // otherwise, since only the picture is blitted.
    RECT client{};
    GetClientRect(window, &client);
    OffsetRect(&client, origin.x, origin.y);
    DDBLTFX fill{};
    fill.dwSize = sizeof fill;
    fill.dwFillColor = 0;
    if (SUCCEEDED(dx.primary->Blt(&client, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fill))) dx.clearBars = false;
  }
  HRESULT result = dx.primary->Blt(&destination, dx.work, &source, DDBLT_WAIT, nullptr);
  for (int tries = 0; result == DDERR_SURFACELOST && tries < restoreTries; ++tries) {
    if (!restoreLostSurfaces()) return;
    result = dx.primary->Blt(&destination, dx.work, &source, DDBLT_WAIT, nullptr);
  }
  if (FAILED(result)) return;
  dx.unshown = {};
  lastBand.set(rows.first, rows.end - rows.first);
}

void convert() {
  ScreenMode* m = currentMode();
  if (!m || !dx.work || !restoreLostSurfaces()) return;
  if (!followWindowSize()) return;
  DDSURFACEDESC desc{};
  desc.dwSize = sizeof desc;
  HRESULT result = lockWork(desc);
  for (int tries = 0; result == DDERR_SURFACELOST && tries < restoreTries; ++tries) {
    if (!restoreLostSurfaces()) return;
    result = lockWork(desc);
  }
  if (FAILED(result)) return;
  // The dirty rows converted into the work surface below the vertical offset.
  auto* surface = static_cast<uint8_t*>(desc.lpSurface) + static_cast<std::ptrdiff_t>(desc.lPitch) * dx.verticalOffset;
  const bool scaled = !exclusive() && shownScaled();
  const PresentedRows band = dx.presenter.take(m, scaled ? dx.workW : ws.width, scaled ? dx.workH : ws.height, surface,
                                               static_cast<std::size_t>(desc.lPitch));
  addUnshown(band.rows.first, band.rows.end);
  dx.work->Unlock(nullptr);
  finishPresent(m, true);
}

void readKeyboard() {
  ScreenMode* m = currentMode();
  if (!m || !dx.keyboard) return;
  uint8_t state[256];
  const HRESULT result = dx.keyboard->GetDeviceState(sizeof state, state);
  if (result == DIERR_INPUTLOST || result == DIERR_NOTACQUIRED) {
    dx.keyboard->Acquire();
    return;
  }
  if (FAILED(result)) return;
  for (int i = 0; i < 128; ++i) m->keyState[i] = ((state[i] | state[i + 128]) & 0x80) ? 1 : 0;
}

// One pass of the update loop, under the lock.
void pass() {
  if (retraceWaiting) {
    if (WaitForSingleObject(dx.retrace, 20) == WAIT_TIMEOUT) ++retraceTimeouts;
    retraceWaiting = false;
  }
  if (dx.broken || (!ws.rules.active && exclusive())) return;
  if (dx.palette && ws.paletteChanged.exchange(false)) dx.palette->SetEntries(0, 0, 256, ws.palette);
  convert();
  if (!exclusive()) presentStep(false);
  if (ws.rules.active) readKeyboard();
}

void paint() {
  dx.clearBars = scaling();
  if (!exclusive() && !dx.broken) presentStep(true);
}

unsigned __stdcall threadMain(void* started) {
  if (initWindow() == 0) {
    SetEvent(static_cast<HANDLE>(started));
    ws.rules.active = true;
    while (ws.initialised) {
      Sleep(10);
      lock();
      pass();
      drainMessages();
      unlock();
      ++passes;
    }
  }
  // A window can be destroyed only by the thread that made it.
  exitWindow();
  return 1;
}

int32_t ddrawInit(const char* title, int32_t width, int32_t height, int32_t depth, int32_t refreshRate,
                  int32_t flags) {
  clearWindowState();
  if (flags & (modeflag::openGl | modeflag::shaped)) {
    refuseBecause("no OpenGL or shaped modes");
    return -1;
  }
  ws.hooks = {initWindow, exitWindow, paint, threadMain, nullptr};
  windowPosition = {(GetSystemMetrics(SM_CXSCREEN) - width) / 2, (GetSystemMetrics(SM_CYSCREEN) - height) / 2};
  return windowInit(title, width, height, depth < 8 ? 8 : depth, refreshRate, flags);
}

// The retrace, waited for outside the lock; the window thread presents
// right after it. The object and the event are kept alive across the wait,
// since the window thread may rebuild meanwhile, and the event is set
// outside the lock: the window thread holds the lock while it waits for it.
void ddrawWaitVsync() {
  lock();
  IDirectDraw2* dd = dx.dd;
  if (dd) dd->AddRef();
  HANDLE retrace = nullptr;
  if (dx.retrace &&
      !DuplicateHandle(GetCurrentProcess(), dx.retrace, GetCurrentProcess(), &retrace, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    retrace = nullptr;
  }
  if (retrace) ResetEvent(retrace);
  retraceWaiting = retrace != nullptr;
  const int32_t rate = publishedRefreshRate();
  unlock();
  if (dd) {
    if (retraceWaiter) {
      retraceWaiter();
    } else {
      dd->WaitForVerticalBlank(DDWAITVB_BLOCKBEGIN, nullptr);
    }
    dd->Release();
  }
  retracePacer.pace(rate);  // where WaitForVerticalBlank returns at once
  if (retrace) {
    SetEvent(retrace);
    CloseHandle(retrace);
  }
}

struct ModeList {
  int32_t depth;
  int32_t* modes;
  int32_t count;
  bool failed;
};

HRESULT WINAPI addMode(LPDDSURFACEDESC desc, LPVOID context) {
  auto* list = static_cast<ModeList*>(context);
  const DDPIXELFORMAT& f = desc->ddpfPixelFormat;
  if (ddraw::modeDepth(f.dwRGBBitCount, f.dwGBitMask) != list->depth) return DDENUMRET_OK;
  auto* grown =
      static_cast<int32_t*>(std::realloc(list->modes, (static_cast<std::size_t>(list->count) + 1) * sizeof(int32_t)));
  if (!grown) {
    list->failed = true;
    return DDENUMRET_CANCEL;
  }
  list->modes = grown;
  list->modes[list->count++] = static_cast<int32_t>(desc->dwWidth << 16 | (desc->dwHeight & 0xFFFF));
  return DDENUMRET_OK;
}

int32_t* ddrawFetchModes(int32_t depth, int32_t* count) {
  if (count) *count = 0;
  // The open mode's object, or one made for the question.
  const bool open = ws.initialised && dx.dd;
  if (open) lock();
  IDirectDraw2* dd = open ? dx.dd : nullptr;
  HMODULE library = nullptr;
  if (!dd) {
    library = LoadLibraryA("ddraw.dll");
    dd = library ? createDirectDraw(entryPoint<DirectDrawCreateFn>(library, "DirectDrawCreate"), nullptr) : nullptr;
  }
  ModeList list{depth, nullptr, 0, false};
  const bool listed = dd && SUCCEEDED(dd->EnumDisplayModes(DDEDM_STANDARDVGAMODES, nullptr, &list, addMode));
  if (!open && dd) dd->Release();
  if (library) FreeLibrary(library);
  if (open) unlock();
  if (!listed || list.failed) {
    std::free(list.modes);
    return nullptr;
  }
  if (count) *count = list.count;
  return list.modes;
}

}  // namespace

int64_t ddrawPasses() { return passes; }
int64_t ddrawRetraceTimeouts() { return retraceTimeouts; }

std::vector<int32_t> ddrawModesOf(int32_t depth, const DDSURFACEDESC* modes, int32_t count) {
  ModeList list{depth, nullptr, 0, false};
  for (int32_t i = 0; i < count; ++i) {
    DDSURFACEDESC copy = modes[i];
    if (addMode(&copy, &list) != DDENUMRET_OK) break;
  }
  std::vector<int32_t> out(list.modes, list.modes + list.count);
  std::free(list.modes);
  return out;
}
int32_t ddrawVerticalOffset() { return dx.verticalOffset; }
IDirectDrawSurface* ddrawPrimarySurface() { return dx.primary; }
IDirectDrawSurface* ddrawWorkSurface() { return dx.work; }
int64_t ddrawRebuilds() { return rebuilds; }
void ddrawLastBand(int32_t& first, int32_t& lines) { lastBand.get(first, lines); }
void setDisplayModeSetter(DisplayModeSetter setter) { modeSetter = setter; }
void setRetraceWaiter(RetraceWaiter waiter) { retraceWaiter = waiter; }
void simulateLostWorkSurface() { workLossToFake = true; }
void simulateLostSurfaces(int32_t count, bool wrongMode) {
  lossesToFake = count;
  wrongModeToFake = wrongMode;
}

void ddrawPresentNow(int32_t first, int32_t last) {
  ScreenMode* m = modeToPresent(ddrawDriver, first, last);
  if (!m) return;
  lock();
  markRows(m, first, last);
  convert();
  if (!exclusive()) presentStep(false);
  unlock();
}

namespace {
constexpr DisplayDriver withOwnVsync(DisplayDriver d) {
  d.waitVsync = ddrawWaitVsync;
  return d;
}
}  // namespace

const DisplayDriver ddrawDriver = withOwnVsync(windowLayerDriver("DirectX", ddrawInit, ddrawFetchModes));

}  // namespace pel
