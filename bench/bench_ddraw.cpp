// The DirectX back end's windowed presentation of a whole frame against its
// floor, done bare on the same surfaces in the same run: Lock of the
// off-screen surface, the same conversion, Unlock and one Blt of the whole
// surface onto the window. The same for a 320 x 200 page at zoom 3: its
// floor is the Lock, Unlock and unstretched Blt of the picture-sized
// surface, DirectDraw's own stretched Blt of a page-sized corner of it is
// shown beside it, and a one-row band is set against the whole scaled
// frame. Then the demo's frame rate on the null back end, GDI and DirectX side by side.
// Runs under Wine (scripts/wine-env); prints medians and speed ratios.
// Usage: bench_ddraw [repetitions]
#include <windows.h>

#include <ddraw.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "gfx/blit.h"
#include "gfx/drivers/win32/ddraw_testing.h"
#include "gfx/drivers/win32/win32_window.h"
#include "gfx/drivers/window_scale.h"
#include "gfx/mode.h"
#include "runtime/runtime.h"
#include "wine_timing.h"

using namespace pel;

namespace {

// The bare calls on the back end's own surfaces, under its lock so the
// window thread stays out.
void floorFrame(ScreenMode* m, HWND window, Blitter blitter) {
  win32::lock();
  IDirectDrawSurface* primary = ddrawPrimarySurface();
  IDirectDrawSurface* work = ddrawWorkSurface();
  std::memset(m->dirty, 1, static_cast<std::size_t>(m->height));
  DDSURFACEDESC desc{};
  desc.dwSize = sizeof desc;
  if (SUCCEEDED(work->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr))) {
    blitter(static_cast<uint8_t*>(desc.lpSurface), static_cast<int32_t>(desc.lPitch));
    work->Unlock(nullptr);
  }
  std::memset(m->dirty, 0, static_cast<std::size_t>(m->height));
  POINT origin{0, 0};
  ClientToScreen(window, &origin);
  RECT destination{origin.x, origin.y, origin.x + m->width, origin.y + m->height};
  RECT source{0, 0, m->width, m->height};
  primary->Blt(&destination, work, &source, DDBLT_WAIT, nullptr);
  win32::unlock();
}

// A scaled window's floor: the picture-sized surface locked and unlocked,
// then put on the picture's place unstretched (stretched: a page-sized
// corner of it put there by DirectDraw's stretcher instead).
void floorScaled(const ScreenMode* m, HWND window, bool stretched) {
  win32::lock();
  IDirectDrawSurface* primary = ddrawPrimarySurface();
  IDirectDrawSurface* work = ddrawWorkSurface();
  const PictureRect r = win32::windowState.picture;
  DDSURFACEDESC desc{};
  desc.dwSize = sizeof desc;
  if (SUCCEEDED(work->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr))) work->Unlock(nullptr);
  POINT origin{0, 0};
  ClientToScreen(window, &origin);
  RECT destination{origin.x + r.x, origin.y + r.y, origin.x + r.x + r.width, origin.y + r.y + r.height};
  RECT source{0, 0, stretched ? m->width : r.width, stretched ? m->height : r.height};
  primary->Blt(&destination, work, &source, DDBLT_WAIT, nullptr);
  win32::unlock();
}

bool zoomed(int repetitions) {
  if (!bench::openZoomed() || !ddrawPrimarySurface() || !ddrawWorkSurface()) return false;
  ScreenMode* m = currentMode();
  HWND window = win32::windowHandle();
  std::vector<double> floors, frames, stretched, bands;
  for (int r = 0; r < repetitions; ++r) {
    floors.push_back(bench::timePerCall([&] { floorScaled(m, window, false); }, 1));
    frames.push_back(bench::timePerCall([] { ddrawPresentNow(0, 199); }, 1));
    stretched.push_back(bench::timePerCall([&] { floorScaled(m, window, true); }, 1));
    bands.push_back(bench::timePerCall([] { ddrawPresentNow(100, 100); }, 1));
  }
  const double floor = bench::median(floors), frame = bench::median(frames);
  bench::report("zoom3/baseline (Lock, Unlock, Blt)", floor, floor);
  bench::report("zoom3/back end", floor, frame);
  bench::report("zoom3/stretched Blt of the page", floor, bench::median(stretched));
  bench::report("zoom3band/baseline (whole scaled frame)", frame, frame);
  bench::report("zoom3band/back end", frame, bench::median(bands));
  closeScreen();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  runtimeInit(argc, argv, 0);
  _putenv_s("KELGFX", "DirectX");
  if (openScreenBySize(800, 600, 32, 1, 0, 0) != 0) {
    std::fprintf(stderr, "bench_ddraw: the DirectX back end did not open\n");
    return 1;
  }
  ScreenMode* m = currentMode();
  bench::fillPattern(m);
  HWND window = win32::windowHandle();
  const Blitter blitter = win32::windowState.blitter;
  if (!ddrawPrimarySurface() || !ddrawWorkSurface() || !blitter) {
    std::fprintf(stderr, "bench_ddraw: the back end has no surfaces\n");
    return 1;
  }
  std::printf("%-44s %12s %-6s (median of %d)\n", "measure", "time", "", repetitions);
  std::vector<double> floors, backEnds;
  for (int r = 0; r < repetitions; ++r) {
    floors.push_back(bench::timePerCall([&] { floorFrame(m, window, blitter); }, 1));
    backEnds.push_back(bench::timePerCall([] { ddrawPresentNow(0, 599); }, 1));
  }
  const double floorTime = bench::median(floors), backEnd = bench::median(backEnds);
  bench::report("frame/baseline (Lock, convert, Unlock, Blt)", floorTime, floorTime);
  bench::report("frame/back end", floorTime, backEnd);
  closeScreen();
  if (!zoomed(repetitions)) std::fprintf(stderr, "bench_ddraw: the zoomed window did not open\n");
  bench::demoRates({"null", "GDI", "DirectX"}, repetitions);
  runtimeEnd(0);
}
