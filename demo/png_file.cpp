#include "png_file.h"

#include <png.h>

#include <cstdio>
#include <vector>

namespace pel {

bool writePng(const char* path, const uint32_t* pixels, int width, int height) {
  FILE* file = std::fopen(path, "wb");
  if (!file) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  // Built before setjmp: nothing the jump skips needs its destructor.
  std::vector<png_byte> row(static_cast<std::size_t>(width) * 3);
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const uint32_t p = pixels[static_cast<std::size_t>(y) * width + x];
      row[x * 3] = static_cast<png_byte>(p >> 16);
      row[x * 3 + 1] = static_cast<png_byte>(p >> 8);
      row[x * 3 + 2] = static_cast<png_byte>(p);
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return std::fclose(file) == 0;
}

}  // namespace pel
