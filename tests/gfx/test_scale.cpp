#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "gfx/scale.h"

using namespace pel;

// Every destination pixel shows source pixel (x * srcW / dstW, y * srcH / dstH),
// whichever form the processor gets (the vector form where it has AVX2), for
// all pixel sizes, whole, fractional and shrinking factors and a scan-line
// repeat.
TEST(Scale, EveryPixelComesFromItsNearestSourcePixel) {
  std::mt19937 random(7);
  const int sizes[][4] = {{320, 200, 1280, 800}, {320, 200, 1024, 640}, {64, 48, 512, 384}, {7, 5, 21, 10},
                          {100, 10, 200, 37},    {5, 9, 3, 4},          {1, 1, 13, 2},     {33, 3, 99, 3},
                          {800, 6, 1024, 8},     {803, 2, 1021, 3},     {64, 2, 40, 2},    {17, 1, 9, 1}};
  for (int bytes = 1; bytes <= 4; ++bytes) {
    for (const auto& size : sizes) {
      for (int repeat : {1, 2}) {
        const int srcW = size[0], srcH = size[1], dstW = size[2], dstH = size[3];
        const std::size_t pitch = static_cast<std::size_t>(srcW) * bytes + 3;
        std::vector<uint8_t> source(pitch * static_cast<std::size_t>(srcH));
        for (auto& b : source) b = static_cast<uint8_t>(random());
        ScaleMap map;
        ASSERT_TRUE(buildScaleMap(map, srcW, srcH * repeat, dstW, dstH, bytes));
        const std::size_t destPitch = static_cast<std::size_t>(dstW) * bytes + 5;
        std::vector<uint8_t> dest(destPitch * static_cast<std::size_t>(dstH), 0xA5);
        scaleRows(map, source.data(), pitch, repeat, dest.data(), destPitch, {0, dstH});
        for (int y = 0; y < dstH; ++y) {
          const int sy = static_cast<int>(int64_t{y} * srcH * repeat / dstH) / repeat;
          for (int x = 0; x < dstW; ++x) {
            const int sx = static_cast<int>(int64_t{x} * srcW / dstW);
            for (int b = 0; b < bytes; ++b) {
              ASSERT_EQ(dest[y * destPitch + x * bytes + b], source[sy * pitch + sx * bytes + b])
                  << bytes << " bytes, " << srcW << "x" << srcH << " to " << dstW << "x" << dstH << " repeat " << repeat
                  << " at " << x << ", " << y;
            }
          }
          // Nothing past the row's end.
          for (std::size_t b = static_cast<std::size_t>(dstW) * bytes; b < destPitch; ++b) {
            ASSERT_EQ(dest[y * destPitch + b], 0xA5);
          }
        }
      }
    }
  }
}

TEST(Scale, RowsShowingASourceBand) {
  ScaleMap map;
  ASSERT_TRUE(buildScaleMap(map, 320, 200, 1024, 640, 4));  // 3.2 rows a row
  EXPECT_EQ(scaledRows(map, 0, 200).first, 0);
  EXPECT_EQ(scaledRows(map, 0, 200).end, 640);
  // Rows 16 and 17 start at 16 * 3.2 = 51.2 and end before 18 * 3.2 = 57.6.
  EXPECT_EQ(scaledRows(map, 16, 18).first, 52);
  EXPECT_EQ(scaledRows(map, 16, 18).end, 58);
  for (int y = 52; y < 58; ++y) EXPECT_TRUE(y * 200 / 640 >= 16 && y * 200 / 640 < 18) << y;
  EXPECT_EQ(51 * 200 / 640, 15);
  EXPECT_EQ(58 * 200 / 640, 18);
  EXPECT_EQ(scaledRows(map, 5, 5).end - scaledRows(map, 5, 5).first, 0);
  EXPECT_FALSE(buildScaleMap(map, 0, 200, 1024, 640, 4));
  EXPECT_FALSE(buildScaleMap(map, 320, 200, 1024, 640, 5));
  EXPECT_TRUE(map.columnBytes.empty());
}
