// Text in the built-in fonts or in a font held in an image.
#pragma once
#include <cstdint>

namespace pel {

// A runtime string: its bytes and a length whose top bit marks a temporary
// (the bit is not part of the length). The caller owns the bytes.
struct TextString {
  const char* bytes;
  uint32_t length;
};
constexpr uint32_t temporaryString = 0x80000000u;

// Draws one glyph block of a user font: source, destination, width, height,
// source pitch, destination pitch, colour, and the caller's blender and param.
using GlyphPutter = void (*)(const uint8_t* source, uint8_t* destination, int32_t width, int32_t height,
                             int32_t sourcePitch, int32_t destinationPitch, uint32_t colour, void* blender, void* param);

constexpr int32_t unconvertedColourMode = 6;  // drawing mode: the colour is used as given

// Draws `text` with its top-left corner at (x, y) on `target` (null: the work
// page), in the built-in font of the mode (font null) or in a user font.
// Returns 0, or 1 for a null text or a user font it cannot use; also stored
// as the last error.
int32_t drawString(const void* target, float x, float y, uint32_t flags, const TextString* text, uint32_t colour,
                   const void* font, int32_t mode, GlyphPutter putter, void* blender, void* param);

// A glyph's picture for drawGlyphs, placed at (x, y) from the text's origin.
// Rows run top first: 1 bit a pixel with the leftmost in each byte's top bit
// (loaded bitmap fonts) or its bottom bit (the built-in fonts), or one
// coverage byte a pixel (outline fonts).
struct GlyphPicture {
  enum class Bits : uint8_t { highFirst, lowFirst, coverage };
  const uint8_t* bits;
  int32_t width, height, pitch;
  int32_t x, y;
  Bits kind;
};

// Draws glyph pictures relative to (x, y) on `target` (null: the work page),
// positioned, clipped and coloured as drawString's glyphs are. Coverage is
// blended into 16- and 32-bit targets (full coverage writes the colour
// itself; with alpha primitives the colour's alpha scales it) and taken as
// set from half up in 8-bit ones. Returns 0 (also stored as the last error).
int32_t drawGlyphs(const void* target, float x, float y, const GlyphPicture* glyphs, int32_t count, uint32_t colour);

}  // namespace pel
