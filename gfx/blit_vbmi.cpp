// Indices to 32-bit pixels 64 at a time with AVX-512 byte permutes. The
// converted palette is split into four planes of 256 bytes (byte c of every
// entry); each plane is looked up for 64 indices with two two-register byte
// permutes, and the planes are interleaved back into pixels. The result is
// the table lookup's bit for bit.
#include <immintrin.h>

#include <cstring>

#include "gfx/blit_walk.h"

namespace pel {

void indexedRows32Vbmi(const uint32_t* converted, uint8_t* destination, int32_t pitch) {
  // Plain stack arrays read with unaligned loads: 64-bit Windows compilers
  // do not promise stack alignment above 16 bytes.
  uint8_t planes[4][256];
  for (int i = 0; i < 256; ++i) {
    for (int c = 0; c < 4; ++c) planes[c][i] = static_cast<uint8_t>(converted[i] >> (8 * c));
  }
  __m512i table[4][4];
  for (int c = 0; c < 4; ++c) {
    for (int k = 0; k < 4; ++k) table[c][k] = _mm512_loadu_si512(planes[c] + 64 * k);
  }
  // The unpacks below interleave within 128-bit lanes: output register k,
  // lane L holds the pixels at plane positions 16L + 4k .. 16L + 4k + 3. The
  // indices are put in that order first, so the pixels come out in theirs.
  uint8_t order[64];
  for (int lane = 0; lane < 4; ++lane) {
    for (int k = 0; k < 4; ++k) {
      for (int j = 0; j < 4; ++j) order[16 * lane + 4 * k + j] = static_cast<uint8_t>(16 * k + 4 * lane + j);
    }
  }
  const __m512i reorder = _mm512_loadu_si512(order);
  const int32_t width = currentMode()->width;
  blit::walkRows(destination, pitch, [&](const uint8_t* source, uint8_t* row) {
    int32_t x = 0;
    for (; x + 64 <= width; x += 64) {
      const __m512i index = _mm512_maskz_permutexvar_epi8(~__mmask64{0}, reorder, _mm512_loadu_si512(source + x));
      const __mmask64 upper = _mm512_movepi8_mask(index);  // entries 128-255
      __m512i plane[4];
      for (int c = 0; c < 4; ++c) {
        plane[c] = _mm512_mask_mov_epi8(_mm512_permutex2var_epi8(table[c][0], index, table[c][1]), upper,
                                        _mm512_permutex2var_epi8(table[c][2], index, table[c][3]));
      }
      const __m512i low01 = _mm512_unpacklo_epi8(plane[0], plane[1]), high01 = _mm512_unpackhi_epi8(plane[0], plane[1]);
      const __m512i low23 = _mm512_unpacklo_epi8(plane[2], plane[3]), high23 = _mm512_unpackhi_epi8(plane[2], plane[3]);
      uint8_t* out = row + 4 * x;
      _mm512_storeu_si512(out, _mm512_unpacklo_epi16(low01, low23));
      _mm512_storeu_si512(out + 64, _mm512_unpackhi_epi16(low01, low23));
      _mm512_storeu_si512(out + 128, _mm512_unpacklo_epi16(high01, high23));
      _mm512_storeu_si512(out + 192, _mm512_unpackhi_epi16(high01, high23));
    }
    for (; x < width; ++x) std::memcpy(row + 4 * x, &converted[source[x]], 4);
  });
}

}  // namespace pel
