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
#include <functional>
#include <vector>

#include "demo/disc.h"
#include "demo/pellucet.h"
#include "gfx/drivers/win32/gdi_driver.h"
#include "gfx/drivers/win32/win32_window.h"
#include "gfx/mode.h"
#include "gfx/pages.h"
#include "runtime/clock.h"
#include "runtime/runtime.h"

using namespace pel;

namespace {

double now() {
  LARGE_INTEGER c, f;
  QueryPerformanceCounter(&c);
  QueryPerformanceFrequency(&f);
  return static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

// Seconds per call: the median over repetitions of runs of at least 0.3 s.
double timePerCall(const std::function<void()>& call, int repetitions) {
  std::vector<double> runs;
  for (int r = 0; r < repetitions; ++r) {
    int64_t calls = 0;
    const double start = now();
    double elapsed = 0;
    do {
      call();
      ++calls;
      elapsed = now() - start;
    } while (elapsed < 0.3);
    runs.push_back(elapsed / static_cast<double>(calls));
  }
  std::sort(runs.begin(), runs.end());
  return runs[runs.size() / 2];
}

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

double demoClock() { return timerSeconds(); }

// Frames per second of the demo's frame on the back end KELGFX names.
double demoRate(const char* backend, double seconds) {
  _putenv_s("KELGFX", backend);
  if (openScreenBySize(800, 600, 32, 2, 36, 0) != 0) return 0;
  setPages(1, 0);
  screenBase = reinterpret_cast<uint32_t*>(workPagePointer());
  DemoState state;
  if (!demoStart(state, 42.0, demoClock)) return 0;
  int64_t frames = 0;
  const double start = now();
  while (now() - start < seconds) {
    demoFrame(state);
    ++frames;
  }
  const double rate = static_cast<double>(frames) / (now() - start);
  demoEnd(state);
  closeScreen();
  return rate;
}

// Times in seconds, printed in milliseconds with the speed relative to the baseline.
void report(const char* name, double baseline, double measured) {
  std::printf("%-40s %12.4f ms     speed ratio %6.3f\n", name, measured * 1e3, baseline / measured);
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

  // Frames per second: higher is faster, so the ratio is GDI over null.
  std::vector<double> null, gdi;
  for (int r = 0; r < repetitions; ++r) {
    null.push_back(demoRate("null", 1.0));
    gdi.push_back(demoRate("GDI", 1.0));
  }
  std::sort(null.begin(), null.end());
  std::sort(gdi.begin(), gdi.end());
  const double nullRate = null[null.size() / 2], gdiRate = gdi[gdi.size() / 2];
  std::printf("%-40s %12.1f %-6s\n", "demo/baseline (null back end)", nullRate, "fps");
  std::printf("%-40s %12.1f %-6s speed ratio %6.3f\n", "demo/GDI", gdiRate, "fps", gdiRate / nullRate);
  runtimeEnd(0);
}
