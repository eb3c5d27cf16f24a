// Default palettes of 2, 16, 64 and 256 colours, and the palette record.
#pragma once
#include <array>
#include <cstdint>

namespace pel {

// Descriptor of a default palette: colour count and RGB triples (0..255).
struct PaletteRecord {
  int32_t count;
  const uint8_t* triples;
};

// The triples of all four palettes in order (2, 16, 64, 256 colours):
// 6 + 48 + 192 + 768 bytes, as the built-in data holds them.
constexpr int defaultPaletteBytes = 6 + 48 + 192 + 768;
std::array<uint8_t, defaultPaletteBytes> generateDefaultPalettes();

}  // namespace pel
