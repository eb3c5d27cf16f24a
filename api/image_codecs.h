// The image file formats, one module each, over one rule for what an image
// may be. Readers take the whole file in memory and give a 32-bit image
// (0xAARRGGBB) or an empty one with the reason in lastFailure(); writers give
// the whole file in memory, which image_files.cpp writes safely (a temporary
// file renamed over the target), so no writer touches the file system.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "pellucet/pellucet.h"

namespace pellucet::codec {

// Every image, made or read: 1 to 32767 pixels a side and at most 2^28
// pixels (16384 x 16384), so that any image saved loads back as 32 bits
// within 1 GiB.
constexpr int64_t largestSide = 32767;
constexpr int64_t largestPixels = int64_t{1} << 28;
// True when a width x height image may be made; else false with the reason.
bool sizeAllowed(int64_t width, int64_t height, std::string& reason);
// The reason put in lastFailure(), and an empty image to return.
Image failed(std::string reason);

// Readers. Each checks the size it reads against sizeAllowed before it
// allocates. PNG and JPEG come from libpng and libjpeg where the build has
// them, and from the Windows Imaging Component on Windows.
Image readPng(const uint8_t* data, std::size_t size);
Image readJpeg(const uint8_t* data, std::size_t size);
Image readBmp(const uint8_t* data, std::size_t size);

// Writers, of a 32-bit image; `opaque` says every pixel's alpha is 255 (or
// means nothing), so the file need carry no alpha.
bool writePng(const Image& argb, bool opaque, std::vector<uint8_t>& file);
bool writeBmp(const Image& argb, std::vector<uint8_t>& file);

// How a PNG's gAMA (in 1/100000) shows on an sRGB screen (gamma 2.2): a
// sample v as v^exponent. 0 when nothing is converted: no gAMA, an sRGB
// chunk, or a gAMA within 5 % of sRGB's (libpng's threshold). `exact` is
// 1 / (gAMA x 2.2); `eightBit` is that as libpng keeps it, in 1/100000,
// which its 8-bit tables use (so every platform gives libpng's pixels).
struct PngGamma {
  double exact = 0, eightBit = 0;
};
PngGamma pngGamma(uint32_t fileGamma, bool sRgbChunk);
// Sample values of `levels` steps (256 or 65536) through an exponent, as 8
// bits: round(255 (v / (levels - 1))^exponent).
std::vector<uint8_t> gammaTable(std::size_t levels, double exponent);

// A JPEG's EXIF orientation (1 to 8; 1, as stored, when it has none), and an
// image turned by it so that it shows upright.
int jpegOrientation(const uint8_t* data, std::size_t size);
Image oriented(Image image, int orientation);

}  // namespace pellucet::codec
