// Runs the demo's frames on the null back end for a few seconds, prints the
// frame rate it measured and writes the last frame shown as a PNG.
// Usage: pellucet-headless [seconds] [picture.png]
#include <cstdio>
#include <cstdlib>

#include "demo/disc.h"
#include "demo/pellucet.h"
#include "demo/png_file.h"
#include "gfx/mode.h"
#include "gfx/pages.h"
#include "runtime/clock.h"
#include "runtime/keys.h"
#include "runtime/runtime.h"

using namespace pel;

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
