// AVX2 forms of the span, blend and block routines.
#include <immintrin.h>

#include "pixel.h"
#include "simd_kernels.h"

namespace pel {
namespace {

struct Avx2 {
  using Vec = __m256i;
  static constexpr std::size_t width = 32;
  static Vec load(const void* p) { return _mm256_loadu_si256(static_cast<const __m256i*>(p)); }
  static void store(void* p, Vec v) { _mm256_storeu_si256(static_cast<__m256i*>(p), v); }
  static void storeAligned(void* p, Vec v) { _mm256_store_si256(static_cast<__m256i*>(p), v); }
  static Vec broadcast16(uint16_t v) { return _mm256_set1_epi16(static_cast<short>(v)); }
  static Vec broadcast32(uint32_t v) { return _mm256_set1_epi32(static_cast<int>(v)); }
  static Vec broadcast64(uint64_t v) { return _mm256_set1_epi64x(static_cast<long long>(v)); }
  // As the SSE2 form; unpack and pack work per 128-bit lane and undo each other.
  static Vec blend(Vec pixels, Vec complement, Vec product) {
    const Vec zero = _mm256_setzero_si256();
    Vec lo = _mm256_unpacklo_epi8(pixels, zero), hi = _mm256_unpackhi_epi8(pixels, zero);
    lo = _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(lo, complement), product), 8);
    hi = _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(hi, complement), product), 8);
    return _mm256_packus_epi16(lo, hi);
  }
};

constexpr VectorRoutines table = {
    simd::fillSpan16<Avx2>, simd::fillSpan32<Avx2>, simd::blendSpan32<Avx2>,
    blendPixel32Vector,     simd::blockCopy<Avx2>,  simd::blockFill<Avx2>,
};

}  // namespace

const VectorRoutines* avx2Table() { return &table; }

}  // namespace pel
