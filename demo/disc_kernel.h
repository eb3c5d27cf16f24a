// The disc loop written once over a span writer S, so that each instruction
// set's file (disc.cpp, disc_avx2.cpp) gets its own copy with the stores
// inlined. S::fill(pixels, value, count) stores count >= 1 pixels.
#pragma once
#include <cstdint>
#include <cstring>

#include "demo/disc.h"

namespace pel::disc {

// Every radius up to 181 draws the same half-widths each time: they are
// worked out once, for radius r at k = 0 .. r (halfWidth(r * r - k * k)).
constexpr int32_t tableRadius = 181;
const uint8_t* halfWidthsOf(int32_t radius);  // disc.cpp; 0 <= radius <= tableRadius

// Unnamed, and free of library templates: a copy compiled for AVX2 must not
// be what the linker picks for the plain file, as it would for a shared
// out-of-line std::min in an unoptimised build.
namespace {

inline int64_t lesser(int64_t a, int64_t b) { return a < b ? a : b; }
inline int64_t greater(int64_t a, int64_t b) { return a < b ? b : a; }
inline uint32_t bitsOf(float f) {
  uint32_t u;
  std::memcpy(&u, &f, sizeof u);
  return u;
}
inline float floatOf(uint32_t u) {
  float f;
  std::memcpy(&f, &u, sizeof f);
  return f;
}

inline float estimateRoot(float x) {
  const float g = floatOf((bitsOf(x) >> 1) + 532217856u);
  return static_cast<float>((static_cast<double>(x) / g + g) / 2.0);
}

// Half-width of the span at height i: estimateRoot(v) + 0.5 rounded to
// nearest even, the sum taken without loss of s: floor(s) + 1, or s itself
// where s is an even integer. v >= 0 here (radii up to 181).
inline int32_t halfWidth(int32_t v) {
  const float s = estimateRoot(static_cast<float>(v));
  const auto whole = static_cast<int32_t>(s);
  const bool evenWhole = static_cast<float>(whole) == s && (whole & 1) == 0;
  return whole + 1 - static_cast<int32_t>(evenWhole);
}

// For radii beyond 181 the 16-bit square wraps and v can be negative, where
// the estimate is no width: -1 then.
inline int64_t checkedHalfWidth(int32_t v) {
  const float s = estimateRoot(static_cast<float>(v));
  if (!(s >= 0.0f)) return -1;
  if (s >= static_cast<float>(discPagePixels)) return discPagePixels;
  return halfWidth(v);
}

// Fills the part of the disc whose pixel indices lie in [low, high), a window
// of the page. Each pixel gets the same stores in the same order as with the
// whole page as the window, so a frame can be drawn window by window.
template <typename S>
inline void fillDiscWindowWith(int32_t cx, int32_t cy, int32_t r, uint32_t value, int32_t low, int32_t high) {
  const auto x0 = static_cast<int16_t>(cx), y0 = static_cast<int16_t>(cy), radius = static_cast<int16_t>(r);
  const auto r2 = static_cast<int16_t>(radius * radius);
  // Rows whose span can reach the window; a span reaches at most one row
  // beyond its own on either side.
  const int32_t fromRow = low / discPagePitch - 1, toRow = (high - 1) / discPagePitch + 1;
  const int32_t iStart = static_cast<int32_t>(greater(-radius, fromRow - y0)), iEnd = static_cast<int32_t>(lesser(radius, toRow - y0));
  if (iStart > iEnd) return;
  // Rows i and -i have the same width. (A negative radius has no rows.)
  const bool tabled = radius <= tableRadius;
  const uint8_t* widths = tabled ? halfWidthsOf(radius) : nullptr;
  for (int32_t i = iStart; i <= iEnd; ++i) {
    const int64_t h = tabled ? widths[i < 0 ? -i : i] : checkedHalfWidth(r2 - i * i);
    if (h < 0) continue;
    const int64_t base = static_cast<int64_t>(i + y0) * discPagePitch + x0;
    if (base - h < 0) continue;  // a span starting before the page writes nothing
    const int64_t first = greater(base - h, low);
    const int64_t last = lesser(base + h, high - 1);
    if (first > last) continue;
    S::fill(screenBase + first, value, static_cast<int32_t>(last - first + 1));
  }
}

}  // namespace
}  // namespace pel::disc
