// Scaled 32-bit rows eight destination pixels at a time: the eight source
// pixels a group shows are loaded at once and permuted into place, giving
// the plain gather's result bit for bit.
#include <immintrin.h>

#include <cstring>

#include "gfx/scale.h"

namespace pel {

void scaleRow32Avx2(const ScaleMap& map, const uint8_t* sourceRow, uint8_t* destRow) {
  const auto* in = reinterpret_cast<const uint32_t*>(sourceRow);
  auto* out = reinterpret_cast<uint32_t*>(destRow);
  const int32_t groups = static_cast<int32_t>(map.groupFirst.size());
  const int32_t* first = map.groupFirst.data();
  const int32_t* lanes = map.groupLanes.data();
  const uint32_t* column = map.columnBytes.data();
  for (int32_t g = 0; g < groups; ++g, out += 8, lanes += 8) {
    if (first[g] >= 0) {
      const __m256i pixels = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + first[g]));
      const __m256i order = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lanes));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_permutevar8x32_epi32(pixels, order));
    } else {
      for (int32_t i = 0; i < 8; ++i) std::memcpy(out + i, sourceRow + column[g * 8 + i], 4);
    }
  }
  for (int32_t x = groups * 8; x < map.dstW; ++x, ++out) std::memcpy(out, sourceRow + column[x], 4);
}

}  // namespace pel
