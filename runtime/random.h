// Seedable random generators. Algorithm numbers: 1 C library, 2 fast,
// 3 Mersenne Twister, 4 compatible, 5 real random; 0 picks by dialect.
#pragma once
#include <cstdint>

namespace pel {

// A seed of exactly -1.0 seeds from the clock.
void seedRandom(double seed, int32_t algorithm);
// The next value in [0, 1); an argument of 0 repeats the last value.
double nextRandom(float x);
// Back to the state before any seed: the next draw picks by dialect again.
// The runtime's start does this, so a new dialect takes effect.
void resetRandom();

// MT19937 tempering, shared by the Twister and the real-random generator.
constexpr uint32_t temper(uint32_t y) {
  y ^= y >> 11;
  y ^= (y << 7) & 0x9D2C5680u;
  y ^= (y << 15) & 0xEFC60000u;
  y ^= y >> 18;
  return y;
}

// The seed's conversion to an integer: truncation towards zero into 64 bits,
// low 32 bits kept. NaN, infinities and values beyond the 64-bit range give 0,
// as the processor's "integer indefinite" result does.
uint32_t seedBits(double seed);

}  // namespace pel
