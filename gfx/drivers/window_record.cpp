#include "window_record.h"

#include <cmath>

#include "gfx/driver.h"
#include "gfx/mode.h"

namespace pel {

void WindowTitle::set(const char* title) {
  std::lock_guard guard(lock_);
  title_ = title ? title : "";
  changed_ = true;
}

bool WindowTitle::takeChange(std::string& title) {
  std::lock_guard guard(lock_);
  if (!changed_) return false;
  title = title_;
  changed_ = false;
  return true;
}

std::string WindowTitle::current() {
  std::lock_guard guard(lock_);
  return title_;
}

void StartSignal::reset() {
  std::lock_guard guard(lock_);
  state_ = 1;
}

void StartSignal::report(bool running) {
  {
    std::lock_guard guard(lock_);
    state_ = running ? 0 : -1;
  }
  reported_.notify_all();
}

bool StartSignal::wait() {
  std::unique_lock guard(lock_);
  reported_.wait(guard, [this] { return state_ != 1; });
  return state_ == 0;
}

bool DoubleClicks::press(int32_t buttonBit, uint32_t time) {
  int i = 0;
  while (i < 5 && buttonBit != 1 << i) ++i;
  if (i == 5) return false;
  const bool doubleClick = pending_[i] && time - last_[i] <= ms;
  // The press that ends a double click starts nothing.
  pending_[i] = !doubleClick;
  last_[i] = time;
  return doubleClick;
}

PictureRect pictureInWindow(int32_t clientW, int32_t clientH, int32_t pageW, int32_t pageH, PicturePlace how,
                            int32_t zoom) {
  if (how == PicturePlace::corner || clientW < 1 || clientH < 1) return {0, 0, pageW, pageH};
  if (how == PicturePlace::centred) return {(clientW - pageW) / 2, (clientH - pageH) / 2, pageW, pageH};
  const int64_t zoomedW = int64_t{pageW} * zoom, zoomedH = int64_t{pageH} * zoom;
  if (zoom >= 1 && zoomedW <= clientW && zoomedH <= clientH) {
    const auto w = static_cast<int32_t>(zoomedW), h = static_cast<int32_t>(zoomedH);
    return {(clientW - w) / 2, (clientH - h) / 2, w, h};
  }
  return centredPicture(clientW, clientH, pageW, pageH);
}

bool refusesOpenGlMode(int32_t modeFlags) {
  if (!(modeFlags & modeflag::openGl)) return false;
  refuseBecause("OpenGL modes are the OpenGL back end's");
  return true;
}

namespace {
// The last place of any window, for the mode it belongs to.
std::mutex areaLock;
WindowArea lastArea{};
uint32_t lastAreaMode = 0;
}  // namespace

void placeWindow(WindowRecord& r, int32_t clientW, int32_t clientH, const PictureRect& shown, double bufferScale) {
  const double s = bufferScale > 0 ? bufferScale : 1;
  // Whole window pixels, rounded down (a hair over, so that 300 / 1.5 is 200).
  auto inWindow = [s](int32_t v) { return static_cast<int32_t>(std::floor(v / s + 1e-9)); };
  const WindowArea area{clientW, clientH, inWindow(shown.x), inWindow(shown.y), inWindow(shown.width),
                        inWindow(shown.height)};
  const bool changed = clientW != r.windowW || clientH != r.windowH || shown.x != r.picture.x ||
                       shown.y != r.picture.y || shown.width != r.picture.width || shown.height != r.picture.height;
  r.windowW = clientW;
  r.windowH = clientH;
  r.picture = shown;
  if (const ScreenMode* m = currentMode()) {
    std::lock_guard guard(areaLock);
    lastArea = area;
    lastAreaMode = m->id;
  }
  if (r.placed && changed) windowResized(r.rules, area);
  r.placed = true;
}

bool windowArea(WindowArea& area) {
  const ScreenMode* m = currentMode();
  std::lock_guard guard(areaLock);
  if (!m || m->id != lastAreaMode || lastAreaMode == 0) return false;
  area = lastArea;
  return true;
}

}  // namespace pel
