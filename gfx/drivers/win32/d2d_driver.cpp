#include "d2d_driver.h"
#include "d2d_testing.h"

#include <d2d1.h>
#include <d3d10_1.h>
#include <dxgi.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "gfx/drivers/present.h"
#include "gfx/drivers/win32/win32_window.h"
#include "gfx/input.h"
#include "gfx/mode.h"
#include "gfx/pages.h"

namespace pel {
namespace {

using namespace win32;
WindowState& ws = windowState;

constexpr GUID iidD2D1Factory = {0x06152247, 0x6F50, 0x465A, {0x92, 0x45, 0x11, 0x8B, 0xFD, 0x3B, 0x60, 0x07}};
constexpr GUID iidD2D1RenderTarget = {0x2CD90694, 0x12E2, 0x11DC, {0x9F, 0xED, 0x00, 0x11, 0x43, 0xA0, 0x55, 0xF9}};
constexpr GUID iidDxgiSurface = {0xCAFCB56C, 0x6AC3, 0x4889, {0xBF, 0x47, 0x9E, 0x23, 0xBB, 0xD2, 0x60, 0xEC}};
constexpr GUID iidGdiInterop = {0xE0DB51C3, 0x6F77, 0x4BAE, {0xB3, 0xD5, 0xE4, 0x75, 0x09, 0xB3, 0x58, 0x38}};
constexpr GUID iidDxgiFactory = {0x7B7166EC, 0x21C7, 0x44AE, {0xB2, 0x1A, 0xC9, 0xAE, 0x32, 0x1A, 0xE3, 0x69}};
constexpr ATOM stateProperty = 0x56A2;
constexpr HRESULT recreateTarget = static_cast<HRESULT>(0x8899000C);  // D2DERR_RECREATE_TARGET
constexpr DXGI_FORMAT bitmapFormats[] = {DXGI_FORMAT_B8G8R8A8_UNORM, DXGI_FORMAT_R8G8B8A8_UNORM};
constexpr COLORREF colourKey = 0xFF00FF;
constexpr UINT updateNow = WM_APP + 0x2D;  // one update step on the window thread (benchmarks)
constexpr UINT bareNow = WM_APP + 0x2E;    // the bare calls of a whole frame, likewise
// Only the band is drawn each pass, so the target must keep what lies
// outside it after a present.
constexpr auto presentOptions =
    static_cast<D2D1_PRESENT_OPTIONS>(D2D1_PRESENT_OPTIONS_IMMEDIATELY | D2D1_PRESENT_OPTIONS_RETAIN_CONTENTS);
// A render path that cannot be built again after D2DERR_RECREATE_TARGET is
// tried this often, this far apart, before the program is told.
constexpr int pathRetries = 10;
constexpr DWORD pathRetryPause = 300;

using CreateFactoryFn = HRESULT(WINAPI*)(D2D1_FACTORY_TYPE, REFIID, const D2D1_FACTORY_OPTIONS*, void**);
using CreateDevice1Fn = HRESULT(WINAPI*)(IDXGIAdapter*, D3D10_DRIVER_TYPE, HMODULE, UINT, D3D10_FEATURE_LEVEL1, UINT,
                                         ID3D10Device1**);
using UpdateLayeredWindowFn = BOOL(WINAPI*)(HWND, HDC, POINT*, SIZE*, HDC, POINT*, COLORREF, BLENDFUNCTION*, DWORD);
using CreateDxgiFactoryFn = HRESULT(WINAPI*)(REFIID, void**);

// The back end's record, attached to the window.
struct State {
  WNDPROC previous;
  HMODULE d2d1;
  ID2D1Factory* factory;
  ID2D1RenderTarget* target;
  ID2D1Bitmap* bitmap;
  void (*releasePath)(State&);
  int32_t (*createPath)(State&);
  bool (*present)(State&);
  Presenter presenter;  // the page's band in the bitmap's format and size
  uint8_t keyRow[256];  // row of ScanCodeTable + 1 for each virtual key; 0 for none
  // The HWND path.
  ID2D1HwndRenderTarget* hwndTarget;
  // The layered path.
  HMODULE d3d10;
  ID3D10Device1* device;
  ID3D10Texture2D* texture;
  IDXGISurface* surface;
  ID2D1GdiInteropRenderTarget* interop;
  UpdateLayeredWindowFn updateLayeredWindow;
  bool displayChanged;
  // The path is lost and not yet built again: tries so far, and when the
  // last one was made.
  // Scaled windows: the bitmap of the picture's shown size, and the target's
  // size (the client area's).
  UINT32 bitmapW, bitmapH, targetW, targetH;
  bool clearBars;
  int32_t pathTries;
  DWORD lastPathTry;
  bool broken;  // the program has been told; nothing is drawn any more
};

std::atomic<int64_t> passes{0}, pathRebuilds{0};
LastBand lastBand;
DWORD reportedVersion = 0;
std::atomic<HRESULT> fakeEndDraw{S_OK};
std::atomic<int32_t> fakeEndDrawCount{0};
bool failFirstFormat = false;
bool pretendSecondFormat = false;
std::atomic<int32_t> pathBuildsToFail{0};
D2D1_PRESENT_OPTIONS lastPresentOptions = D2D1_PRESENT_OPTIONS_NONE;
int32_t formatsTried[2] = {};
int32_t formatsTriedCount = 0;

State* stateOf(HWND window) {
  return window ? static_cast<State*>(GetPropA(window, MAKEINTATOM(stateProperty))) : nullptr;
}

D2D1_PIXEL_FORMAT pixelFormat(DXGI_FORMAT format) { return {format, D2D1_ALPHA_MODE_IGNORE}; }

// 96 dots an inch, so one Direct2D unit is one pixel whatever the desktop's scaling.
D2D1_RENDER_TARGET_PROPERTIES targetProperties(DXGI_FORMAT format, D2D1_RENDER_TARGET_USAGE usage) {
  return {D2D1_RENDER_TARGET_TYPE_DEFAULT, pixelFormat(format), 96.0f, 96.0f, usage, D2D1_FEATURE_LEVEL_DEFAULT};
}

// The bitmap is the picture's size as shown.
bool createBitmap(State& s, DXGI_FORMAT format) {
  const D2D1_BITMAP_PROPERTIES properties{pixelFormat(format), 96.0f, 96.0f};
  s.bitmapW = static_cast<UINT32>(ws.picture.width);
  s.bitmapH = static_cast<UINT32>(ws.picture.height);
  s.clearBars = true;
  return SUCCEEDED(s.target->CreateBitmap({s.bitmapW, s.bitmapH}, nullptr, s.bitmapW * 4, &properties, &s.bitmap));
}

bool shownScaled() { return ws.picture.width != ws.width || ws.picture.height != ws.height; }

// The client area's size, the page's when it cannot be told.
D2D1_SIZE_U clientSize() {
  RECT r{};
  if (!scaling() || !ws.window || !GetClientRect(ws.window, &r) || r.right <= 0 || r.bottom <= 0)
    return {static_cast<UINT32>(ws.width), static_cast<UINT32>(ws.height)};
  return {static_cast<UINT32>(r.right), static_cast<UINT32>(r.bottom)};
}

// After a resize: the target follows the client area and the bitmap the
// picture's size. False when the bitmap could not be made again.
bool followWindowSize(State& s) {
  if (!s.hwndTarget) return true;
  const D2D1_SIZE_U size = clientSize();
  if (size.width != s.targetW || size.height != s.targetH) {
    if (SUCCEEDED(s.hwndTarget->Resize(&size))) {
      s.targetW = size.width;
      s.targetH = size.height;
      s.clearBars = true;
    }
  }
  if (s.bitmapW == static_cast<UINT32>(ws.picture.width) && s.bitmapH == static_cast<UINT32>(ws.picture.height))
    return true;
  const D2D1_PIXEL_FORMAT format = s.bitmap->GetPixelFormat();
  release(s.bitmap);
  markAllRows();
  return createBitmap(s, format.format);
}

// The conversion when the page's rows cannot be copied as they are: other
// depths, the other channel order, or repeated lines (the bitmap holds every
// display line, the page only its own rows).
bool chooseConversion(State& s, bool reversedChannels) {
  const ScreenMode* m = currentMode();
  if (!m) return false;
  if (!reversedChannels && ws.depth > 23 && m->scanlineRepeat == 1) {
    s.presenter.setFormat(nullptr, 4);
    return true;
  }
  const Blitter blitter = selectBlitter(32, reversedChannels ? 1 : 0);
  s.presenter.setFormat(blitter, 4);
  return blitter != nullptr;
}

void releaseHwndPath(State& s) {
  release(s.bitmap);
  release(s.target);
  release(s.hwndTarget);
}

// Every path chooses its conversion afresh: one built again may land on the
// other format. False when a test makes the path fail.
bool startPath(State& s) {
  s.presenter.reset();
  if (pathBuildsToFail > 0) {
    --pathBuildsToFail;
    return false;
  }
  return true;
}

int32_t createHwndPath(State& s) {
  if (!startPath(s)) return -1;
  formatsTriedCount = 0;
  DXGI_FORMAT chosen = DXGI_FORMAT_UNKNOWN;
  for (DXGI_FORMAT format : bitmapFormats) {
    formatsTried[formatsTriedCount++] = static_cast<int32_t>(format);
    if (failFirstFormat && format == bitmapFormats[0]) continue;
    const D2D1_RENDER_TARGET_PROPERTIES target = targetProperties(format, D2D1_RENDER_TARGET_USAGE_NONE);
    const D2D1_HWND_RENDER_TARGET_PROPERTIES hwnd{ws.window, clientSize(), presentOptions};
    if (SUCCEEDED(s.factory->CreateHwndRenderTarget(&target, &hwnd, &s.hwndTarget))) {
      s.targetW = hwnd.pixelSize.width;
      s.targetH = hwnd.pixelSize.height;
      lastPresentOptions = hwnd.presentOptions;
      chosen = format;
      break;
    }
  }
  if (chosen == DXGI_FORMAT_UNKNOWN) return -1;
  if (FAILED(s.hwndTarget->QueryInterface(iidD2D1RenderTarget, reinterpret_cast<void**>(&s.target)))) return -1;
  if (!createBitmap(s, chosen)) return -1;
  return chooseConversion(s, chosen == DXGI_FORMAT_R8G8B8A8_UNORM || pretendSecondFormat) ? 0 : -1;
}

void releaseLayeredPath(State& s) {
  release(s.bitmap);
  release(s.interop);
  release(s.target);
  release(s.surface);
  release(s.texture);
  release(s.device);
  if (s.d3d10) FreeLibrary(s.d3d10);
  s.d3d10 = nullptr;
}

// The frame through the interop target's device context onto the layered
// window, magenta cut out; false when it did not reach the window.
bool presentLayered(State& s) {
  HDC dc = nullptr;
  if (!s.interop || FAILED(s.interop->GetDC(D2D1_DC_INITIALIZE_MODE_COPY, &dc))) return false;
  SIZE size{ws.width, ws.height};
  POINT source{0, 0};
  const bool shown =
      s.updateLayeredWindow(ws.window, nullptr, nullptr, &size, dc, &source, colourKey, nullptr, ULW_COLORKEY);
  s.interop->ReleaseDC(nullptr);
  return shown;
}

int32_t createLayeredPath(State& s) {
  if (!startPath(s)) return -1;
  s.updateLayeredWindow = entryPoint<UpdateLayeredWindowFn>(GetModuleHandleA("user32.dll"), "UpdateLayeredWindow");
  s.d3d10 = LoadLibraryA("d3d10_1.dll");
  auto createDevice = s.d3d10 ? entryPoint<CreateDevice1Fn>(s.d3d10, "D3D10CreateDevice1") : nullptr;
  if (!createDevice || !s.updateLayeredWindow ||
      FAILED(createDevice(nullptr, D3D10_DRIVER_TYPE_HARDWARE, nullptr,
                          D3D10_CREATE_DEVICE_SINGLETHREADED | D3D10_CREATE_DEVICE_BGRA_SUPPORT, D3D10_FEATURE_LEVEL_10_0,
                          D3D10_1_SDK_VERSION, &s.device))) {
    releaseLayeredPath(s);
    return -1;
  }
  D3D10_TEXTURE2D_DESC texture{};
  texture.Width = static_cast<UINT>(ws.width);
  texture.Height = static_cast<UINT>(ws.height);
  texture.MipLevels = 1;
  texture.ArraySize = 1;
  texture.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
  texture.SampleDesc.Count = 1;
  texture.Usage = D3D10_USAGE_DEFAULT;
  texture.BindFlags = D3D10_BIND_RENDER_TARGET;
  texture.MiscFlags = D3D10_RESOURCE_MISC_GDI_COMPATIBLE;
  const D2D1_RENDER_TARGET_PROPERTIES target =
      targetProperties(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_RENDER_TARGET_USAGE_GDI_COMPATIBLE);
  const bool made =
      SUCCEEDED(s.device->CreateTexture2D(&texture, nullptr, &s.texture)) &&
      SUCCEEDED(s.texture->QueryInterface(iidDxgiSurface, reinterpret_cast<void**>(&s.surface))) &&
      SUCCEEDED(s.factory->CreateDxgiSurfaceRenderTarget(s.surface, &target, &s.target)) &&
      createBitmap(s, DXGI_FORMAT_B8G8R8A8_UNORM) &&
      SUCCEEDED(s.target->QueryInterface(iidGdiInterop, reinterpret_cast<void**>(&s.interop))) &&
      chooseConversion(s, false);
  if (!made) {
    releaseLayeredPath(s);
    return -1;
  }
  s.present = presentLayered;
  return 0;
}

void updateStep();

// The picture copied and drawn whole with nothing around it: the floor a
// benchmark compares the update step with (32-bit pages; a scaled window's
// floor copies the scaled picture it last drew, ready made; nothing before
// the first).
void bareFrame(State& s) {
  const ScreenMode* m = currentMode();
  const bool scaled = shownScaled();
  if (!m || !s.target || !s.bitmap) return;
  lock();
  const PresentedRows last = s.presenter.whole(m, static_cast<int32_t>(s.bitmapW), static_cast<int32_t>(s.bitmapH));
  if (scaled && last.empty()) {
    unlock();
    return;
  }
  const D2D1_RECT_U whole{0, 0, s.bitmapW, s.bitmapH};
  s.bitmap->CopyFromMemory(&whole, scaled ? last.pixels : m->visibleBuffer,
                           scaled ? static_cast<UINT32>(last.pitch) : s.bitmapW * 4);
  const D2D1_RECT_F from{0.0f, 0.0f, static_cast<float>(s.bitmapW), static_cast<float>(s.bitmapH)};
  const auto left = static_cast<float>(ws.picture.x), down = static_cast<float>(ws.picture.y);
  const D2D1_RECT_F area{left, down, left + from.right, down + from.bottom};
  s.target->BeginDraw();
  s.target->DrawBitmap(s.bitmap, &area, 1.0f, D2D1_BITMAP_INTERPOLATION_MODE_NEAREST_NEIGHBOR, &from);
  s.target->EndDraw(nullptr, nullptr);
  unlock();
}

// Messages of the window: keys keep the key state current, then everything
// goes on to the layer's window procedure.
LRESULT CALLBACK keyProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  State* s = stateOf(window);
  if (!s) return DefWindowProcW(window, message, wParam, lParam);
  if (message == updateNow) {
    updateStep();
    return 0;
  }
  if (message == bareNow) {
    bareFrame(*s);
    return 0;
  }
  if (message == WM_KEYDOWN || message == WM_KEYUP || message == WM_SYSKEYDOWN || message == WM_SYSKEYUP) {
    lock();
    if (ScreenMode* m = currentMode()) {
      const uint8_t down = message == WM_KEYDOWN || message == WM_SYSKEYDOWN;
      const auto key = static_cast<uint8_t>(wParam);
      if (key == VK_SHIFT) {
        m->keyState[0x2A] = m->keyState[0x36] = down;
      } else if (const uint8_t row = s->keyRow[key]) {
        const ScanCodeRow& r = ScanCodeTable[row - 1];
        if (r.alternative) {
          const uint8_t other = key == r.primary ? r.alternative : r.primary;
          m->keyState[r.scanCode] = static_cast<uint8_t>(down << 7 | ((GetKeyState(other) & 0x8000) ? 1 : 0));
        } else {
          m->keyState[r.scanCode] = down;
        }
      }
    }
    unlock();
  }
  return CallWindowProcW(s->previous, window, message, wParam, lParam);
}

// Releases what initWindow made; safe twice and on a half-built state.
void exitWindow() {
  HWND window = ws.window;
  State* s = stateOf(window);
  if (window) {
    RemovePropA(window, MAKEINTATOM(stateProperty));
    DestroyWindow(window);
    ws.window = nullptr;
  }
  if (!s) return;
  if (s->releasePath) s->releasePath(*s);
  release(s->bitmap);
  release(s->target);
  if (s->displayChanged && ws.user32.ChangeDisplaySettingsExA) {
    const MonitorInfo monitor = monitorInfo();
    ws.user32.ChangeDisplaySettingsExA(monitor.known ? monitor.device : nullptr, nullptr, nullptr, 0, nullptr);
  } else if (s->displayChanged) {
    ChangeDisplaySettingsA(nullptr, 0);
  }
  release(s->factory);
  if (s->d2d1) FreeLibrary(s->d2d1);
  delete s;
}

int32_t initWindow() {
  auto* s = new (std::nothrow) State{};
  if (!s) return -1;
  // Until the record is attached, failures tidy up here.
  auto fail = [&] {
    if (s->releasePath) s->releasePath(*s);
    release(s->factory);
    if (s->d2d1) FreeLibrary(s->d2d1);
    if (s->displayChanged) ChangeDisplaySettingsA(nullptr, 0);
    delete s;
    if (HWND window = ws.window) {
      DestroyWindow(window);
      ws.window = nullptr;
    }
    return -1;
  };
  s->d2d1 = LoadLibraryA("d2d1.dll");
  auto createFactory = s->d2d1 ? entryPoint<CreateFactoryFn>(s->d2d1, "D2D1CreateFactory") : nullptr;
  if (!createFactory ||
      FAILED(createFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, iidD2D1Factory, nullptr,
                           reinterpret_cast<void**>(&s->factory))))
    return fail();

