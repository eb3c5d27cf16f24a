// The per-pixel loads and stores and the row walk of the blitter members,
// shared by the plain file and the vector one (each gets its own copy).
#pragma once
#include <cstdint>
#include <cstring>

#include "gfx/blit.h"
#include "gfx/blit_members.h"
#include "gfx/mode.h"

namespace pel::blit {
namespace {

// The source pixel x of a row as a 32-bit value the formula works on.
template <Source S>
inline uint32_t load(const uint8_t* row, int32_t x, const uint32_t* palette, const uint32_t* lookup) {
  if constexpr (S == Source::Indexed) {
    return palette[row[x]];
  } else if constexpr (S == Source::Rgb32) {
    uint32_t s;
    std::memcpy(&s, row + 4 * x, 4);
    return s;
  } else {
    uint16_t p;
    std::memcpy(&p, row + 2 * x, 2);
    if constexpr (S == Source::Lookup16) return lookup[p & 0xFF] | lookup[256 + (p >> 8)];
    return p;
  }
}

// Stores the low `Bytes` bytes of v at pixel x (little-endian memory order).
template <int Bytes>
inline void store(uint8_t* row, int32_t x, uint32_t v) {
  std::memcpy(row + Bytes * x, &v, Bytes);
}

template <Source S, typename F, int Bytes>
inline void convertRowPlain(const uint8_t* source, uint8_t* destination, int32_t from, int32_t width,
                            const uint32_t* palette, const uint32_t* lookup) {
  for (int32_t x = from; x < width; ++x) store<Bytes>(destination, x, F::at(load<S>(source, x, palette, lookup)));
}

// Walks the destination rows (height x scanline repeat), converting each one
// whose page row is dirty with `convert` (source row, destination row).
template <typename Convert>
inline void walkRows(uint8_t* destination, int32_t pitch, Convert convert) {
  const ScreenMode* m = currentMode();
  const uint8_t* source = m->visibleBuffer;
  const uint8_t* dirty = m->dirty;
  const int32_t rows = m->height * m->scanlineRepeat;
  for (int32_t n = 0, k = 0; n < rows; ++n, destination += pitch) {
    if (*dirty) convert(source, destination);
    if (++k == m->scanlineRepeat) {
      k = 0;
      source += m->pitch;
      ++dirty;
    }
  }
}

}  // namespace
}  // namespace pel::blit
