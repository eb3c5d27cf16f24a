// The public layer's images: pixels the program owns in the runtime's long
// image form, drawing into them, and putting them on the work page or into
// one another.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "gfx/draw.h"
#include "gfx/mode.h"
#include "gfx/pages.h"
#include "gfx/pixel.h"
#include "gfx/put_rows.h"
#include "api/image_codecs.h"
#include "api/internal.h"
#include "pellucet/pellucet.h"

namespace pellucet {

// The runtime's view of an image: its header, which selectTarget reads.
struct ImageAccess {
  static const pel::ImageHeader* header(const Image& image) {
    return reinterpret_cast<const pel::ImageHeader*>(image.block_);
  }
  static uint8_t* block(Image& image) { return image.block_; }
};

namespace {

int bytesFor(int depth) { return depth == 8 ? 1 : depth == 16 ? 2 : depth == 32 ? 4 : 0; }
int depthOf(int bytesPerPixel) { return bytesPerPixel * 8; }

uint32_t loadPixel(const uint8_t* p, int bytes) {
  switch (bytes) {
    case 1: return *p;
    case 2: {
      uint16_t v;
      std::memcpy(&v, p, 2);
      return v;
    }
    default: {
      uint32_t v;
      std::memcpy(&v, p, 4);
      return v;
    }
  }
}

void storePixel(uint8_t* p, int bytes, uint32_t v) {
  switch (bytes) {
    case 1: *p = static_cast<uint8_t>(v); break;
    case 2: {
      const auto h = static_cast<uint16_t>(v);
      std::memcpy(p, &h, 2);
      break;
    }
    default: std::memcpy(p, &v, 4); break;
  }
}

// 0xAARRGGBB of a pixel in its own format: 16 bits by the runtime's rule
// (each channel shifted up, low bits zero), indices through the screen's
// palette; both opaque.
uint32_t toArgb(uint32_t v, int bytes) {
  switch (bytes) {
    case 1: {
      const pel::ScreenMode* m = pel::currentMode();
      return argbOfPaletteEntry(m ? m->palette[v & 0xFF] : 0);
    }
    case 2: return argbOf565(v);
    default: return v;
  }
}

// A pixel of one format in another, by the runtime's colour rules.
uint32_t convertPixel(uint32_t v, int from, int to) {
  if (from == to) return v;
  return pel::convertColour(to, toArgb(v, from));
}

}  // namespace

Image::Image(int width, int height, int depth) {
  const pel::ScreenMode* m = pel::currentMode();
  if (depth == 0) depth = m ? depthOf(m->bytesPerPixel) : 32;
  const int bytes = bytesFor(depth);
  if (bytes == 0) {
    setPublicFailure("an image is 8, 16 or 32 bits a pixel, not " + std::to_string(depth));
    return;
  }
  std::string reason;
  if (!codec::sizeAllowed(width, height, reason)) {
    setPublicFailure(reason);
    return;
  }
  const int64_t pitch = (static_cast<int64_t>(width) * bytes + 3) / 4 * 4;
  auto* block = static_cast<uint8_t*>(std::calloc(1, sizeof(pel::ImageHeader) + static_cast<std::size_t>(pitch * height)));
  if (!block) {
    setPublicFailure("out of memory for a " + std::to_string(width) + " x " + std::to_string(height) + " image");
    return;
  }
  const pel::ImageHeader header{pel::longImageTag, bytes, width, height, static_cast<int32_t>(pitch), {}};
  std::memcpy(block, &header, sizeof header);
  block_ = block;
}

Image::~Image() { std::free(block_); }
Image::Image(Image&& other) noexcept : block_(other.block_) { other.block_ = nullptr; }
Image& Image::operator=(Image&& other) noexcept {
  if (this != &other) {
    std::free(block_);
    block_ = other.block_;
    other.block_ = nullptr;
  }
  return *this;
}

int Image::width() const { return block_ ? ImageAccess::header(*this)->width : 0; }
int Image::height() const { return block_ ? ImageAccess::header(*this)->height : 0; }
int Image::bytesPerPixel() const { return block_ ? ImageAccess::header(*this)->bytesPerPixel : 0; }
int Image::depth() const { return depthOf(bytesPerPixel()); }
int Image::pitch() const { return block_ ? ImageAccess::header(*this)->pitch : 0; }
uint8_t* Image::pixels() { return block_ ? block_ + sizeof(pel::ImageHeader) : nullptr; }
const uint8_t* Image::pixels() const { return block_ ? block_ + sizeof(pel::ImageHeader) : nullptr; }

uint32_t Image::pixel(int x, int y) const {
  if (!block_ || x < 0 || y < 0 || x >= width() || y >= height()) return 0;
  return loadPixel(pixels() + static_cast<std::ptrdiff_t>(y) * pitch() + x * bytesPerPixel(), bytesPerPixel());
}

void Image::setPixel(int x, int y, uint32_t colour) {
  if (!block_ || x < 0 || y < 0 || x >= width() || y >= height()) return;
  const int bytes = bytesPerPixel();
  storePixel(pixels() + static_cast<std::ptrdiff_t>(y) * pitch() + x * bytes, bytes, pel::convertColour(bytes, colour));
}

// ---- Drawing into images ---------------------------------------------------

namespace {

void drawOn(Image& target, float x1, float y1, float x2, float y2, uint32_t colour, int32_t kind) {
  if (target) pel::drawLine(ImageAccess::block(target), x1, y1, x2, y2, colour, kind, 0xFFFF, 0);
}

}  // namespace

void line(Image& target, float x1, float y1, float x2, float y2, uint32_t colour) {
  drawOn(target, x1, y1, x2, y2, colour, pel::linekind::line);
}
void box(Image& target, float x1, float y1, float x2, float y2, uint32_t colour) {
  drawOn(target, x1, y1, x2, y2, colour, 1);
}
void fillBox(Image& target, float x1, float y1, float x2, float y2, uint32_t colour) {
  drawOn(target, x1, y1, x2, y2, colour, pel::linekind::filledBox);
}
void clear(Image& target, uint32_t colour) {
  drawOn(target, 0, 0, static_cast<float>(target.width() - 1), static_cast<float>(target.height() - 1), colour,
         pel::linekind::filledBox);
}
void text(Image& target, float x, float y, std::string_view utf8, uint32_t colour) {
  if (target) drawTextOn(ImageAccess::block(target), x, y, utf8, colour, nullptr);
}

// ---- Putting images --------------------------------------------------------

namespace {

// Pixels to write into: an image's, or the work page's.
struct Surface {
  uint8_t* pixels;
  int width, height, pitch, bytes;
};

// A run starting before 0 starts at 0, shorter by as much, and its partner's
// start (the other side of the put) moves along.
void clipStart(int64_t& start, int64_t& partner, int64_t& length) {
  if (start >= 0) return;
  length += start;
  partner -= start;
  start = 0;
}

// Puts the part; `firstRow` and `lastRow` get the target rows written (last
// below first for none). False, with the reason, when the put cannot be
// made; a put clipped to nothing is made (it writes nothing).
bool putOnto(const Surface& to, const Image& source, int x, int y, PutMode mode, uint32_t key, Rect part,
             int& firstRow, int& lastRow) {
  firstRow = 0;
  lastRow = -1;
  if (!pel::currentMode()) return setPublicFailure("no screen is open (puts use the screen's routines)"), false;
  if (!source) return setPublicFailure("the image put is empty"), false;
  const int from = source.bytesPerPixel();
  if (mode == PutMode::alpha && (from != 4 || to.bytes != 4)) {
    setPublicFailure("an alpha put needs 32 bits on both sides, not " + std::to_string(from * 8) + " onto " +
                     std::to_string(to.bytes * 8));
    return false;
  }
  int64_t sx = part.x, sy = part.y, dx = x, dy = y;
  int64_t w = part.width < 0 ? source.width() - sx : part.width;
  int64_t h = part.height < 0 ? source.height() - sy : part.height;
  // Clipped to the source, then to the target.
  clipStart(sx, dx, w);
  clipStart(sy, dy, h);
  w = std::min<int64_t>(w, source.width() - sx);
  h = std::min<int64_t>(h, source.height() - sy);
  clipStart(dx, sx, w);
  clipStart(dy, sy, h);
  w = std::min<int64_t>(w, to.width - dx);
  h = std::min<int64_t>(h, to.height - dy);
  if (w <= 0 || h <= 0) return true;
  firstRow = static_cast<int>(dy);
  lastRow = static_cast<int>(dy + h - 1);
  const uint32_t sourceKey = from == 4 ? key & 0xFFFFFF : pel::convertColour(from, key);
  const pel::PutRows& rows = pel::putRows();
  for (int64_t row = 0; row < h; ++row) {
    const uint8_t* s = source.pixels() + (sy + row) * source.pitch() + sx * from;
    uint8_t* d = to.pixels + (dy + row) * to.pitch + dx * to.bytes;
    if (mode == PutMode::solid && from == to.bytes) {
      std::memmove(d, s, static_cast<std::size_t>(w * from));
      continue;
    }
    if (from == 4 && to.bytes == 4) {
      if (mode == PutMode::alpha) {
        rows.blended(d, s, static_cast<int32_t>(w));
      } else {
        rows.keyed(d, s, static_cast<int32_t>(w), sourceKey);
      }
      continue;
    }
    for (int64_t i = 0; i < w; ++i, s += from, d += to.bytes) {
      const uint32_t v = loadPixel(s, from);
      if (mode == PutMode::colourKey && (from == 4 ? (v & 0xFFFFFF) : v) == sourceKey) continue;
      if (mode == PutMode::alpha) {
        storePixel(d, 4, pel::blendValue(loadPixel(d, 4), v));
      } else {
        storePixel(d, to.bytes, convertPixel(v, from, to.bytes));
      }
    }
  }
  return true;
}

}  // namespace

bool put(const Image& source, int x, int y, PutMode mode, uint32_t key, Rect part) {
  pel::ScreenMode* m = pel::currentMode();
  if (!m) return setPublicFailure("no screen is open to put on"), false;
  pel::lockScreen();
  const Surface page{pel::workPagePointer(), m->width, m->height, m->pitch, m->bytesPerPixel};
  int first = 0, last = -1;
  const bool done = page.pixels && putOnto(page, source, x, y, mode, key, part, first, last);
  pel::unlockScreen(first, last);  // the rows written, marked for presenting
  return done;
}

bool put(Image& target, const Image& source, int x, int y, PutMode mode, uint32_t key, Rect part) {
  if (!target) return setPublicFailure("the target image is empty"), false;
  const Surface surface{target.pixels(), target.width(), target.height(), target.pitch(), target.bytesPerPixel()};
  int first = 0, last = -1;
  if (&target != &source) return putOnto(surface, source, x, y, mode, key, part, first, last);
  // An image put onto itself reads as it was before the put: from a copy.
  Image copy(source.width(), source.height(), source.depth());
  if (!copy) return false;
  std::memcpy(copy.pixels(), source.pixels(), static_cast<std::size_t>(source.pitch()) * source.height());
  return putOnto(surface, copy, x, y, mode, key, part, first, last);
}

namespace {

// A rectangle of a page (the work page, or the visible one) at the screen's
// depth, read under the screen lock. `opaque` sets a 32-bit copy's top byte,
// which means nothing on a screen without alpha primitives.
Image copyOfPage(const pel::ScreenMode& m, bool visible, int64_t left, int64_t top, int64_t width, int64_t height,
                 bool opaque) {
  Image image(static_cast<int>(width), static_cast<int>(height), depthOf(m.bytesPerPixel));
  if (!image) return image;
  pel::lockScreen();
  const uint8_t* pixels = visible ? m.visibleBuffer : pel::workPagePointer();
  for (int64_t row = 0; row < height; ++row) {
    std::memcpy(image.pixels() + row * image.pitch(), pixels + (top + row) * m.pitch + left * m.bytesPerPixel,
                static_cast<std::size_t>(width * m.bytesPerPixel));
  }
  pel::unlockScreen(1, 0);
  if (opaque && m.bytesPerPixel == 4) {
    for (int row = 0; row < image.height(); ++row) {
      uint8_t* p = image.pixels() + static_cast<std::ptrdiff_t>(row) * image.pitch();
      for (int i = 0; i < image.width(); ++i) p[4 * i + 3] = 0xFF;
    }
  }
  return image;
}

}  // namespace

Image grab(int x, int y, int width, int height) {
  const pel::ScreenMode* m = pel::currentMode();
  if (!m) {
    setPublicFailure("no screen is open to grab from");
    return {};
  }
  // Clipped to the page.
  const int64_t left = std::max(x, 0), top = std::max(y, 0);
  const int64_t right = std::min<int64_t>(int64_t{x} + width, m->width), bottom = std::min<int64_t>(int64_t{y} + height, m->height);
  if (right <= left || bottom <= top) {
    setPublicFailure("the rectangle lies outside the page");
    return {};
  }
  // The grab is opaque as the screen shows it, unless the top byte is the
  // opacity (alpha primitives).
  return copyOfPage(*m, false, left, top, right - left, bottom - top,
                    !(m->flags & pel::screenflag::alphaPrimitives));
}

bool saveScreenshot(const char* path) {
  const pel::ScreenMode* m = pel::currentMode();
  if (!m) {
    setPublicFailure("no screen is open");
    return false;
  }
  // The file of an image of the screen's depth: indices through the
  // screen's palette, RGB565 widened so that white stays white.
  const Image shot = copyOfPage(*m, true, 0, 0, m->width, m->height, true);
  return shot && saveByExtension(shot, path);
}

}  // namespace pellucet