  const MonitorInfo monitor = monitorInfo();
  const int32_t flags = modeFlags();
  const bool full = flags & modeflag::fullScreen;
  DWORD style = windowedStyle(flags);
  if (full) style = WS_POPUP;
  DWORD extendedStyle = 0;
  Placement place{0, 0, ws.width, ws.height};
  ws.scaledFullScreen = false;
  if (full) {
    if (!fullScreenPlacement(monitor, place, s->displayChanged, true)) return fail();
  } else {
    place = centredWindow(monitor, style);
    if (flags & modeflag::shaped) extendedStyle = WS_EX_LAYERED;  // full screen is never layered
  }
  if (openWindow(style, extendedStyle, place.x, place.y, place.outerWidth, place.outerHeight) != 0) return fail();
  {
    DEVMODEA current{};
    current.dmSize = sizeof current;
    if (EnumDisplaySettingsA(monitor.known ? monitor.device : nullptr, ENUM_CURRENT_SETTINGS, &current)) {
      publishRefreshRate(static_cast<int32_t>(current.dmDisplayFrequency));
    }
  }

  for (int row = 0; ScanCodeTable[row].scanCode; ++row) {
    s->keyRow[ScanCodeTable[row].primary] = static_cast<uint8_t>(row + 1);
    if (ScanCodeTable[row].alternative) s->keyRow[ScanCodeTable[row].alternative] = static_cast<uint8_t>(row + 1);
  }
  // The wide call: the narrow one would make the window an ANSI one, and
  // WM_CHAR would come through the code page.
  s->previous = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(ws.window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(keyProcedure)));
  if (!s->previous || !SetPropA(ws.window, MAKEINTATOM(stateProperty), s)) return fail();

  // A full-screen window covers the monitor: nothing behind it to show
  // through, and it is no layered window, so it takes the plain path.
  const bool shaped = (flags & modeflag::shaped) && !full;
  s->releasePath = shaped ? releaseLayeredPath : releaseHwndPath;
  s->createPath = shaped ? createLayeredPath : createHwndPath;
  if (s->createPath(*s) != 0) {
    RemovePropA(ws.window, MAKEINTATOM(stateProperty));
    return fail();
  }
  ShowWindow(ws.window, SW_SHOWNORMAL);
  return 0;
}

