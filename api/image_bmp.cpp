// BMP, read and written here: the format is small, and every field is
// checked against the bytes there are. Read: 1, 4, 8, 16, 24 and 32 bits a
// pixel, uncompressed, RLE8 and RLE4, bit masks (16, 24 and 32 bits), the
// OS/2 headers (12, and 16 to 64 bytes) and the Windows ones (40, 52, 56, 108
// and 124 bytes), bottom-up and top-down rows. Written: 24 bits, bottom-up.
#include <algorithm>
#include <cstring>
#include <string>

#include "api/image_codecs.h"

namespace pellucet::codec {
namespace {

uint32_t le16(const uint8_t* p) { return static_cast<uint32_t>(p[0] | p[1] << 8); }
uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16) | static_cast<uint32_t>(p[3]) << 24;
}

Image damaged(const std::string& what) { return failed("BMP: " + what); }

// A channel of a bit-field pixel, widened to 8 bits: fewer bits are repeated
// to fill eight (5-bit 31 becomes 255), more keep their top eight.
uint32_t channel(uint32_t pixel, uint32_t mask) {
  if (mask == 0) return 0;
  int shift = 0;
  while (!(mask >> shift & 1)) ++shift;
  int bits = 0;
  while (shift + bits < 32 && (mask >> (shift + bits) & 1)) ++bits;
  const uint32_t v = (pixel & mask) >> shift;
  if (bits >= 8) return v >> (bits - 8);
  uint32_t out = 0;
  for (int filled = 0; filled < 8; filled += bits) out = out << bits | v;
  return out >> (((8 + bits - 1) / bits) * bits - 8);
}

// A mask is one run of set bits (or none), and no two channels share a bit.
bool masksSound(const uint32_t masks[4]) {
  uint32_t seen = 0;
  for (int i = 0; i < 4; ++i) {
    const uint32_t m = masks[i];
    if (m == 0) continue;
    const uint32_t low = m & (~m + 1);  // lowest set bit
    if (((m + low) & m) != 0) return false;  // a gap: adding the low bit does not clear the run
    if (seen & m) return false;
    seen |= m;
  }
  return true;
}

struct Header {
  int64_t width = 0, height = 0;
  uint32_t headerSize = 0, bits = 0, compression = 0, colours = 0;
  uint32_t masks[4] = {0, 0, 0, 0};  // red, green, blue, alpha
  std::size_t palettesAt = 0, entrySize = 4;
  bool os2 = false, topDown = false;
};

constexpr uint32_t rgb = 0, rle8 = 1, rle4 = 2, bitfields = 3, alphaBitfields = 6;

// Reads and checks the headers; the reason is set when false.
bool readHeader(const uint8_t* data, std::size_t size, Header& h) {
  if (size < 18) return damaged("the file is truncated"), false;
  h.headerSize = le32(data + 14);
  const uint32_t hs = h.headerSize;
  const bool windows = hs == 40 || hs == 52 || hs == 56 || hs == 108 || hs == 124;
  h.os2 = hs == 12 || (hs >= 16 && hs <= 64 && !windows);
  if (!windows && !h.os2) return damaged("unknown header size " + std::to_string(hs)), false;
  if (14 + std::size_t{hs} > size) return damaged("the header is truncated"), false;
  const uint8_t* p = data + 14;
  // OS/2 2.x headers may stop after any field: the rest count as zero.
  uint8_t full[124] = {};
  std::memcpy(full, p, hs);
  if (hs == 12) {
    h.width = le16(full + 4);
    h.height = le16(full + 6);
    h.bits = le16(full + 10);
    h.entrySize = 3;
  } else {
    h.width = static_cast<int32_t>(le32(full + 4));
    h.height = static_cast<int32_t>(le32(full + 8));
    h.bits = le16(full + 14);
    h.compression = le32(full + 16);
    h.colours = le32(full + 32);
  }
  if (h.os2 && hs != 12) {
    // OS/2's own codes 3 and 4 (Huffman, RLE24) are not Windows' bit masks.
    if (h.compression == 3 || h.compression == 4) {
      return damaged("OS/2 compression " + std::to_string(h.compression) + " is not read"), false;
    }
  }
  h.palettesAt = 14 + std::size_t{hs};
  if (!h.os2 && (h.compression == bitfields || h.compression == alphaBitfields)) {
    // Masks live in the header from 52 bytes on, after a 40-byte one.
    const int count = h.compression == alphaBitfields || hs >= 56 ? 4 : 3;
    const std::size_t at = hs >= 52 ? 14 + 40 : 14 + std::size_t{hs};
    if (at + 4 * count > size) return damaged("the bit masks are truncated"), false;
    for (int i = 0; i < count; ++i) h.masks[i] = le32(data + at + 4 * i);
    if (hs == 40) h.palettesAt += 4 * count;
    if (!masksSound(h.masks)) return damaged("bit masks with gaps or shared bits"), false;
  }
  h.topDown = h.height < 0;
  if (h.topDown) h.height = -h.height;
  std::string reason;
  if (!sizeAllowed(h.width, h.height, reason)) return damaged(reason), false;
  switch (h.compression) {
    case rgb:
      if (h.bits != 1 && h.bits != 4 && h.bits != 8 && h.bits != 16 && h.bits != 24 && h.bits != 32) {
        return damaged(std::to_string(h.bits) + " bits a pixel"), false;
      }
      if (h.bits == 16) h.masks[0] = 0x7C00, h.masks[1] = 0x03E0, h.masks[2] = 0x001F;
      break;
    case rle8:
    case rle4:
      if (h.bits != (h.compression == rle8 ? 8u : 4u)) {
        return damaged("RLE" + std::to_string(h.compression == rle8 ? 8 : 4) + " with " + std::to_string(h.bits) +
                       " bits a pixel"), false;
      }
      if (h.topDown) return damaged("RLE rows stored top-down"), false;
      break;
    case bitfields:
    case alphaBitfields:
      if (h.bits != 16 && h.bits != 24 && h.bits != 32) return damaged("bit masks need 16, 24 or 32 bits a pixel"), false;
      break;
    default:
      return damaged("compression " + std::to_string(h.compression) + " is not read"), false;
  }
  return true;
}

