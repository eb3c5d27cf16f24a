#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "gfx/cpu.h"
#include "gfx/mode.h"
#include "gfx/pixel.h"

using namespace pel;

namespace {

// The per-channel blending formula, written out plainly.
uint32_t blendReference(uint32_t pixel, uint32_t colour, bool vectorTopByte) {
  const int a = static_cast<int>(colour >> 24);
  uint32_t out = 0;
  for (int shift = 0; shift < 24; shift += 8) {
    const int d = (pixel >> shift) & 0xFF, s = (colour >> shift) & 0xFF;
    const int diff = a * (s - d);
    const int floorDiv = diff >= 0 ? diff / 256 : -((-diff + 255) / 256);
    out |= static_cast<uint32_t>(d + floorDiv) << shift;
  }
  if (vectorTopByte) {
    const int d = static_cast<int>(pixel >> 24), diff = a * (a - d);
    const int floorDiv = diff >= 0 ? diff / 256 : -((-diff + 255) / 256);
    out |= static_cast<uint32_t>(d + floorDiv) << 24;
  } else {
    out |= static_cast<uint32_t>(a) << 24;
  }
  return out;
}

std::vector<const VectorRoutines*> vectorSets() {
  std::vector<const VectorRoutines*> sets;
  if (sse2Routines()) sets.push_back(sse2Routines());
  if (avx2Routines()) sets.push_back(avx2Routines());
  return sets;
}

DrawContext contextOver(uint32_t* pixels, int32_t width, int32_t height, uint8_t** rows) {
  DrawContext c{};
  for (int32_t y = 0; y < height; ++y) rows[y] = reinterpret_cast<uint8_t*>(pixels + y * width);
  c.rows = rows;
  c.targetBytesPerPixel = 4;
  return c;
}

}  // namespace

TEST(Colour, ConvertForEachPixelSize) {
  EXPECT_EQ(convertColour(2, 0xFFFFFFFFu), 0xFFFFu);
  EXPECT_EQ(convertColour(2, 0x00FF0000u), 0xF800u);
  EXPECT_EQ(convertColour(2, 0x0000FF00u), 0x07E0u);
  EXPECT_EQ(convertColour(2, 0x000000FFu), 0x001Fu);
  EXPECT_EQ(convertColour(2, 0x00070307u), 0u);
  EXPECT_EQ(convertColour(1, 0x123u), 0x23u);
  EXPECT_EQ(convertColour(4, 0x80FF0000u), 0x80FF0000u);
  EXPECT_EQ(convertColour(3, 0x12345678u), 0x12345678u);
}

TEST(Colour, RgbForDepth) {
  EXPECT_EQ(rgbForDepth(2, 99, 255, 255, 255), 0xFFFFu);
  EXPECT_EQ(rgbForDepth(2, 99, 255, 0, 0), 0xF800u);
  EXPECT_EQ(rgbForDepth(2, 99, 0, 4, 7), (4u << 3) & 0x07E0u);
  EXPECT_EQ(rgbForDepth(4, 0x00ABCDEF, 1, 2, 3), 0x00ABCDEFu);
  EXPECT_EQ(rgbForDepth(1, 14, 1, 2, 3), 14u);
}

TEST(Blend, HalfRedOverBlack) {
  uint32_t pixel = 0xFF000000u;
  uint8_t* rows[1];
  DrawContext c = contextOver(&pixel, 1, 1, rows);
  blendPixel32(&c, 0, 0, 0x80FF0000u);
  EXPECT_EQ(pixel, 0x807F0000u);  // portable: top byte is the colour's alpha
  pixel = 0xFF000000u;
  blendPixel32Vector(&c, 0, 0, 0x80FF0000u);
  // Vector form: top byte 255 + floor(128 * (128 - 255) / 256) = 191.
  EXPECT_EQ(pixel, 0xBF7F0000u);
}

TEST(Blend, NegativeDifferencesRoundDown) {
  // d = 200, s = 0, a = 1: 200 + floor(-200 / 256) = 199.
  EXPECT_EQ(blendReference(0x00C8C8C8u, 0x01000000u, false), 0x01C7C7C7u);
  uint32_t span[3] = {0x00C8C8C8u, 0x00C8C8C8u, 0x00C8C8C8u};
  blendSpan32(span, 0x01000000u, 3);
  EXPECT_EQ(span[2], 0x01C7C7C7u);
}

TEST(Blend, PortableAndVectorFormsMatchTheFormula) {
  std::mt19937 random(1234);
  for (int trial = 0; trial < 200; ++trial) {
    const uint32_t colour = random();
    const int count = static_cast<int>(random() % 70);
    std::vector<uint32_t> source(80);
    for (auto& p : source) p = random();
    std::vector<uint32_t> portable = source;
    blendSpan32(portable.data() + 1, colour, count);
    for (int i = 0; i < 80; ++i) {
      const bool inSpan = i >= 1 && i < 1 + count;
      ASSERT_EQ(portable[i], inSpan ? blendReference(source[i], colour, false) : source[i]) << trial;
    }
    for (const VectorRoutines* set : vectorSets()) {
      std::vector<uint32_t> vector = source;
      set->blendSpan32(vector.data() + 1, colour, count);
      for (int i = 0; i < 80; ++i) {
        const bool inSpan = i >= 1 && i < 1 + count;
        ASSERT_EQ(vector[i], inSpan ? blendReference(source[i], colour, true) : source[i]) << trial;
      }
    }
  }
}