// One update step: the band of marked page rows, in display lines, copied
// into the bitmap and drawn.
// After D2DERR_RECREATE_TARGET a path that could not be built again is
// tried on later passes; after the last try the program is told, as when
// the window is closed. True while there is a path to draw with.
bool pathReady(State& s) {
  if (s.target && s.bitmap) return true;
  if (s.broken || s.pathTries == 0 || GetTickCount() - s.lastPathTry < pathRetryPause) return false;
  lock();
  s.releasePath(s);
  const bool rebuilt = s.createPath(s) == 0;
  if (rebuilt) {
    s.pathTries = 0;
    markAllRows();
  } else if (++s.pathTries > pathRetries) {
    s.releasePath(s);
    s.broken = true;
    closeRequest(ws.rules);
  }
  s.lastPathTry = GetTickCount();
  unlock();
  if (rebuilt) ++pathRebuilds;
  return rebuilt;
}

void updateStep() {
  State* s = stateOf(ws.window);
  ScreenMode* m = currentMode();
  if (!s || !m || !pathReady(*s)) return;
  lock();
  if (!followWindowSize(*s)) {
    unlock();
    return;
  }
  // Scaled windows get the band scaled by the runtime's own rule and drawn
  // one to one at the picture's place: every back end shows the same pixels.
  const PresentedRows band = s->presenter.take(m, static_cast<int32_t>(s->bitmapW), static_cast<int32_t>(s->bitmapH));
  if (band.empty()) {
    unlock();
    return;
  }
  const auto top = static_cast<UINT32>(band.rows.first), bottom = static_cast<UINT32>(band.rows.end);
  const D2D1_RECT_U rect{0, top, s->bitmapW, bottom};
  s->bitmap->CopyFromMemory(&rect, band.pixels + band.pitch * top, static_cast<UINT32>(band.pitch));
  const auto left = static_cast<float>(ws.picture.x), down = static_cast<float>(ws.picture.y);
  const D2D1_RECT_F from{0.0f, static_cast<float>(top), static_cast<float>(s->bitmapW), static_cast<float>(bottom)};
  const D2D1_RECT_F area{left, down + from.top, left + from.right, down + from.bottom};
  s->target->BeginDraw();
  if (s->clearBars && scaling()) {
    const D2D1_COLOR_F black{0.0f, 0.0f, 0.0f, 1.0f};
    s->target->Clear(&black);
  }
  s->clearBars = false;
  s->target->DrawBitmap(s->bitmap, &area, 1.0f, D2D1_BITMAP_INTERPOLATION_MODE_NEAREST_NEIGHBOR, &from);
  const bool presented = !s->present || s->present(*s);
  HRESULT result = s->target->EndDraw(nullptr, nullptr);
  if (SUCCEEDED(result) && !presented) result = E_FAIL;
  if (fakeEndDrawCount > 0) {
    --fakeEndDrawCount;
    result = fakeEndDraw;
  }
  // A failed frame is drawn again whole.
  finishPresent(m, SUCCEEDED(result));
  lastBand.set(band.rows.first, band.rows.end - band.rows.first);
  unlock();
  if (result == recreateTarget) {
    lock();
    s->releasePath(*s);
    const bool rebuilt = s->createPath(*s) == 0;
    if (!rebuilt) {
      s->releasePath(*s);  // nothing half-built is drawn with
      s->pathTries = 1;
      s->lastPathTry = GetTickCount();
    }
    unlock();
    if (rebuilt) ++pathRebuilds;
  }
}

