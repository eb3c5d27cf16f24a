// Images from and to files: PNG through libpng's simplified interface where
// the build has libpng, BMP read and written here (the format is small, and
// every field is checked against the bytes there are).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#if defined(PEL_HAVE_PNG)
#include <png.h>
#endif

#include "gfx/public_internal.h"
#include "pellucet/pellucet.h"

namespace pellucet {
namespace {

constexpr int largestLoadedSide = 16384;

Image failed(const std::string& reason) {
  setPublicFailure(reason);
  return {};
}

// The whole file, or false with the reason given.
bool readFile(const char* path, std::vector<uint8_t>& bytes) {
  if (!path) return false;
  FILE* file = std::fopen(path, "rb");
  if (!file) {
    setPublicFailure(std::string("cannot open ") + path);
    return false;
  }
  uint8_t chunk[65536];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    if (bytes.size() + n > (std::size_t{1} << 30)) {
      std::fclose(file);
      setPublicFailure(std::string(path) + " is larger than 1 GiB");
      return false;
    }
    bytes.insert(bytes.end(), chunk, chunk + n);
  }
  const bool ok = !std::ferror(file);
  std::fclose(file);
  if (!ok) setPublicFailure(std::string("cannot read ") + path);
  return ok;
}

uint32_t argbAt(const Image& image, int x, int y) {
  const uint32_t v = image.pixel(x, y);
  switch (image.bytesPerPixel()) {
    case 4: return v;
    case 2: return argbOf565(v);
    default: return 0xFF000000u | v * 0x010101u;  // indices as grey: an image carries no palette
  }
}

// ---- BMP -------------------------------------------------------------------

uint32_t le16(const uint8_t* p) { return static_cast<uint32_t>(p[0] | p[1] << 8); }
uint32_t le32(const uint8_t* p) { return static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16) | static_cast<uint32_t>(p[3]) << 24; }

// A channel of a bit-field pixel, widened to 8 bits.
uint32_t channel(uint32_t pixel, uint32_t mask) {
  if (mask == 0) return 0;
  int shift = 0;
  while (!(mask >> shift & 1)) ++shift;
  int bits = 0;
  while (shift + bits < 32 && (mask >> (shift + bits) & 1)) ++bits;
  const uint32_t v = (pixel & mask) >> shift;
  if (bits >= 8) return v >> (bits - 8);
  // Repeat the bits to fill eight: 5-bit 31 becomes 255.
  uint32_t out = 0;
  for (int filled = 0; filled < 8; filled += bits) out = out << bits | v;
  return out >> (((8 + bits - 1) / bits) * bits - 8);
}

