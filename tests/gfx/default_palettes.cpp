#include "default_palettes.h"

namespace pel {
namespace {

// The VGA BIOS palette in 6-bit components.
struct Rgb6 {
  uint8_t r, g, b;
};

constexpr Rgb6 ega16[16] = {{0, 0, 0},   {0, 0, 42},  {0, 42, 0},  {0, 42, 42},  {42, 0, 0},   {42, 0, 42},
                            {42, 21, 0}, {42, 42, 42}, {21, 21, 21}, {21, 21, 63}, {21, 63, 21}, {21, 63, 63},
                            {63, 21, 21}, {63, 21, 63}, {63, 63, 21}, {63, 63, 63}};

constexpr uint8_t greyRamp[16] = {0, 5, 8, 11, 14, 17, 20, 24, 28, 32, 36, 40, 45, 50, 56, 63};

// Component levels of the nine 24-colour hue rings: three intensities, each
// in three saturations, from the weakest level to the strongest.
constexpr uint8_t ringLevels[9][5] = {
    {0, 16, 31, 47, 63}, {31, 39, 47, 55, 63}, {45, 49, 54, 58, 63},
    {0, 7, 14, 21, 28},  {14, 17, 21, 24, 28}, {20, 22, 24, 26, 28},
    {0, 4, 8, 12, 16},   {8, 10, 12, 14, 16},  {11, 12, 13, 15, 16},
};

// Hue ring position 0..23: blue, magenta, red, yellow, green, cyan, back to blue.
Rgb6 ringColour(const uint8_t* level, int position) {
  const int step = position % 4, side = position / 4;
  const uint8_t lo = level[0], hi = level[4], up = level[step], down = level[4 - step];
  switch (side) {
    case 0: return {up, lo, hi};
    case 1: return {hi, lo, down};
    case 2: return {hi, up, lo};
    case 3: return {down, hi, lo};
    case 4: return {lo, hi, up};
    default: return {lo, down, hi};
  }
}

uint8_t widen(uint8_t c6) { return static_cast<uint8_t>(c6 * 255 / 63); }

}  // namespace

std::array<uint8_t, defaultPaletteBytes> generateDefaultPalettes() {
  std::array<uint8_t, defaultPaletteBytes> out{};
  uint8_t* p = out.data();
  auto put = [&p](uint8_t r, uint8_t g, uint8_t b) {
    *p++ = r;
    *p++ = g;
    *p++ = b;
  };
  put(0, 0, 0);
  put(255, 255, 255);
  for (const Rgb6& c : ega16) put(widen(c.r), widen(c.g), widen(c.b));
  for (int i = 0; i < 64; ++i) {
    auto bits = [i](int high, int low) {
      return static_cast<uint8_t>(170 * ((i >> high) & 1) + 85 * ((i >> low) & 1));
    };
    put(bits(2, 5), bits(1, 4), bits(0, 3));
  }
  for (const Rgb6& c : ega16) put(widen(c.r), widen(c.g), widen(c.b));
  for (uint8_t g : greyRamp) put(widen(g), widen(g), widen(g));
  for (const auto& level : ringLevels) {
    for (int position = 0; position < 24; ++position) {
      const Rgb6 c = ringColour(level, position);
      put(widen(c.r), widen(c.g), widen(c.b));
    }
  }
  for (int i = 248; i < 256; ++i) put(0, 0, 0);
  return out;
}

}  // namespace pel
