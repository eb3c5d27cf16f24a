#include "draw.h"

#include <algorithm>
#include <cmath>

#include "gfx/mode.h"
#include "gfx/pages.h"
#include "gfx/wide_math.h"

namespace pel {
namespace {

struct View {
  int64_t left, top, right, bottom;
};

View viewOf(const DrawContext* c) {
  return {c->viewX, c->viewY, int64_t{c->viewX} + c->viewWidth - 1, int64_t{c->viewY} + c->viewHeight - 1};
}

int32_t clampTo32(double v) {
  if (v >= 2147483647.0) return INT32_MAX;
  if (v <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(v);
}

uint16_t rotateRight(uint16_t mask) { return static_cast<uint16_t>(mask >> 1 | mask << 15); }

// The steps t in [0, n] of a walk whose coordinate is start + step * t and
// must lie in [low, high]: sets [from, to], false when none.
bool majorRange(int64_t start, int64_t step, int64_t low, int64_t high, int64_t n, int64_t& from, int64_t& to) {
  int64_t a = step > 0 ? low - start : start - high;
  int64_t b = step > 0 ? high - start : start - low;
  from = std::max<int64_t>(a, 0);
  to = std::min<int64_t>(b, n);
  return from <= to;
}

// A Bresenham walk of n major steps with d minor steps, in the form of the
// running remainder r = (2 t d + n) mod 2n: after major step t the minor
// coordinate has advanced q(t) = floor((2 t d + n) / 2n) times, so on an
// exact half it steps. Both the x-major and the y-major decision rules
// reduce to this.
struct Walk {
  int64_t n, d;
  uint64_t minorSteps(int64_t t) const { return n == 0 ? 0 : mulAddDiv(2 * static_cast<uint64_t>(d), t, n, 2 * n); }
  int64_t remainder(int64_t t) const {
    return n == 0 ? 0 : static_cast<int64_t>(mulAddMod(2 * static_cast<uint64_t>(d), t, n, 2 * n));
  }
  // Narrows [from, to] to the steps whose minor step count lies in [qLow, qHigh].
  bool narrow(int64_t qLow, int64_t qHigh, int64_t& from, int64_t& to) const {
    qLow = std::max<int64_t>(qLow, 0);
    if (qHigh < qLow) return false;
    if (d == 0) return qLow == 0 && from <= to;
    // q(t) >= qLow  <=>  t >= ceil((2n qLow - n) / 2d) = floor((2n (qLow - 1) + n + 2d - 1) / 2d)
    const auto un = static_cast<uint64_t>(n), ud = static_cast<uint64_t>(d);
    if (qLow > 0) {
      const uint64_t first = mulAddDiv(2 * un, static_cast<uint64_t>(qLow - 1), un + 2 * ud - 1, 2 * ud);
      from = std::max<int64_t>(from, static_cast<int64_t>(std::min<uint64_t>(first, INT64_MAX)));
    }
    // q(t) <= qHigh  <=>  2 t d + n < 2n (qHigh + 1)  <=>  t <= floor((2n qHigh + n - 1) / 2d)
    const uint64_t last = mulAddDiv(2 * un, static_cast<uint64_t>(qHigh), un - 1, 2 * ud);
    to = std::min<int64_t>(to, static_cast<int64_t>(std::min<uint64_t>(last, INT64_MAX)));
    return from <= to;
  }
};

}  // namespace

void markTargetRows(const DrawContext* c, int32_t firstRow, int32_t lastRow) {
  const ScreenMode* m = currentMode();
  if (m && c->target == nullptr && c->rows[0] == m->visibleBuffer && firstRow <= lastRow) markDirty(firstRow, lastRow);
}

uint16_t reverseStyle(uint16_t style) {
  uint16_t out = 0;
  for (int bit = 0; bit < 16; ++bit) out |= static_cast<uint16_t>(((style >> bit) & 1) << (15 - bit));
  return out;
}

void orderCorners(int32_t& x1, int32_t& y1, int32_t& x2, int32_t& y2) {
  if (x2 < x1) std::swap(x1, x2);
  if (y2 < y1) std::swap(y1, y2);
}

bool mapToPhysical(const DrawContext* c, float x, float y, int32_t& column, int32_t& row) {
  if (std::isnan(x) || std::isnan(y)) return false;
  auto round = [](float v) { return clampTo32(v > 0 ? std::trunc(double{v} + 0.5) : std::trunc(double{v} - 0.5)); };
  column = clampTo32(static_cast<double>(round(x)) + c->viewX);
  row = clampTo32(static_cast<double>(round(y)) + c->viewY);
  return true;
}

void resolveCoordinates(DrawContext* c, uint32_t flags, float& x1, float& y1, float* x2, float* y2) {
  const uint32_t mode = flags & drawflag::coordinateMode;
  if (mode == 2 || mode == 3 || mode == 5) {
    x1 += c->lastX;
    y1 += c->lastY;
  }
  if (x2 && y2) {
    if (mode == 1 || mode == 3) {
      *x2 += x1;
      *y2 += y1;
    }
    c->lastX = *x2;
    c->lastY = *y2;
  } else {
    c->lastX = x1;
    c->lastY = y1;
  }
}

void rasterLine(DrawContext* c, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour, uint16_t style) {
  const View v = viewOf(c);
  if ((x1 < v.left && x2 < v.left) || (x1 > v.right && x2 > v.right) || (y1 < v.top && y2 < v.top) ||
      (y1 > v.bottom && y2 > v.bottom)) {
    return;
  }
  lockScreen();
  const int64_t dx = std::abs(int64_t{x2} - x1), dy = std::abs(int64_t{y2} - y1);
  const int64_t sx = x2 < x1 ? -1 : 1, sy = y2 < y1 ? -1 : 1;
  const bool xMajor = dx >= dy;
  const Walk walk{xMajor ? dx : dy, xMajor ? dy : dx};
  const int64_t major0 = xMajor ? x1 : y1, minor0 = xMajor ? y1 : x1;
  const int64_t majorStep = xMajor ? sx : sy, minorStep = xMajor ? sy : sx;
  const int64_t majorLow = xMajor ? v.left : v.top, majorHigh = xMajor ? v.right : v.bottom;
  const int64_t minorLow = xMajor ? v.top : v.left, minorHigh = xMajor ? v.bottom : v.right;
  int64_t from, to;
  const bool visible =
      majorRange(major0, majorStep, majorLow, majorHigh, walk.n, from, to) &&
      walk.narrow(minorStep > 0 ? minorLow - minor0 : minor0 - minorHigh,
                  minorStep > 0 ? minorHigh - minor0 : minor0 - minorLow, from, to);
  if (!visible) {
    unlockScreen(1, 0);
    return;
  }
  int64_t major = major0 + majorStep * from;
  int64_t minor = minor0 + minorStep * static_cast<int64_t>(walk.minorSteps(from));
  const int64_t firstRow = xMajor ? minor : major;
  if (dy == 0 && style == 0xFFFF) {
    // A solid horizontal run is one span.
    const int64_t left = std::min(major, major0 + majorStep * to);
    c->fillSpan(c->rows[minor] + left * c->targetBytesPerPixel, colour, static_cast<int32_t>(to - from + 1));
  } else {
    int64_t r = walk.remainder(from);
    uint16_t mask = static_cast<uint16_t>(0x8000u >> (from & 15));
    for (int64_t t = from;; ++t) {
      if (style & mask) {
        c->putPixel(c, static_cast<int32_t>(xMajor ? major : minor), static_cast<int32_t>(xMajor ? minor : major), colour);
      }
      if (t == to) break;
      mask = rotateRight(mask);
      major += majorStep;
      r += 2 * walk.d;
      if (r >= 2 * walk.n) {
        r -= 2 * walk.n;
        minor += minorStep;
      }
    }
  }
  const int64_t lastRow = xMajor ? minor : major;
  markTargetRows(c, static_cast<int32_t>(std::min(firstRow, lastRow)), static_cast<int32_t>(std::max(firstRow, lastRow)));
  unlockScreen(1, 0);
}

void rasterBox(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour, bool filled, uint16_t style) {
  DrawContext* c = getContext();
  const View v = viewOf(c);
  if (v.left > x2 || v.top > y2 || v.right < x1 || v.bottom < y1) return;
  const auto x1c = static_cast<int32_t>(std::max<int64_t>(x1, v.left)), y1c = static_cast<int32_t>(std::max<int64_t>(y1, v.top));
  const auto x2c = static_cast<int32_t>(std::min<int64_t>(x2, v.right)), y2c = static_cast<int32_t>(std::min<int64_t>(y2, v.bottom));
  lockScreen();
  const int32_t bpp = c->targetBytesPerPixel, count = x2c - x1c + 1;
  auto span = [&](int32_t y) { c->fillSpan(c->rows[y] + static_cast<std::size_t>(x1c) * bpp, colour, count); };
  if (filled) {
    for (int32_t y = y1c; y <= y2c; ++y) span(y);
  } else {
    // The style runs on around the whole unclipped outline.
    const int64_t w = int64_t{x2} - x1 + 1, h = int64_t{y2} - y1 + 1;
    auto plot = [&](int32_t x, int32_t y, int64_t k) {
      if (style & (0x8000u >> (k & 15))) c->putPixel(c, x, y, colour);
    };
    const bool solid = style == 0xFFFF;
    if (y2 <= v.bottom) {
      if (solid) span(y2);
      else for (int32_t x = x1c; x <= x2c; ++x) plot(x, y2, int64_t{x} - x1);
    }
    if (y1 >= v.top) {
      if (solid) span(y1);
      else for (int32_t x = x1c; x <= x2c; ++x) plot(x, y1, w + x - x1);
    }
    if (x2 <= v.right) {
      for (int32_t y = y1c; y <= y2c; ++y) plot(x2, y, 2 * w + y - y1);
    }
    if (x1 >= v.left) {
      for (int32_t y = y1c; y <= y2c; ++y) plot(x1, y, 2 * w + h + y - y1);
    }
  }
  markTargetRows(c, y1c, y2c);
  unlockScreen(1, 0);
}

void drawLine(const void* target, float x1, float y1, float x2, float y2, uint32_t colour, int32_t kind,
              uint16_t style, uint32_t flags) {
  if (!currentMode()) return;
  DrawContext* c = getContext();
  if (!selectTarget(c, target)) return;
  colour = (flags & drawflag::useForeground) ? c->foreground : convertColour(c->targetBytesPerPixel, colour);
  chooseDrawRoutines(c, colour);
  resolveCoordinates(c, flags, x1, y1, &x2, &y2);
  int32_t px1, py1, px2, py2;
  if (!mapToPhysical(c, x1, y1, px1, py1) || !mapToPhysical(c, x2, y2, px2, py2)) return;
  if (kind == linekind::line) {
    rasterLine(c, px1, py1, px2, py2, colour, style);
  } else {
    orderCorners(px1, py1, px2, py2);
    rasterBox(px1, py1, px2, py2, colour, kind == linekind::filledBox, style);
  }
}

}  // namespace pel
