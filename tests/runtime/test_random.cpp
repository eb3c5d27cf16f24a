#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <random>
#include <sstream>

#include "runtime/random.h"
#include "runtime/runtime.h"

using namespace pel;

namespace {

constexpr double twoTo32 = 4294967296.0;

uint32_t lcg(uint32_t x) { return x * 1664525u + 1013904223u; }

// An MT19937 engine whose table is seeded by the runtime's recurrence, built
// through the standard engine's textual state so the generation is independent.
std::mt19937 referenceTwister(uint32_t seed) {
  std::ostringstream state;
  uint32_t word = seed;
  for (int i = 0; i < 624; ++i) {
    state << word << ' ';
    word = lcg(word);
  }
  state << 624;  // libstdc++ writes the index last; it reads it back too
  std::mt19937 engine;
  std::istringstream in(state.str());
  in >> engine;
  return engine;
}

// Every test starts from the program's start: dialect 0, nothing seeded.
class Random : public ::testing::Test {
 protected:
  void SetUp() override { runtimeInit(0, nullptr, 0); }
};

}  // namespace

TEST_F(Random, FastGeneratorFirstValues) {
  for (double seed : {0.0, 1.0, 12345.75, 4294967295.0, 4294967296.0 + 7, -3.9}) {
    seedRandom(seed, 2);
    uint32_t state = static_cast<uint32_t>(static_cast<int64_t>(std::trunc(seed)));
    for (int i = 0; i < 3; ++i) {
      state = lcg(state);
      EXPECT_EQ(nextRandom(1.0f), state / twoTo32) << "seed " << seed << " draw " << i;
    }
  }
}

TEST_F(Random, FastGeneratorIgnoresNegativeArgument) {
  seedRandom(10, 2);
  EXPECT_EQ(nextRandom(-5.0f), lcg(10) / twoTo32);
}

TEST_F(Random, TwisterMatchesStandardGenerationFromStatedSeeding) {
  for (uint32_t seed : {0u, 5489u, 0xDEADBEEFu}) {
    std::mt19937 reference = referenceTwister(seed);
    seedRandom(seed, 3);
    for (int i = 0; i < 1500; ++i) {  // crosses two table regenerations
      ASSERT_EQ(nextRandom(1.0f), reference() / twoTo32) << "seed " << seed << " draw " << i;
    }
  }
}

TEST_F(Random, UnknownAlgorithmSeedsTheTwister) {
  std::mt19937 reference = referenceTwister(77);
  seedRandom(77, 99);
  EXPECT_EQ(nextRandom(1.0f), reference() / twoTo32);
  seedRandom(77, -4);
  EXPECT_EQ(nextRandom(1.0f), referenceTwister(77)() / twoTo32);
}

TEST_F(Random, CompatibleGenerator) {
  // Seed 1.0: upper word 0x3FF00000 gives ((0x3FF0 ^ 0x3FF00000 >> 16)...) << 8.
  seedRandom(1.0, 4);
  const uint32_t high = 0x3FF00000u;
  uint32_t state = (((high ^ (high >> 16)) & 0xFFFFu) << 8) | (0x50000u & 0xFFu);
  state = (state * 16598013u + 12820163u) & 0xFFFFFFu;
  EXPECT_EQ(nextRandom(1.0f), state / 16777216.0);
  // A negative argument reseeds from the float's bit pattern.
  const uint32_t bits = std::bit_cast<uint32_t>(-2.5f);
  state = ((bits + (bits >> 24)) * 16598013u + 12820163u) & 0xFFFFFFu;
  EXPECT_EQ(nextRandom(-2.5f), state / 16777216.0);
}

TEST_F(Random, ZeroArgumentRepeatsTheLastValueForEveryGenerator) {
  for (int algorithm = 1; algorithm <= 5; ++algorithm) {
    seedRandom(42, algorithm);
    const double first = nextRandom(1.0f);
    EXPECT_EQ(nextRandom(0.0f), first) << "algorithm " << algorithm;
    EXPECT_EQ(nextRandom(0.0f), first) << "algorithm " << algorithm;
    const double second = nextRandom(1.0f);
    EXPECT_NE(second, first) << "algorithm " << algorithm;
  }
}

TEST_F(Random, ValuesStayInUnitInterval) {
  for (int algorithm = 1; algorithm <= 5; ++algorithm) {
    seedRandom(7, algorithm);
    for (int i = 0; i < 2000; ++i) {
      const double v = nextRandom(1.0f);
      ASSERT_GE(v, 0.0);
      ASSERT_LT(v, 1.0) << "algorithm " << algorithm;
    }
  }
}

TEST_F(Random, RealRandomZeroArgumentLeavesEntropyAlone) {
  seedRandom(3, 5);
  const double a = nextRandom(1.0f);
  EXPECT_EQ(nextRandom(0.0f), a);
  // Every value lies in [0, 1); with a zero entropy word they equal the Twister's.
  for (int i = 0; i < 600; ++i) ASSERT_LT(nextRandom(1.0f), 1.0);
}

TEST_F(Random, ClockSeedUsesTheBitPattern) {
  // A clock seed must not be the integer part of the clock: two seeds taken
  // microseconds apart differ in their low bits almost always.
  seedRandom(-1.0, 2);
  const double a = nextRandom(1.0f);
  seedRandom(-1.0, 2);
  const double b = nextRandom(1.0f);
  EXPECT_NE(a, b);
}

TEST_F(Random, SeedConversionTruncatesAndKeepsLowBits) {
  EXPECT_EQ(seedBits(2.9), 2u);
  EXPECT_EQ(seedBits(-2.9), 0xFFFFFFFEu);
  EXPECT_EQ(seedBits(4294967296.0 * 3 + 5), 5u);
  EXPECT_EQ(seedBits(std::nan("")), 0u);
  EXPECT_EQ(seedBits(INFINITY), 0u);
  EXPECT_EQ(seedBits(-INFINITY), 0u);
  EXPECT_EQ(seedBits(1e300), 0u);
}

TEST_F(Random, DialectDefaults) {
  // Dialect 0 before any seed: seed 0 with the Twister.
  runtimeInit(0, nullptr, 0);
  EXPECT_EQ(nextRandom(1.0f), referenceTwister(0)() / twoTo32);
}

TEST_F(Random, DialectThreeStartsTheCompatibleGenerator) {
  runtimeInit(0, nullptr, 3);
  const uint32_t state = (0x50000u * 16598013u + 12820163u) & 0xFFFFFFu;
  EXPECT_EQ(nextRandom(1.0f), state / 16777216.0);
}

TEST_F(Random, AlgorithmZeroPicksByDialect) {
  runtimeInit(0, nullptr, 3);
  seedRandom(1.0, 0);  // algorithm 4
  const uint32_t high = 0x3FF00000u;
  uint32_t state = (((high ^ (high >> 16)) & 0xFFFFu) << 8) | (0x50000u & 0xFFu);
  state = (state * 16598013u + 12820163u) & 0xFFFFFFu;
  EXPECT_EQ(nextRandom(1.0f), state / 16777216.0);
}
