// An 8-bit palette cycle: the pixels are drawn once; only the palette
// changes, and each change repaints the screen.
//   palette [seconds]   (no seconds: until a key or the close button)
#include <pellucet/pellucet.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  const double limit = argc > 1 ? std::atof(argv[1]) : 0.0;
  if (!pellucet::openScreen(320, 200, 8, 1)) {
    std::fprintf(stderr, "palette: %s\n", pellucet::lastFailure());
    return 1;
  }
  // Rings of indices 1-255 around the middle; index 0 stays black.
  pellucet::Pixels p = pellucet::lockPixels();
  for (int y = 0; y < p.height; ++y) {
    for (int x = 0; x < p.width; ++x) {
      const double d = std::hypot(x - 160.0, (y - 100.0) * 1.2);
      p.data[y * p.pitch + x] = static_cast<uint8_t>(1 + static_cast<int>(d * 2) % 255);
    }
  }
  pellucet::unlockPixels();
  const double start = pellucet::seconds();
  for (int shift = 0; pellucet::takeKey() == 0 && (limit <= 0 || pellucet::seconds() - start < limit); ++shift) {
    for (int i = 1; i < 256; ++i) {
      const double phase = (i + shift) * 6.2831853 / 255.0;
      pellucet::setPalette(i, static_cast<uint8_t>(127 + 127 * std::sin(phase)),
                           static_cast<uint8_t>(127 + 127 * std::sin(phase + 2.094)),
                           static_cast<uint8_t>(127 + 127 * std::sin(phase + 4.189)));
    }
    pellucet::sleepMs(16);
  }
  pellucet::closeScreen();
  return 0;
}
