// The AVX2 forms of the put rows: eight pixels at a time, the rest plain.
#include <immintrin.h>

#include "gfx/put_rows.h"

namespace pel::putrows {

void keyedAvx2(uint8_t* destination, const uint8_t* source, int32_t count, uint32_t key) {
  const __m256i low24 = _mm256_set1_epi32(0xFFFFFF), keys = _mm256_set1_epi32(static_cast<int>(key));
  int32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(source + 4 * i));
    const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(destination + 4 * i));
    const __m256i hidden = _mm256_cmpeq_epi32(_mm256_and_si256(s, low24), keys);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(destination + 4 * i), _mm256_blendv_epi8(s, d, hidden));
  }
  keyedPlain(destination + 4 * i, source + 4 * i, count - i, key);
}

// Red and blue, then green and alpha, in 16-bit lanes: each lane's
// d * (256 - a) + s * a is at most 256 * 255, as in the plain form, and the
// lanes' >> 8 is the plain form's 32-bit shift masked.
void blendedAvx2(uint8_t* destination, const uint8_t* source, int32_t count) {
  const __m256i evenBytes = _mm256_set1_epi32(0x00FF00FF), green = _mm256_set1_epi32(0xFF00),
                full = _mm256_set1_epi32(256);
  int32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(source + 4 * i));
    const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(destination + 4 * i));
    const __m256i a = _mm256_srli_epi32(s, 24), na = _mm256_sub_epi32(full, a);
    const __m256i a16 = _mm256_or_si256(a, _mm256_slli_epi32(a, 16)), na16 = _mm256_or_si256(na, _mm256_slli_epi32(na, 16));
    const __m256i rb = _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(_mm256_and_si256(d, evenBytes), na16),
                                                          _mm256_mullo_epi16(_mm256_and_si256(s, evenBytes), a16)),
                                         8);
    const __m256i ga = _mm256_add_epi16(_mm256_mullo_epi16(_mm256_and_si256(_mm256_srli_epi32(d, 8), evenBytes), na16),
                                        _mm256_mullo_epi16(_mm256_and_si256(_mm256_srli_epi32(s, 8), evenBytes), a16));
    const __m256i out = _mm256_or_si256(_mm256_or_si256(_mm256_slli_epi32(a, 24), _mm256_and_si256(rb, evenBytes)),
                                        _mm256_and_si256(ga, green));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(destination + 4 * i), out);
  }
  blendedPlain(destination + 4 * i, source + 4 * i, count - i);
}

}  // namespace pel::putrows
