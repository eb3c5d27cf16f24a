// Built-in fonts and palettes: the font and palette records, and the one
// block of data that is unpacked once per process at the first mode set.
#pragma once
#include <cstdint>

namespace pel {

// A font of 256 glyphs: `height` rows of (width + 7) / 8 bytes per glyph,
// top row first, bit 0 the leftmost pixel.
struct FontRecord {
  int32_t width;
  int32_t height;
  const uint8_t* glyphs;
};

// A default palette: colour count and RGB triples (0..255 each).
struct PaletteRecord {
  int32_t count;
  const uint8_t* triples;
};

// Font records by index: 0: 8 x 8, 1: 8 x 14, 2: 8 x 16.
// Palette records by index: 0: 2 colours, 1: 16, 2: 64, 3: 256.
// Null for other indices.
const FontRecord* builtinFont(int32_t index);
const PaletteRecord* builtinPalette(int32_t index);

// The font for a glyph height: 8, 14 or 16; null for any other.
const FontRecord* fontsByHeight(int32_t height);

// Unpacks the built-in data if that has not been done yet; false when the
// memory for it cannot be had or the packed data is damaged.
bool unpackBuiltinData();

}  // namespace pel
