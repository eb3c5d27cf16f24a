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

}  // namespace pel
