// The Wayland back end against a private headless weston: a whole 800 x 600
// frame against its floor (a bare copy into a wl_shm buffer, attach, damage,
// commit and a round trip), one changed row against the whole frame, the
// demo's frame rate against the null back end's, and the latency from a
// flip of an 800 x 600 page returning to the commit that carries it, by the
// client's protocol trace, flips a random 20 to 40 ms apart (so that no
// frame callback is on its way): median and 99th percentile ("p50_ms",
// "p99_ms").
#include <benchmark/benchmark.h>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

#include "demo/disc.h"
#include "demo/pellucet.h"
#include "gfx/drivers/wayland/wayland_testing.h"
#include "gfx/mode.h"
#include "gfx/pages.h"
#include "runtime/clock.h"
#include "wayland/private_weston.h"
#include "wayland/protocol_trace.h"

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

// The trace's clock: microseconds of the real-time clock, kept to 32 bits,
// as libwayland stamps its lines ("[milliseconds.microseconds]").
uint32_t traceClock() {
  timespec t{};
  clock_gettime(CLOCK_REALTIME, &t);
  return static_cast<uint32_t>(static_cast<uint64_t>(t.tv_sec) * 1000000u + static_cast<uint64_t>(t.tv_nsec) / 1000u);
}

// The stamp of the first commit traced since `watch`, waiting a second at most.
bool commitStamp(const ProtocolTrace& trace, uint32_t& stamp) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  while (std::chrono::steady_clock::now() < deadline) {
    for (const std::string& line : trace.lines(trace.watchedFrom)) {
      if (!ProtocolTrace::sends(line, ".commit()")) continue;
      unsigned ms = 0, us = 0;
      if (std::sscanf(line.c_str(), "[%u.%u]", &ms, &us) != 2) return false;
      stamp = ms * 1000u + us;
      return true;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return false;
}

// Registered last: the trace, once on, stays on for the process's later
// connections.
void flipLatency(benchmark::State& s) {
  ProtocolTrace trace;
  if (!trace.start(compositor().runtimeDir)) return s.SkipWithError("no trace file");
  compositor().use();
  setenv("KELGFX", "Wayland", 1);
  const bool open = openScreenBySize(800, 600, 32, 2, modeflag::noFrame, 0) == 0;
  if (!open) {
    trace.stop();
    return s.SkipWithError("the Wayland back end did not open");
  }
  setPages(1, 0);
  std::mt19937 random(3);
  std::vector<double> ms;
  for (auto _ : s) {
    std::this_thread::sleep_for(std::chrono::microseconds(20000 + random() % 20000));
    trace.watch();
    currentMode()->pages[1][0] = static_cast<uint8_t>(random());
    copyPage(-1, -1);
    const uint32_t flipped = traceClock();
    uint32_t committed = 0;
    if (!commitStamp(trace, committed)) {
      s.SkipWithError("no commit followed a flip");
      break;
    }
    // A commit stamped before the flip's return (the program's thread was
    // kept from the clock) went out at once.
    const double took = std::max(static_cast<int32_t>(committed - flipped) / 1000.0, 0.0);
    if (took > 1000) {
      s.SkipWithError("the trace's stamps are not of the real-time clock");
      break;
    }
    s.SetIterationTime(took / 1000);
    ms.push_back(took);
  }
  closeScreen();
  trace.stop();
  if (ms.empty()) return;
  std::sort(ms.begin(), ms.end());
  s.counters["p50_ms"] = ms[ms.size() / 2];
  s.counters["p99_ms"] = ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
}

}  // namespace

BENCHMARK(presentFloor)->Name("present/baseline")->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(presentBackend, frame, 0, 599)->Name("present/wayland")->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(presentBackend, frame, 0, 599)->Name("band/baseline")->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(presentBackend, row, 300, 300)->Name("band/wayland")->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(demoFrames, null, "null")->Name("demo/baseline")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(demoFrames, wayland, "Wayland")->Name("demo/wayland")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(flipLatency)->Name("latency/wayland")->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(300);
