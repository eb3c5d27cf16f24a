// Image targets and user fonts from the input, drawn on through selectTarget
// (by drawLine and drawString). Every buffer is exactly as large as its
// header claims when the header is usable; a header that must be refused
// gets no pixels at all, so any write through it is caught.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz_input.h"
#include "gfx/draw.h"
#include "gfx/mode.h"
#include "gfx/pages.h"
#include "gfx/text.h"

using namespace pel;

namespace {

using fuzz::Reader;

float coordinate(Reader& in) { return static_cast<float>(in.take<int16_t>()) / 8.0f; }
// Mostly small values, sometimes anything.
int32_t field(Reader& in, int32_t range) {
  const uint8_t kind = in.take<uint8_t>();
  return kind < 230 ? kind % range : in.take<int32_t>();
}

int32_t wrapped(int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(v)); }

// An image in either header form. `usable` is what selectTarget must accept.
std::vector<uint8_t> makeImage(Reader& in, int32_t modeBytes, bool& usable) {
  if (in.take<uint8_t>() & 1) {
    const int32_t width = in.take<uint16_t>() % 96, height = in.take<uint8_t>() % 64;
    usable = width > 0 && height > 0;
    std::vector<uint8_t> image(4 + (usable ? static_cast<size_t>(width) * height * modeBytes : 0));
    image[0] = static_cast<uint8_t>(width << 3);
    image[1] = static_cast<uint8_t>(width >> 5);
    image[2] = static_cast<uint8_t>(height);
    image[3] = static_cast<uint8_t>(height >> 8);
    return image;
  }
  ImageHeader h{longImageTag, field(in, 6), field(in, 96), field(in, 64), 0, {}};
  h.pitch = field(in, 8) == 7 ? in.take<int32_t>() : wrapped(int64_t{h.width} * h.bytesPerPixel + field(in, 8) - 2);
  usable = (h.bytesPerPixel == 1 || h.bytesPerPixel == 2 || h.bytesPerPixel == 4) && h.width > 0 && h.height > 0 &&
           int64_t{h.pitch} >= int64_t{h.width} * h.bytesPerPixel;
  // A usable header claiming more than this harness builds is left out.
  if (usable && int64_t{h.pitch} * h.height > 256 * 1024) return {};
  std::vector<uint8_t> image(sizeof h + (usable ? static_cast<size_t>(h.pitch) * h.height : 0));
  std::memcpy(image.data(), &h, sizeof h);
  return image;
}

// A user font: a header of either form and as many pixel bytes as it claims
// (when that is small), filled from the input.
std::vector<uint8_t> makeFont(Reader& in, int32_t targetBytes) {
  std::vector<uint8_t> font;
  int64_t pixels;
  if (in.take<uint8_t>() & 1) {
    const int32_t bpp = in.take<uint8_t>() % 8, width = in.take<uint8_t>() % 64, height = in.take<uint8_t>() % 12;
    const int32_t first = bpp | width << 3;
    if (first == longImageTag && height == 0) return {};  // those four bytes are the long form's tag
    pixels = int64_t{width} * (bpp ? bpp : targetBytes) * height;
    font = {static_cast<uint8_t>(first), static_cast<uint8_t>(first >> 8), static_cast<uint8_t>(height), 0};
  } else {
    ImageHeader h{longImageTag, field(in, 6), field(in, 64), field(in, 12), 0, {}};
    h.pitch = wrapped(int64_t{h.width} * h.bytesPerPixel + field(in, 8) - 2);
    pixels = int64_t{h.pitch} * h.height;
    font.resize(sizeof h);
    std::memcpy(font.data(), &h, sizeof h);
  }
  // The reader may not go past what the header claims; a header claiming
  // more than this harness builds is left out.
  if (pixels < 0 || pixels > 64 * 1024) return {};
  const size_t header = font.size();
  font.resize(header + static_cast<size_t>(pixels));
  for (size_t i = header; i < font.size() && in.n > 0; ++i) font[i] = in.take<uint8_t>();
  if (font.size() > header) font[header] = 0;  // the version byte, usually right
  return font;
}


}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::useNullBackEnd();
  Reader in{data, size};
  constexpr int32_t depths[] = {8, 16, 32};
  if (openScreenBySize(40, 30, depths[in.take<uint8_t>() % 3], 1, 0, 0) != 0) std::abort();
  const int32_t modeBytes = currentMode()->bytesPerPixel;
  // Targets live until the end, so no address is reused while selected.
  struct Target {
    std::vector<uint8_t> bytes;
    int32_t bytesPerPixel;
  };
  std::vector<Target> targets;
  for (int op = 0; op < 12 && in.n > 0; ++op) {
    const uint8_t what = in.take<uint8_t>();
    const void* target = nullptr;
    int32_t targetBytes = modeBytes;
    if (what & 1) {
      bool usable = false;
      std::vector<uint8_t> image = makeImage(in, modeBytes, usable);
      if (image.empty()) continue;
      DrawContext* c = getContext();
      if (selectTarget(c, image.data()) != usable) std::abort();
      targetBytes = c->targetBytesPerPixel;
      selectTarget(c, nullptr);
      targets.push_back({std::move(image), targetBytes});
      target = targets.back().bytes.data();
    } else if ((what & 2) && !targets.empty()) {
      const Target& t = targets[in.take<uint8_t>() % targets.size()];
      target = t.bytes.data();
      targetBytes = t.bytesPerPixel;
    }
    if (what & 4) {
      const float x1 = coordinate(in), y1 = coordinate(in), x2 = coordinate(in), y2 = coordinate(in);
      drawLine(target, x1, y1, x2, y2, in.take<uint32_t>(), in.take<uint8_t>() % 4, in.take<uint16_t>(), 0);
      continue;
    }
    const float x = coordinate(in), y = coordinate(in);
    const uint8_t length = in.take<uint8_t>() % 24;
    std::vector<char> bytes(length);
    for (auto& b : bytes) b = static_cast<char>(in.take<uint8_t>());
    const TextString text{length ? bytes.data() : nullptr, length};
    const std::vector<uint8_t> font = (what & 8) ? makeFont(in, targetBytes) : std::vector<uint8_t>{};
    if ((what & 8) && font.empty()) continue;
    drawString(target, x, y, in.take<uint32_t>(), &text, in.take<uint32_t>(), font.empty() ? nullptr : font.data(),
               in.take<uint8_t>() % 8, fuzz::putter, nullptr, nullptr);
  }
  if (currentMode()->lockCount != 0) std::abort();
  closeScreen();
  return 0;
}
