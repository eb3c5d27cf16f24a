// The Wayland back end against a private headless weston: a whole 800 x 600
// frame against its floor (a bare copy into a wl_shm buffer, attach, damage,
// commit and a round trip), one changed row against the whole frame, and the
// demo's frame rate against the null back end's.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <random>

#include "demo/disc.h"
#include "demo/pellucet.h"
#include "gfx/drivers/wayland/wayland_testing.h"
#include "gfx/mode.h"
#include "gfx/pages.h"
#include "runtime/clock.h"
#include "wayland/private_weston.h"

using namespace pel;

namespace {

PrivateWeston& compositor() {
  static PrivateWeston weston;
  if (weston.pid < 0) weston.start(1280, 1024);
  return weston;
}

struct Screen {
  bool ok = false;
  Screen() {
    compositor().use();
    setenv("KELGFX", "Wayland", 1);
    ok = openScreenBySize(800, 600, 32, 1, modeflag::noFrame, 0) == 0 &&
         std::string_view(currentMode()->driver->name) == "Wayland";
    if (!ok) return;
    ScreenMode* m = currentMode();
    std::mt19937 random(1);
    for (int i = 0; i < m->pitch * m->height; ++i) m->visibleBuffer[i] = static_cast<uint8_t>(random());
  }
  ~Screen() { closeScreen(); }
};

void presentFloor(benchmark::State& s) {
  Screen screen;
  if (!screen.ok) return s.SkipWithError("the Wayland back end did not open");
  for (auto _ : s) waylandBarePresent();
}

void presentBackend(benchmark::State& s, int first, int last) {
  Screen screen;
  if (!screen.ok) return s.SkipWithError("the Wayland back end did not open");
  for (auto _ : s) waylandPresentNow(first, last);
}

void demoFrames(benchmark::State& s, const char* backend) {
  compositor().use();
  setenv("KELGFX", backend, 1);
  if (openScreenBySize(800, 600, 32, 2, 36, 0) != 0) return s.SkipWithError("no screen");
  setPages(1, 0);
  screenBase = reinterpret_cast<uint32_t*>(workPagePointer());
  DemoState state;
  if (!demoStart(state, 42.0, timerSeconds)) return s.SkipWithError("out of memory");
  for (auto _ : s) demoFrame(state);
  s.counters["frames/s"] = benchmark::Counter(static_cast<double>(s.iterations()), benchmark::Counter::kIsRate);
  demoEnd(state);
  closeScreen();
}

}  // namespace

BENCHMARK(presentFloor)->Name("present/baseline")->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(presentBackend, frame, 0, 599)->Name("present/wayland")->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(presentBackend, frame, 0, 599)->Name("band/baseline")->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(presentBackend, row, 300, 300)->Name("band/wayland")->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(demoFrames, null, "null")->Name("demo/baseline")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(demoFrames, wayland, "Wayland")->Name("demo/wayland")->Unit(benchmark::kMillisecond)->UseRealTime();
