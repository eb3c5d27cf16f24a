#include "text.h"

#include <algorithm>
#include <cstring>

#include "gfx/draw.h"
#include "gfx/fonts.h"
#include "gfx/mode.h"
#include "gfx/pages.h"
#include "gfx/pixel.h"
#include "runtime/runtime.h"

namespace pel {
namespace {

struct ViewBox {
  int64_t left, top, right, bottom;  // right and bottom exclusive
};

ViewBox viewBox(const DrawContext* c) {
  return {c->viewX, c->viewY, int64_t{c->viewX} + c->viewWidth, int64_t{c->viewY} + c->viewHeight};
}

// Rows of a glyph band that start at row y, h rows high, once clipped to the
// view: the first visible glyph row and the count; false when none show.
bool clipRows(const ViewBox& v, int64_t& y, int64_t h, int64_t& skip, int64_t& visible) {
  if (y + h <= v.top || y >= v.bottom) return false;
  skip = y < v.top ? v.top - y : 0;
  y += skip;
  visible = std::min(h - skip, v.bottom - y);
  return visible > 0;
}

void drawBuiltin(DrawContext* c, const FontRecord& font, const uint8_t* bytes, int64_t n, int64_t px, int64_t py,
                 uint32_t colour, int32_t& firstRow, int32_t& lastRow) {
  const ViewBox v = viewBox(c);
  const int64_t w = font.width, h = font.height, rowBytes = (font.width + 7) / 8;
  int64_t skip, rows;
  if (px + n * w <= v.left || px >= v.right || !clipRows(v, py, h, skip, rows)) return;
  int64_t k = 0;
  if (px < v.left) {
    k = (v.left - px) / w;
    px += k * w;
  }
  const int64_t end = px + (n - k) * w;
  if (end > v.right) n -= (end - v.right) / w;
  for (int64_t i = k; i < n; ++i, px += w) {
    if (px + w <= v.left) continue;
    if (px >= v.right) break;
    const uint8_t* glyph = font.glyphs + static_cast<uint8_t>(bytes[i]) * rowBytes * h + skip * rowBytes;
    for (int64_t row = 0; row < rows; ++row, glyph += rowBytes) {
      for (int64_t column = 0; column < w; ++column) {
        const int64_t x = px + column;
        if (((glyph[column / 8] >> (column % 8)) & 1) && x >= v.left && x < v.right) {
          c->putPixel(c, static_cast<int32_t>(x), static_cast<int32_t>(py + row), colour);
        }
      }
    }
  }
  firstRow = static_cast<int32_t>(py);
  lastRow = static_cast<int32_t>(py + rows - 1);
}

// A user font's image: pixel size, size in pixels, pitch and first pixel.
struct FontImage {
  int32_t bytesPerPixel, width, height, pitch;
  const uint8_t* pixels;
};

FontImage readFontImage(const uint8_t* image, int32_t targetBytesPerPixel) {
  int32_t tag;
  std::memcpy(&tag, image, sizeof tag);
  if (tag == longImageTag) {
    ImageHeader h;
    std::memcpy(&h, image, sizeof h);
    return {h.bytesPerPixel, h.width, h.height, h.pitch, image + sizeof(ImageHeader)};
  }
  const int32_t first = image[0] | image[1] << 8;
  const int32_t bpp = (first & 7) ? (first & 7) : targetBytesPerPixel;
  const int32_t width = first >> 3;
  return {bpp, width, image[2] | image[3] << 8, width * bpp, image + 4};
}

// Returns 1 for a font that cannot be used, else 0.
int32_t drawUserFont(DrawContext* c, const uint8_t* image, const uint8_t* bytes, int64_t n, int64_t px, int64_t py,
                     uint32_t colour, GlyphPutter putter, void* blender, void* param, int32_t& firstRow,
                     int32_t& lastRow) {
  const ViewBox v = viewBox(c);
  const FontImage f = readFontImage(image, c->targetBytesPerPixel);
  if (py + f.height - 1 <= v.top || py >= v.bottom) return 0;
  // The header row holds the version, the code range and one width per code.
  if (f.bytesPerPixel != c->targetBytesPerPixel || f.pitch <= 3 || f.height - 1 <= 0 || f.width <= 0 ||
      f.pitch < int64_t{f.width} * f.bytesPerPixel || f.pixels[0] != 0 || !putter) {
    return 1;
  }
  int32_t firstCode = f.pixels[1], lastCode = f.pixels[2];
  if (firstCode > lastCode) std::swap(firstCode, lastCode);
  if (3 + lastCode - firstCode + 1 > f.pitch) return 1;  // widths beyond the header row
  int64_t skip, rows;
  if (!clipRows(v, py, f.height - 1, skip, rows)) return 0;
  struct Glyph {
    int32_t width;
    const uint8_t* source;
  };
  Glyph glyphs[256] = {};
  int64_t offset = 0;
  const uint8_t* rowOne = f.pixels + f.pitch + skip * f.pitch;
  for (int32_t code = firstCode; code <= lastCode; ++code) {
    const int32_t width = f.pixels[3 + code - firstCode];
    glyphs[code] = {width, rowOne + offset * f.bytesPerPixel};
    offset += width;
  }
  if (offset > f.pitch / f.bytesPerPixel) return 1;
  for (int64_t i = 0; i < n && px < v.right; ++i) {
    const Glyph& g = glyphs[static_cast<uint8_t>(bytes[i])];
    if (!g.source) {
      px += rows;  // no glyph: advance by the clipped glyph height
      continue;
    }
    if (px + g.width < v.left) {
      px += g.width;
      continue;
    }
    const uint8_t* source = g.source;
    int64_t start = px, width = g.width;
    if (start < v.left) {
      source += (v.left - start) * f.bytesPerPixel;
      width -= v.left - start;
      start = v.left;
    }
    width = std::min(width, v.right - start);
    if (width > 0) {
      putter(source, c->rows[py] + start * c->targetBytesPerPixel, static_cast<int32_t>(width),
             static_cast<int32_t>(rows), f.pitch, c->targetPitch, colour, blender, param);
    }
    px += g.width;
  }
  firstRow = static_cast<int32_t>(py);
  lastRow = static_cast<int32_t>(py + rows - 1);
  return 0;
}

// The colour blended over a 32-bit pixel by a weight of 0..256: each byte
// (d * (256 - w) + s * w) >> 8, so 256 gives the colour exactly.
uint32_t weighted(uint32_t pixel, uint32_t colour, uint32_t w) {
  uint32_t result = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    const uint32_t d = pixel >> shift & 0xFF, s = colour >> shift & 0xFF;
    result |= ((d * (256 - w) + s * w) >> 8) << shift;
  }
  return result;
}

// One coverage pixel: blended in 16- and 32-bit targets, set or not in 8-bit
// ones. `colour` is the caller's 0xAARRGGBB; `converted` its target form.
void coverPixel(DrawContext* c, int32_t x, int32_t y, uint32_t coverage, uint32_t colour, uint32_t converted,
                bool alphaScales) {
  if (c->targetBytesPerPixel == 1) {
    if (coverage >= 128) c->putPixel(c, x, y, converted);
    return;
  }
  if (alphaScales) coverage = (coverage * (colour >> 24) + 127) / 255;
  const uint32_t w = coverage + (coverage >> 7);  // 0..255 to 0..256
  if (w == 0) return;
  if (c->targetBytesPerPixel == 4) {
    uint8_t* p = c->rows[y] + int64_t{x} * 4;
    uint32_t d;
    std::memcpy(&d, p, 4);
    // With alpha primitives the result keeps the colour's alpha, as blended
    // pixels do; otherwise full coverage writes the colour as it is.
    d = alphaScales ? (weighted(d, colour, w) & 0xFFFFFFu) | (colour & 0xFF000000u) : weighted(d, colour, w);
    std::memcpy(p, &d, 4);
    return;
  }
  // RGB565: widened without filling the low bits, narrowed by truncation, as
  // the runtime converts 32-bit colours for 16-bit targets.
  uint8_t* p = c->rows[y] + int64_t{x} * 2;
  uint16_t v;
  std::memcpy(&v, p, 2);
  const uint32_t wide = (v & 0xF800u) << 8 | (v & 0x07E0u) << 5 | (v & 0x1Fu) << 3;
  const uint32_t mixed = weighted(wide, colour & 0xFFFFFFu, w);
  v = static_cast<uint16_t>((mixed >> 8 & 0xF800u) | (mixed >> 5 & 0x07E0u) | (mixed >> 3 & 0x1Fu));
  std::memcpy(p, &v, 2);
}

}  // namespace

