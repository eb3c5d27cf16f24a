// put() with random images, parts, places, keys, modes and depths, onto the
// work page, into images and onto themselves: clipping never writes outside a buffer, and
// pixels outside the clipped part stay as they were.
#include <pellucet/pellucet.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_input.h"

namespace {

using fuzz::Reader;

pellucet::Image imageFrom(Reader& in) {
  constexpr int depths[] = {8, 16, 32};
  pellucet::Image image(1 + in.take<uint8_t>() % 48, 1 + in.take<uint8_t>() % 40, depths[in.take<uint8_t>() % 3]);
  if (!image) std::abort();
  for (int y = 0; y < image.height(); ++y) {
    for (int i = 0; i < image.width() * image.bytesPerPixel(); ++i) image.pixels()[y * image.pitch() + i] = in.take<uint8_t>();
  }
  return image;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::useNullBackEnd();
  Reader in{data, size};
  constexpr int depths[] = {8, 16, 32};
  if (!pellucet::openScreen(1 + in.take<uint8_t>() % 64, 1 + in.take<uint8_t>() % 48, depths[in.take<uint8_t>() % 3], 1)) {
    std::abort();
  }
  pellucet::Image source = imageFrom(in), target = imageFrom(in);
  for (int step = 0; step < 8 && in.n > 0; ++step) {
    const int x = in.take<int16_t>() % 100, y = in.take<int16_t>() % 100;
    const pellucet::Rect part{in.take<int16_t>() % 80, in.take<int16_t>() % 80, in.take<int16_t>() % 80,
                              in.take<int16_t>() % 80};
    const auto mode = static_cast<pellucet::PutMode>(in.take<uint8_t>() % 3);
    const uint32_t key = in.take<uint32_t>();
    const uint8_t where = in.take<uint8_t>() % 3;
    if (where == 0) {
      pellucet::put(source, x, y, mode, key, part);
    } else if (where == 1) {
      // Onto itself: as a put from a copy.
      pellucet::Image copy(target.width(), target.height(), target.depth()), expected(target.width(), target.height(), target.depth());
      const std::size_t bytes = static_cast<std::size_t>(target.pitch()) * target.height();
      std::memcpy(copy.pixels(), target.pixels(), bytes);
      std::memcpy(expected.pixels(), target.pixels(), bytes);
      const bool a = pellucet::put(expected, copy, x, y, mode, key, part);
      const bool b = pellucet::put(target, target, x, y, mode, key, part);
      if (a != b || std::memcmp(expected.pixels(), target.pixels(), bytes) != 0) std::abort();
    } else {
      // Rows above and below the part's reach keep their bytes.
      const std::vector<uint8_t> before(target.pixels(), target.pixels() + target.pitch() * target.height());
      pellucet::put(target, source, x, y, mode, key, part);
      const int top = std::max(0, y), partHeight = part.height < 0 ? source.height() - part.y : part.height;
      for (int row = 0; row < target.height(); ++row) {
        if (row >= top && row < static_cast<int64_t>(y) + partHeight) continue;
        if (std::memcmp(before.data() + row * target.pitch(), target.pixels() + row * target.pitch(),
                        static_cast<size_t>(target.pitch())) != 0) {
          std::abort();
        }
      }
    }
  }
  return 0;
}
