#include "present.h"

#include <cstring>

#include "gfx/mode.h"
#include "gfx/pages.h"

namespace pel {
namespace {

// Rows of whole 32-bit words, as bitmaps and surfaces keep them.
std::size_t wordPitch(int32_t width, int32_t bytesPerPixel) {
  return (static_cast<std::size_t>(width) * static_cast<std::size_t>(bytesPerPixel) + 3) & ~std::size_t{3};
}

uint8_t* rowAt(uint8_t* base, std::size_t pitch, int32_t row) { return base + static_cast<std::size_t>(row) * pitch; }

}  // namespace

void Presenter::setFormat(Blitter blitter, int32_t bytesPerPixel, RowCopy copy) {
  reset();
  blitter_ = blitter;
  bytesPerPixel_ = bytesPerPixel;
  copy_ = copy;
}

void Presenter::reset() {
  blitter_ = nullptr;
  bytesPerPixel_ = 4;
  copy_ = nullptr;
  converted_ = {};
  convertedPitch_ = 0;
  map_ = ScaleMap{};
  scaled_ = {};
  scaledPitch_ = 0;
  last_ = Last::nothing;
}

void Presenter::prepareConverted(ScreenMode* m) {
  const int32_t lines = m->height * m->scanlineRepeat;
  const std::size_t pitch = wordPitch(m->width, bytesPerPixel_);
  if (convertedPitch_ != pitch || converted_.size() != pitch * static_cast<std::size_t>(lines)) {
    convertedPitch_ = pitch;
    converted_.assign(pitch * static_cast<std::size_t>(lines), 0);
    // Memory made afresh lacks every row.
    markAllRows(m);
  }
}

PresentedRows Presenter::take(ScreenMode* m, int32_t shownW, int32_t shownH, uint8_t* into,
                              std::size_t intoPitch) {
  if (!m) return {};
  const int32_t width = m->width, lines = m->height * m->scanlineRepeat, repeat = m->scanlineRepeat;
  const bool scaled = shownW != width || shownH != lines;
  // Memory of its own for the page in the surface's format, where the band
  // is converted or copied there.
  if (blitter_ ? scaled || !into : !scaled && !into && (repeat > 1 || copy_)) prepareConverted(m);
  const RowSpan band = dirtyRows(m);
  if (band.first == band.end) return {};
  const int32_t top = band.first * repeat, end = band.end * repeat;
  // The band goes whole, the unmarked rows inside it too, whether it is
  // copied or converted (a blitter converts only marked rows).
  std::memset(m->dirty + band.first, 1, static_cast<std::size_t>(band.end - band.first));

  // The band in the surface's format, at the page's size.
  const uint8_t* source = m->visibleBuffer;
  std::size_t sourcePitch = static_cast<std::size_t>(m->pitch);
  int32_t sourceRepeat = repeat;
  if (blitter_) {
    uint8_t* target = !scaled && into ? into : converted_.data();
    const std::size_t pitch = !scaled && into ? intoPitch : convertedPitch_;
    blitter_(target, static_cast<int32_t>(pitch));
    if (!scaled) {
      last_ = into ? Last::caller : Last::converted;
      return {target, pitch, {top, end}, {top, end}};
    }
    source = target;
    sourcePitch = pitch;
    sourceRepeat = 1;
  } else if (!scaled) {
    if (!into && repeat == 1 && !copy_) {
      last_ = Last::page;
      return {m->visibleBuffer, sourcePitch, {top, end}, {top, end}};
    }
    uint8_t* target = into ? into : converted_.data();
    const std::size_t pitch = into ? intoPitch : convertedPitch_;
    if (!copy_ && repeat == 1 && pitch == sourcePitch) {
      // One copy of the whole band: the C library's copy writes whole cache
      // lines without reading them first, which matters for memory that
      // the display reads next.
      std::memcpy(rowAt(target, pitch, top), source + static_cast<std::size_t>(top) * sourcePitch,
                  static_cast<std::size_t>(end - top) * pitch);
    } else {
      const auto rowBytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(bytesPerPixel_);
      for (int32_t y = top; y < end; ++y) {
        const uint8_t* row = source + static_cast<std::size_t>(y / repeat) * sourcePitch;
        if (copy_) {
          copy_(rowAt(target, pitch, y), row, width);
        } else {
          std::memcpy(rowAt(target, pitch, y), row, rowBytes);
        }
      }
    }
    last_ = into ? Last::caller : Last::converted;
    return {target, pitch, {top, end}, {top, end}};
  }

  // Scaled by the runtime's own rule, so every back end shows the same pixels.
  if (map_.srcW != width || map_.srcH != lines || map_.dstW != shownW || map_.dstH != shownH ||
      map_.bytesPerPixel != bytesPerPixel_) {
    scaled_ = {};
    scaledPitch_ = 0;
    if (!buildScaleMap(map_, width, lines, shownW, shownH, bytesPerPixel_)) return {};
  }
  if (!into && scaled_.empty()) {
    scaledPitch_ = wordPitch(shownW, bytesPerPixel_);
    scaled_.assign(scaledPitch_ * static_cast<std::size_t>(shownH), 0);
  }
  uint8_t* target = into ? into : scaled_.data();
  const std::size_t pitch = into ? intoPitch : scaledPitch_;
  const RowSpan rows = scaledRows(map_, top, end);
  scaleRows(map_, source, sourcePitch, sourceRepeat, target, pitch, rows);
  last_ = into ? Last::caller : Last::scaled;
  return {target, pitch, rows, {top, end}};
}

PresentedRows Presenter::whole(const ScreenMode* m, int32_t shownW, int32_t shownH) const {
  if (!m) return {};
  const int32_t lines = m->height * m->scanlineRepeat;
  const bool pageSized = shownW == m->width && shownH == lines;
  if (last_ == Last::scaled ? map_.dstW != shownW || map_.dstH != shownH : !pageSized) return {};
  switch (last_) {
    case Last::page: return {m->visibleBuffer, static_cast<std::size_t>(m->pitch), {0, lines}, {0, lines}};
    case Last::converted: return {converted_.data(), convertedPitch_, {0, lines}, {0, lines}};
    case Last::scaled: return {scaled_.data(), scaledPitch_, {0, map_.dstH}, {0, lines}};
    default: return {};
  }
}

void finishPresent(ScreenMode* m, bool shown) {
  if (m) std::memset(m->dirty, shown ? 0 : 1, static_cast<std::size_t>(m->height) * static_cast<std::size_t>(m->scanlineRepeat));
}

ScreenMode* modeToPresent(const DisplayDriver& driver, int32_t first, int32_t last) {
  ScreenMode* m = currentMode();
  if (!m || m->driver != &driver || first < 0 || last >= m->height || first > last) return nullptr;
  return m;
}

void markRows(ScreenMode* m, int32_t first, int32_t last) {
  std::memset(m->dirty + first, 1, static_cast<std::size_t>(last - first + 1));
}

}  // namespace pel