int32_t drawGlyphs(const void* target, float x, float y, const GlyphPicture* glyphs, int32_t count, uint32_t colour) {
  setLastError(0);
  DrawContext* c = getContext();
  const ScreenMode* m = currentMode();
  if (!m || !c || !glyphs || count <= 0) return 0;
  if (!selectTarget(c, target)) return setLastError(1);
  const uint32_t converted = convertColour(c->targetBytesPerPixel, colour);
  chooseDrawRoutines(c, converted);
  const bool alphaScales = (m->flags & screenflag::alphaPrimitives) && c->targetBytesPerPixel == 4;
  resolveCoordinates(c, 0, x, y, nullptr, nullptr);
  int32_t px, py;
  if (!mapToPhysical(c, x, y, px, py)) return 0;
  const ViewBox v = viewBox(c);
  int64_t firstRow = INT64_MAX, lastRow = INT64_MIN;
  lockScreen();
  for (int32_t i = 0; i < count; ++i) {
    const GlyphPicture& g = glyphs[i];
    const int64_t left = int64_t{px} + g.x, top = int64_t{py} + g.y;
    const int64_t x0 = std::max(left, v.left), x1 = std::min(left + g.width, v.right);
    const int64_t y0 = std::max(top, v.top), y1 = std::min(top + g.height, v.bottom);
    if (x0 >= x1 || y0 >= y1 || !g.bits) continue;
    for (int64_t row = y0; row < y1; ++row) {
      const uint8_t* bits = g.bits + (row - top) * g.pitch;
      for (int64_t column = x0; column < x1; ++column) {
        const int64_t k = column - left;
        const auto cx = static_cast<int32_t>(column), cy = static_cast<int32_t>(row);
        switch (g.kind) {
          case GlyphPicture::Bits::highFirst:
            if (bits[k / 8] >> (7 - k % 8) & 1) c->putPixel(c, cx, cy, converted);
            break;
          case GlyphPicture::Bits::lowFirst:
            if (bits[k / 8] >> (k % 8) & 1) c->putPixel(c, cx, cy, converted);
            break;
          case GlyphPicture::Bits::coverage:
            coverPixel(c, cx, cy, bits[k], colour, converted, alphaScales);
            break;
        }
      }
    }
    firstRow = std::min(firstRow, y0);
    lastRow = std::max(lastRow, y1 - 1);
  }
  if (firstRow <= lastRow) markTargetRows(c, static_cast<int32_t>(firstRow), static_cast<int32_t>(lastRow));
  unlockScreen(1, 0);
  return 0;
}

