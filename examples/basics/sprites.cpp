// Sprites: many copies of two small pictures over a background, one put with
// its colour key (magenta shows nothing) and one blended by its alpha. The
// pictures are drawn here, saved as PNG files and loaded back, as a program
// would load its own.
//   sprites [seconds] [folder]   (no seconds: until a key; the files go to
//                                 the folder, the system's temporary one by
//                                 default)
#include <pellucet/pellucet.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// A soft green ball: opaque in the middle, fading out at its edge.
pellucet::Image ball() {
  pellucet::Image image(32, 32, 32);
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 32; ++x) {
      const double d = std::hypot(x - 15.5, y - 15.5) / 16.0;
      const auto alpha = static_cast<uint32_t>(d >= 1.0 ? 0 : 255 * (1.0 - d * d));
      image.setPixel(x, y, alpha << 24 | 0x40FF60);
    }
  }
  return image;
}

// A yellow star on magenta, the colour key.
pellucet::Image star() {
  pellucet::Image image(24, 24, 32);
  pellucet::clear(image, 0xFFFF00FF);
  for (int i = 0; i < 5; ++i) {
    const double a = i * 4 * 3.14159265 / 5 - 3.14159265 / 2, b = (i + 1) * 4 * 3.14159265 / 5 - 3.14159265 / 2;
    pellucet::line(image, 12 + 11 * static_cast<float>(std::cos(a)), 12 + 11 * static_cast<float>(std::sin(a)),
                   12 + 11 * static_cast<float>(std::cos(b)), 12 + 11 * static_cast<float>(std::sin(b)), 0xFFFFE020);
  }
  pellucet::fillBox(image, 9, 9, 14, 14, 0xFFFFE020);
  return image;
}

struct Sprite {
  float x, y, vx, vy;
  bool blended;
};

}  // namespace

int main(int argc, char** argv) {
  const double limit = argc > 1 ? std::atof(argv[1]) : 0.0;
  const std::filesystem::path folder = argc > 2 ? std::filesystem::path(argv[2]) : std::filesystem::temp_directory_path();
  if (!pellucet::openScreen(640, 480, 32, 2)) {
    std::fprintf(stderr, "sprites: %s\n", pellucet::lastFailure());
    return 1;
  }
  pellucet::setTitle("Sprites");
  // PNG where the library reads it (builds without libpng save BMP).
  std::string ballFile = (folder / "pellucet-ball.png").string(), starFile = (folder / "pellucet-star.png").string();
  if (!pellucet::savePng(ball(), ballFile.c_str()) || !pellucet::savePng(star(), starFile.c_str())) {
    ballFile = (folder / "pellucet-ball.bmp").string();
    starFile = (folder / "pellucet-star.bmp").string();
    if (!pellucet::saveBmp(ball(), ballFile.c_str()) || !pellucet::saveBmp(star(), starFile.c_str())) {
      std::fprintf(stderr, "sprites: %s\n", pellucet::lastFailure());
      return 1;
    }
  }
  const pellucet::Image ballImage = pellucet::loadImage(ballFile.c_str()), starImage = pellucet::loadImage(starFile.c_str());
  if (!ballImage || !starImage) {
    std::fprintf(stderr, "sprites: %s\n", pellucet::lastFailure());
    return 1;
  }
  // The background: a checker drawn once into an image of its own.
  pellucet::Image background(640, 480, 32);
  for (int y = 0; y < 480; y += 40) {
    for (int x = 0; x < 640; x += 40) {
      pellucet::fillBox(background, x, y, x + 39, y + 39, ((x + y) / 40) % 2 ? 0xFF202838 : 0xFF303848);
    }
  }
  pellucet::seedRandom(1);
  std::vector<Sprite> sprites(200);
  for (Sprite& s : sprites) {
    s = {static_cast<float>(pellucet::randomBetween(0, 600)), static_cast<float>(pellucet::randomBetween(0, 440)),
         static_cast<float>(pellucet::randomBetween(-30, 30)) / 10, static_cast<float>(pellucet::randomBetween(-30, 30)) / 10,
         pellucet::randomBetween(0, 1) == 1};
  }
  pellucet::setPages(1, 0);
  const double start = pellucet::seconds();
  int frames = 0;
  char rate[64] = "";
  while (pellucet::takeKey() == 0 && (limit <= 0 || pellucet::seconds() - start < limit)) {
    pellucet::put(background, 0, 0);
    for (Sprite& s : sprites) {
      const pellucet::Image& image = s.blended ? ballImage : starImage;
      pellucet::put(image, static_cast<int>(s.x), static_cast<int>(s.y),
                    s.blended ? pellucet::PutMode::alpha : pellucet::PutMode::colourKey, 0xFF00FF);
      s.x += s.vx;
      s.y += s.vy;
      if (s.x < -8 || s.x > 640 - 24) s.vx = -s.vx;
      if (s.y < -8 || s.y > 480 - 24) s.vy = -s.vy;
    }
    ++frames;
    if (frames % 30 == 0) std::snprintf(rate, sizeof rate, "%.0f frames a second", frames / (pellucet::seconds() - start));
    pellucet::text(8, 8, rate, 0xFFFFFFFF, 0xFF000000);
    pellucet::flip();
  }
  std::printf("%d frames on %s\n", frames, pellucet::screenInfo().backend);
  return 0;
}
