// What the Windows benchmarks (run under Wine, without Google Benchmark)
// share: a clock, medians of timed runs, the report line, and the demo's
// frame rate on a named back end.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "demo/disc.h"
#include "demo/pellucet.h"
#include "gfx/drivers/window_scale.h"
#include "gfx/mode.h"
#include "gfx/pages.h"
#include "runtime/clock.h"

namespace pel::bench {

inline double now() {
  LARGE_INTEGER c, f;
  QueryPerformanceCounter(&c);
  QueryPerformanceFrequency(&f);
  return static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

inline double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Seconds per call: the median over repetitions of runs of at least 0.3 s.
inline double timePerCall(const std::function<void()>& call, int repetitions) {
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
  return median(runs);
}

// Times in seconds, printed in milliseconds with the speed relative to the baseline.
inline void report(const char* name, double baseline, double measured) {
  std::printf("%-44s %12.4f ms     speed ratio %6.3f\n", name, measured * 1e3, baseline / measured);
}

// A 32-bit page's pixels in a pattern that repeats every 256.
inline void fillPattern(ScreenMode* m) {
  for (int i = 0; i < m->width * m->height; ++i) reinterpret_cast<uint32_t*>(m->visibleBuffer)[i] = 0x10203 * (i & 0xFF);
}

// A 320 x 200 32-bit screen in a window at zoom 3, filled; false when it did
// not open.
inline bool openZoomed() {
  requestWindowScale({3, false});
  const int32_t opened = openScreenBySize(320, 200, 32, 1, 0, 0);
  requestWindowScale({});
  if (opened != 0) return false;
  fillPattern(currentMode());
  return true;
}

inline double demoClock() { return timerSeconds(); }

// Frames per second of the demo's frame on the back end KELGFX names.
inline double demoRate(const char* backend, double seconds) {
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

// The demo's median frame rate on each back end, side by side, with the
// ratio to the first.
inline void demoRates(std::initializer_list<const char*> backends, int repetitions) {
  std::vector<std::vector<double>> rates(backends.size());
  for (int r = 0; r < repetitions; ++r) {
    std::size_t i = 0;
    for (const char* backend : backends) rates[i++].push_back(demoRate(backend, 1.0));
  }
  std::size_t i = 0;
  double first = 0;
  for (const char* backend : backends) {
    const double rate = median(rates[i++]);
    if (i == 1) first = rate;
    std::printf("demo/%-39s %12.1f fps    speed ratio %6.3f\n", backend, rate, first > 0 ? rate / first : 0.0);
  }
}

}  // namespace pel::bench
