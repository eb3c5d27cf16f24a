// The Direct2D back end under Wine (scripts/wine-env): the update step of a
// one-row band against a whole frame (the band rule), the whole-frame step
// against the bare CopyFromMemory, DrawBitmap and EndDraw on the same
// target, and the demo's frame rate on the null back end, GDI, DirectX and
// Direct2D side by side. Prints medians and speed ratios.
// Usage: bench_d2d [repetitions]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "gfx/drivers/win32/d2d_driver.h"
#include "gfx/mode.h"
#include "runtime/runtime.h"
#include "wine_timing.h"

using namespace pel;

int main(int argc, char** argv) {
  const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  runtimeInit(argc, argv, 0);
  _putenv_s("KELGFX", "Direct2D");
  if (openScreenBySize(800, 600, 32, 1, 0, 0) != 0) {
    std::fprintf(stderr, "bench_d2d: the Direct2D back end did not open\n");
    return 1;
  }
  ScreenMode* m = currentMode();
  for (int i = 0; i < m->width * m->height; ++i) reinterpret_cast<uint32_t*>(m->visibleBuffer)[i] = 0x10203 * (i & 0xFF);
  std::printf("%-44s %12s %-6s (median of %d)\n", "measure", "time", "", repetitions);
  std::vector<double> bare, frame, band;
  for (int r = 0; r < repetitions; ++r) {
    bare.push_back(bench::timePerCall([] { d2dBareFrame(); }, 1));
    frame.push_back(bench::timePerCall([] { d2dPresentNow(0, 599); }, 1));
    band.push_back(bench::timePerCall([] { d2dPresentNow(300, 300); }, 1));
  }
  const double bareTime = bench::median(bare), frameTime = bench::median(frame), bandTime = bench::median(band);
  bench::report("frame/baseline (bare Copy, Draw, EndDraw)", bareTime, bareTime);
  bench::report("frame/update step", bareTime, frameTime);
  bench::report("band/baseline (whole-frame update step)", frameTime, frameTime);
  bench::report("band/one row", frameTime, bandTime);
  std::printf("%-44s %12.3f\n", "band cost / frame cost", bandTime / frameTime);
  closeScreen();
  bench::demoRates({"null", "GDI", "DirectX", "Direct2D"}, repetitions);
  runtimeEnd(0);
}
