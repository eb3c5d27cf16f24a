// Drawing with page flips: each frame is drawn on the hidden page and shown
// whole with flip(), so nothing half-drawn is ever on the screen.
//   pages [seconds]   (no seconds: until a key or the close button)
#include <pellucet/pellucet.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  const double limit = argc > 1 ? std::atof(argv[1]) : 0.0;
  if (!pellucet::openScreen(640, 480, 32, 2)) {
    std::fprintf(stderr, "pages: %s\n", pellucet::lastFailure());
    return 1;
  }
  pellucet::setTitle("Pages");
  pellucet::setPages(1, 0);  // draw on page 1 while page 0 is shown
  const double start = pellucet::seconds();
  float x = 20, y = 20, vx = 3, vy = 2;
  int frames = 0;
  while (pellucet::takeKey() == 0 && (limit <= 0 || pellucet::seconds() - start < limit)) {
    pellucet::clear(0xFF101828);
    for (int gx = frames % 32; gx < 640; gx += 32) pellucet::line(gx, 0, gx, 479, 0xFF283850);
    pellucet::fillBox(x, y, x + 63, y + 47, 0xFFE0A020);
    pellucet::box(x - 4, y - 4, x + 67, y + 51, 0xFFFFFFFF);
    pellucet::text(8, 8, "Any key ends", 0xFFFFFFFF);
    pellucet::flip();
    pellucet::waitVsync();
    x += vx;
    y += vy;
    if (x < 4 || x > 640 - 68) vx = -vx;
    if (y < 4 || y > 480 - 52) vy = -vy;
    ++frames;
  }
  std::printf("%d frames on %s\n", frames, pellucet::screenInfo().backend);
  pellucet::closeScreen();
  return 0;
}
