// EXIF orientation of JPEG files: the tag found in the markers before the
// image data, every offset checked against the bytes there are (the bytes
// come from any file), and the image turned by it.
#include <cstring>

#include "api/image_codecs.h"

namespace pellucet::codec {
namespace {

uint32_t be16(const uint8_t* p) { return static_cast<uint32_t>(p[0] << 8 | p[1]); }

// The orientation tag in a TIFF header and its first IFD, n bytes from t.
int exifOrientation(const uint8_t* t, std::size_t n) {
  if (n < 8) return 1;
  const bool little = t[0] == 'I' && t[1] == 'I';
  if (!little && !(t[0] == 'M' && t[1] == 'M')) return 1;
  auto u16 = [&](std::size_t at) { return little ? static_cast<uint32_t>(t[at] | t[at + 1] << 8) : be16(t + at); };
  auto u32 = [&](std::size_t at) {
    return little ? u16(at) | u16(at + 2) << 16 : u16(at) << 16 | u16(at + 2);
  };
  if (u16(2) != 42) return 1;
  const std::size_t ifd = u32(4);
  if (ifd < 8 || ifd > n - 2) return 1;
  const std::size_t entries = u16(ifd);
  if (entries > (n - ifd - 2) / 12) return 1;
  for (std::size_t i = 0; i < entries; ++i) {
    const std::size_t e = ifd + 2 + 12 * i;
    if (u16(e) != 0x0112) continue;
    // One SHORT, kept in the entry's first two value bytes.
    const uint32_t value = u16(e + 8);
    return u16(e + 2) == 3 && u32(e + 4) == 1 && value >= 1 && value <= 8 ? static_cast<int>(value) : 1;
  }
  return 1;
}

}  // namespace

int jpegOrientation(const uint8_t* data, std::size_t size) {
  if (!data || size < 4 || data[0] != 0xFF || data[1] != 0xD8) return 1;
  std::size_t at = 2;
  while (size - at >= 4) {
    if (data[at] != 0xFF) return 1;
    const uint8_t marker = data[at + 1];
    if (marker == 0xFF) {  // fill byte before a marker
      ++at;
      continue;
    }
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {  // no length
      at += 2;
      continue;
    }
    if (marker == 0xDA || marker == 0xD9) return 1;  // the image data, or the end: no EXIF before it
    const std::size_t length = be16(data + at + 2);  // with its own two bytes
    if (length < 2 || length > size - at - 2) return 1;
    if (marker == 0xE1 && length >= 8 && std::memcmp(data + at + 4, "Exif\0\0", 6) == 0) {
      return exifOrientation(data + at + 10, length - 8);
    }
    at += 2 + length;
  }
  return 1;
}

// Where each source pixel goes: the target of the source's top-left pixel,
// and the target's steps (columns, rows) as the source's x, then its y, go up.
// 2 mirrors, 3 turns half round, 4 flips, 5 transposes, 6 turns a quarter
// clockwise, 7 transposes across the other diagonal, 8 turns a quarter
// anticlockwise.
Image oriented(Image image, int orientation) {
  if (!image || orientation < 2 || orientation > 8) return image;
  const int w = image.width(), h = image.height(), bytes = image.bytesPerPixel();
  struct Move {
    int column, row, xColumns, xRows, yColumns, yRows;
  };
  const Move moves[9] = {
      {},
      {},
      {w - 1, 0, -1, 0, 0, 1},
      {w - 1, h - 1, -1, 0, 0, -1},
      {0, h - 1, 1, 0, 0, -1},
      {0, 0, 0, 1, 1, 0},
      {h - 1, 0, 0, 1, -1, 0},
      {h - 1, w - 1, 0, -1, -1, 0},
      {0, w - 1, 0, -1, 1, 0},
  };
  const Move& m = moves[orientation];
  Image turned(orientation >= 5 ? h : w, orientation >= 5 ? w : h, image.depth());
  if (!turned) return turned;
  const std::ptrdiff_t pitch = turned.pitch();
  const std::ptrdiff_t xStep = m.xColumns * bytes + m.xRows * pitch, yStep = m.yColumns * bytes + m.yRows * pitch;
  std::ptrdiff_t rowAt = m.row * pitch + m.column * bytes;
  for (int y = 0; y < h; ++y, rowAt += yStep) {
    const uint8_t* from = image.pixels() + static_cast<std::ptrdiff_t>(y) * image.pitch();
    std::ptrdiff_t at = rowAt;
    for (int x = 0; x < w; ++x, from += bytes, at += xStep) {
      std::memcpy(turned.pixels() + at, from, static_cast<std::size_t>(bytes));
    }
  }
  return turned;
}

}  // namespace pellucet::codec