TEST(Spans, FillsWriteExactlyCountPixels) {
  std::vector<uint32_t> page(300);
  std::vector<uint16_t> page16(300);
  std::vector<FillSpanFn> fills32 = {fillSpan32}, fills16 = {fillSpan16};
  for (const VectorRoutines* set : vectorSets()) {
    fills32.push_back(set->fillSpan32);
    fills16.push_back(set->fillSpan16);
  }
  for (std::size_t f = 0; f < fills32.size(); ++f) {
    for (int offset = 0; offset < 9; ++offset) {
      for (int count = -2; count < 140; ++count) {
        std::fill(page.begin(), page.end(), 0xDEADBEEFu);
        std::fill(page16.begin(), page16.end(), 0xBEEF);
        fills32[f](page.data() + offset, 0x12345678u, count);
        fills16[f](page16.data() + offset, 0xABCD1234u, count);
        for (int i = 0; i < 300; ++i) {
          const bool in = i >= offset && i < offset + count;
          ASSERT_EQ(page[i], in ? 0x12345678u : 0xDEADBEEFu) << f << " " << offset << " " << count;
          ASSERT_EQ(page16[i], in ? 0x1234 : 0xBEEF) << f << " " << offset << " " << count;
        }
      }
    }
  }
}

TEST(Spans, BlockCopyAndFillMatchTheLibrary) {
  std::mt19937 random(99);
  std::vector<uint8_t> source(5000), expected(5000), actual(5000);
  for (auto& b : source) b = static_cast<uint8_t>(random());
  for (const VectorRoutines* set : vectorSets()) {
    for (int trial = 0; trial < 400; ++trial) {
      const std::size_t from = random() % 64, to = random() % 64;
      const std::size_t n = trial < 100 ? static_cast<std::size_t>(trial) : random() % 4800;
      const int value = static_cast<int>(random());
      std::fill(expected.begin(), expected.end(), 0x5A);
      std::fill(actual.begin(), actual.end(), 0x5A);
      std::memcpy(expected.data() + to, source.data() + from, n);
      set->blockCopy(actual.data() + to, source.data() + from, n);
      ASSERT_EQ(actual, expected) << "copy " << n;
      std::memset(expected.data() + to, value, n);
      set->blockFill(actual.data() + to, value, n);
      ASSERT_EQ(actual, expected) << "fill " << n;
    }
  }
}

TEST(Routines, SelectionPerPixelSizeWithoutAlpha) {
  selectPixelRoutines(1);
  EXPECT_EQ(pixelRoutines.put, putPixel8);
  EXPECT_EQ(pixelRoutines.get, getPixel8);
  EXPECT_EQ(pixelRoutines.fill, fillSpan8);
  EXPECT_EQ(pixelRoutines.copy, copyPixels8);
  selectPixelRoutines(2);
  EXPECT_EQ(pixelRoutines.put, putPixel16);
  EXPECT_EQ(pixelRoutines.blendFill, pixelRoutines.fill);
  selectPixelRoutines(4);
  EXPECT_EQ(pixelRoutines.put, putPixel32);
  EXPECT_EQ(pixelRoutines.blendPut, putPixel32);
  EXPECT_EQ(pixelRoutines.blendFill, pixelRoutines.fill);
  EXPECT_EQ(pixelRoutines.copy, copyPixels32);
  if (vectorRoutines()) {
    EXPECT_EQ(pixelRoutines.fill, vectorRoutines()->fillSpan32);
    EXPECT_EQ(copyBytes, vectorRoutines()->blockCopy);
    EXPECT_EQ(fillBytes, vectorRoutines()->blockFill);
  }
  DrawContext c{};
  c.targetBytesPerPixel = 4;
  chooseDrawRoutines(&c, 0x80FF0000u);  // no mode: never blends
  EXPECT_EQ(c.putPixel, putPixel32);
  EXPECT_EQ(c.getPixel, getPixel32);
}

TEST(Routines, PutAndGetAtEachDepth) {
  uint32_t words[4] = {};
  uint8_t* rows[2] = {reinterpret_cast<uint8_t*>(words), reinterpret_cast<uint8_t*>(words + 2)};
  DrawContext c{};
  c.rows = rows;
  putPixel8(&c, 1, 0, 0x123);
  EXPECT_EQ(getPixel8(&c, 1, 0), 0x23u);
  putPixel16(&c, 1, 1, 0xABCDEF);
  EXPECT_EQ(getPixel16(&c, 1, 1), 0xCDEFu);
  putPixel32(&c, 0, 1, 0xFF000001u);
  EXPECT_EQ(getPixel32(&c, 0, 1), 0xFF000001u);
  EXPECT_EQ(words[0], 0x2300u);
}

TEST(Cpu, FeatureWordIsCachedAndReportsTheFamily) {
  const uint32_t word = detectCpu();
  EXPECT_EQ(detectCpu(), word);
#if defined(__x86_64__)
  EXPECT_NE(word & cpubit::mmx, 0u);
  EXPECT_NE(word & cpubit::sse2, 0u);
  EXPECT_NE(word >> 28, 0u);
  EXPECT_NE(vectorRoutines(), nullptr);
#endif
}
