// The default palettes computed from their rules, as a reference for the
// packed built-in data.
#pragma once
#include <array>
#include <cstdint>

namespace pel {

// The triples of all four palettes in order (2, 16, 64, 256 colours).
constexpr int defaultPaletteBytes = 6 + 48 + 192 + 768;
std::array<uint8_t, defaultPaletteBytes> generateDefaultPalettes();

}  // namespace pel
