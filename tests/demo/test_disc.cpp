#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "demo/disc.h"

using namespace pel;

namespace {

constexpr int guard = 4096;
constexpr uint32_t background = 0xDEADBEEF;

class Disc : public ::testing::Test {
 protected:
  void SetUp() override {
    memory.assign(discPagePixels + 2 * guard, background);
    screenBase = memory.data() + guard;
  }
  uint32_t at(int x, int y) const { return screenBase[y * 800 + x]; }
  // Columns written on row y, as [first, last], or {-1, -1}.
  std::pair<int, int> rowSpan(int y) const {
    int first = -1, last = -1;
    for (int x = 0; x < 800; ++x) {
      if (at(x, y) != background) {
        if (first < 0) first = x;
        last = x;
      }
    }
    return {first, last};
  }
  bool guardsIntact() const {
    for (int i = 0; i < guard; ++i) {
      if (memory[i] != background || memory[memory.size() - 1 - i] != background) return false;
    }
    return true;
  }
  std::vector<uint32_t> memory;
};

}  // namespace

TEST(FastSqrt, Estimates) {
  EXPECT_FLOAT_EQ(fastSqrt(9801.0f), 99.000236f);
  EXPECT_NEAR(fastSqrt(1.0f), 1.000384f, 1e-6f);
  EXPECT_NEAR(fastSqrt(0.0f), 3.9175e-20f, 1e-23f);
  for (float x : {2.0f, 10.0f, 1000.0f, 12345.0f}) {
    EXPECT_GE(fastSqrt(x), std::sqrt(x));
    EXPECT_NEAR(fastSqrt(x), std::sqrt(x), std::sqrt(x) * 1e-3);
  }
}

TEST(FastSqrt, AlternativeEstimates) {
  for (float x : {1.0f, 2.0f, 50.0f, 9801.0f, 65536.0f}) {
    const float root = std::sqrt(x);
    EXPECT_NEAR(sqrtReciprocalEstimate(x), root, root * 2e-3) << x;
    EXPECT_NEAR(sqrtRangeReduced(x), root, root * 1e-2) << x;
    EXPECT_NEAR(sqrtSignedShift(x), root, root * 1e-3) << x;
    EXPECT_NEAR(sqrtBareBits(x), root, root * 7e-2) << x;
  }
  EXPECT_EQ(sqrtBareBits(4.0f), 2.0f);
  EXPECT_LT(sqrtBareBits(-4.0f), 0.0f);  // the sign bit comes back
}

TEST_F(Disc, Radius99AtTheCentre) {
  fillDisc(400, 300, 99, 0x0000FC00);
  EXPECT_EQ(rowSpan(200), std::make_pair(-1, -1));
  EXPECT_EQ(rowSpan(201), std::make_pair(399, 401));
  EXPECT_EQ(rowSpan(300), std::make_pair(300, 500));
  EXPECT_EQ(rowSpan(399), std::make_pair(399, 401));
  EXPECT_EQ(rowSpan(400), std::make_pair(-1, -1));
  EXPECT_EQ(at(400, 300), 0x0000FC00u);
  // Every row is one span around the centre, of 2h + 1 pixels with
  // h = floor(sqrt(v)) + 1 or + 2.
  for (int y = 201; y <= 399; ++y) {
    const auto [first, last] = rowSpan(y);
    ASSERT_EQ(first + last, 800) << y;
    const int i = y - 300, h = last - 400;
    const int root = static_cast<int>(std::sqrt(static_cast<double>(99 * 99 - i * i)));
    ASSERT_TRUE(h == root + 1 || h == root + 2) << y;
  }
}

TEST_F(Disc, SmallAndNegativeRadii) {
  fillDisc(10, 10, 0, 7);
  EXPECT_EQ(rowSpan(10), std::make_pair(9, 11));
  EXPECT_EQ(rowSpan(9), std::make_pair(-1, -1));
  EXPECT_EQ(rowSpan(11), std::make_pair(-1, -1));
  fillDisc(100, 100, -5, 7);
  EXPECT_EQ(rowSpan(100), std::make_pair(-1, -1));
  fillDisc(50, 50, 1, 7);
  EXPECT_EQ(rowSpan(49), std::make_pair(49, 51));
  EXPECT_EQ(rowSpan(50), std::make_pair(48, 52));  // centre row: h = r + 1
}

TEST_F(Disc, SpansWrapIntoTheNextRow) {
  fillDisc(700, 300, 99, 5);
  EXPECT_EQ(screenBase[300 * 800 + 600], 5u);
  EXPECT_EQ(screenBase[301 * 800], 5u);  // (cy + 1) * 800: the span's last pixel
  EXPECT_EQ(screenBase[301 * 800 + 1], background);
}

TEST_F(Disc, OnlyFirstSixteenBitsOfArgumentsCount) {
  fillDisc(400 + 65536, 300 - 65536, 0 + 65536, 9);
  EXPECT_EQ(rowSpan(300), std::make_pair(399, 401));
}

TEST_F(Disc, NeverWritesOutsideThePage) {
  std::mt19937 random(5);
  for (int trial = 0; trial < 3000; ++trial) {
    const int32_t cx = static_cast<int32_t>(random()), cy = static_cast<int32_t>(random());
    const int32_t r = static_cast<int32_t>(random() % 600) - 100;
    fillDisc(trial % 2 ? cx : cx % 1000, trial % 2 ? cy : cy % 800, trial % 3 ? r : static_cast<int32_t>(random()), 1);
    ASSERT_TRUE(guardsIntact()) << trial;
  }
  fillDisc(799, 599, 181, 2);
  fillDisc(0, 0, 181, 2);
  fillDisc(-32768, -32768, 32767, 2);
  fillDisc(32767, 32767, -32768, 2);
  EXPECT_TRUE(guardsIntact());
  // A disc touching the last row keeps its in-page spans.
  std::fill(memory.begin(), memory.end(), background);
  fillDisc(400, 599, 10, 3);
  EXPECT_EQ(at(400, 599), 3u);
  EXPECT_EQ(rowSpan(589), std::make_pair(399, 401));
}

TEST_F(Disc, VectorFormMatchesThePlainFormBitForBit) {
  if (!discVectorForm()) GTEST_SKIP() << "no AVX2";
  std::vector<uint32_t> plain(discPagePixels), vector(discPagePixels);
  std::mt19937 random(77);
  for (int trial = 0; trial < 400; ++trial) {
    const int32_t r = trial < 200 ? trial % 200 : static_cast<int32_t>(random() % 400) - 10;
    const int32_t cx = static_cast<int32_t>(random() % 1000) - 100, cy = static_cast<int32_t>(random() % 800) - 100;
    const int32_t low = trial % 3 ? 0 : static_cast<int32_t>(random() % discPagePixels);
    const int32_t high = trial % 3 ? discPagePixels : low + static_cast<int32_t>(random() % 100000);
    const uint32_t value = static_cast<uint32_t>(trial + 1);
    screenBase = plain.data();
    discPlainForm()(cx, cy, r, value, low, std::min(high, discPagePixels));
    screenBase = vector.data();
    discVectorForm()(cx, cy, r, value, low, std::min(high, discPagePixels));
    ASSERT_TRUE(plain == vector) << "trial " << trial << " r " << r;
  }
}
