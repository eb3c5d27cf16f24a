// Pictures of the demo's frames as PNG files.
#pragma once
#include <cstdint>

namespace pel {

// Writes width x height pixels of 0x00RRGGBB, row after row; false when the
// file cannot be written.
bool writePng(const char* path, const uint32_t* pixels, int width, int height);

}  // namespace pel
