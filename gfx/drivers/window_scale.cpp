#include "window_scale.h"

#include <atomic>
#include <new>

namespace pel {
namespace {

std::atomic<int32_t> requestedZoom{windowzoom::none};
std::atomic<bool> requestedResizable{false};
std::atomic<int32_t> windowZoom{0};

}  // namespace

void requestWindowScale(WindowScale scale) {
  requestedZoom = scale.zoom;
  requestedResizable = scale.resizable;
}

WindowScale requestedWindowScale() { return {requestedZoom, requestedResizable}; }

void publishWindowZoom(int32_t zoom) { windowZoom = zoom; }
int32_t publishedWindowZoom() { return windowZoom; }

int32_t chooseZoom(WindowScale scale, int32_t areaW, int32_t areaH, int32_t pageW, int32_t pageH,
                   int32_t desktopScale) {
  if (scale.zoom >= 1) return scale.zoom > windowzoom::largest ? windowzoom::largest : scale.zoom;
  if (scale.zoom == windowzoom::none && !scale.resizable) return 1;
  int32_t fits = 1;
  if (pageW > 0 && pageH > 0) {
    while (fits < windowzoom::largest && int64_t{fits + 1} * pageW <= areaW && int64_t{fits + 1} * pageH <= areaH)
      ++fits;
  }
  if (scale.zoom == windowzoom::fit) return fits;
  // The desktop's scale, for resizable windows and the explicit request.
  return desktopScale < 1 ? 1 : desktopScale < fits ? desktopScale : fits;
}

bool PictureScaler::prepare(int32_t srcW, int32_t srcH, int32_t dstW, int32_t dstH, int32_t bytesPerPixel) {
  if (ready() && map_.srcW == srcW && map_.srcH == srcH && map_.dstW == dstW && map_.dstH == dstH &&
      map_.bytesPerPixel == bytesPerPixel)
    return true;
  reset();
  if (!buildScaleMap(map_, srcW, srcH, dstW, dstH, bytesPerPixel)) return false;
  // Rows of whole 32-bit words, as bitmaps and surfaces keep them.
  pitch_ = (static_cast<std::size_t>(dstW) * static_cast<std::size_t>(bytesPerPixel) + 3) & ~std::size_t{3};
  std::vector<uint8_t> pixels;
  pixels.resize(pitch_ * static_cast<std::size_t>(dstH));
  pixels_ = std::move(pixels);
  return true;
}

void PictureScaler::reset() {
  map_ = ScaleMap{};
  pixels_ = {};
  pitch_ = 0;
}

RowSpan PictureScaler::scale(const uint8_t* source, std::size_t sourcePitch, int32_t repeat, int32_t top,
                             int32_t rows) {
  if (!ready()) return {0, 0};
  const RowSpan band = scaledRows(map_, top, top + rows);
  scaleRows(map_, source, sourcePitch, repeat, pixels_.data(), pitch_, band);
  return band;
}

}  // namespace pel
