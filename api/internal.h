// What the public layer's modules share, and nothing a program sees.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pellucet {

// An RGB565 pixel as 0xAARRGGBB by the runtime's rule (each channel shifted
// up, low bits zero), opaque.
constexpr uint32_t argbOf565(uint32_t v) {
  return 0xFF000000u | (v & 0xF800) << 8 | (v & 0x07E0) << 5 | (v & 0x1F) << 3;
}

// An RGB565 pixel widened by repeating each channel's top bits (31 becomes
// 255), as the console reads colours back: what files and screenshots keep.
constexpr uint32_t argbOf565Replicated(uint32_t v) {
  const uint32_t r = v >> 11 & 31, g = v >> 5 & 63, b = v & 31;
  return 0xFF000000u | (r << 3 | r >> 2) << 16 | (g << 2 | g >> 4) << 8 | (b << 3 | b >> 2);
}

// A palette entry as the mode keeps it (0x00BBGGRR) as opaque 0xAARRGGBB.
constexpr uint32_t argbOfPaletteEntry(uint32_t e) {
  return 0xFF000000u | (e & 0xFF) << 16 | (e & 0xFF00) | (e >> 16 & 0xFF);
}

class Image;
// PNG, or BMP for a path ending in .bmp (any letter case).
bool saveByExtension(const Image& image, const char* path);

// A regular file's bytes, refused (with the reason in lastFailure()) when it
// is no regular file, cannot be read or is larger than `largest` bytes; `kind`
// names what the file was to be in that reason ("image file").
bool readFile(const char* path, std::vector<uint8_t>& bytes, int64_t largest, const char* kind);

// The reason lastFailure() gives for a failed image call.
void setPublicFailure(std::string reason);
// Text in the public layer's font on a target (null: the work page), with
// each line's cells filled first when a background is given.
void drawTextOn(const void* target, float x, float y, std::string_view utf8, uint32_t colour,
                const uint32_t* background);

}  // namespace pellucet
