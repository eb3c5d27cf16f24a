// Exact (a * b + c) / m and (a * b + c) % m for 64-bit unsigned operands
// whose product may need up to 128 bits, as the line clipper's jumps do.
#pragma once
#include <cstdint>

namespace pel {

#if defined(__SIZEOF_INT128__)

inline uint64_t mulAddDiv(uint64_t a, uint64_t b, uint64_t c, uint64_t m) {
  return static_cast<uint64_t>((static_cast<unsigned __int128>(a) * b + c) / m);
}
inline uint64_t mulAddMod(uint64_t a, uint64_t b, uint64_t c, uint64_t m) {
  return static_cast<uint64_t>((static_cast<unsigned __int128>(a) * b + c) % m);
}

#else

namespace wide {
struct U128 {
  uint64_t hi, lo;
};
inline U128 mulAdd(uint64_t a, uint64_t b, uint64_t c) {
  const uint64_t a0 = a & 0xFFFFFFFFu, a1 = a >> 32, b0 = b & 0xFFFFFFFFu, b1 = b >> 32;
  const uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
  const uint64_t middle = (p00 >> 32) + (p01 & 0xFFFFFFFFu) + (p10 & 0xFFFFFFFFu);
  U128 r{p11 + (p01 >> 32) + (p10 >> 32) + (middle >> 32), (middle << 32) | (p00 & 0xFFFFFFFFu)};
  r.lo += c;
  r.hi += r.lo < c;
  return r;
}
// Long division, one bit at a time; the quotient is assumed to fit 64 bits.
inline void divide(U128 n, uint64_t m, uint64_t& quotient, uint64_t& remainder) {
  uint64_t q = 0, r = 0;
  for (int bit = 127; bit >= 0; --bit) {
    const bool carry = r >> 63;
    r = r << 1 | ((bit >= 64 ? n.hi >> (bit - 64) : n.lo >> bit) & 1u);
    q <<= 1;
    if (carry || r >= m) {
      r -= m;
      q |= 1;
    }
  }
  quotient = q;
  remainder = r;
}
}  // namespace wide

inline uint64_t mulAddDiv(uint64_t a, uint64_t b, uint64_t c, uint64_t m) {
  uint64_t q, r;
  wide::divide(wide::mulAdd(a, b, c), m, q, r);
  return q;
}
inline uint64_t mulAddMod(uint64_t a, uint64_t b, uint64_t c, uint64_t m) {
  uint64_t q, r;
  wide::divide(wide::mulAdd(a, b, c), m, q, r);
  return r;
}

#endif

}  // namespace pel
