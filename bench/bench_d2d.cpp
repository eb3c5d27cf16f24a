// The Direct2D back end under Wine (scripts/wine-env): the update step of a
// one-row band against a whole frame (the band rule), the whole-frame step
// against the bare CopyFromMemory, DrawBitmap and EndDraw on the same
// target, the same two for a 320 x 200 page at zoom 3 (the floor draws the
// scaled picture ready made), and the demo's frame rate on the null back
// end, GDI, DirectX and Direct2D side by side. Prints medians and speed
// ratios.
// Usage: bench_d2d [repetitions]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "gfx/drivers/win32/d2d_testing.h"
#include "gfx/drivers/window_scale.h"
#include "gfx/mode.h"
#include "runtime/runtime.h"
#include "wine_timing.h"

using namespace pel;

namespace {

// The whole frame against its floor and a one-row band against the whole
// frame, for the screen that is open, under the two names given.
void frameAndBand(const char* frameName, const char* bandName, int32_t height, int repetitions) {
  std::vector<double> bare, frame, band;
  d2dPresentNow(0, height - 1);  // the scaled picture exists before the floor copies it
  for (int r = 0; r < repetitions; ++r) {
    bare.push_back(bench::timePerCall([] { d2dBareFrame(); }, 1));
    frame.push_back(bench::timePerCall([height] { d2dPresentNow(0, height - 1); }, 1));
    band.push_back(bench::timePerCall([height] { d2dPresentNow(height / 2, height / 2); }, 1));
  }
  const double bareTime = bench::median(bare), frameTime = bench::median(frame), bandTime = bench::median(band);
  char name[64];
  std::snprintf(name, sizeof name, "%s/baseline (bare Copy, Draw, EndDraw)", frameName);
  bench::report(name, bareTime, bareTime);
  std::snprintf(name, sizeof name, "%s/update step", frameName);
  bench::report(name, bareTime, frameTime);
  std::snprintf(name, sizeof name, "%s/baseline (whole-frame update step)", bandName);
  bench::report(name, frameTime, frameTime);
  std::snprintf(name, sizeof name, "%s/one row", bandName);
  bench::report(name, frameTime, bandTime);
}

}  // namespace

int main(int argc, char** argv) {
  const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  runtimeInit(argc, argv, 0);
  _putenv_s("KELGFX", "Direct2D");
  if (openScreenBySize(800, 600, 32, 1, 0, 0) != 0) {
    std::fprintf(stderr, "bench_d2d: the Direct2D back end did not open\n");
    return 1;
  }
  bench::fillPattern(currentMode());
  std::printf("%-44s %12s %-6s (median of %d)\n", "measure", "time", "", repetitions);
  frameAndBand("frame", "band", 600, repetitions);
  closeScreen();
  if (bench::openZoomed()) {
    frameAndBand("zoom3", "zoom3band", 200, repetitions);
    closeScreen();
  } else {
    std::fprintf(stderr, "bench_d2d: the zoomed window did not open\n");
  }
  bench::demoRates({"null", "GDI", "DirectX", "Direct2D"}, repetitions);
  runtimeEnd(0);
}
