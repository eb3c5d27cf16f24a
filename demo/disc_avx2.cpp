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
