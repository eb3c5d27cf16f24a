// The GDI back end's presentation against the bare platform call it rests
// on, and the demo's frame rate on GDI against the null back end, each
// measured in the same run (under Wine: scripts/wine-env). Prints the median
// of the repetitions and the speed ratio to each group's baseline, as the
// other benchmarks do.
// Usage: bench_gdi [repetitions]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "gfx/drivers/win32/gdi_driver.h"
#include "gfx/drivers/win32/win32_window.h"
#include "gfx/mode.h"
#include "gfx/pages.h"
#include "runtime/clock.h"
#include "runtime/runtime.h"
#include "wine_timing.h"

using namespace pel;
using bench::report;
using bench::timePerCall;

namespace {

// One bare SetDIBitsToDevice of page rows first..last, as the back end sends them.
void bareBand(HWND window, const ScreenMode* m, int32_t first, int32_t lines) {
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), m->width, -m->height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  HDC device = GetDC(window);
  SetDIBitsToDevice(device, 0, first, static_cast<DWORD>(m->width), static_cast<DWORD>(lines), 0, 0, 0,
                    static_cast<UINT>(lines), m->visibleBuffer + static_cast<std::size_t>(m->pitch) * first, &info,
                    DIB_RGB_COLORS);
  GdiFlush();
  ReleaseDC(window, device);
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
  for (int i = 0; i < m->width * m->height; ++i) reinterpret_cast<uint32_t*>(m->visibleBuffer)[i] = 0x10203 * (i & 0xFF);
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

  // Frames per second: higher is faster, so the ratio is over the null back end.
  bench::demoRates({"null", "GDI"}, repetitions);
  runtimeEnd(0);
}
