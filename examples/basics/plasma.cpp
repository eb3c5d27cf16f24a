// A 160 x 100 plasma in a window three times its size that the user may
// resize or maximise: the picture keeps its shape, with black bars, and the
// mouse still reports page pixels (a dot follows it).
//   plasma [seconds]   (no seconds: until a key or the close button)
#include <pellucet/pellucet.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  const double limit = argc > 1 ? std::atof(argv[1]) : 0.0;
  constexpr int width = 160, height = 100;
  if (!pellucet::openScreen(width, height, 32, 2, pellucet::zoom(3) | pellucet::resizable)) {
    std::fprintf(stderr, "plasma: %s\n", pellucet::lastFailure());
    return 1;
  }
  pellucet::setTitle("Plasma");
  pellucet::setPages(1, 0);
  // One period of a sine as bytes, and a palette of 256 colours around it.
  uint8_t wave[256];
  uint32_t colours[256];
  for (int i = 0; i < 256; ++i) {
    const double a = i * 6.2831853 / 256.0;
    wave[i] = static_cast<uint8_t>(127.5 + 127.5 * std::sin(a));
    const auto channel = [&](double shift) { return static_cast<uint32_t>(127.5 + 127.5 * std::sin(a + shift)); };
    colours[i] = 0xFF000000u | channel(0.0) << 16 | channel(2.094) << 8 | channel(4.189);
  }
  const double start = pellucet::seconds();
  int frames = 0;
  char line[40] = "";
  while (pellucet::takeKey() == 0 && (limit <= 0 || pellucet::seconds() - start < limit)) {
    const pellucet::Pixels p = pellucet::lockPixels();
    const int t = frames * 3;
    for (int y = 0; y < height; ++y) {
      auto* row = reinterpret_cast<uint32_t*>(p.data + y * p.pitch);
      for (int x = 0; x < width; ++x) {
        const int v = wave[(x * 3 + t) & 255] + wave[(y * 4 - t) & 255] + wave[(x + y + t / 2) & 255];
        row[x] = colours[(v / 3 + t) & 255];
      }
    }
    pellucet::unlockPixels();
    const pellucet::Mouse m = pellucet::mouse();
    if (m.x >= 0) pellucet::fillBox(m.x - 1, m.y - 1, m.x + 1, m.y + 1, 0xFFFFFFFF);
    if (frames % 30 == 0) {
      const double elapsed = pellucet::seconds() - start;
      std::snprintf(line, sizeof line, "%.0f fps", elapsed > 0 ? frames / elapsed : 0.0);
    }
    pellucet::textFont(pellucet::Font::font8x8);
    pellucet::text(2, 2, line, 0xFFFFFFFF, 0xFF000000);
    pellucet::flip();
    pellucet::waitVsync();
    ++frames;
  }
  std::printf("%d frames on %s at zoom %d\n", frames, pellucet::screenInfo().backend, pellucet::screenInfo().zoom);
  pellucet::closeScreen();
  return 0;
}
