// What the public layer's modules share, and nothing a program sees.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace pellucet {

// An RGB565 pixel as 0xAARRGGBB by the runtime's rule (each channel shifted
// up, low bits zero), opaque.
constexpr uint32_t argbOf565(uint32_t v) {
  return 0xFF000000u | (v & 0xF800) << 8 | (v & 0x07E0) << 5 | (v & 0x1F) << 3;
}

// The reason lastFailure() gives for a failed image call.
void setPublicFailure(std::string reason);
// Text in the public layer's font on a target (null: the work page), with
// each line's cells filled first when a background is given.
void drawTextOn(const void* target, float x, float y, std::string_view utf8, uint32_t colour,
                const uint32_t* background);

}  // namespace pellucet
