#include "blit.h"

#include "gfx/blit_walk.h"
#include "gfx/cpu.h"
#include "gfx/pixel.h"

namespace pel {

const Blitter* avx2Blitters();  // 24 members (order 1, then order 0), or null

namespace {

using namespace blit;

template <Source S, typename F, int Bytes>
void plainMember(uint8_t* destination, int32_t pitch) {
  const ScreenMode* m = currentMode();
  const uint32_t* palette = m->palette;
  const uint32_t* lookup = rgb565Lookup();
  const int32_t width = m->width;
  walkRows(destination, pitch, [&](const uint8_t* source, uint8_t* row) {
    convertRowPlain<S, F, Bytes>(source, row, 0, width, palette, lookup);
  });
}

constexpr Blitter plainOrder1[12] = {
    plainMember<Source::Indexed, Index15Rgb, 2>,   plainMember<Source::Indexed, Index16Rgb, 2>,
    plainMember<Source::Indexed, Low24, 3>,        plainMember<Source::Indexed, Identity, 4>,
    plainMember<Source::Rgb16, Rgb16To15Rgb, 2>,   plainMember<Source::Rgb16, Rgb16To16Rgb, 2>,
    plainMember<Source::Lookup16, Identity, 3>,    plainMember<Source::Lookup16, Identity, 4>,
    plainMember<Source::Rgb32, Rgb32To15Rgb, 2>,   plainMember<Source::Rgb32, Rgb32To16Rgb, 2>,
    plainMember<Source::Rgb32, SwapRedBlue24, 3>,  plainMember<Source::Rgb32, Rgb32To32Rgb, 4>,
};
constexpr Blitter plainOrder0[12] = {
    plainMember<Source::Indexed, Index15, 2>,      plainMember<Source::Indexed, Index16, 2>,
    plainMember<Source::Indexed, SwapRedBlue24, 3>, plainMember<Source::Indexed, Index32, 4>,
    plainMember<Source::Rgb16, Rgb16To15, 2>,      blitCopy,
    plainMember<Source::Lookup16, Identity, 3>,    plainMember<Source::Lookup16, Identity, 4>,
    plainMember<Source::Rgb32, Rgb32To15, 2>,      plainMember<Source::Rgb32, Rgb32To16, 2>,
    plainMember<Source::Rgb32, Low24, 3>,          blitCopy,
};

Blitter vectorMember(int order, int index) {
  const Blitter* vector = avx2Blitters();
  const Blitter* plain = order ? plainOrder1 : plainOrder0;
  return vector ? vector[(order ? 0 : 12) + index] : plain[index];
}

}  // namespace

void blitCopy(uint8_t* destination, int32_t pitch) {
  const auto bytes = static_cast<std::size_t>(currentMode()->pitch);
  blit::walkRows(destination, pitch, [bytes](const uint8_t* source, uint8_t* row) { copyBytes(row, source, bytes); });
}

const Blitter BlitterTable[48] = {
    plainOrder1[0], plainOrder1[1], plainOrder1[2], plainOrder1[3], plainOrder1[4], plainOrder1[5],
    plainOrder1[6], plainOrder1[7], plainOrder1[8], plainOrder1[9], plainOrder1[10], plainOrder1[11],
    plainOrder0[0], plainOrder0[1], plainOrder0[2], plainOrder0[3], plainOrder0[4], plainOrder0[5],
    plainOrder0[6], plainOrder0[7], plainOrder0[8], plainOrder0[9], plainOrder0[10], plainOrder0[11],
    vectorMember(1, 0), vectorMember(1, 1), vectorMember(1, 2), vectorMember(1, 3), vectorMember(1, 4),
    vectorMember(1, 5), vectorMember(1, 6), vectorMember(1, 7), vectorMember(1, 8), vectorMember(1, 9),
    vectorMember(1, 10), vectorMember(1, 11), vectorMember(0, 0), vectorMember(0, 1), vectorMember(0, 2),
    vectorMember(0, 3), vectorMember(0, 4), vectorMember(0, 5), vectorMember(0, 6), vectorMember(0, 7),
    vectorMember(0, 8), vectorMember(0, 9), vectorMember(0, 10), vectorMember(0, 11),
};

namespace {
int32_t lookupOrder = 0;
}

const uint32_t* rgb565Lookup() { return blitterScratch(); }
int32_t rgb565LookupOrder() { return lookupOrder; }

Blitter selectBlitter(int32_t depth, int32_t rgbOrder) {
  const ScreenMode* m = currentMode();
  uint32_t* lookup = blitterScratch();
  if (!m || !lookup) return nullptr;
  lookupOrder = rgbOrder ? 1 : 0;
  for (uint32_t j = 0; j < 256; ++j) {
    if (rgbOrder == 0) {
      lookup[j] = ((j & 0xE0) << 5) | ((j << 3) & 0xFF);
      lookup[256 + j] = ((j & 0xF8) << 16) | ((j << 13) & 0xFFFF);
    } else {
      lookup[j] = ((j & 0x1F) << 19) | ((j & 0xE0) << 5);
      lookup[256 + j] = (j & 0xF8) | ((j << 13) & 0xFFFF);
    }
  }
  const bool vector = (m->flags & screenflag::vector) && m->scanlineRepeat == 1 && m->width % 4 == 0;
  const Blitter* group = BlitterTable + (vector ? 24 : 0) + (rgbOrder ? 0 : 12);
  int source;
  switch (m->depth) {
    case 1: case 2: case 4: case 8: source = 0; break;
    case 15: case 16: source = 1; break;
    case 24: case 32: source = 2; break;
    default: return nullptr;
  }
  if (source == 0 && depth == 8) return blitCopy;
  switch (depth) {
    case 15: return group[source * 4];
    case 16: return group[source * 4 + 1];
    case 24: return group[source * 4 + 2];
    case 32: return group[source * 4 + 3];
    default: return nullptr;
  }
}

}  // namespace pel
