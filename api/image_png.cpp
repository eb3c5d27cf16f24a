// PNG through libpng's full reading interface: every colour type and bit
// depth, interlaced or not, 16-bit channels rounded to 8 (round(v / 257)),
// gAMA honoured (none means sRGB, so nothing is converted), and any damage
// refused: a CRC that fails, image data that ends early, a file cut short.
// Written as 8-bit RGB, or RGBA where the picture has alpha.
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <png.h>

#include "api/image_codecs.h"

namespace pellucet::codec {
namespace {

// What the reader's callbacks share. longjmp leaves them, so nothing here
// has a destructor to run; the image is made by the caller once the size is
// known and checked.
struct Reading {
  const uint8_t* data;
  std::size_t size, at;
  char message[200];
  // 16-bit samples through a gamma are kept wide (8 bytes a pixel) and
  // corrected here, exactly: libpng's own 16-bit tables are a few levels
  // off in the darks. An exponent of 0 means none applies.
  int bytesPerPixel;
  double exponent;
};

void readBytes(png_structp png, png_bytep out, png_size_t count) {
  auto* r = static_cast<Reading*>(png_get_io_ptr(png));
  if (count > r->size - r->at) png_error(png, "the file is truncated");
  std::memcpy(out, r->data + r->at, count);
  r->at += count;
}

void onError(png_structp png, png_const_charp message) {
  auto* r = static_cast<Reading*>(png_get_error_ptr(png));
  std::snprintf(r->message, sizeof r->message, "%s", message);
  png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp) {}  // the runtime prints nothing

// The header, then the transformations to BGRA (0xAARRGGBB words, or four
// big-endian 16-bit samples). False with r.message set when the file is
// damaged.
bool readHeader(png_structp png, png_infop info, png_uint_32& width, png_uint_32& height) {
  if (setjmp(png_jmpbuf(png))) return false;
  auto* r = static_cast<Reading*>(png_get_io_ptr(png));
  png_set_sig_bytes(png, 0);
  png_read_info(png, info);
  width = png_get_image_width(png, info);
  height = png_get_image_height(png, info);
  const int colourType = png_get_color_type(png, info);
  // A file's gAMA is honoured for an sRGB screen (gamma 2.2): a sample v of
  // the file shows as v^(1 / (gAMA x 2.2)). Files without one are taken as
  // sRGB, and so are those whose gAMA is within 5 % of it, as in libpng.
  png_fixed_point fileGamma = 0;
  if (!png_get_gAMA_fixed(png, info, &fileGamma) || fileGamma < 0) fileGamma = 0;
  const double exponent = pngGamma(static_cast<uint32_t>(fileGamma), png_get_valid(png, info, PNG_INFO_sRGB)).exact;
  const bool wide = exponent != 0 && png_get_bit_depth(png, info) == 16;
  png_set_expand(png);  // palettes and low grey depths to 8 bits, tRNS to alpha
  if (!(colourType & PNG_COLOR_MASK_COLOR)) png_set_gray_to_rgb(png);
  png_set_bgr(png);
  if (wide) {
    png_set_add_alpha(png, 0xFFFF, PNG_FILLER_AFTER);
  } else {
    png_set_scale_16(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    if (exponent != 0) png_set_gamma_fixed(png, PNG_GAMMA_sRGB, fileGamma);
  }
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  r->bytesPerPixel = wide ? 8 : 4;
  r->exponent = wide ? exponent : 0;
  return true;
}

bool readRows(png_structp png, png_infop info, png_bytepp rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  const auto* r = static_cast<Reading*>(png_get_io_ptr(png));
  if (png_get_rowbytes(png, info) != static_cast<png_size_t>(r->bytesPerPixel) * png_get_image_width(png, info)) {
    png_error(png, "an unexpected row format");
  }
  png_read_image(png, rows);
  png_read_end(png, nullptr);  // the CRCs and chunks after the image data
  return true;
}

struct PngReader {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~PngReader() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
};

void writeBytes(png_structp png, png_bytep bytes, png_size_t count) {
  auto& file = *static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  file.insert(file.end(), bytes, bytes + count);
}

void flushNothing(png_structp) {}

// Each row packed here as RGB or RGBA bytes (cheaper than libpng's own
// transformations), into a row the caller owns. zlib's level 5 rather than
// its default 6: about twice as fast, files within a percent or so on most
// pictures.
bool writeRows(png_structp png, png_infop info, const Image& argb, bool opaque, uint8_t* packed,
               std::vector<uint8_t>& file) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_write_fn(png, &file, writeBytes, flushNothing);
  png_set_compression_level(png, 5);
  png_set_IHDR(png, info, static_cast<png_uint_32>(argb.width()), static_cast<png_uint_32>(argb.height()), 8,
               opaque ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  const int width = argb.width();
  for (int y = 0; y < argb.height(); ++y) {
    const uint8_t* in = argb.pixels() + static_cast<std::ptrdiff_t>(y) * argb.pitch();  // B, G, R, A
    uint8_t* out = packed;
    for (int x = 0; x < width; ++x, in += 4) {
      *out++ = in[2];
      *out++ = in[1];
      *out++ = in[0];
      if (!opaque) *out++ = in[3];
    }
    png_write_row(png, packed);
  }
  png_write_end(png, nullptr);
  return true;
}

}  // namespace

Image readPng(const uint8_t* data, std::size_t size) {
  Reading r{data, size, 0, {}, 4, 0};
  PngReader reader;
  reader.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &r, onError, onWarning);
  if (!reader.png) return failed("PNG: out of memory");
  reader.info = png_create_info_struct(reader.png);
  if (!reader.info) return failed("PNG: out of memory");
  png_set_read_fn(reader.png, &r, readBytes);
  // Damage is refused: a failed CRC in any chunk, and the faults libpng
  // would otherwise let pass (image data too short or too long).
  png_set_crc_action(reader.png, PNG_CRC_DEFAULT, PNG_CRC_ERROR_QUIT);
  png_set_benign_errors(reader.png, 0);
  // An index past a short palette is opaque black, as in BMP.
  png_set_check_for_invalid_index(reader.png, 0);
  png_uint_32 width = 0, height = 0;
  if (!readHeader(reader.png, reader.info, width, height)) return failed(std::string("PNG: ") + r.message);
  std::string reason;
  if (!sizeAllowed(width, height, reason)) return failed("PNG: " + reason);
  Image image(static_cast<int>(width), static_cast<int>(height), 32);
  if (!image) return image;
  std::vector<png_bytep> rows(height);
  std::vector<uint8_t> wide;
  if (r.bytesPerPixel == 8) wide.resize(std::size_t{width} * height * 8);
  for (png_uint_32 y = 0; y < height; ++y) {
    rows[y] = wide.empty() ? image.pixels() + static_cast<std::ptrdiff_t>(y) * image.pitch()
                           : wide.data() + std::size_t{y} * width * 8;
  }
  if (!readRows(reader.png, reader.info, rows.data())) return failed(std::string("PNG: ") + r.message);
  if (!wide.empty()) {
    // Colour through the gamma, alpha as stored: each rounded to 8 bits.
    const std::vector<uint8_t> shown = gammaTable(65536, r.exponent);
    for (png_uint_32 y = 0; y < height; ++y) {
      const uint8_t* in = rows[y];
      uint8_t* out = image.pixels() + static_cast<std::ptrdiff_t>(y) * image.pitch();
      for (png_uint_32 i = 0; i < width * 4; ++i) {
        const uint32_t v = static_cast<uint32_t>(in[2 * i] << 8 | in[2 * i + 1]);
        out[i] = i % 4 == 3 ? static_cast<uint8_t>((v + 128) / 257) : shown[v];
      }
    }
  }
  return image;
}

bool writePng(const Image& argb, bool opaque, std::vector<uint8_t>& file) {
  Reading r{nullptr, 0, 0, {}, 4, 0};
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &r, onError, onWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  file.clear();
  file.reserve(static_cast<std::size_t>(argb.width()) * argb.height());
  std::vector<uint8_t> packed(static_cast<std::size_t>(argb.width()) * 4);
  const bool ok = info && writeRows(png, info, argb, opaque, packed.data(), file);
  png_destroy_write_struct(&png, info ? &info : nullptr);
  if (!ok) failed(std::string("PNG: ") + (info ? r.message : "out of memory"));
  return ok;
}

}  // namespace pellucet::codec
