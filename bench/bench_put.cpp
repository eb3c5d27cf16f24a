// Putting 256 x 256 32-bit images: the solid put against memcpy of the same
// bytes, and the colour-key and alpha puts against SDL2's SDL_BlitSurface
// doing the same (a colour key; SDL_BLENDMODE_BLEND), each also in its plain
// and vector row forms. Ratios are speeds relative to the group's baseline.
#include <benchmark/benchmark.h>
#include <pellucet/pellucet.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "gfx/put_rows.h"

#if defined(PEL_HAVE_SDL2)
#include <SDL2/SDL.h>
#endif

namespace {

constexpr int side = 256;
constexpr uint32_t key = 0xFF00FF;

// A sprite with a quarter of its pixels the key and alphas of every value.
struct Images {
  pellucet::Image source{side, side, 32}, target{side, side, 32};
  Images() {
    setenv("KELGFX", "null", 1);
    pellucet::openScreen(64, 64, 32, 1);
    std::mt19937 random(3);
    for (int y = 0; y < side; ++y) {
      for (int x = 0; x < side; ++x) {
        source.setPixel(x, y, random() % 4 == 0 ? 0xFF000000u | key : static_cast<uint32_t>(random()));
        target.setPixel(x, y, static_cast<uint32_t>(random()));
      }
    }
  }
};
Images& images() {
  static Images i;
  return i;
}

void memcpyBaseline(benchmark::State& state) {
  Images& i = images();
  for (auto _ : state) {
    for (int y = 0; y < side; ++y) std::memcpy(i.target.pixels() + y * i.target.pitch(), i.source.pixels() + y * i.source.pitch(), side * 4);
    benchmark::ClobberMemory();
  }
}

void publicPut(benchmark::State& state, pellucet::PutMode mode) {
  Images& i = images();
  for (auto _ : state) {
    pellucet::put(i.target, i.source, 0, 0, mode, key);
    benchmark::ClobberMemory();
  }
}

void rows(benchmark::State& state, bool blended, bool vector) {
  Images& i = images();
  const pel::PutRows& r = pel::putRows(vector);
  for (auto _ : state) {
    for (int y = 0; y < side; ++y) {
      uint8_t* d = i.target.pixels() + y * i.target.pitch();
      const uint8_t* s = i.source.pixels() + y * i.source.pitch();
      if (blended) {
        r.blended(d, s, side);
      } else {
        r.keyed(d, s, side, key);
      }
    }
    benchmark::ClobberMemory();
  }
}

#if defined(PEL_HAVE_SDL2)
void sdlBlit(benchmark::State& state, bool blended) {
  Images& i = images();
  SDL_Surface* source = SDL_CreateRGBSurfaceWithFormatFrom(i.source.pixels(), side, side, 32, i.source.pitch(),
                                                           SDL_PIXELFORMAT_ARGB8888);
  SDL_Surface* target = SDL_CreateRGBSurfaceWithFormatFrom(i.target.pixels(), side, side, 32, i.target.pitch(),
                                                           SDL_PIXELFORMAT_ARGB8888);
  if (blended) {
    SDL_SetSurfaceBlendMode(source, SDL_BLENDMODE_BLEND);
  } else {
    SDL_SetSurfaceBlendMode(source, SDL_BLENDMODE_NONE);
    SDL_SetColorKey(source, SDL_TRUE, 0xFF000000u | key);
  }
  for (auto _ : state) {
    SDL_BlitSurface(source, nullptr, target, nullptr);
    benchmark::ClobberMemory();
  }
  SDL_FreeSurface(target);
  SDL_FreeSurface(source);
}
#endif

void registerAll() {
  benchmark::RegisterBenchmark("solid/baseline", memcpyBaseline);
  benchmark::RegisterBenchmark("solid/put", publicPut, pellucet::PutMode::solid);
#if defined(PEL_HAVE_SDL2)
  benchmark::RegisterBenchmark("key/baseline", sdlBlit, false);
  benchmark::RegisterBenchmark("alpha/baseline", sdlBlit, true);
#endif
  benchmark::RegisterBenchmark("key/put", publicPut, pellucet::PutMode::colourKey);
  benchmark::RegisterBenchmark("key/plain", rows, false, false);
  benchmark::RegisterBenchmark("key/vector", rows, false, true);
  benchmark::RegisterBenchmark("alpha/put", publicPut, pellucet::PutMode::alpha);
  benchmark::RegisterBenchmark("alpha/plain", rows, true, false);
  benchmark::RegisterBenchmark("alpha/vector", rows, true, true);
}

const bool registered = (registerAll(), true);

}  // namespace
