// drawLine and drawString with arguments taken from the input, on a small
// page of a depth the input picks, with user fonts built from the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "gfx/draw.h"
#include "gfx/mode.h"
#include "gfx/pages.h"
#include "gfx/text.h"

using namespace pel;

namespace {

struct Reader {
  const uint8_t* p;
  size_t n;
  template <typename T>
  T take() {
    T v{};
    const size_t k = n < sizeof v ? n : sizeof v;
    std::memcpy(&v, p, k);
    p += k;
    n -= k;
    return v;
  }
  float coordinate() {
    const uint8_t kind = take<uint8_t>();
    if (kind < 200) return static_cast<float>(take<int16_t>()) / 4.0f;
    return take<float>();  // any bit pattern: NaN, infinities, huge values
  }
};

void putter(const uint8_t* source, uint8_t* destination, int32_t width, int32_t height, int32_t sourcePitch,
            int32_t destinationPitch, uint32_t, void*, void*) {
  const int32_t bpp = currentMode()->bytesPerPixel;
  for (int32_t y = 0; y < height; ++y) {
    std::memcpy(destination + y * destinationPitch, source + y * sourcePitch, static_cast<size_t>(width) * bpp);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool opened = [] {
    setenv("KELGFX", "null", 1);
    return true;
  }();
  (void)opened;
  Reader in{data, size};
  constexpr int32_t depths[] = {1, 2, 4, 8, 16, 32};
  const int32_t depth = depths[in.take<uint8_t>() % 6];
  const int32_t width = 1 + in.take<uint8_t>() % 64, height = 1 + in.take<uint8_t>() % 48;
  if (openScreenBySize(width, height, depth, 2, 0, 0) != 0) std::abort();
  const int32_t bpp = currentMode()->bytesPerPixel;
  for (int op = 0; op < 16 && in.n > 0; ++op) {
    const uint8_t what = in.take<uint8_t>();
    if (what % 3 == 2) setPages(what & 1, (what >> 1) & 1);
    if (what < 128) {
      const float x1 = in.coordinate(), y1 = in.coordinate(), x2 = in.coordinate(), y2 = in.coordinate();
      drawLine(nullptr, x1, y1, x2, y2, in.take<uint32_t>(), in.take<int8_t>() % 4, in.take<uint16_t>(),
               in.take<uint32_t>());
      continue;
    }
    const float x = in.coordinate(), y = in.coordinate();
    const uint8_t textLength = in.take<uint8_t>() % 40;
    std::vector<char> bytes(textLength);
    for (auto& b : bytes) b = static_cast<char>(in.take<uint8_t>());
    const TextString text{textLength ? bytes.data() : nullptr, textLength};
    std::vector<uint8_t> font;
    if (what & 1) {
      // A long-header font image, the buffer as large as its header claims.
      const int32_t fontWidth = in.take<uint8_t>() % 40, fontHeight = in.take<uint8_t>() % 12;
      const int32_t fontBpp = (what & 2) ? bpp : 1 + in.take<uint8_t>() % 4;
      const int32_t pitch = fontWidth * fontBpp + in.take<uint8_t>() % 8;
      font.resize(sizeof(ImageHeader) + static_cast<size_t>(pitch) * fontHeight);
      const ImageHeader header{longImageTag, fontBpp, fontWidth, fontHeight, pitch, {}};
      std::memcpy(font.data(), &header, sizeof header);
      for (size_t i = sizeof header; i < font.size(); ++i) font[i] = in.take<uint8_t>();
    }
    drawString(nullptr, x, y, in.take<uint32_t>(), &text, in.take<uint32_t>(), font.empty() ? nullptr : font.data(),
               in.take<uint8_t>() % 8, putter, nullptr, nullptr);
  }
  if (currentMode()->lockCount != 0) std::abort();
  closeScreen();
  return 0;
}
