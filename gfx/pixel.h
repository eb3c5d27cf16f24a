// Per-depth pixel routines, the byte-level copy and fill hooks, the per-call
// choice of routines and colour conversion.
#pragma once
#include <cstddef>
#include <cstdint>

namespace pel {

struct DrawContext;

using PutPixelFn = void (*)(DrawContext* context, int32_t x, int32_t y, uint32_t colour);
using GetPixelFn = uint32_t (*)(DrawContext* context, int32_t x, int32_t y);
using FillSpanFn = void (*)(void* first, uint32_t colour, int32_t count);
using CopyPixelsFn = void (*)(void* destination, const void* source, int32_t count);
using CopyBytesFn = void* (*)(void* destination, const void* source, std::size_t count);
using FillBytesFn = void* (*)(void* destination, int value, std::size_t count);

// The routine set that selectPixelRoutines fills for one pixel size.
struct PixelRoutines {
  PutPixelFn put;
  PutPixelFn blendPut;
  GetPixelFn get;
  FillSpanFn fill;
  FillSpanFn blendFill;
  CopyPixelsFn copy;
};

extern PixelRoutines pixelRoutines;
extern CopyBytesFn copyBytes;  // memcpy, or the vector block copy
extern FillBytesFn fillBytes;  // memset, or the vector block fill

// Fills the routine set and the byte hooks for a pixel size; with the vector
// routines it also sets the open mode's vector flag.
void selectPixelRoutines(int32_t bytesPerPixel);
// Copies the routines for `colour` into the context's three slots.
void chooseDrawRoutines(DrawContext* context, uint32_t colour);

uint32_t convertColour(int32_t bytesPerPixel, uint32_t colour);

// The blend of a 32-bit colour over a pixel, by the colour's alpha: each
// channel (d * (256 - a) + s * a) >> 8, the result's alpha the colour's. Red
// and blue share one word: each 16-bit lane holds at most 256 * 255, so the
// lanes never carry into each other.
constexpr uint32_t blendValue(uint32_t pixel, uint32_t colour) {
  const uint32_t a = colour >> 24, na = 256 - a;
  const uint32_t rb = ((pixel & 0xFF00FFu) * na + (colour & 0xFF00FFu) * a) >> 8 & 0xFF00FFu;
  const uint32_t g = ((pixel & 0xFF00u) * na + (colour & 0xFF00u) * a) >> 8 & 0xFF00u;
  return a << 24 | rb | g;
}
uint32_t rgbForDepth(int32_t bytesPerPixel, uint32_t value, uint32_t red, uint32_t green, uint32_t blue);

// Portable routines.
void putPixel8(DrawContext* context, int32_t x, int32_t y, uint32_t colour);
void putPixel16(DrawContext* context, int32_t x, int32_t y, uint32_t colour);
void putPixel32(DrawContext* context, int32_t x, int32_t y, uint32_t colour);
uint32_t getPixel8(DrawContext* context, int32_t x, int32_t y);
uint32_t getPixel16(DrawContext* context, int32_t x, int32_t y);
uint32_t getPixel32(DrawContext* context, int32_t x, int32_t y);
void fillSpan8(void* first, uint32_t colour, int32_t count);  // through fillBytes
void fillSpan16(void* first, uint32_t colour, int32_t count);
void fillSpan32(void* first, uint32_t colour, int32_t count);
// Blending: each of red, green and blue becomes d + floor(a * (s - d) / 256)
// with a the colour's top byte. The portable forms store a as the top byte.
void blendPixel32(DrawContext* context, int32_t x, int32_t y, uint32_t colour);
void blendSpan32(void* first, uint32_t colour, int32_t count);
void copyPixels8(void* destination, const void* source, int32_t count);
void copyPixels16(void* destination, const void* source, int32_t count);
void copyPixels32(void* destination, const void* source, int32_t count);

// The vector forms' single-pixel blend (top byte blended like the channels).
void blendPixel32Vector(DrawContext* context, int32_t x, int32_t y, uint32_t colour);

// Vector routines: the same results, except that blending computes the top
// byte like the other channels. Null where the processor lacks them.
struct VectorRoutines {
  FillSpanFn fillSpan16;
  FillSpanFn fillSpan32;
  FillSpanFn blendSpan32;
  PutPixelFn blendPixel32;
  CopyBytesFn blockCopy;
  FillBytesFn blockFill;
};
// The best set the processor runs, or null without the vector extensions.
const VectorRoutines* vectorRoutines();
// The SSE2 and AVX2 sets, each null when the processor lacks it (for tests
// and benchmarks that compare the forms).
const VectorRoutines* sse2Routines();
const VectorRoutines* avx2Routines();

}  // namespace pel
