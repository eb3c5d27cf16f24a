// JPEG through libjpeg: baseline and progressive files, grey, YCbCr or RGB,
// into 32 bits (libjpeg-turbo's extended colour spaces give the image's
// 0xAARRGGBB words, alpha 255), then turned upright by the file's EXIF
// orientation. CMYK and YCCK are refused, and so is any file libjpeg finds
// damaged or cut short, even where it would warn and go on with made-up
// pixels.
#include <bit>
#include <csetjmp>
#include <cstdio>
#include <string>

// jpeglib.h wants FILE and size_t declared before it.
#include <jpeglib.h>
#include <jerror.h>

#include "api/image_codecs.h"

namespace pellucet::codec {
namespace {

// A progressive file has about ten scans; a damaged one of thousands of
// tiny scans would keep the decoder busy for minutes.
constexpr int mostScans = 1000;
// libjpeg's own memory (a progressive file keeps every coefficient until its
// last scan), no more than the largest image's pixels take.
constexpr long mostMemory = long{1} << 30;

// What libjpeg's callbacks share. longjmp leaves them, so nothing here has a
// destructor to run; the image is made by the caller once the size is known
// and checked.
struct Decoding {
  jpeg_decompress_struct info;
  jpeg_error_mgr errors;
  jpeg_progress_mgr progress;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
  bool created;
};

[[noreturn]] void stop(j_common_ptr info) {
  auto* d = static_cast<Decoding*>(info->client_data);
  switch (info->err->msg_code) {
    case JWRN_JPEG_EOF: std::snprintf(d->message, sizeof d->message, "the file is truncated"); break;
    case JERR_NO_BACKING_STORE:
      std::snprintf(d->message, sizeof d->message, "decoding it would take more than %ld MiB", mostMemory >> 20);
      break;
    default: (*info->err->format_message)(info, d->message);
  }
  std::longjmp(d->jump, 1);
}

// A warning (level -1) is libjpeg going on past damage: a bad code, data
// that ends early, bytes where a marker should be. Only an unknown JFIF
// version leaves the pixels sound.
void onMessage(j_common_ptr info, int level) {
  if (level < 0 && info->err->msg_code != JWRN_JFIF_MAJOR) stop(info);
}

void printNothing(j_common_ptr) {}  // the runtime prints nothing

void onProgress(j_common_ptr info) {
  auto* d = static_cast<Decoding*>(info->client_data);
  if (d->info.input_scan_number > mostScans) {
    std::snprintf(d->message, sizeof d->message, "more than %d scans", mostScans);
    std::longjmp(d->jump, 1);
  }
}

bool readHeader(Decoding& d, const uint8_t* data, std::size_t size) {
  d.info.err = jpeg_std_error(&d.errors);
  d.errors.error_exit = stop;
  d.errors.emit_message = onMessage;
  d.errors.output_message = printNothing;
  d.info.client_data = &d;
  if (setjmp(d.jump)) return false;
  d.created = true;  // destroying a half-made decoder is safe
  jpeg_create_decompress(&d.info);
  d.progress.progress_monitor = onProgress;
  d.info.progress = &d.progress;
  d.info.mem->max_memory_to_use = mostMemory;
  jpeg_mem_src(&d.info, data, static_cast<unsigned long>(size));
  jpeg_read_header(&d.info, TRUE);
  return true;
}

// A progressive file is read whole here, every scan.
bool startDecoding(Decoding& d) {
  if (setjmp(d.jump)) return false;
  // The bytes of 0xAARRGGBB words in memory.
  d.info.out_color_space = std::endian::native == std::endian::little ? JCS_EXT_BGRA : JCS_EXT_ARGB;
  jpeg_start_decompress(&d.info);
  return true;
}

bool readRows(Decoding& d, uint8_t* pixels, int pitch) {
  if (setjmp(d.jump)) return false;
  while (d.info.output_scanline < d.info.output_height) {
    JSAMPROW row = pixels + static_cast<std::ptrdiff_t>(d.info.output_scanline) * pitch;
    if (jpeg_read_scanlines(&d.info, &row, 1) != 1) {
      std::snprintf(d.message, sizeof d.message, "the rows stopped at %u", d.info.output_scanline);
      return false;
    }
  }
  // On to the end of the image, so that a file cut after its last row is
  // refused too.
  jpeg_finish_decompress(&d.info);
  return true;
}

struct Decoder {
  Decoding d{};
  ~Decoder() {
    if (d.created) jpeg_destroy_decompress(&d.info);
  }
};

}  // namespace

Image readJpeg(const uint8_t* data, std::size_t size) {
  Image image;
  {
    Decoder decoder;
    Decoding& d = decoder.d;
    if (!readHeader(d, data, size)) return failed(std::string("JPEG: ") + d.message);
    switch (d.info.jpeg_color_space) {
      case JCS_GRAYSCALE:
      case JCS_YCbCr:
      case JCS_RGB: break;
      case JCS_CMYK:
      case JCS_YCCK: return failed("JPEG: CMYK files are not read");
      default:
        return failed("JPEG: a colour space of " + std::to_string(d.info.num_components) + " components is not read");
    }
    const int64_t width = d.info.image_width, height = d.info.image_height;
    std::string reason;
    if (!sizeAllowed(width, height, reason)) return failed("JPEG: " + reason);
    if (!startDecoding(d)) return failed(std::string("JPEG: ") + d.message);
    if (d.info.output_width != width || d.info.output_height != height || d.info.output_components != 4) {
      return failed("JPEG: libjpeg gave an unexpected output format");
    }
    image = Image(static_cast<int>(width), static_cast<int>(height), 32);
    if (!image) return image;
    if (!readRows(d, image.pixels(), image.pitch())) return failed(std::string("JPEG: ") + d.message);
  }  // libjpeg's memory goes before a turned copy is made
  return oriented(std::move(image), jpegOrientation(data, size));
}

}  // namespace pellucet::codec
