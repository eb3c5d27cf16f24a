// Boxes, lines and text on an 800 x 600 page of depth 32 (null back end).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "gfx/draw.h"
#include "gfx/mode.h"
#include "gfx/pages.h"
#include "gfx/text.h"

using namespace pel;

namespace {

void openDemoMode() {
  static const bool opened = [] {
    setenv("KELGFX", "null", 1);
    return openScreenBySize(800, 600, 32, 2, 36, 0) == 0;
  }();
  if (!opened) std::abort();
}

constexpr int boxSide = 200;

// memset over the rows of a 200 x 200 box.
void boxBaseline(benchmark::State& state) {
  openDemoMode();
  uint8_t* page = workPagePointer();
  int colour = 0;
  for (auto _ : state) {
    for (int y = 0; y < boxSide; ++y) std::memset(page + (100 + y) * 3200 + 400, ++colour, boxSide * 4);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * boxSide * boxSide);
}

void filledBox(benchmark::State& state) {
  openDemoMode();
  uint32_t colour = 0;
  for (auto _ : state) {
    drawLine(nullptr, 100, 100, 100 + boxSide - 1, 100 + boxSide - 1, ++colour, linekind::filledBox, 0xFFFF, 0);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * boxSide * boxSide);
}

void horizontalLine(benchmark::State& state) {
  openDemoMode();
  uint32_t colour = 0;
  for (auto _ : state) {
    for (int y = 0; y < 600; y += 3) drawLine(nullptr, 0, static_cast<float>(y), 799, static_cast<float>(y), ++colour, 0, 0xFFFF, 0);
  }
  state.SetItemsProcessed(state.iterations() * 200 * 800);
}

void diagonalLine(benchmark::State& state) {
  openDemoMode();
  uint32_t colour = 0;
  for (auto _ : state) {
    for (int x = 0; x < 200; x += 2) drawLine(nullptr, static_cast<float>(x), 0, static_cast<float>(x + 599), 599, ++colour, 0, 0xFFFF, 0);
  }
  state.SetItemsProcessed(state.iterations() * 100 * 600);
}

void builtinText(benchmark::State& state) {
  openDemoMode();
  const std::string line(96, 'W');
  const TextString text{line.data(), static_cast<uint32_t>(line.size())};
  for (auto _ : state) {
    for (int y = 0; y < 600; y += 8) drawString(nullptr, 16, static_cast<float>(y), 4, &text, 0xFFFFFFFF, nullptr, 0, nullptr, nullptr, nullptr);
  }
  state.SetItemsProcessed(state.iterations() * 75 * 96);
}

}  // namespace

BENCHMARK(boxBaseline)->Name("box200/baseline");
BENCHMARK(filledBox)->Name("box200/drawLine");
BENCHMARK(horizontalLine)->Name("lines/horizontal");
BENCHMARK(diagonalLine)->Name("lines/diagonal");
BENCHMARK(builtinText)->Name("text/glyphs");