// Row y of the picture, top first, as 0xAARRGGBB words.
uint32_t* rowOf(Image& image, int64_t y) { return reinterpret_cast<uint32_t*>(image.pixels() + y * image.pitch()); }

// Runs of RLE8 or RLE4 into the rows, bottom-up. Pixels no run reaches keep
// palette entry 0. A run may fill a row's padding, as some writers code rows
// to the padded width (those pixels are dropped); a run or a move past it is
// damage.
bool decodeRle(const uint8_t* p, std::size_t n, const Header& h, const uint32_t* palette, Image& image) {
  const bool four = h.compression == rle4;
  const int64_t width = h.width, height = h.height;
  const int64_t padded = (width * h.bits + 31) / 32 * 32 / h.bits;
  for (int64_t y = 0; y < height; ++y) {
    uint32_t* out = rowOf(image, y);
    for (int64_t x = 0; x < width; ++x) out[x] = palette[0];
  }
  int64_t x = 0, y = 0;  // y counts up from the bottom row
  std::size_t i = 0;
  auto put = [&](uint32_t index) {
    if (x < width) rowOf(image, height - 1 - y)[x] = palette[index];
    ++x;
  };
  for (;;) {
    if (i + 2 > n) {
      if (y >= height) return true;  // the last row done; no end-of-picture code
      return damaged("the RLE data is truncated"), false;
    }
    const uint32_t count = p[i], code = p[i + 1];
    i += 2;
    if (count > 0) {  // a run of `count` pixels
      if (y >= height || x + count > padded) return damaged("an RLE run past the picture's edge"), false;
      for (uint32_t k = 0; k < count; ++k) put(four ? (k & 1 ? code & 15 : code >> 4) : code);
      continue;
    }
    if (code == 0) {  // end of line
      x = 0;
      ++y;
    } else if (code == 1) {  // end of picture
      return true;
    } else if (code == 2) {  // a move right and up
      if (i + 2 > n) return damaged("the RLE data is truncated"), false;
      x += p[i];
      y += p[i + 1];
      i += 2;
      if (x > padded || y > height || (y == height && x > 0)) return damaged("an RLE move past the picture's edge"), false;
    } else {  // `code` pixels as they are, padded to a 16-bit boundary
      const std::size_t bytes = four ? (code + 1) / 2 : code;
      if (i + bytes > n) return damaged("the RLE data is truncated"), false;
      if (y >= height || x + code > padded) return damaged("an RLE run past the picture's edge"), false;
      for (uint32_t k = 0; k < code; ++k) put(four ? (k & 1 ? p[i + k / 2] & 15 : p[i + k / 2] >> 4) : p[i + k]);
      i += (bytes + 1) & ~std::size_t{1};
    }
  }
}

}  // namespace