int32_t drawString(const void* target, float x, float y, uint32_t flags, const TextString* text, uint32_t colour,
                   const void* font, int32_t mode, GlyphPutter putter, void* blender, void* param) {
  setLastError(0);
  DrawContext* c = getContext();
  if (!currentMode() || !c) return 0;
  if (!text) return setLastError(1);
  if (!text->bytes) return 0;
  if (!selectTarget(c, target)) return setLastError(1);
  if (mode != unconvertedColourMode) {
    colour = (flags & drawflag::useForeground) ? c->foreground : convertColour(c->targetBytesPerPixel, colour);
  }
  chooseDrawRoutines(c, colour);
  resolveCoordinates(c, flags, x, y, nullptr, nullptr);
  int32_t px, py;
  if (!mapToPhysical(c, x, y, px, py)) return 0;
  const int64_t n = text->length & ~temporaryString;
  int32_t firstRow = 0, lastRow = -1;
  int32_t result = 0;
  lockScreen();
  if (!font) {
    if (const FontRecord* f = currentMode()->font; f && f->glyphs) {
      drawBuiltin(c, *f, reinterpret_cast<const uint8_t*>(text->bytes), n, px, py, colour, firstRow, lastRow);
    }
  } else {
    result = drawUserFont(c, static_cast<const uint8_t*>(font), reinterpret_cast<const uint8_t*>(text->bytes), n, px,
                          py, colour, putter, blender, param, firstRow, lastRow);
  }
  if (result == 0) markTargetRows(c, firstRow, lastRow);
  unlockScreen(1, 0);
  return setLastError(result);
}

}  // namespace pel
