#include "pixel.h"

#include <cstring>

#include "cpu.h"
#include "mode.h"
#include "simd_kernels.h"

namespace pel {

PixelRoutines pixelRoutines = {putPixel32, putPixel32, getPixel32, fillSpan32, fillSpan32, copyPixels32};
CopyBytesFn copyBytes = std::memcpy;
FillBytesFn fillBytes = std::memset;

namespace {

// Image targets may have any pitch, so a pixel need not be aligned to its
// size: pixels are read and written as bytes (one move on x86 all the same).
template <typename T>
uint8_t* pixelAt(DrawContext* context, int32_t x, int32_t y) {
  return context->rows[y] + static_cast<std::ptrdiff_t>(x) * static_cast<std::ptrdiff_t>(sizeof(T));
}
template <typename T>
T load(const void* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
template <typename T>
void store(void* p, T v) {
  std::memcpy(p, &v, sizeof v);
}

}  // namespace

void putPixel8(DrawContext* c, int32_t x, int32_t y, uint32_t colour) { *pixelAt<uint8_t>(c, x, y) = static_cast<uint8_t>(colour); }
void putPixel16(DrawContext* c, int32_t x, int32_t y, uint32_t colour) { store(pixelAt<uint16_t>(c, x, y), static_cast<uint16_t>(colour)); }
void putPixel32(DrawContext* c, int32_t x, int32_t y, uint32_t colour) { store(pixelAt<uint32_t>(c, x, y), colour); }
uint32_t getPixel8(DrawContext* c, int32_t x, int32_t y) { return *pixelAt<uint8_t>(c, x, y); }
uint32_t getPixel16(DrawContext* c, int32_t x, int32_t y) { return load<uint16_t>(pixelAt<uint16_t>(c, x, y)); }
uint32_t getPixel32(DrawContext* c, int32_t x, int32_t y) { return load<uint32_t>(pixelAt<uint32_t>(c, x, y)); }

void fillSpan8(void* first, uint32_t colour, int32_t count) {
  if (count > 0) fillBytes(first, static_cast<int>(colour & 0xFF), static_cast<std::size_t>(count));
}

void fillSpan16(void* first, uint32_t colour, int32_t count) {
  auto* p = static_cast<uint8_t*>(first);
  for (int32_t i = 0; i < count; ++i) store(p + 2 * i, static_cast<uint16_t>(colour));
}

void fillSpan32(void* first, uint32_t colour, int32_t count) {
  auto* p = static_cast<uint8_t*>(first);
  for (int32_t i = 0; i < count; ++i) store(p + 4 * i, colour);
}

namespace {

inline uint32_t blendPortable(uint32_t pixel, uint32_t colour) { return blendValue(pixel, colour); }

}  // namespace

void blendPixel32(DrawContext* c, int32_t x, int32_t y, uint32_t colour) {
  uint8_t* p = pixelAt<uint32_t>(c, x, y);
  store(p, blendPortable(load<uint32_t>(p), colour));
}

void blendSpan32(void* first, uint32_t colour, int32_t count) {
  auto* p = static_cast<uint8_t*>(first);
  for (int32_t i = 0; i < count; ++i) store(p + 4 * i, blendPortable(load<uint32_t>(p + 4 * i), colour));
}

void blendPixel32Vector(DrawContext* c, int32_t x, int32_t y, uint32_t colour) {
  uint8_t* p = pixelAt<uint32_t>(c, x, y);
  store(p, simd::blendVectorPixel(load<uint32_t>(p), colour));
}

void copyPixels8(void* d, const void* s, int32_t count) {
  if (count > 0) copyBytes(d, s, static_cast<std::size_t>(count));
}
void copyPixels16(void* d, const void* s, int32_t count) {
  if (count > 0) copyBytes(d, s, static_cast<std::size_t>(count) * 2);
}
void copyPixels32(void* d, const void* s, int32_t count) {
  if (count > 0) copyBytes(d, s, static_cast<std::size_t>(count) * 4);
}

const VectorRoutines* sse2Table();
const VectorRoutines* avx2Table();

const VectorRoutines* sse2Routines() { return (detectCpu() & cpubit::sse2) ? sse2Table() : nullptr; }
const VectorRoutines* avx2Routines() { return cpuHasAvx2() ? avx2Table() : nullptr; }

const VectorRoutines* vectorRoutines() {
  static const VectorRoutines* best = avx2Routines() ? avx2Routines() : sse2Routines();
  return best;
}

uint32_t convertColour(int32_t bytesPerPixel, uint32_t colour) {
  switch (bytesPerPixel) {
    case 1: return colour & 0xFF;
    case 2: return ((colour >> 8) & 0xF800) | ((colour >> 5) & 0x07E0) | ((colour & 0xFF) >> 3);
    default: return colour;
  }
}

uint32_t rgbForDepth(int32_t bytesPerPixel, uint32_t value, uint32_t red, uint32_t green, uint32_t blue) {
  if (bytesPerPixel != 2) return value;
  return ((red << 8) & 0xF800) | ((green << 3) & 0x07E0) | (blue >> 3);
}

void selectPixelRoutines(int32_t bytesPerPixel) {
  ScreenMode* mode = currentMode();
  const VectorRoutines* vector = vectorRoutines();
  // The hooks depend on the processor only: they are written once, so a
  // window thread copying through them never sees them change.
  const CopyBytesFn copy = vector ? vector->blockCopy : std::memcpy;
  const FillBytesFn fill = vector ? vector->blockFill : std::memset;
  if (copyBytes != copy) copyBytes = copy;
  if (fillBytes != fill) fillBytes = fill;
  if (vector && mode) mode->flags |= screenflag::vector;
  const bool alpha = mode && (mode->flags & screenflag::alphaPrimitives);
  switch (bytesPerPixel) {
    case 1:
      pixelRoutines = {putPixel8, putPixel8, getPixel8, fillSpan8, fillSpan8, copyPixels8};
      break;
    case 2: {
      const FillSpanFn fill = vector ? vector->fillSpan16 : fillSpan16;
      pixelRoutines = {putPixel16, putPixel16, getPixel16, fill, fill, copyPixels16};
      break;
    }
    default: {
      const FillSpanFn fill = vector ? vector->fillSpan32 : fillSpan32;
      const PutPixelFn blendPut = vector ? vector->blendPixel32 : blendPixel32;
      const FillSpanFn blendFill = vector ? vector->blendSpan32 : blendSpan32;
      pixelRoutines = {putPixel32, alpha ? blendPut : putPixel32, getPixel32, fill,
                       alpha ? blendFill : fill, copyPixels32};
      break;
    }
  }
}

void chooseDrawRoutines(DrawContext* context, uint32_t colour) {
  const ScreenMode* mode = currentMode();
  const bool blend = mode && (mode->flags & screenflag::alphaPrimitives) && context->targetBytesPerPixel == 4 &&
                     (colour >> 24) != 0xFF;
  context->putPixel = blend ? pixelRoutines.blendPut : pixelRoutines.put;
  context->fillSpan = blend ? pixelRoutines.blendFill : pixelRoutines.fill;
  context->getPixel = pixelRoutines.get;
}

}  // namespace pel
