// The PNG and BMP readers on any bytes: a clear failure or an image whose
// every pixel can be read, never a read past the input or a huge allocation.
#include <pellucet/pellucet.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A copy of exactly the input's size, so any read past it is caught.
  std::vector<uint8_t> bytes(data, data + size);
  const pellucet::Image image = pellucet::loadImage(bytes.data(), bytes.size());
  if (!image) {
    if (std::strlen(pellucet::lastFailure()) == 0) std::abort();
    return 0;
  }
  if (image.width() < 1 || image.height() < 1 || image.width() > 16384 || image.height() > 16384) std::abort();
  uint32_t sum = 0;
  for (int y = 0; y < image.height(); ++y) sum += image.pixel(image.width() - 1, y);
  return static_cast<int>(sum & 0);
}
