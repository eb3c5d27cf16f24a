// Every blitter member at 800 x 600 with all rows dirty: pixels per second,
// against memcpy of the source bytes and, where SDL2 offers the same
// conversion, against SDL_ConvertPixels.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "gfx/blit.h"
#include "gfx/mode.h"

#if defined(PEL_HAVE_SDL2)
#include <SDL2/SDL.h>
#endif

using namespace pel;

namespace {

constexpr int width = 800, height = 600;

void openSource(int depth) {
  setenv("KELGFX", "null", 1);
  if (openScreenBySize(width, height, depth, 1, 0, 0) != 0) std::abort();
  ScreenMode* m = currentMode();
  std::mt19937 random(1);
  for (int i = 0; i < m->pitch * height; ++i) m->visibleBuffer[i] = static_cast<uint8_t>(random());
  for (int i = 0; i < 256; ++i) m->palette[i] = random() & 0xFFFFFF;
}

int bytesOf(int depth) { return depth <= 16 ? 2 : depth == 24 ? 3 : 4; }

void member(benchmark::State& state, int sourceDepth, int depth, int order, bool vector) {
  openSource(sourceDepth);
  if (!vector) currentMode()->flags &= ~screenflag::vector;
  const Blitter b = selectBlitter(depth, order);
  const int32_t pitch = width * bytesOf(depth);
  std::vector<uint8_t> surface(static_cast<std::size_t>(pitch) * height);
  for (auto _ : state) {
    std::memset(currentMode()->dirty, 1, height);
    b(surface.data(), pitch);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * width * height);
}

void memcpyBaseline(benchmark::State& state, int sourceDepth) {
  openSource(sourceDepth);
  const std::size_t bytes = static_cast<std::size_t>(currentMode()->pitch) * height;
  std::vector<uint8_t> surface(bytes);
  for (auto _ : state) {
    std::memcpy(surface.data(), currentMode()->visibleBuffer, bytes);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * width * height);
}

#if defined(PEL_HAVE_SDL2)
void sdlConvert(benchmark::State& state, int sourceDepth, uint32_t from, uint32_t to, int toBytes) {
  openSource(sourceDepth);
  std::vector<uint8_t> surface(static_cast<std::size_t>(width) * toBytes * height);
  for (auto _ : state) {
    SDL_ConvertPixels(width, height, from, currentMode()->visibleBuffer, currentMode()->pitch, to, surface.data(),
                      width * toBytes);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * width * height);
}

// Indexed to 32 bits: SDL blits an 8-bit surface with a palette.
void sdlIndexed(benchmark::State& state) {
  openSource(8);
  SDL_Surface* source = SDL_CreateRGBSurfaceWithFormatFrom(currentMode()->visibleBuffer, width, height, 8, width,
                                                           SDL_PIXELFORMAT_INDEX8);
  SDL_Color colours[256];
  for (int i = 0; i < 256; ++i) {
    const uint32_t e = currentMode()->palette[i];
    colours[i] = {static_cast<uint8_t>(e), static_cast<uint8_t>(e >> 8), static_cast<uint8_t>(e >> 16), 255};
  }
  SDL_SetPaletteColors(source->format->palette, colours, 0, 256);
  SDL_Surface* target = SDL_CreateRGBSurfaceWithFormat(0, width, height, 32, SDL_PIXELFORMAT_XRGB8888);
  for (auto _ : state) {
    SDL_BlitSurface(source, nullptr, target, nullptr);
    benchmark::ClobberMemory();
  }
  SDL_FreeSurface(target);
  SDL_FreeSurface(source);
  state.SetItemsProcessed(state.iterations() * width * height);
}
#endif

struct Conversion {
  const char* name;
  int sourceDepth, depth, order;
  uint32_t sdlFrom, sdlTo;  // 0: SDL2 has no such conversion
};

void registerAll() {
#if !defined(PEL_HAVE_SDL2)
  constexpr uint32_t SDL_PIXELFORMAT_RGB565 = 0, SDL_PIXELFORMAT_XRGB8888 = 0, SDL_PIXELFORMAT_XRGB1555 = 0,
                     SDL_PIXELFORMAT_RGB24 = 0, SDL_PIXELFORMAT_BGR24 = 0, SDL_PIXELFORMAT_XBGR8888 = 0,
                     SDL_PIXELFORMAT_BGR565 = 0, SDL_PIXELFORMAT_XBGR1555 = 0;
#endif
  // SDL's RGB24 is red first in memory, BGR24 blue first.
  const Conversion all[] = {
      {"indexed_to_15", 8, 15, 0, 0, 0},     {"indexed_to_15_rgb", 8, 15, 1, 0, 0},
      {"indexed_to_16", 8, 16, 0, 0, 0},     {"indexed_to_16_rgb", 8, 16, 1, 0, 0},
      {"indexed_to_24", 8, 24, 0, 0, 0},     {"indexed_to_24_rgb", 8, 24, 1, 0, 0},
      {"indexed_to_32", 8, 32, 0, 1, 0},     {"indexed_to_32_rgb", 8, 32, 1, 0, 0},
      {"16_to_15", 16, 15, 0, SDL_PIXELFORMAT_RGB565, SDL_PIXELFORMAT_XRGB1555},
      {"16_to_15_rgb", 16, 15, 1, SDL_PIXELFORMAT_RGB565, SDL_PIXELFORMAT_XBGR1555},
      {"16_to_16_rgb", 16, 16, 1, SDL_PIXELFORMAT_RGB565, SDL_PIXELFORMAT_BGR565},
      {"16_to_24", 16, 24, 0, SDL_PIXELFORMAT_RGB565, SDL_PIXELFORMAT_BGR24},
      {"16_to_32", 16, 32, 0, SDL_PIXELFORMAT_RGB565, SDL_PIXELFORMAT_XRGB8888},
      {"32_to_15", 32, 15, 0, SDL_PIXELFORMAT_XRGB8888, SDL_PIXELFORMAT_XRGB1555},
      {"32_to_15_rgb", 32, 15, 1, SDL_PIXELFORMAT_XRGB8888, SDL_PIXELFORMAT_XBGR1555},
      {"32_to_16", 32, 16, 0, SDL_PIXELFORMAT_XRGB8888, SDL_PIXELFORMAT_RGB565},
      {"32_to_16_rgb", 32, 16, 1, SDL_PIXELFORMAT_XRGB8888, SDL_PIXELFORMAT_BGR565},
      {"32_to_24", 32, 24, 0, SDL_PIXELFORMAT_XRGB8888, SDL_PIXELFORMAT_BGR24},
      {"32_to_24_rgb", 32, 24, 1, SDL_PIXELFORMAT_XRGB8888, SDL_PIXELFORMAT_RGB24},
      {"32_to_32", 32, 32, 0, 0, 0},
      {"32_to_32_rgb", 32, 32, 1, SDL_PIXELFORMAT_XRGB8888, SDL_PIXELFORMAT_XBGR8888},
  };
  for (const Conversion& c : all) {
    const std::string group = c.name;
    benchmark::RegisterBenchmark((group + "/baseline").c_str(), memcpyBaseline, c.sourceDepth);
    benchmark::RegisterBenchmark((group + "/plain").c_str(), member, c.sourceDepth, c.depth, c.order, false);
    benchmark::RegisterBenchmark((group + "/vector").c_str(), member, c.sourceDepth, c.depth, c.order, true);
#if defined(PEL_HAVE_SDL2)
    if (c.sdlFrom == 1) {
      benchmark::RegisterBenchmark((group + "/sdl2").c_str(), sdlIndexed);
    } else if (c.sdlFrom) {
      benchmark::RegisterBenchmark((group + "/sdl2").c_str(), sdlConvert, c.sourceDepth, c.sdlFrom, c.sdlTo, bytesOf(c.depth));
    }
#endif
  }
}

const bool registered = (registerAll(), true);

}  // namespace