Image readBmp(const uint8_t* data, std::size_t size) {
  Header h;
  if (!readHeader(data, size, h)) return {};
  const uint32_t pixelsAt = le32(data + 10);
  if (pixelsAt < h.palettesAt) return damaged("the pixel data starts inside the headers (at " + std::to_string(pixelsAt) + ")");
  if (pixelsAt > size) return damaged("the pixels are truncated");
  // The palette, for 8 bits and fewer: what lies between the headers and the
  // pixels, up to the count the header gives. An index past it is opaque
  // black, as in PNG.
  uint32_t palette[256];
  for (uint32_t& entry : palette) entry = 0xFF000000u;
  if (h.bits <= 8) {
    uint32_t entries = h.colours == 0 || h.colours > (1u << h.bits) ? 1u << h.bits : h.colours;
    entries = std::min<uint32_t>(entries, static_cast<uint32_t>((pixelsAt - h.palettesAt) / h.entrySize));
    for (uint32_t i = 0; i < entries; ++i) {
      const uint8_t* e = data + h.palettesAt + i * h.entrySize;
      palette[i] = 0xFF000000u | static_cast<uint32_t>(e[2]) << 16 | static_cast<uint32_t>(e[1]) << 8 | e[0];
    }
  }
  Image image(static_cast<int>(h.width), static_cast<int>(h.height), 32);
  if (!image) return image;
  if (h.compression == rle8 || h.compression == rle4) {
    if (!decodeRle(data + pixelsAt, size - pixelsAt, h, palette, image)) return {};
    return image;
  }
  const int64_t rowBytes = (h.width * h.bits + 31) / 32 * 4;
  if (static_cast<uint64_t>(rowBytes * h.height) > size - pixelsAt) return damaged("the pixels are truncated");
  const bool masked = h.compression != rgb || h.bits == 16;
  for (int64_t y = 0; y < h.height; ++y) {
    const uint8_t* row = data + pixelsAt + (h.topDown ? y : h.height - 1 - y) * rowBytes;
    uint32_t* out = rowOf(image, y);
    for (int64_t x = 0; x < h.width; ++x) {
      uint32_t v = 0;
      switch (h.bits) {
        case 1: v = palette[row[x >> 3] >> (7 - (x & 7)) & 1]; break;
        case 4: v = palette[row[x >> 1] >> (x & 1 ? 0 : 4) & 15]; break;
        case 8: v = palette[row[x]]; break;
        default: {
          const uint8_t* q = row + x * (h.bits / 8);
          const uint32_t p = h.bits == 16 ? le16(q) : h.bits == 24 ? le16(q) | q[2] << 16 : le32(q);
          if (!masked) {
            v = h.bits == 24 ? 0xFF000000u | p : p;  // 32 bits: 0xAARRGGBB already; no alpha is fixed below
          } else {
            v = channel(p, h.masks[0]) << 16 | channel(p, h.masks[1]) << 8 | channel(p, h.masks[2]) |
                (h.masks[3] ? channel(p, h.masks[3]) << 24 : 0xFF000000u);
          }
          break;
        }
      }
      out[x] = v;
    }
  }
  // Most 32-bit files without masks leave the fourth byte 0: then they mean
  // no alpha.
  if (!masked && h.bits == 32) {
    bool anyAlpha = false;
    for (int64_t y = 0; y < h.height && !anyAlpha; ++y) {
      const uint32_t* row = rowOf(image, y);
      for (int64_t x = 0; x < h.width && !anyAlpha; ++x) anyAlpha = row[x] >> 24 != 0;
    }
    if (!anyAlpha) {
      for (int64_t y = 0; y < h.height; ++y) {
        uint32_t* row = rowOf(image, y);
        for (int64_t x = 0; x < h.width; ++x) row[x] |= 0xFF000000u;
      }
    }
  }
  return image;
}

bool writeBmp(const Image& argb, std::vector<uint8_t>& b) {
  const int width = argb.width(), height = argb.height();
  const uint64_t rowBytes = (static_cast<uint64_t>(width) * 3 + 3) / 4 * 4;
  const uint64_t pixelBytes = rowBytes * static_cast<uint64_t>(height);
  if (54 + pixelBytes > 0xFFFFFFFFu) {
    failed("BMP: a " + std::to_string(width) + " x " + std::to_string(height) + " picture is over the 4 GiB a BMP holds");
    return false;
  }
  b.clear();
  b.reserve(54 + pixelBytes);
  auto put16 = [&](uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
  };
  auto put32 = [&](uint32_t v) {
    put16(v & 0xFFFF);
    put16(v >> 16);
  };
  b.push_back('B');
  b.push_back('M');
  put32(static_cast<uint32_t>(54 + pixelBytes));
  put32(0);
  put32(54);
  put32(40);
  put32(static_cast<uint32_t>(width));
  put32(static_cast<uint32_t>(height));  // bottom-up, as most readers expect
  put16(1);
  put16(24);
  for (uint32_t v : {0u, static_cast<uint32_t>(pixelBytes), 2835u, 2835u, 0u, 0u}) put32(v);
  for (int y = height - 1; y >= 0; --y) {
    const auto* row = reinterpret_cast<const uint32_t*>(argb.pixels() + static_cast<std::ptrdiff_t>(y) * argb.pitch());
    for (int x = 0; x < width; ++x) {
      uint32_t v;
      std::memcpy(&v, row + x, 4);
      b.push_back(static_cast<uint8_t>(v));
      b.push_back(static_cast<uint8_t>(v >> 8));
      b.push_back(static_cast<uint8_t>(v >> 16));
    }
    b.resize(b.size() + (rowBytes - static_cast<uint64_t>(width) * 3), 0);
  }
  return true;
}

}  // namespace pellucet::codec
