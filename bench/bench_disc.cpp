// The demo's disc workload: 50 passes x 50 discs (radii 99, 97, ... 1) at
// random in-range centres, against memset over the same number of bytes.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "demo/disc.h"

using namespace pel;

namespace {

struct Workload {
  std::vector<uint32_t> page = std::vector<uint32_t>(discPagePixels);
  int16_t cx[50], cy[50];
  int64_t pixelsPerFrame = 0;

  Workload() {
    std::mt19937 random(42);
    for (int i = 0; i < 50; ++i) {
      cx[i] = static_cast<int16_t>(100 + random() % 600);
      cy[i] = static_cast<int16_t>(100 + random() % 400);
    }
    screenBase = page.data();
    // Count the pixel stores of one frame by drawing it over a marker.
    for (int r = 99; r >= 1; r -= 2) {
      for (int i = 0; i < 50; ++i) {
        std::fill(page.begin(), page.end(), 0u);
        fillDisc(cx[i], cy[i], r, 1);
        for (uint32_t p : page) pixelsPerFrame += p;
      }
    }
  }

  void frame() {
    for (int ring = 1; ring <= 99; ring += 2) {
      const auto level = static_cast<uint32_t>(ring * 2.55f + 0.5f) << 8;
      for (int i = 0; i < 50; ++i) fillDisc(cx[i], cy[i], 100 - ring, level);
    }
  }
};

Workload& workload() {
  static Workload w;
  return w;
}

void discFrame(benchmark::State& state) {
  Workload& w = workload();
  screenBase = w.page.data();
  for (auto _ : state) {
    w.frame();
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * w.pixelsPerFrame * 4);
  state.counters["frames/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["Mpixels/frame"] = static_cast<double>(w.pixelsPerFrame) / 1e6;
}

// memset over the same bytes per frame, a whole page per call.
void memsetFrame(benchmark::State& state) {
  Workload& w = workload();
  const auto pageBytes = static_cast<int64_t>(w.page.size() * 4);
  for (auto _ : state) {
    int64_t left = w.pixelsPerFrame * 4;
    for (int value = 0; left > 0; ++value, left -= pageBytes) {
      std::memset(w.page.data(), value, static_cast<std::size_t>(std::min(left, pageBytes)));
    }
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * w.pixelsPerFrame * 4);
}

}  // namespace

BENCHMARK(memsetFrame)->Name("discs/baseline")->Unit(benchmark::kMillisecond);
BENCHMARK(discFrame)->Name("discs/fillDisc")->Unit(benchmark::kMillisecond);
