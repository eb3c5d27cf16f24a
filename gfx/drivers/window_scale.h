// Windows that show the page larger than it is: the zoom and resizing a
// program asks for, the picture's place in the client area (centred, its
// shape kept, black bars around it), the pointer mapped both ways, and the
// scaled copy of the picture that the back ends presenting from memory put
// on the window. Every window layer uses these, so every back end shows the
// same pixels: destination (x, y) shows page pixel (x * w / W, y * h / H)
// (the scaling itself is the present path's).
#pragma once
#include <cstdint>

namespace pel {

namespace windowzoom {
constexpr int32_t none = 0;      // the window is the mode's size, as without scaling
constexpr int32_t fit = -1;      // the largest whole zoom that fits the monitor's work area
constexpr int32_t desktop = -2;  // the desktop's own scale (1 on a 96 dpi desktop)
constexpr int32_t largest = 8;
}  // namespace windowzoom

struct WindowScale {
  int32_t zoom = windowzoom::none;  // 1 to largest, or one of windowzoom's
  bool resizable = false;           // the user may resize and maximise; the picture follows
  constexpr bool on() const { return zoom != windowzoom::none || resizable; }
};

// What the next mode set's windows do; a back end reads it as it opens.
// It stays until changed (the public layer sets it for every screen).
void requestWindowScale(WindowScale scale);
WindowScale requestedWindowScale();

// The zoom a back end opened its window with (1 without scaling, 0 with no
// window), for the program to read.
void publishWindowZoom(int32_t zoom);
int32_t publishedWindowZoom();

// The whole zoom a window opens with: the asked one, the largest that fits
// the area (at least 1), or the desktop's scale no larger than fits.
int32_t chooseZoom(WindowScale scale, int32_t areaW, int32_t areaH, int32_t pageW, int32_t pageH,
                   int32_t desktopScale);
// The desktop's scale from its dots per inch: the nearest whole multiple of
// 96, 1 to windowzoom::largest.
constexpr int32_t scaleFromDpi(int32_t dpi) {
  const int32_t s = dpi <= 0 ? 1 : (dpi + 48) / 96;
  return s < 1 ? 1 : s > windowzoom::largest ? windowzoom::largest : s;
}

// The largest size of a width x height picture that fits the area and keeps
// its shape (each side at least 1).
struct Size {
  int32_t width, height;
};
constexpr Size fitKeepingShape(int32_t areaW, int32_t areaH, int32_t width, int32_t height) {
  if (areaW < 1 || areaH < 1 || width < 1 || height < 1) return {width, height};
  Size s{areaW, areaH};
  if (int64_t{areaW} * height <= int64_t{areaH} * width) {
    s.height = static_cast<int32_t>(int64_t{areaW} * height / width);
  } else {
    s.width = static_cast<int32_t>(int64_t{areaH} * width / height);
  }
  return {s.width < 1 ? 1 : s.width, s.height < 1 ? 1 : s.height};
}

// The picture's place in a client area: the page scaled to fit and centred.
struct PictureRect {
  int32_t x, y, width, height;
};
constexpr PictureRect centredPicture(int32_t clientW, int32_t clientH, int32_t pageW, int32_t pageH) {
  const Size s = fitKeepingShape(clientW, clientH, pageW, pageH);
  return {(clientW - s.width) / 2, (clientH - s.height) / 2, s.width, s.height};
}

// A window coordinate relative to the picture's corner, in picture pixels
// (nearest neighbour, rounding down, so points left of the picture stay
// negative); and the window offset of the middle of a picture pixel.
constexpr int32_t pictureFromWindow(int32_t offset, int32_t shown, int32_t size) {
  const int64_t scaled = int64_t{offset} * size;
  return static_cast<int32_t>(scaled >= 0 ? scaled / shown : -((-scaled + shown - 1) / shown));
}
constexpr int32_t windowFromPicture(int32_t position, int32_t shown, int32_t size) {
  return static_cast<int32_t>((int64_t{position} * 2 + 1) * shown / (int64_t{size} * 2));
}

// A client point as a page point; points in the bars are outside.
struct PagePoint {
  int32_t x, y;
  bool inside;
};
constexpr PagePoint pageFromClient(const PictureRect& r, int32_t pageW, int32_t pageH, int32_t x, int32_t y) {
  const int32_t px = x - r.x, py = y - r.y;
  return {pictureFromWindow(px, r.width, pageW), pictureFromWindow(py, r.height, pageH),
          px >= 0 && py >= 0 && px < r.width && py < r.height};
}
// The client point in the middle of a page pixel's block.
struct ClientPoint {
  int32_t x, y;
};
constexpr ClientPoint clientFromPage(const PictureRect& r, int32_t pageW, int32_t pageH, int32_t x, int32_t y) {
  return {r.x + windowFromPicture(x, r.width, pageW), r.y + windowFromPicture(y, r.height, pageH)};
}

}  // namespace pel
