// Span fills and blending against memset over the same bytes.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "gfx/pixel.h"

using namespace pel;

namespace {

constexpr int spanPixels = 800;
constexpr int rows = 600;

// One 800 x 600 page filled span by span, as a frame would.
template <typename Fill>
void fillPage(benchmark::State& state, std::size_t bytesPerPixel, Fill fill) {
  std::vector<uint8_t> page(spanPixels * rows * bytesPerPixel + 64);
  uint8_t* base = page.data() + (64 - reinterpret_cast<uintptr_t>(page.data()) % 64) % 64;
  const std::size_t pitch = spanPixels * bytesPerPixel;
  uint32_t colour = 0x00123456;
  for (auto _ : state) {
    for (int y = 0; y < rows; ++y) fill(base + y * pitch, colour);
    benchmark::DoNotOptimize(base);
    benchmark::ClobberMemory();
    ++colour;
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(pitch) * rows);
  state.SetItemsProcessed(state.iterations() * int64_t{spanPixels} * rows);
}

const VectorRoutines& best() {
  static const VectorRoutines none = {fillSpan16, fillSpan32, blendSpan32, blendPixel32Vector, std::memcpy, std::memset};
  return vectorRoutines() ? *vectorRoutines() : none;
}

void fill32Baseline(benchmark::State& s) {
  fillPage(s, 4, [](uint8_t* p, uint32_t c) { std::memset(p, static_cast<int>(c), spanPixels * 4); });
}
void fill32Plain(benchmark::State& s) {
  fillPage(s, 4, [](uint8_t* p, uint32_t c) { fillSpan32(p, c, spanPixels); });
}
void fill32Vector(benchmark::State& s) {
  fillPage(s, 4, [](uint8_t* p, uint32_t c) { best().fillSpan32(p, c, spanPixels); });
}
void fill16Baseline(benchmark::State& s) {
  fillPage(s, 2, [](uint8_t* p, uint32_t c) { std::memset(p, static_cast<int>(c), spanPixels * 2); });
}
void fill16Plain(benchmark::State& s) {
  fillPage(s, 2, [](uint8_t* p, uint32_t c) { fillSpan16(p, c, spanPixels); });
}
void fill16Vector(benchmark::State& s) {
  fillPage(s, 2, [](uint8_t* p, uint32_t c) { best().fillSpan16(p, c, spanPixels); });
}
void blendBaseline(benchmark::State& s) {
  fillPage(s, 4, [](uint8_t* p, uint32_t c) { std::memset(p, static_cast<int>(c), spanPixels * 4); });
}
void blendPlain(benchmark::State& s) {
  fillPage(s, 4, [](uint8_t* p, uint32_t c) { blendSpan32(p, c | 0x80000000u, spanPixels); });
}
void blendVector(benchmark::State& s) {
  fillPage(s, 4, [](uint8_t* p, uint32_t c) { best().blendSpan32(p, c | 0x80000000u, spanPixels); });
}

}  // namespace

BENCHMARK(fill32Baseline)->Name("fillSpan32/baseline");
BENCHMARK(fill32Plain)->Name("fillSpan32/plain");
BENCHMARK(fill32Vector)->Name("fillSpan32/vector");
BENCHMARK(fill16Baseline)->Name("fillSpan16/baseline");
BENCHMARK(fill16Plain)->Name("fillSpan16/plain");
BENCHMARK(fill16Vector)->Name("fillSpan16/vector");
BENCHMARK(blendBaseline)->Name("blendSpan32/baseline");
BENCHMARK(blendPlain)->Name("blendSpan32/plain");
BENCHMARK(blendVector)->Name("blendSpan32/vector");