// A paint means the window lost what it showed (it was covered, or it has
// just appeared, when Wine drops what was drawn before): all of it again.
void paint() {
  markAllRows();
  updateStep();
}

unsigned __stdcall threadMain(void* started) {
  if (initWindow() == 0) {
    ws.rules.active = true;
    SetEvent(static_cast<HANDLE>(started));
    while (ws.initialised) {
      if (MsgWaitForMultipleObjects(0, nullptr, TRUE, 10, QS_ALLINPUT) == WAIT_OBJECT_0) {
        // The layer's rules post keys and events under the lock, as with
        // the other back ends.
        lock();
        drainMessages();
        unlock();
      }
      updateStep();
      ++passes;
    }
  }
  exitWindow();
  return 1;
}

int32_t d2dInit(const char* title, int32_t width, int32_t height, int32_t depth, int32_t refreshRate, int32_t flags) {
  const DWORD version = reportedVersion ? reportedVersion : GetVersion();
  if (refusesOpenGlMode(flags)) return -1;
  if ((version & 0xFF) <= 5) {
    refuseBecause("needs Windows 6 or later");
    return -1;
  }
  clearWindowState();
  ws.hooks = {initWindow, exitWindow, paint, threadMain, nullptr};
  return windowInit(title, width, height, depth, refreshRate, flags);
}

