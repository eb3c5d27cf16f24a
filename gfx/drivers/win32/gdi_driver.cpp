#include "gdi_driver.h"
#include "gdi_testing.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "gfx/drivers/present.h"
#include "gfx/drivers/win32/win32_window.h"
#include "gfx/mode.h"
#include "gfx/pages.h"

namespace pel {
namespace {

using namespace win32;
WindowState& ws = windowState;

// A top-down bitmap header followed by its 256-entry colour table (and the
// one entry BITMAPINFO declares, unused).
constexpr std::size_t headerBytes = sizeof(BITMAPINFO) + 256 * sizeof(RGBQUAD);
static_assert(headerBytes == 1068);

BITMAPINFO* header = nullptr;
Presenter presenter;  // DIB rows, 32-bit aligned as DIB rows are
HPALETTE palette = nullptr;
bool displayChanged = false;  // a full-screen display mode is set and must be undone

std::atomic<int64_t> rowsPresented{0}, passes{0};
LastBand lastBand;

// Shaped windows at 32 bits: each dirty row, repeated as the screen asks,
// with the top byte cleared.
void shapedCopy(uint8_t* destination, int32_t pitch) {
  const ScreenMode* m = currentMode();
  const uint8_t* source = m->visibleBuffer;
  for (int32_t y = 0; y < m->height; ++y, source += m->pitch) {
    for (int32_t k = 0; k < m->scanlineRepeat; ++k, destination += pitch) {
      if (!m->dirty[y]) continue;
      const auto* from = reinterpret_cast<const uint32_t*>(source);
      auto* to = reinterpret_cast<uint32_t*>(destination);
      for (int32_t x = 0; x < m->width; ++x) to[x] = from[x] & 0x00FFFFFF;
    }
  }
}

// The Blitter for the page's format; false when a conversion is needed that
// none serves. Screens with repeated lines always convert, so the bitmap
// holds every display line.
bool chooseBlitter(const ScreenMode* m) {
  const bool direct = ws.width % 4 == 0 && m->scanlineRepeat == 1;
  const int32_t flags = modeFlags();
  if (ws.depth == 32 && (flags & modeflag::shaped)) {
    ws.blitter = shapedCopy;
  } else if (ws.depth == 16) {
    ws.blitter = selectBlitter(15, 0);  // a 16-bit BI_RGB bitmap is 5-5-5
  } else {
    ws.blitter = direct ? nullptr : selectBlitter(ws.depth, 0);
    if (direct) return true;
  }
  return ws.blitter != nullptr;
}

// Scaled windows: the picture scaled into a bitmap of its shown size, whose
// rows go to the picture's place.
BITMAPINFO* scaledHeader = nullptr;
LastBand lastScaledBand;

bool shownScaled() { return ws.picture.width != ws.width || ws.picture.height != ws.height; }

// The header of the scaled bitmap for the picture's size; false when it cannot be made.
bool prepareScaled() {
  if (!scaledHeader) scaledHeader = static_cast<BITMAPINFO*>(std::calloc(1, headerBytes));
  if (!scaledHeader) return false;
  std::memcpy(scaledHeader, header, headerBytes);
  scaledHeader->bmiHeader.biWidth = ws.picture.width;
  scaledHeader->bmiHeader.biHeight = -ws.picture.height;
  return true;
}

// Rows of the picture as shown on the window: at the picture's place when
// scaled, at the corner otherwise.
void put(HDC device, const PresentedRows& band) {
  const auto lines = static_cast<UINT>(band.rows.end - band.rows.first);
  if (!lines) return;
  const bool scaled = shownScaled();
  if (scaled && !prepareScaled()) return;
  const PictureRect at = scaled ? ws.picture : PictureRect{0, 0, ws.width, ws.height};
  SetDIBitsToDevice(device, at.x, at.y + band.rows.first, static_cast<DWORD>(at.width), lines, 0, 0, 0, lines,
                    band.pixels + band.pitch * static_cast<std::size_t>(band.rows.first),
                    scaled ? scaledHeader : header, DIB_RGB_COLORS);
  if (scaled) {
    lastScaledBand.set(band.rows.first, static_cast<int32_t>(lines));
  }
}

void releaseScaled() {
  std::free(scaledHeader);
  scaledHeader = nullptr;
}

int32_t initWindow() {
  header = nullptr;
  palette = nullptr;
  ScreenMode* m = currentMode();
  if (!m) return -1;
  const MonitorInfo monitor = monitorInfo();
  const int32_t flags = modeFlags();

  DWORD style = 0, extendedStyle = 0;
  int32_t x = 0, y = 0, outerWidth = ws.width, outerHeight = ws.height;
  if (flags & modeflag::fullScreen) {
    Placement cover{};
    if (!fullScreenPlacement(monitor, cover, displayChanged)) return -1;
    x = cover.x;
    y = cover.y;
    outerWidth = cover.outerWidth;
    outerHeight = cover.outerHeight;
    style = WS_POPUP | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
  } else {
    ws.scaledFullScreen = false;
    style = windowedStyle(flags);
    if (flags & modeflag::shaped) {
      if (ws.version <= 0x4FF) return -1;
      extendedStyle = WS_EX_LAYERED;
    }
    const Placement p = centredWindow(monitor, style);
    x = p.x;
    y = p.y;
    outerWidth = p.outerWidth;
    outerHeight = p.outerHeight;
    style |= WS_VISIBLE;
  }
  if (openWindow(style, extendedStyle, x, y, outerWidth, outerHeight) != 0) return -1;
  if (flags & modeflag::shaped) {
    if (!ws.user32.SetLayeredWindowAttributes) return -1;
    ws.user32.SetLayeredWindowAttributes(ws.window, ws.depth <= 8 ? 0 : RGB(0xFF, 0x00, 0xFF), 0, LWA_COLORKEY);
  }

  header = static_cast<BITMAPINFO*>(std::calloc(1, headerBytes));
  if (!header) return -1;
  BITMAPINFOHEADER& h = header->bmiHeader;
  h.biSize = sizeof h;
  h.biWidth = ws.width;
  h.biHeight = -ws.height;
  h.biPlanes = 1;
  h.biBitCount = static_cast<WORD>(ws.depth);
  h.biCompression = BI_RGB;
  h.biClrUsed = 256;

  if (!chooseBlitter(m)) return -1;
  presenter.setFormat(ws.blitter, ws.depth == 16 ? 2 : ws.depth == 24 ? 3 : m->bytesPerPixel);

  publishRefreshRate(windowRefreshRate(ws.window));
  struct {
    WORD version, entries;
    PALETTEENTRY colours[256];
  } logical{0x300, 256, {}};
  static_assert(sizeof logical == 1028 && offsetof(LOGPALETTE, palPalEntry) == 4);
  std::memcpy(logical.colours, ws.palette, sizeof logical.colours);
  palette = CreatePalette(reinterpret_cast<const LOGPALETTE*>(&logical));
  return 0;
}

void exitWindow() {
  releaseScaled();
  presenter.reset();
  std::free(header);
  header = nullptr;
  ws.blitter = nullptr;
  if (displayChanged) {
    ChangeDisplaySettingsA(nullptr, 0);
    displayChanged = false;
  }
  if (HWND window = ws.window) {
    DestroyWindow(window);
    ws.window = nullptr;
  }
  if (palette) {
    DeleteObject(palette);
    palette = nullptr;
  }
}

// The whole picture again, from what was last presented.
void paint() {
  const ScreenMode* m = currentMode();
  HWND window = ws.window;
  if (!m || !window || !header) return;
  const PresentedRows whole = presenter.whole(m, ws.picture.width, ws.picture.height);
  if (whole.empty()) {
    markAllRows();
    return;
  }
  HDC device = GetDC(window);
  if (palette) {
    SelectPalette(device, palette, FALSE);
    RealizePalette(device);
  }
  put(device, whole);
  if (!shownScaled()) InvalidateRect(window, nullptr, FALSE);
  ReleaseDC(window, device);
}

// One pass: the palette when it changed, then the band from the first to the
// last dirty page row, in display lines.
void present() {
  ScreenMode* m = currentMode();
  HWND window = ws.window;
  if (!m || !window || !header) return;
  HDC device = GetDC(window);
  if (ws.paletteChanged.exchange(false)) {
    for (int i = 0; i < 256; ++i) {
      const PALETTEENTRY& e = ws.palette[i];
      header->bmiColors[i] = {e.peBlue, e.peGreen, e.peRed, 0};
    }
    SetPaletteEntries(palette, 0, 256, ws.palette);
    SelectPalette(device, palette, FALSE);
    RealizePalette(device);
    // A true-colour desktop shows new colours only for pixels drawn again.
    if (ws.depth == 8) markAllRows();
  }
  const PresentedRows band = presenter.take(m, ws.picture.width, ws.picture.height);
  if (!band.empty()) {
    put(device, band);
    const int32_t top = band.lines.first, lines = band.lines.end - band.lines.first;
    if (ws.version <= 0x4FF) {
      const RECT changed{0, top, ws.width, top + lines};
      InvalidateRect(window, &changed, FALSE);
    }
    rowsPresented += lines;
    lastBand.set(top, lines);
  }
  ReleaseDC(window, device);
  finishPresent(m, true);
}

unsigned __stdcall threadMain(void* started) {
  if (initWindow() == 0) {
    SetEvent(static_cast<HANDLE>(started));
    ws.rules.active = true;
    while (ws.initialised) {
      lock();
      present();
      if (ws.rules.active) refreshKeyState();
      drainMessages();
      unlock();
      ++passes;
      Sleep(10);
    }
  }
  // A window can be destroyed only by the thread that made it.
  exitWindow();
  return 1;
}

int32_t gdiInit(const char* title, int32_t width, int32_t height, int32_t depth, int32_t refreshRate, int32_t flags) {
  clearWindowState();
  if (refusesOpenGlMode(flags)) return -1;
  ws.hooks = {initWindow, exitWindow, paint, threadMain, nullptr};
  return windowInit(title, width, height, depth < 8 ? 8 : depth, refreshRate, flags);
}

int32_t* gdiFetchModes(int32_t depth, int32_t* count) { return displayModes(depth, true, count); }

}  // namespace

int64_t gdiRowsPresented() { return rowsPresented; }
int64_t gdiPasses() { return passes; }
void gdiLastBand(int32_t& first, int32_t& lines) { lastBand.get(first, lines); }
void gdiLastScaledBand(int32_t& first, int32_t& lines) { lastScaledBand.get(first, lines); }

void gdiPresentNow(int32_t first, int32_t last) {
  ScreenMode* m = modeToPresent(gdiDriver, first, last);
  if (!m) return;
  lock();
  markRows(m, first, last);
  present();
  GdiFlush();
  unlock();
}

const DisplayDriver gdiDriver = windowLayerDriver("GDI", gdiInit, gdiFetchModes);

}  // namespace pel
