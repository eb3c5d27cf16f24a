#include "blit.h"

#include "gfx/blit_walk.h"
#include "gfx/cpu.h"
#include "gfx/pixel.h"

namespace pel {

const Blitter* avx2Blitters();  // 24 members (order 1, then order 0), or null

namespace {

using namespace blit;

template <Source S, typename F, int Bytes>
struct PlainMember {
  static void run(uint8_t* destination, int32_t pitch) {
    const ScreenMode* m = currentMode();
    const uint32_t* palette = m->palette;
    const uint32_t* lookup = rgb565Lookup();
    const int32_t width = m->width;
    walkRows(destination, pitch, [&](const uint8_t* source, uint8_t* row) {
      convertRowPlain<S, F, Bytes>(source, row, 0, width, palette, lookup);
    });
  }
};

const Blitter* vectorMembers() {
  const Blitter* vector = avx2Blitters();
  return vector ? vector : memberGroups<PlainMember>;
}

}  // namespace

void blitCopy(uint8_t* destination, int32_t pitch) {
  const auto bytes = static_cast<std::size_t>(currentMode()->pitch);
  blit::walkRows(destination, pitch, [bytes](const uint8_t* source, uint8_t* row) { copyBytes(row, source, bytes); });
}

const Blitter BlitterTable[48] = {
    memberGroups<PlainMember>[0],  memberGroups<PlainMember>[1],  memberGroups<PlainMember>[2],
    memberGroups<PlainMember>[3],  memberGroups<PlainMember>[4],  memberGroups<PlainMember>[5],
    memberGroups<PlainMember>[6],  memberGroups<PlainMember>[7],  memberGroups<PlainMember>[8],
    memberGroups<PlainMember>[9],  memberGroups<PlainMember>[10], memberGroups<PlainMember>[11],
    memberGroups<PlainMember>[12], memberGroups<PlainMember>[13], memberGroups<PlainMember>[14],
    memberGroups<PlainMember>[15], memberGroups<PlainMember>[16], memberGroups<PlainMember>[17],
    memberGroups<PlainMember>[18], memberGroups<PlainMember>[19], memberGroups<PlainMember>[20],
    memberGroups<PlainMember>[21], memberGroups<PlainMember>[22], memberGroups<PlainMember>[23],
    vectorMembers()[0],  vectorMembers()[1],  vectorMembers()[2],  vectorMembers()[3],  vectorMembers()[4],
    vectorMembers()[5],  vectorMembers()[6],  vectorMembers()[7],  vectorMembers()[8],  vectorMembers()[9],
    vectorMembers()[10], vectorMembers()[11], vectorMembers()[12], vectorMembers()[13], vectorMembers()[14],
    vectorMembers()[15], vectorMembers()[16], vectorMembers()[17], vectorMembers()[18], vectorMembers()[19],
    vectorMembers()[20], vectorMembers()[21], vectorMembers()[22], vectorMembers()[23],
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
