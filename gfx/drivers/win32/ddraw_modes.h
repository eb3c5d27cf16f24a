// The "DirectX" back end's search for a full-screen display mode: the asked
// mode, then the same size at the partner depth (16 and 15, 32 and 24), then
// the next taller standard height, with the picture centred vertically.
#pragma once

#include <cstdint>
#include <functional>

namespace pel::ddraw {

constexpr uint32_t standardVgaMode = 1;  // DDSDM_STANDARDVGAMODE

// The depth that stands for this one when the display lacks it, 0 for none.
constexpr int32_t partnerDepth(int32_t depth) {
  switch (depth) {
    case 16: return 15;
    case 15: return 16;
    case 32: return 24;
    case 24: return 32;
    default: return 0;
  }
}

// The depth a display mode of that pixel format stands for: 16-bit modes
// with the 5-5-5 green mask are 15-bit ones.
constexpr int32_t modeDepth(uint32_t rgbBitCount, uint32_t greenMask) {
  return rgbBitCount == 16 && greenMask == 0x3E0 ? 15 : static_cast<int32_t>(rgbBitCount);
}

// The standard height above h, 0 beyond the largest.
constexpr int32_t nextStandardHeight(int32_t h) {
  constexpr int32_t heights[] = {240, 480, 600, 768, 1024};
  for (int32_t standard : heights) {
    if (h < standard) return standard;
  }
  return 0;
}

// Asks `set` (width, height, depth, refresh rate, flags; true when the
// display took the mode) for each candidate in turn. The picture's vertical
// offset in the mode that was set, or -1 when none was.
inline int32_t searchDisplayMode(int32_t width, int32_t height, int32_t depth, int32_t refreshRate,
                                 const std::function<bool(int32_t, int32_t, int32_t, int32_t, uint32_t)>& set) {
  for (int32_t h = height; h != 0; h = nextStandardHeight(h)) {
    const uint32_t flags = width == 320 && h == 200 && depth == 8 ? standardVgaMode : 0;
    const int32_t partner = partnerDepth(depth);
    if (set(width, h, depth, refreshRate, flags) || (partner && set(width, h, partner, refreshRate, flags))) {
      return (h - height) / 2;
    }
  }
  return -1;
}

}  // namespace pel::ddraw
