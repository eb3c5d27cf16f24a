// The vector blitter members: eight pixels at a time with AVX2, the same
// formulas as the plain members applied to vectors, so the results are the
// plain ones bit for bit.
#include <immintrin.h>

#include "gfx/blit_walk.h"
#include "gfx/cpu.h"

namespace pel {

// blit_vbmi.cpp: 32-bit pixels from indices and a converted palette, where
// the processor has AVX-512 byte permutes.
void indexedRows32Vbmi(const uint32_t* converted, uint8_t* destination, int32_t pitch);

namespace {

using namespace blit;

// Eight 32-bit lanes with the operators the formulas use.
struct V8 {
  __m256i v;
};
V8 operator&(V8 a, uint32_t m) { return {_mm256_and_si256(a.v, _mm256_set1_epi32(static_cast<int>(m)))}; }
V8 operator|(V8 a, V8 b) { return {_mm256_or_si256(a.v, b.v)}; }
V8 operator>>(V8 a, int n) { return {_mm256_srli_epi32(a.v, n)}; }
V8 operator<<(V8 a, int n) { return {_mm256_slli_epi32(a.v, n)}; }

template <Source S>
V8 load8(const uint8_t* row, int32_t x, const uint32_t*, const uint32_t*) {
  static_assert(S == Source::Rgb16 || S == Source::Rgb32, "indexed and looked-up sources have their own paths");
  if constexpr (S == Source::Rgb32) {
    return {_mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + 4 * x))};
  } else {
    return {_mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 2 * x)))};
  }
}

template <int Bytes>
void store8(uint8_t* row, int32_t x, V8 value) {
  if constexpr (Bytes == 4) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + 4 * x), value.v);
  } else if constexpr (Bytes == 2) {
    // The values fit 16 bits: pack, then undo the per-lane interleave.
    const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi32(value.v, value.v), 0x08);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(row + 2 * x), _mm256_castsi256_si128(packed));
  } else {
    // Three bytes of each pixel: 12 bytes from each 128-bit lane.
    const __m256i shuffle = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1,
                                             0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    const __m256i bytes = _mm256_shuffle_epi8(value.v, shuffle);
    alignas(32) uint8_t lanes[32];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), bytes);
    std::memcpy(row + 3 * x, lanes, 12);
    std::memcpy(row + 3 * x + 12, lanes + 16, 12);
  }
}

// One destination row per page row (the selection guarantees a scan-line
// repeat of 1 and a width that is a multiple of 4); a last group of four
// pixels goes through the plain formula.
template <Source S, typename F, int Bytes>
void convertRows(uint8_t* destination, int32_t pitch) {
  const ScreenMode* m = currentMode();
  const uint32_t* palette = m->palette;
  const uint32_t* lookup = blitterScratch();
  const int32_t width = m->width, whole = width & ~7;
  walkRows(destination, pitch, [&](const uint8_t* source, uint8_t* row) {
    for (int32_t x = 0; x < whole; x += 8) store8<Bytes>(row, x, F::at(load8<S>(source, x, palette, lookup)));
    convertRowPlain<S, F, Bytes>(source, row, whole, width, palette, lookup);
  });
}

// Indexed sources: the 256 palette entries are converted once per call, and
// each pixel is one lookup in that table.
template <typename F, int Bytes>
void indexedRows(uint8_t* destination, int32_t pitch) {
  const ScreenMode* m = currentMode();
  uint32_t converted[256];
  for (int i = 0; i < 256; ++i) converted[i] = F::at(m->palette[i]);
  if constexpr (Bytes == 4) {
    if (cpuHasAvx512Vbmi()) return indexedRows32Vbmi(converted, destination, pitch);
  }
  const int32_t width = m->width;
  walkRows(destination, pitch, [&](const uint8_t* source, uint8_t* row) {
    int32_t x = 0;
    if constexpr (Bytes == 4) {
      for (; x + 8 <= width; x += 8) {
        uint64_t b;
        std::memcpy(&b, source + x, 8);
        const __m256i v = _mm256_setr_epi32(
            static_cast<int>(converted[b & 0xFF]), static_cast<int>(converted[(b >> 8) & 0xFF]),
            static_cast<int>(converted[(b >> 16) & 0xFF]), static_cast<int>(converted[(b >> 24) & 0xFF]),
            static_cast<int>(converted[(b >> 32) & 0xFF]), static_cast<int>(converted[(b >> 40) & 0xFF]),
            static_cast<int>(converted[(b >> 48) & 0xFF]), static_cast<int>(converted[b >> 56]));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + 4 * x), v);
      }
    } else if constexpr (Bytes == 2) {
      for (; x + 8 <= width; x += 8) {
        uint64_t b;
        std::memcpy(&b, source + x, 8);
        const __m128i v = _mm_setr_epi16(
            static_cast<short>(converted[b & 0xFF]), static_cast<short>(converted[(b >> 8) & 0xFF]),
            static_cast<short>(converted[(b >> 16) & 0xFF]), static_cast<short>(converted[(b >> 24) & 0xFF]),
            static_cast<short>(converted[(b >> 32) & 0xFF]), static_cast<short>(converted[(b >> 40) & 0xFF]),
            static_cast<short>(converted[(b >> 48) & 0xFF]), static_cast<short>(converted[b >> 56]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(row + 2 * x), v);
      }
    } else {
      // Four bytes a pixel, each store's fourth byte overwritten by the
      // next pixel; the last pixel stores only its three.
      for (; x + 1 < width; ++x) std::memcpy(row + 3 * x, &converted[source[x]], 4);
    }
    for (; x < width; ++x) store<Bytes>(row, x, converted[source[x]]);
  });
}

template <Source S, typename F, int Bytes>
struct VectorMember {
  static void run(uint8_t* destination, int32_t pitch) {
    if constexpr (S == Source::Indexed) {
      indexedRows<F, Bytes>(destination, pitch);
    } else if constexpr (S == Source::Lookup16) {
      // The lookup's values for its current order, computed.
      if (rgb565LookupOrder() == 0) {
        convertRows<Source::Rgb16, Rgb16Lookup0, Bytes>(destination, pitch);
      } else {
        convertRows<Source::Rgb16, Rgb16Lookup1, Bytes>(destination, pitch);
      }
    } else {
      convertRows<S, F, Bytes>(destination, pitch);
    }
  }
};

}  // namespace

const Blitter* avx2Blitters() { return cpuHasAvx2() ? memberGroups<VectorMember> : nullptr; }

}  // namespace pel
