// fillDisc with its spans stored eight pixels at a time (AVX2).
#include <immintrin.h>

#include <cstring>

#include "demo/disc_kernel.h"

namespace pel {
namespace {

// Spans of a disc change length a little from row to row, so the stores are
// laid out by size class with overlapping ends: the branches taken stay the
// same over many rows and are predicted, where a per-8-pixel loop would end
// at a mispredicted exit on nearly every row.
struct Avx2Spans {
  // halfWidth for k = 0 .. count - 1 (out has room for count rounded up to
  // a multiple of 4), four rows at a time with the same
  // operations in the same precision, so the widths are bit for bit the
  // plain ones.
  static void halfWidths(int32_t r2, int32_t count, int32_t* out) {
    const __m128i square = _mm_set1_epi32(r2);
    const __m128i guessBias = _mm_set1_epi32(532217856);
    const __m256d half = _mm256_set1_pd(0.5);
    for (int32_t k = 0; k < count; k += 4) {
      const __m128i ks = _mm_add_epi32(_mm_set1_epi32(k), _mm_setr_epi32(0, 1, 2, 3));
      const __m128i v = _mm_sub_epi32(square, _mm_mullo_epi32(ks, ks));
      const __m128 x = _mm_cvtepi32_ps(v);
      const __m128 g = _mm_castsi128_ps(_mm_add_epi32(_mm_srli_epi32(_mm_castps_si128(x), 1), guessBias));
      const __m256d gd = _mm256_cvtps_pd(g);
      const __m256d sd = _mm256_mul_pd(_mm256_add_pd(_mm256_div_pd(_mm256_cvtps_pd(x), gd), gd), half);
      const __m128 s = _mm256_cvtpd_ps(sd);
      const __m128i whole = _mm_cvttps_epi32(s);
      const __m128i exact = _mm_castps_si128(_mm_cmpeq_ps(_mm_cvtepi32_ps(whole), s));
      const __m128i even = _mm_cmpeq_epi32(_mm_and_si128(whole, _mm_set1_epi32(1)), _mm_setzero_si128());
      // whole + 1, less 1 where s is an even integer (the masks are -1).
      const __m128i h = _mm_add_epi32(_mm_add_epi32(whole, _mm_set1_epi32(1)), _mm_and_si128(exact, even));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k), h);
    }
  }

  static void store8(uint32_t* p, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }

  static void fill(uint32_t* p, uint32_t value, int32_t count) {
    uint32_t* const end = p + count;
    if (count >= 32) {
      const __m256i v = _mm256_set1_epi32(static_cast<int>(value));
      for (uint32_t* q = p; q < end - 32; q += 32) {
        store8(q, v);
        store8(q + 8, v);
        store8(q + 16, v);
        store8(q + 24, v);
      }
      store8(end - 32, v);
      store8(end - 24, v);
      store8(end - 16, v);
      store8(end - 8, v);
    } else if (count >= 16) {
      const __m256i v = _mm256_set1_epi32(static_cast<int>(value));
      store8(p, v);
      store8(p + 8, v);
      store8(end - 16, v);
      store8(end - 8, v);
    } else if (count >= 8) {
      const __m256i v = _mm256_set1_epi32(static_cast<int>(value));
      store8(p, v);
      store8(end - 8, v);
    } else if (count >= 4) {
      const __m128i v = _mm_set1_epi32(static_cast<int>(value));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(end - 4), v);
    } else {
      p[0] = value;
      p[count / 2] = value;
      end[-1] = value;
    }
  }
};

}  // namespace

void fillDiscWindowAvx2(int32_t cx, int32_t cy, int32_t r, uint32_t value, int32_t low, int32_t high) {
  disc::fillDiscWindowWith<Avx2Spans>(cx, cy, r, value, low, high);
}

}  // namespace pel
