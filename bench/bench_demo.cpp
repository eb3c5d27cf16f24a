// A whole demo frame (rings, move and bounce, text, page copy) on the null
// back end, against memset over the same number of bytes.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "demo/disc.h"
#include "demo/pellucet.h"
#include "gfx/mode.h"
#include "gfx/pages.h"

using namespace pel;

namespace {

double frameClock() { return 0.0; }

struct Demo {
  DemoState state;
  int64_t storesPerFrame = 0;

  Demo() {
    setenv("KELGFX", "null", 1);
    if (openScreenBySize(800, 600, 32, 2, 36, 0) != 0) std::abort();
    setPages(1, 0);
    screenBase = reinterpret_cast<uint32_t*>(workPagePointer());
    if (!demoStart(state, 42.0, frameClock)) std::abort();
    // Pixel stores of one frame: the discs (counted by drawing each alone),
    // the text box and the page copy; the text's few hundred are left out.
    std::vector<uint32_t> scratch(800 * 600);
    uint32_t* page = screenBase;
    screenBase = scratch.data();
    for (int ring = 1; ring <= 99; ring += 2) {
      for (int i = 0; i < 50; ++i) {
        std::fill(scratch.begin(), scratch.end(), 0u);
        fillDisc(static_cast<int32_t>(state.cells[i].x + 0.5f), static_cast<int32_t>(state.cells[i].y + 0.5f), 100 - ring, 1);
        for (uint32_t p : scratch) storesPerFrame += p;
      }
    }
    screenBase = page;
    storesPerFrame += 200 * 10 + 800 * 600;
  }
};

Demo& demo() {
  static Demo d;
  return d;
}

void demoFrames(benchmark::State& s) {
  Demo& d = demo();
  for (auto _ : s) demoFrame(d.state);
  s.SetBytesProcessed(s.iterations() * d.storesPerFrame * 4);
  s.counters["frames/s"] = benchmark::Counter(static_cast<double>(s.iterations()), benchmark::Counter::kIsRate);
  s.counters["Mstores/frame"] = static_cast<double>(d.storesPerFrame) / 1e6;
}

void memsetFrames(benchmark::State& s) {
  Demo& d = demo();
  uint8_t* page = currentMode()->pages[0];
  const int64_t pageBytes = 800 * 600 * 4;
  for (auto _ : s) {
    int64_t left = d.storesPerFrame * 4;
    for (int value = 0; left > 0; ++value, left -= pageBytes) {
      std::memset(page, value, static_cast<std::size_t>(std::min(left, pageBytes)));
    }
    benchmark::ClobberMemory();
  }
  s.SetBytesProcessed(s.iterations() * d.storesPerFrame * 4);
}

}  // namespace

BENCHMARK(memsetFrames)->Name("frame/baseline")->Unit(benchmark::kMillisecond);
BENCHMARK(demoFrames)->Name("frame/demo")->Unit(benchmark::kMillisecond);
