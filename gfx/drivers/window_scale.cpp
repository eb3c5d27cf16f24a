#include "window_scale.h"

#include <atomic>

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

}  // namespace pel
