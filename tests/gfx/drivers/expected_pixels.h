// What a 32-bit window shows for a page pixel after the runtime's own
// conversion: 5-6-5 widened by shifting, the palette at 8 bits. Shared by the
// X11 and Windows back ends' tests.
#pragma once
#include <cstdint>

#include "gfx/mode.h"

inline uint32_t convertedAs(const pel::ScreenMode* m, int x, int y) {
  const uint8_t* row = m->visibleBuffer + y * m->pitch;
  if (m->bytesPerPixel == 4) return reinterpret_cast<const uint32_t*>(row)[x] & 0xFFFFFF;
  if (m->bytesPerPixel == 2) {
    const uint32_t p = reinterpret_cast<const uint16_t*>(row)[x];
    return ((p & 0xF800) << 8) | ((p & 0x7E0) << 5) | ((p & 0x1F) << 3);
  }
  const uint32_t e = m->palette[row[x]];
  return ((e & 0xFF) << 16) | (e & 0xFF00) | (e >> 16);
}