// The modes of the first output with any, in the first bitmap format with
// any; the system's software adapter only when no other has modes.
int32_t* d2dFetchModes(int32_t, int32_t* count) {
  if (count) *count = 0;
  HMODULE library = LoadLibraryA("dxgi.dll");
  auto create = library ? entryPoint<CreateDxgiFactoryFn>(library, "CreateDXGIFactory") : nullptr;
  IDXGIFactory* factory = nullptr;
  if (!create || FAILED(create(iidDxgiFactory, reinterpret_cast<void**>(&factory)))) {
    if (library) FreeLibrary(library);
    return nullptr;
  }
  struct List {
    int32_t* modes = nullptr;
    int32_t count = 0, capacity = 0;
    bool add(int32_t mode) {
      if (count == capacity) {
        auto* grown = static_cast<int32_t*>(std::realloc(modes, (static_cast<std::size_t>(capacity) + 20) * sizeof(int32_t)));
        if (!grown) return false;
        modes = grown;
        capacity += 20;
      }
      modes[count++] = mode;
      return true;
    }
  } found, software;
  IDXGIAdapter* adapter = nullptr;
  for (UINT a = 0; found.count == 0 && SUCCEEDED(factory->EnumAdapters(a, &adapter)); ++a) {
    DXGI_ADAPTER_DESC description{};
    adapter->GetDesc(&description);
    List& list = description.VendorId == 0x1414 && description.DeviceId == 0x8C ? software : found;
    IDXGIOutput* output = nullptr;
    for (UINT o = 0; list.count == 0 && SUCCEEDED(adapter->EnumOutputs(o, &output)); ++o) {
      for (DXGI_FORMAT format : bitmapFormats) {
        UINT n = 0;
        if (FAILED(output->GetDisplayModeList(format, DXGI_ENUM_MODES_INTERLACED, &n, nullptr)) || n == 0) continue;
        auto* modes = static_cast<DXGI_MODE_DESC*>(std::calloc(n, sizeof(DXGI_MODE_DESC)));
        static_assert(sizeof(DXGI_MODE_DESC) == 28);
        if (modes && SUCCEEDED(output->GetDisplayModeList(format, DXGI_ENUM_MODES_INTERLACED, &n, modes))) {
          for (UINT i = 0; i < n; ++i) list.add(static_cast<int32_t>(modes[i].Width << 16 | (modes[i].Height & 0xFFFF)));
        }
        std::free(modes);
        if (list.count) break;
      }
      output->Release();
    }
    adapter->Release();
  }
  factory->Release();
  FreeLibrary(library);
  List& chosen = found.count ? found : software;
  std::free(found.count ? software.modes : found.modes);
  if (chosen.count == 0) {
    std::free(chosen.modes);
    return nullptr;
  }
  if (count) *count = chosen.count;
  return chosen.modes;
}

}  // namespace

