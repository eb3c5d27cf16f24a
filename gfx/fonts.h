// Built-in fonts and palettes: the font record, and the one block of data
// that is unpacked once per process at the first mode set.
#pragma once
#include <cstdint>

#include "gfx/palettes.h"

namespace pel {

// A font of 256 glyphs: `height` bytes per glyph, one byte per row, bit 0
// the leftmost pixel.
struct FontRecord {
  int32_t width;
  int32_t height;
  const uint8_t* glyphs;
};

// Font descriptors by index: 0: 8 x 8, 1: 8 x 14, 2: 8 x 16.
// Palette descriptors by index: 0: 2 colours, 1: 16, 2: 64, 3: 256.
const FontRecord* builtinFont(int32_t index);
const PaletteRecord* builtinPalette(int32_t index);

// Unpacks the built-in data if that has not been done yet; false when the
// memory for it cannot be had.
bool unpackBuiltinData();

}  // namespace pel
