// The GDI back end's presentation against the bare platform call it rests
// on, the same for a 320 x 200 page at zoom 3 (the whole scaled frame against
// one bare StretchDIBits of the page, the put of a ready scaled picture beside
// it, and a one-row band against the whole scaled frame), and the demo's frame rate on
// GDI against the null back end, each measured in the same run (under Wine:
// scripts/wine-env). Prints the median of the repetitions and the speed ratio
// to each group's baseline, as the other benchmarks do.
// Usage: bench_gdi [repetitions]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "gfx/drivers/win32/gdi_testing.h"
#include "gfx/drivers/win32/win32_window.h"
#include "gfx/drivers/window_scale.h"
#include "gfx/mode.h"
#include "gfx/pages.h"
#include "runtime/clock.h"
#include "runtime/runtime.h"
#include "wine_timing.h"

using namespace pel;
using bench::report;
using bench::timePerCall;

namespace {

BITMAPINFO header32(int32_t width, int32_t height) {
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  return info;
}

// One bare SetDIBitsToDevice of page rows first..last, as the back end sends them.
void bareBand(HWND window, const ScreenMode* m, int32_t first, int32_t lines) {
  const BITMAPINFO info = header32(m->width, m->height);
  HDC device = GetDC(window);
  SetDIBitsToDevice(device, 0, first, static_cast<DWORD>(m->width), static_cast<DWORD>(lines), 0, 0, 0,
                    static_cast<UINT>(lines), m->visibleBuffer + static_cast<std::size_t>(m->pitch) * first, &info,
                    DIB_RGB_COLORS);
  GdiFlush();
  ReleaseDC(window, device);
}

// One bare SetDIBitsToDevice of a bitmap of the picture's size at its place:
// a scaled frame without the scaling.
void barePicture(HWND window, const std::vector<uint32_t>& picture) {
  const PictureRect& r = win32::windowState.picture;
  const BITMAPINFO info = header32(r.width, r.height);
  HDC device = GetDC(window);
  SetDIBitsToDevice(device, r.x, r.y, static_cast<DWORD>(r.width), static_cast<DWORD>(r.height), 0, 0, 0,
                    static_cast<UINT>(r.height), picture.data(), &info, DIB_RGB_COLORS);
  GdiFlush();
  ReleaseDC(window, device);
}

// GDI's own stretcher on the page: the bare scaled call (it samples pixel
// centres, so its pixels are not the runtime's).
void stretchedPage(HWND window, const ScreenMode* m) {
  const PictureRect& r = win32::windowState.picture;
  const BITMAPINFO info = header32(m->width, m->height);
  HDC device = GetDC(window);
  SetStretchBltMode(device, COLORONCOLOR);
  StretchDIBits(device, r.x, r.y, r.width, r.height, 0, 0, m->width, m->height, m->visibleBuffer, &info,
                DIB_RGB_COLORS, SRCCOPY);
  GdiFlush();
  ReleaseDC(window, device);
}

// A 320 x 200 page at zoom 3: the whole scaled frame against its floor, and
// a one-row band against the whole scaled frame.
bool zoomed(int repetitions) {
  if (!bench::openZoomed()) return false;
  ScreenMode* m = currentMode();
  HWND window = win32::windowHandle();
  const PictureRect r = win32::windowState.picture;
  std::vector<uint32_t> picture(static_cast<std::size_t>(r.width) * static_cast<std::size_t>(r.height), 0x336699);
  std::vector<double> floors, frames, stretched, bands;
  for (int i = 0; i < repetitions; ++i) {
    floors.push_back(timePerCall([&] { barePicture(window, picture); }, 1));
    frames.push_back(timePerCall([] { gdiPresentNow(0, 199); }, 1));
    stretched.push_back(timePerCall([&] { stretchedPage(window, m); }, 1));
    bands.push_back(timePerCall([] { gdiPresentNow(100, 100); }, 1));
  }
  // The floor is GDI's bare scaled call; the bare put of a picture scaled
  // beforehand is the cost of the put alone (under Wine a copy of as many
  // bytes as any scaler writes).
  const double floor = bench::median(stretched), frame = bench::median(frames);
  std::printf("zoom 3: picture %d x %d at (%d, %d)\n", r.width, r.height, r.x, r.y);
  report("zoom3/baseline (StretchDIBits of the page)", floor, floor);
  report("zoom3/back end", floor, frame);
  report("zoom3/SetDIBitsToDevice of a ready picture", floor, bench::median(floors));
  report("zoom3band/baseline (whole scaled frame)", frame, frame);
  report("zoom3band/back end", frame, bench::median(bands));
  closeScreen();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  runtimeInit(argc, argv, 0);
  _putenv_s("KELGFX", "GDI");
  if (openScreenBySize(800, 600, 32, 1, 0, 0) != 0) {
    std::fprintf(stderr, "bench_gdi: the GDI back end did not open\n");
    return 1;
  }
  ScreenMode* m = currentMode();
  bench::fillPattern(m);
  HWND window = win32::windowHandle();

  std::printf("%-40s %12s %-6s (median of %d)\n", "measure", "time", "", repetitions);
  const double frameFloor = timePerCall([&] { bareBand(window, m, 0, 600); }, repetitions);
  const double frame = timePerCall([] { gdiPresentNow(0, 599); }, repetitions);
  report("frame/baseline (bare SetDIBitsToDevice)", frameFloor, frameFloor);
  report("frame/back end", frameFloor, frame);
  const double bandFloor = timePerCall([&] { bareBand(window, m, 300, 10); }, repetitions);
  const double band = timePerCall([] { gdiPresentNow(300, 309); }, repetitions);
  report("band10/baseline (bare SetDIBitsToDevice)", bandFloor, bandFloor);
  report("band10/back end", bandFloor, band);
  closeScreen();
  if (!zoomed(repetitions)) std::fprintf(stderr, "bench_gdi: the zoomed window did not open\n");

  // Frames per second: higher is faster, so the ratio is over the null back end.
  bench::demoRates({"null", "GDI"}, repetitions);
  runtimeEnd(0);
}
