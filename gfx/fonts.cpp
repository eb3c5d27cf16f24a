#include "fonts.h"

#include <cstring>

#include "gfx/memory.h"

namespace pel {
namespace {

constexpr int32_t fontHeights[3] = {8, 14, 16};
constexpr int32_t paletteCounts[4] = {2, 16, 64, 256};
constexpr int glyphBytes = 256 * (8 + 14 + 16);
constexpr int unpackedBytes = glyphBytes + defaultPaletteBytes;
static_assert(unpackedBytes == 10742);

uint8_t* unpacked = nullptr;
FontRecord fonts[3];
PaletteRecord palettes[4];

}  // namespace

bool unpackBuiltinData() {
  if (unpacked) return true;
  auto* data = static_cast<uint8_t*>(allocateZeroed(unpackedBytes, 1));
  if (!data) return false;
  const auto generated = generateDefaultPalettes();
  std::memcpy(data + glyphBytes, generated.data(), generated.size());
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

}  // namespace pel
