// What the drawing fuzz targets share: reading typed values from the input
// (zeros once it runs out) and a plain glyph putter for user fonts.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "gfx/mode.h"

namespace fuzz {

struct Reader {
  const uint8_t* p;
  size_t n;
  template <typename T>
  T take() {
    T v{};
    const size_t k = n < sizeof v ? n : sizeof v;
    std::memcpy(&v, p, k);
    p += k;
    n -= k;
    return v;
  }
};

// Mode sets go to the null back end (once a process).
inline void useNullBackEnd() {
  static const bool once = [] {
    setenv("KELGFX", "null", 1);
    return true;
  }();
  (void)once;
}

// Copies glyph blocks in the current target's pixel size.
inline void putter(const uint8_t* source, uint8_t* destination, int32_t width, int32_t height, int32_t sourcePitch,
                   int32_t destinationPitch, uint32_t, void*, void*) {
  const int32_t bpp = pel::getContext()->targetBytesPerPixel;
  for (int32_t y = 0; y < height; ++y) {
    std::memcpy(destination + y * destinationPitch, source + y * sourcePitch, static_cast<size_t>(width) * bpp);
  }
}

}  // namespace fuzz
