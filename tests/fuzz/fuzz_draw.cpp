// drawLine and drawString with arguments taken from the input, on a small
// page of a depth the input picks, with user fonts built from the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_input.h"
#include "gfx/draw.h"
#include "gfx/mode.h"
#include "gfx/pages.h"
#include "gfx/text.h"

using namespace pel;

namespace {

using fuzz::Reader;

// Mostly quarter pixels, sometimes any bit pattern: NaN, infinities, huge values.
float coordinate(Reader& in) {
  const uint8_t kind = in.take<uint8_t>();
  if (kind < 200) return static_cast<float>(in.take<int16_t>()) / 4.0f;
  return in.take<float>();
}


}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::useNullBackEnd();
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
      const float x1 = coordinate(in), y1 = coordinate(in), x2 = coordinate(in), y2 = coordinate(in);
      drawLine(nullptr, x1, y1, x2, y2, in.take<uint32_t>(), in.take<int8_t>() % 4, in.take<uint16_t>(),
               in.take<uint32_t>());
      continue;
    }
    const float x = coordinate(in), y = coordinate(in);
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
               in.take<uint8_t>() % 8, fuzz::putter, nullptr, nullptr);
  }
  if (currentMode()->lockCount != 0) std::abort();
  closeScreen();
  return 0;
}