int64_t d2dPasses() { return passes; }
int64_t d2dPathRebuilds() { return pathRebuilds; }
void d2dLastBand(int32_t& first, int32_t& lines) { lastBand.get(first, lines); }
void setReportedVersion(DWORD version) { reportedVersion = version; }
void injectEndDrawResult(HRESULT result, int32_t count) {
  fakeEndDraw = result;
  fakeEndDrawCount = count;
}
void failFirstBitmapFormat(bool fail) { failFirstFormat = fail; }
void pretendSecondBitmapFormat(bool pretend) { pretendSecondFormat = pretend; }
void failPathBuilds(int32_t count) { pathBuildsToFail = count; }
D2D1_PRESENT_OPTIONS d2dPresentOptions() { return lastPresentOptions; }
int32_t d2dFormatsTried(int32_t* formats, int32_t capacity) {
  for (int32_t i = 0; i < formatsTriedCount && i < capacity; ++i) formats[i] = formatsTried[i];
  return formatsTriedCount;
}

void d2dPresentNow(int32_t first, int32_t last) {
  ScreenMode* m = modeToPresent(d2dDriver, first, last);
  if (!m) return;
  lock();
  markRows(m, first, last);
  unlock();
  // Direct2D's factory is single-threaded: the step runs on the window thread.
  SendMessageA(ws.window, updateNow, 0, 0);
}

void d2dBareFrame() {
  if (const ScreenMode* m = currentMode(); m && m->driver == &d2dDriver) SendMessageA(ws.window, bareNow, 0, 0);
}

const DisplayDriver d2dDriver = windowLayerDriver("Direct2D", d2dInit, d2dFetchModes);

}  // namespace pel
