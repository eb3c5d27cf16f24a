// The PNG, JPEG and BMP readers on any bytes: a clear failure or an image
// whose every pixel can be read, never a read past the input or a huge
// allocation; what loads saves as PNG and BMP and loads back the same.
#include <pellucet/pellucet.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A copy of exactly the input's size, so any read past it is caught.
  std::vector<uint8_t> bytes(data, data + size);
  const pellucet::Image image = pellucet::loadImage(bytes.data(), bytes.size());
  if (!image) {
    if (std::strlen(pellucet::lastFailure()) == 0) std::abort();
    return 0;
  }
  if (image.width() < 1 || image.height() < 1 || image.width() > 32767 || image.height() > 32767 || int64_t{image.width()} * image.height() > (int64_t{1} << 28)) std::abort();
  // What loaded saves, and loads back as it was (BMP keeps no alpha).
  if (static_cast<int64_t>(image.width()) * image.height() > 65536) return 0;
  static const std::string folder = [] {
    char pattern[] = "/tmp/fuzz-images-XXXXXX";
    return std::string(mkdtemp(pattern) ? pattern : "/tmp");
  }();
  for (const char* name : {"/saved.png", "/saved.bmp"}) {
    const std::string path = folder + name;
    const bool png = name[7] == 'p';
    if (!(png ? pellucet::savePng(image, path.c_str()) : pellucet::saveBmp(image, path.c_str()))) std::abort();
    const pellucet::Image back = pellucet::loadImage(path.c_str());
    if (!back || back.width() != image.width() || back.height() != image.height()) std::abort();
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < image.width(); ++x) {
        if (back.pixel(x, y) != (png ? image.pixel(x, y) : image.pixel(x, y) | 0xFF000000u)) std::abort();
      }
    }
    std::remove(path.c_str());
  }
  return 0;
}
