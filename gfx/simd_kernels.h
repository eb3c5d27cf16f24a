// Fill, copy and blend kernels written once over a vector type V. Each vector
// file (pixel_sse2.cpp, pixel_avx2.cpp) supplies V in an anonymous namespace
// and is compiled for its instruction set, so every instantiation is private
// to the file that may run it.
//
// V provides: Vec, width (bytes), load, store (unaligned), storeAligned,
// broadcast32 and blend(pixels, alphaComplement, alphaTimesColour).
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace pel::simd {
// Unnamed so that no function compiled for one instruction set is shared
// with a file built for another.
namespace {

// The vector forms blend the top byte like the other channels:
// c' = ((256 - a) * c + a * s) >> 8 with s = a for the top byte.
constexpr uint32_t blendVectorPixel(uint32_t pixel, uint32_t colour) {
  const uint32_t a = colour >> 24, na = 256 - a;
  const uint32_t source = (colour & 0x00FFFFFFu) | a << 24;
  uint32_t out = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    const uint32_t d = (pixel >> shift) & 0xFF, s = (source >> shift) & 0xFF;
    out |= ((na * d + a * s) >> 8) << shift;
  }
  return out;
}

// Stores `pattern` over n bytes at d; the pattern repeats every `unit` bytes
// and n is a multiple of unit. Aligns the body when d is unit-aligned.
template <typename V>
inline void fillPattern(uint8_t* d, std::size_t n, typename V::Vec pattern, std::size_t unit) {
  constexpr std::size_t w = V::width;
  uint8_t* const end = d + n;
  if (n < w) {
    // Overlapping head and tail stores of the widest piece that fits.
    uint64_t word;
    std::memcpy(&word, &pattern, sizeof word);
    if (n >= 8) {
      for (std::size_t at = 0; at + 8 < n; at += 8) std::memcpy(d + at, &word, 8);
      std::memcpy(end - 8, &word, 8);
    } else if (n >= 4) {
      std::memcpy(d, &word, 4);
      std::memcpy(end - 4, &word, 4);
    } else {
      std::memcpy(d, &word, n);
    }
    return;
  }
  V::store(d, pattern);
  uint8_t* a = d + w;
  if ((reinterpret_cast<uintptr_t>(d) & (unit - 1)) == 0) {
    a = reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(d) + w) & ~static_cast<uintptr_t>(w - 1));
    while (a + 4 * w <= end) {
      V::storeAligned(a, pattern);
      V::storeAligned(a + w, pattern);
      V::storeAligned(a + 2 * w, pattern);
      V::storeAligned(a + 3 * w, pattern);
      a += 4 * w;
    }
    while (a + w <= end) {
      V::storeAligned(a, pattern);
      a += w;
    }
  } else {
    while (a + w <= end) {
      V::store(a, pattern);
      a += w;
    }
  }
  if (a < end) V::store(end - w, pattern);
}

template <typename V>
inline void* blockFill(void* destination, int value, std::size_t n) {
  fillPattern<V>(static_cast<uint8_t*>(destination), n, V::broadcast32(0x01010101u * static_cast<uint8_t>(value)), 1);
  return destination;
}

template <typename V>
inline void fillSpan16(void* first, uint32_t colour, int32_t count) {
  if (count <= 0) return;
  const uint32_t pair = (colour & 0xFFFFu) * 0x10001u;
  fillPattern<V>(static_cast<uint8_t*>(first), static_cast<std::size_t>(count) * 2, V::broadcast32(pair), 2);
}

template <typename V>
inline void fillSpan32(void* first, uint32_t colour, int32_t count) {
  if (count <= 0) return;
  fillPattern<V>(static_cast<uint8_t*>(first), static_cast<std::size_t>(count) * 4, V::broadcast32(colour), 4);
}

template <typename V>
inline void* blockCopy(void* destination, const void* source, std::size_t n) {
  constexpr std::size_t w = V::width;
  auto* d = static_cast<uint8_t*>(destination);
  const auto* s = static_cast<const uint8_t*>(source);
  if (n < w) {
    std::memcpy(d, s, n);
    return destination;
  }
  // The last vector is read first, so the final overlapping store is safe.
  const typename V::Vec tail = V::load(s + n - w);
  V::store(d, V::load(s));
  const std::size_t skip = w - (reinterpret_cast<uintptr_t>(d) & (w - 1));
  std::size_t at = skip;
  for (; at + 4 * w <= n; at += 4 * w) {
    const auto v0 = V::load(s + at), v1 = V::load(s + at + w);
    const auto v2 = V::load(s + at + 2 * w), v3 = V::load(s + at + 3 * w);
    V::storeAligned(d + at, v0);
    V::storeAligned(d + at + w, v1);
    V::storeAligned(d + at + 2 * w, v2);
    V::storeAligned(d + at + 3 * w, v3);
  }
  for (; at + w <= n; at += w) V::storeAligned(d + at, V::load(s + at));
  V::store(d + n - w, tail);
  return destination;
}

template <typename V>
inline void blendSpan32(void* first, uint32_t colour, int32_t count) {
  if (count <= 0) return;
  auto* p = static_cast<uint8_t*>(first);
  const uint32_t a = colour >> 24;
  const auto complement = V::broadcast16(static_cast<uint16_t>(256 - a));
  // a * s per channel of one pixel, as four 16-bit lanes repeated.
  const uint64_t as = uint64_t{a * (colour & 0xFF)} | uint64_t{a * ((colour >> 8) & 0xFF)} << 16 |
                      uint64_t{a * ((colour >> 16) & 0xFF)} << 32 | uint64_t{a * a} << 48;
  const auto product = V::broadcast64(as);
  constexpr std::size_t perVector = V::width / 4;
  std::size_t i = 0;
  const std::size_t n = static_cast<std::size_t>(count);
  for (; i + perVector <= n; i += perVector) {
    V::store(p + i * 4, V::blend(V::load(p + i * 4), complement, product));
  }
  for (; i < n; ++i) {
    uint32_t px;
    std::memcpy(&px, p + i * 4, 4);
    px = blendVectorPixel(px, colour);
    std::memcpy(p + i * 4, &px, 4);
  }
}

}  // namespace
}  // namespace pel::simd
