#include "fonts.h"

#include <cstdlib>

#include "gfx/builtin_data.h"
#include "gfx/lzw.h"
#include "gfx/memory.h"

namespace pel {
namespace {

constexpr int32_t fontHeights[3] = {8, 14, 16};
constexpr int32_t paletteCounts[4] = {2, 16, 64, 256};

uint8_t* unpacked = nullptr;
FontRecord fonts[3];
PaletteRecord palettes[4];

}  // namespace

bool unpackBuiltinData() {
  if (unpacked) return true;
  auto* data = static_cast<uint8_t*>(allocate(builtinUnpackedSize));
  if (!data) return false;
  std::size_t length = builtinUnpackedSize;
  if (lzwDecode(builtinPacked, static_cast<std::size_t>(builtinPackedSize()), data, length) != 0 ||
      length != builtinUnpackedSize) {
    std::free(data);
    return false;
  }
  const uint8_t* at = data;
  for (int i = 0; i < 3; ++i) {
    fonts[i] = {8, fontHeights[i], at};
    at += 256 * fontHeights[i];
  }
  for (int i = 0; i < 4; ++i) {
    palettes[i] = {paletteCounts[i], at};
    at += 3 * paletteCounts[i];
  }
  unpacked = data;
  return true;
}

const FontRecord* builtinFont(int32_t index) { return index >= 0 && index < 3 ? &fonts[index] : nullptr; }
const PaletteRecord* builtinPalette(int32_t index) { return index >= 0 && index < 4 ? &palettes[index] : nullptr; }

const FontRecord* fontsByHeight(int32_t height) {
  switch (height) {
    case 8: return &fonts[0];
    case 14: return &fonts[1];
    case 16: return &fonts[2];
    default: return nullptr;
  }
}

}  // namespace pel
