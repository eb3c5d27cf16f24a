#include "random.h"

#include <bit>
#include <cmath>
#include <cstdlib>

#include "clock.h"
#include "platform.h"
#include "runtime.h"

namespace pel {
namespace {

constexpr int twisterSize = 624;
constexpr double twoTo32 = 4294967296.0;
using Generator = double (*)(float);

struct RandomState {
  Generator generator = nullptr;
  double last = 0.0;
  uint32_t word = 0x50000;  // shared by the fast and compatible generators
  uint32_t table[twisterSize] = {};
  int index = twisterSize;
  uint32_t entropy = 0;
  uint32_t calls = 0;
};

RandomState rs;

void seedTwister(uint32_t seed) {
  rs.table[0] = seed;
  for (int i = 1; i < twisterSize; ++i) rs.table[i] = rs.table[i - 1] * 1664525u + 1013904223u;
  rs.index = twisterSize;
}

uint32_t twisterWord() {
  constexpr int m = 397;
  if (rs.index >= twisterSize) {
    for (int i = 0; i < twisterSize; ++i) {
      uint32_t y = (rs.table[i] & 0x80000000u) | (rs.table[(i + 1) % twisterSize] & 0x7FFFFFFFu);
      rs.table[i] = rs.table[(i + m) % twisterSize] ^ (y >> 1) ^ ((y & 1u) ? 0x9908B0DFu : 0u);
    }
    rs.index = 0;
  }
  return temper(rs.table[rs.index++]);
}

double cLibrary(float x) {
  if (x == 0.0f) return rs.last;
  // RAND_MAX + 1 is 32768 where rand gives 15 bits; wider rand()s stay in [0, 1).
  return std::rand() / (static_cast<double>(RAND_MAX) + 1.0);
}

double fast(float x) {
  if (x != 0.0f) rs.word = rs.word * 1664525u + 1013904223u;
  return rs.word / twoTo32;
}

double twister(float x) {
  if (x == 0.0f) return rs.last;
  return twisterWord() / twoTo32;
}

double compatible(float x) {
  if (x == 0.0f) return rs.last;
  if (x < 0.0f) {
    const uint32_t bits = std::bit_cast<uint32_t>(x);
    rs.word = bits + (bits >> 24);
  }
  rs.word = (rs.word * 16598013u + 12820163u) & 0xFFFFFFu;
  return rs.word / 16777216.0;
}

double realRandom(float x) {
  if (x == 0.0f) return rs.last;
  const double v = twisterWord() / twoTo32;
  if ((rs.calls & 0xFF) == 0) {
    rs.calls = 1;
    uint32_t drawn = 0;
    rs.entropy = platform::cryptoRandom(drawn) ? drawn : 0;
  } else {
    ++rs.calls;
  }
  if (rs.entropy == 0) return v;
  uint32_t b = temper(seedBits(v * rs.entropy));
  rs.entropy = b;
  return b / twoTo32;
}

}  // namespace

uint32_t seedBits(double seed) {
  // 2^63: the first magnitude the 64-bit conversion cannot hold.
  constexpr double limit = 9223372036854775808.0;
  if (!(seed > -limit && seed < limit)) return 0;
  return static_cast<uint32_t>(static_cast<uint64_t>(static_cast<int64_t>(seed)));
}

void seedRandom(double seed, int32_t algorithm) {
  if (algorithm == 0) {
    const int32_t dialect = runtimeDialect();
    algorithm = (dialect == 1 || dialect == 2) ? 1 : dialect == 3 ? 4 : 3;
  }
  if (seed == -1.0) {
    const uint64_t bits = std::bit_cast<uint64_t>(timerSeconds());
    seed = static_cast<uint32_t>(bits ^ (bits >> 32));
  }
  switch (algorithm) {
    case 1:
      std::srand(seedBits(seed));
      std::rand();
      rs.generator = cLibrary;
      break;
    case 2:
      rs.word = seedBits(seed);
      rs.generator = fast;
      break;
    case 4: {
      const uint32_t high = static_cast<uint32_t>(std::bit_cast<uint64_t>(seed) >> 32);
      rs.word = (((high ^ (high >> 16)) & 0xFFFFu) << 8) | (rs.word & 0xFFu);
      rs.generator = compatible;
      break;
    }
    case 5:
      seedTwister(seedBits(seed));
      rs.generator = realRandom;
      break;
    default:
      seedTwister(seedBits(seed));
      rs.generator = twister;
      break;
  }
}

void resetRandom() { rs = RandomState{}; }

double nextRandom(float x) {
  if (!rs.generator) {
    const int32_t dialect = runtimeDialect();
    if (dialect == 1 || dialect == 2) {
      rs.generator = cLibrary;
    } else if (dialect == 3) {
      rs.word = 0x50000;
      rs.generator = compatible;
    } else {
      seedRandom(0.0, 0);
    }
  }
  rs.last = rs.generator(x);
  return rs.last;
}

}  // namespace pel
