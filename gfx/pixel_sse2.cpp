// SSE2 forms of the span, blend and block routines.
#include <emmintrin.h>

#include "pixel.h"
#include "simd_kernels.h"

namespace pel {
namespace {

struct Sse2 {
  using Vec = __m128i;
  static constexpr std::size_t width = 16;
  static Vec load(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
  static void store(void* p, Vec v) { _mm_storeu_si128(static_cast<__m128i*>(p), v); }
  static void storeAligned(void* p, Vec v) { _mm_store_si128(static_cast<__m128i*>(p), v); }
  static Vec broadcast16(uint16_t v) { return _mm_set1_epi16(static_cast<short>(v)); }
  static Vec broadcast32(uint32_t v) { return _mm_set1_epi32(static_cast<int>(v)); }
  static Vec broadcast64(uint64_t v) { return _mm_set1_epi64x(static_cast<long long>(v)); }
  // ((256 - a) * d + a * s) >> 8 in 16-bit lanes; the sum is at most 65280.
  static Vec blend(Vec pixels, Vec complement, Vec product) {
    const Vec zero = _mm_setzero_si128();
    Vec lo = _mm_unpacklo_epi8(pixels, zero), hi = _mm_unpackhi_epi8(pixels, zero);
    lo = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(lo, complement), product), 8);
    hi = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(hi, complement), product), 8);
    return _mm_packus_epi16(lo, hi);
  }
};

constexpr VectorRoutines table = {
    simd::fillSpan16<Sse2>, simd::fillSpan32<Sse2>, simd::blendSpan32<Sse2>,
    blendPixel32Vector,     simd::blockCopy<Sse2>,  simd::blockFill<Sse2>,
};

}  // namespace

const VectorRoutines* sse2Table() { return &table; }

}  // namespace pel