Image readBmp(const uint8_t* data, std::size_t size) {
  if (size < 26) return failed("BMP: the file is truncated");
  const uint32_t pixelsAt = le32(data + 10), headerSize = le32(data + 14);
  if (headerSize != 12 && headerSize < 40) return failed("BMP: unknown header size " + std::to_string(headerSize));
  if (14 + std::size_t{headerSize} > size) return failed("BMP: the header is truncated");
  int64_t width, height;
  uint32_t bits, compression = 0, colours = 0;
  uint32_t masks[4] = {0, 0, 0, 0};  // red, green, blue, alpha
  const uint8_t* h = data + 14;
  if (headerSize == 12) {
    width = le16(h + 4);
    height = static_cast<int16_t>(le16(h + 6));
    bits = le16(h + 10);
  } else {
    width = static_cast<int32_t>(le32(h + 4));
    height = static_cast<int32_t>(le32(h + 8));
    bits = le16(h + 14);
    compression = le32(h + 16);
    colours = le32(h + 32);
    if (compression == 3 || compression == 6) {  // BI_BITFIELDS, BI_ALPHABITFIELDS
      const std::size_t at = headerSize >= 52 ? 14 + 40 : 14 + headerSize;
      const int count = compression == 6 || headerSize >= 56 ? 4 : 3;
      if (at + 4 * count > size) return failed("BMP: the bit masks are truncated");
      for (int i = 0; i < count; ++i) masks[i] = le32(data + at + 4 * i);
    }
  }
  const bool topDown = height < 0;
  if (topDown) height = -height;
  if (width < 1 || height < 1 || width > largestLoadedSide || height > largestLoadedSide) {
    return failed("BMP: a size of " + std::to_string(width) + " x " + std::to_string(height) +
                  " (1 to 16384 pixels a side)");
  }
  if (compression != 0 && compression != 3 && compression != 6) {
    return failed("BMP: compression " + std::to_string(compression) + " is not read (only uncompressed files)");
  }
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
    return failed("BMP: " + std::to_string(bits) + " bits a pixel");
  }
  if (compression != 0 && bits != 16 && bits != 32) return failed("BMP: bit masks need 16 or 32 bits a pixel");
  if (compression == 0 && bits == 16) masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
  // The palette, for 8 bits and fewer.
  uint32_t palette[256] = {};
  if (bits <= 8) {
    const uint32_t entries = colours == 0 || colours > (1u << bits) ? 1u << bits : colours;
    const std::size_t entrySize = headerSize == 12 ? 3 : 4, at = 14 + headerSize;
    if (at + entries * entrySize > size) return failed("BMP: the palette is truncated");
    for (uint32_t i = 0; i < entries; ++i) {
      const uint8_t* e = data + at + i * entrySize;
      palette[i] = 0xFF000000u | static_cast<uint32_t>(e[2]) << 16 | static_cast<uint32_t>(e[1]) << 8 | e[0];
    }
  }
  const int64_t rowBytes = (width * bits + 31) / 32 * 4;
  if (pixelsAt > size || static_cast<uint64_t>(rowBytes * height) > size - pixelsAt) {
    return failed("BMP: the pixels are truncated");
  }
  Image image(static_cast<int>(width), static_cast<int>(height), 32);
  if (!image) return image;
  const bool alphaMask = masks[3] != 0 || (compression == 0 && bits == 32);
  for (int64_t y = 0; y < height; ++y) {
    const uint8_t* row = data + pixelsAt + (topDown ? y : height - 1 - y) * rowBytes;
    auto* out = reinterpret_cast<uint32_t*>(image.pixels() + y * image.pitch());
    for (int64_t x = 0; x < width; ++x) {
      uint32_t v = 0;
      switch (bits) {
        case 1: v = palette[row[x >> 3] >> (7 - (x & 7)) & 1]; break;
        case 4: v = palette[row[x >> 1] >> (x & 1 ? 0 : 4) & 15]; break;
        case 8: v = palette[row[x]]; break;
        case 24:
          v = 0xFF000000u | static_cast<uint32_t>(row[3 * x + 2]) << 16 | static_cast<uint32_t>(row[3 * x + 1]) << 8 |
              row[3 * x];
          break;
        case 16:
        case 32: {
          const uint32_t p = bits == 16 ? le16(row + 2 * x) : le32(row + 4 * x);
          if (compression == 0 && bits == 32) {
            v = p;  // 0xAARRGGBB already; a zero alpha everywhere is fixed below
          } else {
            v = channel(p, masks[0]) << 16 | channel(p, masks[1]) << 8 | channel(p, masks[2]) |
                (masks[3] ? channel(p, masks[3]) << 24 : 0xFF000000u);
          }
          break;
        }
      }
      std::memcpy(out + x, &v, 4);
    }
  }
  // Most 32-bit files leave the fourth byte 0: then they mean no alpha.
  if (alphaMask && compression == 0) {
    bool anyAlpha = false;
    for (int y = 0; y < image.height() && !anyAlpha; ++y) {
      for (int x = 0; x < image.width() && !anyAlpha; ++x) anyAlpha = image.pixel(x, y) >> 24 != 0;
    }
    if (!anyAlpha) {
      for (int y = 0; y < image.height(); ++y) {
        auto* out = image.pixels() + static_cast<std::ptrdiff_t>(y) * image.pitch();
        for (int x = 0; x < image.width(); ++x) out[4 * x + 3] = 0xFF;
      }
    }
  }
  return image;
}

void put16(std::vector<uint8_t>& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(std::vector<uint8_t>& b, uint32_t v) {
  put16(b, v & 0xFFFF);
  put16(b, v >> 16);
}

bool writeFile(const char* path, const void* bytes, std::size_t size) {
  FILE* file = path ? std::fopen(path, "wb") : nullptr;
  if (!file) {
    setPublicFailure(std::string("cannot create ") + (path ? path : "(null)"));
    return false;
  }
  const bool ok = std::fwrite(bytes, 1, size, file) == size;
  if (std::fclose(file) != 0 || !ok) {
    setPublicFailure(std::string("cannot write ") + path);
    return false;
  }
  return true;
}

}  // namespace

