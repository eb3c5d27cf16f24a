// An image viewer: shows a PNG or BMP file in a screen of its size; any key
// or the close button ends it.
//   view FILE [seconds]
#include <pellucet/pellucet.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("usage: view FILE [seconds]\n", stderr);
    return 2;
  }
  const double limit = argc > 2 ? std::atof(argv[2]) : 0.0;
  const pellucet::Image image = pellucet::loadImage(argv[1]);
  if (!image) {
    std::fprintf(stderr, "view: %s: %s\n", argv[1], pellucet::lastFailure());
    return 1;
  }
  if (!pellucet::openScreen(std::max(image.width(), 64), std::max(image.height(), 16), 32, 1)) {
    std::fprintf(stderr, "view: %s\n", pellucet::lastFailure());
    return 1;
  }
  pellucet::setTitle(argv[1]);
  pellucet::put(image, 0, 0);
  pellucet::flip();
  const double start = pellucet::seconds();
  while (pellucet::takeKey() == 0 && (limit <= 0 || pellucet::seconds() - start < limit)) pellucet::sleepMs(20);
  return 0;
}
