// Runs the demo's frames on the null back end for a few seconds, prints the
// frame rate it measured and writes the last frame shown as a PNG.
// Usage: pellucet-headless [seconds] [picture.png]
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "demo/disc.h"
#include "demo/pellucet.h"
#include "gfx/mode.h"
#include "gfx/pages.h"
#include "runtime/clock.h"
#include "runtime/keys.h"
#include "runtime/runtime.h"

using namespace pel;

namespace {

bool writePng(const char* path, const uint32_t* pixels, int width, int height) {
  FILE* file = std::fopen(path, "wb");
  if (!file) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  std::vector<png_byte> row(static_cast<std::size_t>(width) * 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const uint32_t p = pixels[y * width + x];
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

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
  const char* picture = argc > 2 ? argv[2] : "pellucet.png";
  setenv("KELGFX", "null", 1);
  runtimeInit(argc, argv, 0);
  if (openScreenBySize(800, 600, 32, 2, 36, 0) != 0) {
    std::fputs("pellucet-headless: the null back end did not open\n", stderr);
    return 1;
  }
  setPages(1, 0);
  setTitle("Pellucet v0.50 by Ixo");
  screenBase = reinterpret_cast<uint32_t*>(workPagePointer());
  DemoState state;
  if (!demoStart(state, timerSeconds(), timerSeconds)) return 1;
  const double start = timerSeconds();
  uint64_t frames = 0;
  while (timerSeconds() - start < seconds) {
    demoFrame(state);
    sleepMs(1);
    ++frames;
  }
  const double elapsed = timerSeconds() - start;
  std::printf("%llu frames in %.2f s: %.1f frames per second (the demo showed \"%s\")\n",
              static_cast<unsigned long long>(frames), elapsed, frames / elapsed, frameRateText(state).c_str());
  const bool written = writePng(picture, reinterpret_cast<const uint32_t*>(currentMode()->pages[0]), 800, 600);
  demoEnd(state);
  closeScreen();
  if (!written) {
    std::fprintf(stderr, "pellucet-headless: could not write %s\n", picture);
    return 1;
  }
  std::printf("last frame written to %s\n", picture);
  return 0;
}