Image loadImage(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  if (!bytes || size < 8) return failed("the data is too short for an image");
  if (bytes[0] == 'B' && bytes[1] == 'M') return readBmp(bytes, size);
  if (std::memcmp(bytes, "\x89PNG\r\n\x1a\n", 8) == 0) {
#if defined(PEL_HAVE_PNG)
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&png, bytes, size)) return failed(std::string("PNG: ") + png.message);
    if (png.width < 1 || png.height < 1 || png.width > largestLoadedSide || png.height > largestLoadedSide) {
      png_image_free(&png);
      return failed("PNG: a size of " + std::to_string(png.width) + " x " + std::to_string(png.height) +
                    " (1 to 16384 pixels a side)");
    }
    Image image(static_cast<int>(png.width), static_cast<int>(png.height), 32);
    if (!image) {
      png_image_free(&png);
      return image;
    }
    // BGRA in memory is 0xAARRGGBB in a little-endian word.
    png.format = PNG_FORMAT_BGRA;
    if (!png_image_finish_read(&png, nullptr, image.pixels(), image.pitch(), nullptr)) {
      const std::string reason = std::string("PNG: ") + png.message;
      png_image_free(&png);
      return failed(reason);
    }
    return image;
#else
    return failed("PNG: this build has no libpng");
#endif
  }
  return failed("not a PNG or BMP file");
}

Image loadImage(const char* path) {
  std::vector<uint8_t> bytes;
  if (!readFile(path, bytes)) return {};
  Image image = loadImage(bytes.data(), bytes.size());
  return image;
}

bool savePng(const Image& image, const char* path) {
  if (!image) {
    setPublicFailure("an empty image is not saved");
    return false;
  }
#if defined(PEL_HAVE_PNG)
  std::vector<uint32_t> argb(static_cast<std::size_t>(image.width()) * image.height());
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) argb[static_cast<std::size_t>(y) * image.width() + x] = argbAt(image, x, y);
  }
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  png.width = static_cast<png_uint_32>(image.width());
  png.height = static_cast<png_uint_32>(image.height());
  png.format = PNG_FORMAT_BGRA;
  if (!png_image_write_to_file(&png, path, 0, argb.data(), 0, nullptr)) {
    setPublicFailure(std::string("PNG: ") + png.message);
    return false;
  }
  return true;
#else
  (void)path;
  setPublicFailure("PNG: this build has no libpng");
  return false;
#endif
}

bool saveBmp(const Image& image, const char* path) {
  if (!image) {
    setPublicFailure("an empty image is not saved");
    return false;
  }
  const int width = image.width(), height = image.height();
  const uint32_t rowBytes = (static_cast<uint32_t>(width) * 3 + 3) / 4 * 4;
  const uint32_t pixelBytes = rowBytes * static_cast<uint32_t>(height);
  std::vector<uint8_t> b;
  b.reserve(54 + pixelBytes);
  b.push_back('B');
  b.push_back('M');
  put32(b, 54 + pixelBytes);
  put32(b, 0);
  put32(b, 54);
  put32(b, 40);
  put32(b, static_cast<uint32_t>(width));
  put32(b, static_cast<uint32_t>(height));  // bottom-up, as most readers expect
  put16(b, 1);
  put16(b, 24);
  for (uint32_t v : {0u, pixelBytes, 2835u, 2835u, 0u, 0u}) put32(b, v);
  for (int y = height - 1; y >= 0; --y) {
    for (int x = 0; x < width; ++x) {
      const uint32_t v = argbAt(image, x, y);
      b.push_back(static_cast<uint8_t>(v));
      b.push_back(static_cast<uint8_t>(v >> 8));
      b.push_back(static_cast<uint8_t>(v >> 16));
    }
    b.resize(b.size() + (rowBytes - static_cast<uint32_t>(width) * 3), 0);
  }
  return writeFile(path, b.data(), b.size());
}

}  // namespace pellucet
