#include "disc.h"

#include <bit>
#include <algorithm>
#include <cmath>

#include "demo/disc_kernel.h"
#include "gfx/cpu.h"
#include "gfx/pixel.h"

#if defined(__SSE__) || defined(__x86_64__)
#include <xmmintrin.h>
#endif

namespace pel {

uint32_t* screenBase = nullptr;

const uint8_t* disc::halfWidthsOf(int32_t radius) {
  // Radius r's widths start at r * (r + 1) / 2; 16,653 bytes in all.
  static const auto table = [] {
    static uint8_t widths[(tableRadius + 1) * (tableRadius + 2) / 2];
    for (int32_t r = 0, at = 0; r <= tableRadius; ++r) {
      for (int32_t k = 0; k <= r; ++k) widths[at++] = static_cast<uint8_t>(halfWidth(r * r - k * k));
    }
    return widths;
  }();
  return table + radius * (radius + 1) / 2;
}

float fastSqrt(float x) { return disc::estimateRoot(x); }

float sqrtSignedShift(float x) {
  const auto bits = static_cast<uint32_t>(std::bit_cast<int32_t>(x) >> 1);
  const float g = std::bit_cast<float>(bits + 532217856u);
  return static_cast<float>((static_cast<double>(x) / g + g) / 2.0);
}

float sqrtBareBits(float x) {
  const uint32_t bits = std::bit_cast<uint32_t>(x);
  return std::bit_cast<float>((((bits & 0x7FFFFFFFu) + 0x3F800000u) >> 1) | (bits & 0x80000000u));
}

float sqrtReciprocalEstimate(float x) {
#if defined(__SSE__) || defined(__x86_64__)
  return _mm_cvtss_f32(_mm_rsqrt_ss(_mm_set_ss(x))) * x;
#else
  return x / std::sqrt(x);
#endif
}

float sqrtRangeReduced(float x) {
  float b = 1.0f, a = 1.0f;
  while (b < x && std::isfinite(b)) {
    b *= 4.0f;
    a *= 2.0f;
  }
  const float y = x / b;
  float c = y / 4.0f + 1.0f;
  for (int i = 0; i < 2; ++i) c = c / 2.0f + y / (2.0f * c);
  return c * a;
}

void fillDiscWindowAvx2(int32_t cx, int32_t cy, int32_t r, uint32_t value, int32_t low, int32_t high);

namespace {

struct PlainSpans {
  static void fill(uint32_t* p, uint32_t value, int32_t count) { fillSpan32(p, value, count); }
};

void fillDiscWindowPlain(int32_t cx, int32_t cy, int32_t r, uint32_t value, int32_t low, int32_t high) {
  disc::fillDiscWindowWith<PlainSpans>(cx, cy, r, value, low, high);
}

const DiscWindowFiller discFiller = cpuHasAvx2() ? fillDiscWindowAvx2 : fillDiscWindowPlain;

}  // namespace

DiscWindowFiller discPlainForm() { return fillDiscWindowPlain; }
DiscWindowFiller discVectorForm() { return cpuHasAvx2() ? fillDiscWindowAvx2 : nullptr; }

void fillDisc(int32_t cx, int32_t cy, int32_t r, uint32_t value) { discFiller(cx, cy, r, value, 0, discPagePixels); }

}  // namespace pel
