#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <tuple>
#include <vector>

#include "fake_drivers.h"
#include "gfx/draw.h"
#include "gfx/mode.h"
#include "gfx/pages.h"

using namespace pel;

namespace {

using Pixel = std::tuple<int32_t, int32_t>;
std::vector<Pixel> plotted;

void recordPixel(DrawContext*, int32_t x, int32_t y, uint32_t) { plotted.emplace_back(x, y); }

// The line walked literally from its first point, unclipped, keeping the
// pixels whose style bit is set and that lie in [0, w) x [0, h).
std::vector<Pixel> referenceWalk(int64_t x1, int64_t y1, int64_t x2, int64_t y2, uint16_t style, int64_t w, int64_t h) {
  std::vector<Pixel> out;
  const int64_t dx = std::abs(x2 - x1), dy = std::abs(y2 - y1), sx = x2 < x1 ? -1 : 1, sy = y2 < y1 ? -1 : 1;
  const int64_t a = 2 * dy, b = 2 * dx;
  int64_t x = x1, y = y1, k = 0;
  auto emit = [&] {
    if ((style >> (15 - k % 16)) & 1 && x >= 0 && x < w && y >= 0 && y < h) {
      out.emplace_back(static_cast<int32_t>(x), static_cast<int32_t>(y));
    }
  };
  if (dx >= dy) {
    for (int64_t d = a - dx;; ++k) {
      emit();
      if (x == x2) break;
      if (d >= 0) {
        y += sy;
        d -= b;
      }
      d += a;
      x += sx;
    }
  } else {
    for (int64_t d = dy - b;; ++k) {
      emit();
      if (y == y2) break;
      if (d <= 0) {
        x += sx;
        d += a;
      }
      d -= b;
      y += sy;
    }
  }
  return out;
}

class Draw : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::install();
    ASSERT_EQ(openScreenBySize(80, 60, 32, 2, 0, 0), 0);
    plotted.clear();
  }
  void TearDown() override {
    closeScreen();
    setBackendList(nullptr);
  }
  // rasterLine with the pixels recorded instead of drawn.
  std::vector<Pixel> line(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint16_t style = 0xFFFE) {
    DrawContext* c = getContext();
    resetScreenTarget(c);
    c->putPixel = recordPixel;
    plotted.clear();
    rasterLine(c, x1, y1, x2, y2, 1, style);
    return plotted;
  }
  static uint32_t at(int x, int y, int page = 0) {
    return reinterpret_cast<const uint32_t*>(currentMode()->pages[page])[y * 80 + x];
  }
  static int dirtyRows() {
    int n = 0;
    for (int y = 0; y < 60; ++y) n += currentMode()->dirty[y] != 0;
    return n;
  }
  static void clearDirty() { std::fill(currentMode()->dirty, currentMode()->dirty + 60, 0); }
};

}  // namespace

TEST_F(Draw, ShortLinesStepTheMinorCoordinateOnExactHalves) {
  EXPECT_EQ(line(0, 0, 2, 1), (std::vector<Pixel>{{0, 0}, {1, 1}, {2, 1}}));
  EXPECT_EQ(line(0, 0, 1, 2), (std::vector<Pixel>{{0, 0}, {1, 1}, {1, 2}}));
  EXPECT_EQ(line(0, 0, 3, 3, 0xFFFF), (std::vector<Pixel>{{0, 0}, {1, 1}, {2, 2}, {3, 3}}));
  EXPECT_EQ(line(5, 5, 5, 5, 0x8000), (std::vector<Pixel>{{5, 5}}));
  EXPECT_TRUE(line(5, 5, 5, 5, 0x7FFF).empty());
}

TEST_F(Draw, StyleIsAnchoredAtTheFirstPoint) {
  EXPECT_EQ(line(0, 5, 20, 5, 0x8000), (std::vector<Pixel>{{0, 5}, {16, 5}}));
  EXPECT_EQ(line(20, 5, 0, 5, 0x8000), (std::vector<Pixel>{{20, 5}, {4, 5}}));
  // Entering the view at row 0 five rows after the first point: bit 15 - 5.
  const auto v = line(3, -5, 3, 10, 0x0400);
  EXPECT_EQ(v, (std::vector<Pixel>{{3, 0}}));
}

TEST_F(Draw, ClippedLinesPlotTheUnclippedWalkCutToTheView) {
  EXPECT_EQ(line(-30, -7, 50, 3, 0xFFFF).front(), Pixel(22, 0));
  EXPECT_EQ(line(31, 82, -31, 37, 0xFFFF), (std::vector<Pixel>{{0, 59}}));
  EXPECT_EQ(line(25, -6, 33, 90, 0xFFFF).front(), Pixel(26, 0));
  std::mt19937 random(2024);
  for (int trial = 0; trial < 20000; ++trial) {
    const int spread = trial % 4 == 0 ? 400 : 160;
    auto coordinate = [&] { return static_cast<int32_t>(random() % spread) - spread / 2 + 40; };
    const int32_t x1 = coordinate(), y1 = coordinate(), x2 = coordinate(), y2 = coordinate();
    auto style = static_cast<uint16_t>(random());
    if (style == 0xFFFF) style = 0xFFFE;  // solid horizontal runs are spans, not recorded pixels
    ASSERT_EQ(line(x1, y1, x2, y2, style), referenceWalk(x1, y1, x2, y2, style, 80, 60))
        << "(" << x1 << ", " << y1 << ")-(" << x2 << ", " << y2 << ") style " << style;
  }
}

TEST_F(Draw, HugeLinesAreClippedNotWalked) {
  const auto v = line(-1000000000, -1000000000, 1000000000, 1000000000, 0xFFFF);
  EXPECT_EQ(v.size(), 60u);
  EXPECT_EQ(v.front(), Pixel(0, 0));
  EXPECT_EQ(v.back(), Pixel(59, 59));
  const auto w = line(INT32_MIN, 30, INT32_MAX, 31, 0xFFFF);
  EXPECT_EQ(w, referenceWalk(INT32_MIN, 30, INT32_MAX, 31, 0xFFFF, 80, 60));
  EXPECT_EQ(w.size(), 80u);
  const auto steep = line(7, INT32_MIN, 9, INT32_MAX, 0xF0F0);
  EXPECT_EQ(steep, referenceWalk(7, INT32_MIN, 9, INT32_MAX, 0xF0F0, 80, 60));
}

TEST_F(Draw, LinesOutsideTheViewTakeNoLock) {
  fake::A::locks = fake::A::unlocks = 0;
  EXPECT_TRUE(line(-10, -5, -1, 50).empty());
  EXPECT_TRUE(line(0, 61, 79, 70).empty());
  EXPECT_EQ(fake::A::locks, 0);
  // Crossing the corner region outside the view: locks, draws and marks nothing.
  clearDirty();
  EXPECT_TRUE(line(-5, 3, 3, -5).empty());
  EXPECT_EQ(fake::A::locks, 1);
  EXPECT_EQ(fake::A::unlocks, 1);
  EXPECT_EQ(dirtyRows(), 0);
}

TEST_F(Draw, MappingRoundsHalfAwayFromZero) {
  const DrawContext* c = getContext();
  auto map = [c](float v) {
    int32_t x = 0, y = 0;
    EXPECT_TRUE(mapToPhysical(c, v, 0.0f, x, y));
    return x;
  };
  EXPECT_EQ(map(0.5f), 1);
  EXPECT_EQ(map(-0.5f), -1);
  EXPECT_EQ(map(1.49f), 1);
  EXPECT_EQ(map(-1.5f), -2);
  EXPECT_EQ(map(2.5f), 3);
  EXPECT_EQ(map(0.0f), 0);
  EXPECT_EQ(map(1e10f), INT32_MAX);
  EXPECT_EQ(map(-INFINITY), INT32_MIN);
  int32_t x, y;
  EXPECT_FALSE(mapToPhysical(c, NAN, 0.0f, x, y));
}

TEST_F(Draw, StyleReversal) {
  EXPECT_EQ(reverseStyle(0x8000), 0x0001);
  EXPECT_EQ(reverseStyle(0x1234), 0x2C48);
  EXPECT_EQ(reverseStyle(0xFFFF), 0xFFFF);
}

TEST_F(Draw, DemoTextAreaBox) {
  ASSERT_EQ(openScreenBySize(800, 600, 32, 2, 36, 0), 0);
  setPages(1, 0);
  auto* page = reinterpret_cast<uint32_t*>(workPagePointer());
  std::fill(page, page + 800 * 600, 0x00ABCDEFu);
  clearDirty();
  drawLine(nullptr, 1, 1, 200, 10, 0, linekind::filledBox, 0xFFFF, 0);
  int cleared = 0;
  for (int y = 0; y < 600; ++y) {
    for (int x = 0; x < 800; ++x) {
      const bool inside = x >= 1 && x <= 200 && y >= 1 && y <= 10;
      ASSERT_EQ(page[y * 800 + x], inside ? 0u : 0x00ABCDEFu) << x << "," << y;
      cleared += inside;
    }
  }
  EXPECT_EQ(cleared, 2000);
  EXPECT_EQ(getContext()->lastX, 200.0f);
  EXPECT_EQ(getContext()->lastY, 10.0f);
  EXPECT_EQ(dirtyRows(), 0);  // drawn on the hidden page
}

TEST_F(Draw, BoxOutlinesAndKinds) {
  drawLine(nullptr, 2, 3, 6, 5, 0x00FF0000, 1, 0xFFFF, 0);
  const std::vector<std::pair<int, int>> edge = {{2, 3}, {6, 3}, {2, 5}, {6, 5}, {4, 3}, {2, 4}, {6, 4}};
  for (auto [x, y] : edge) EXPECT_EQ(at(x, y), 0x00FF0000u) << x << "," << y;
  EXPECT_EQ(at(4, 4), 0xFF000000u);
  drawLine(nullptr, 10, 10, 12, 12, 0x00FF0000, 3, 0xFFFF, 0);
  EXPECT_EQ(at(11, 11), 0xFF000000u);  // kind 3: outline too
  drawLine(nullptr, 20, 20, 22, 22, 0x0000FF00, 2, 0x0000, 0);
  EXPECT_EQ(at(21, 21), 0x0000FF00u);  // kind 2 fills and ignores the style
  EXPECT_EQ(dirtyRows(), 3 + 3 + 3);
}

TEST_F(Draw, StyledOutlineRunsAroundTheUnclippedBox) {
  // A 4 x 3 box from (-1, 0): W = 4, H = 3; style bit for counter k is 15 - k.
  DrawContext* c = getContext();
  resetScreenTarget(c);
  c->putPixel = recordPixel;
  plotted.clear();
  rasterBox(-1, 0, 2, 2, 1, false, 0xA5A5);
  std::vector<Pixel> expected;
  auto bit = [](int k) { return (0xA5A5 >> (15 - k % 16)) & 1; };
  for (int x = 0; x <= 2; ++x) if (bit(x + 1)) expected.emplace_back(x, 2);           // row y2, k = x - x1
  for (int x = 0; x <= 2; ++x) if (bit(4 + x + 1)) expected.emplace_back(x, 0);       // row y1
  for (int y = 0; y <= 2; ++y) if (bit(8 + y)) expected.emplace_back(2, y);           // column x2
  EXPECT_EQ(plotted, expected);  // the column-x1 edge lies outside the view
}

TEST_F(Draw, DirtyRowsOnlyOnTheShownPage) {
  clearDirty();
  drawLine(nullptr, 5, 7, 40, 20, 0xFFFFFFFF, 0, 0xFFFF, 0);
  EXPECT_EQ(dirtyRows(), 14);
  EXPECT_EQ(currentMode()->dirty[7], 1);
  EXPECT_EQ(currentMode()->dirty[20], 1);
  clearDirty();
  setPages(1, 0);
  drawLine(nullptr, 5, 7, 40, 20, 0xFFFFFFFF, 0, 0xFFFF, 0);
  EXPECT_EQ(dirtyRows(), 0);
  EXPECT_EQ(at(40, 20, 1), 0xFFFFFFFFu);
}

TEST_F(Draw, RelativeCoordinates) {
  DrawContext* c = getContext();
  drawLine(nullptr, 10, 10, 5, 0, 0x00000001, 0, 0xFFFF, 1);  // second += first
  EXPECT_EQ(c->lastX, 15.0f);
  EXPECT_EQ(at(15, 10), 1u);
  drawLine(nullptr, 1, 1, 30, 30, 0x00000002, 0, 0xFFFF, 2);  // first += last
  EXPECT_EQ(at(16, 11), 2u);
  drawLine(nullptr, 1, 0, 2, 0, 0x00000003, 0, 0xFFFF, 3);  // first += last, second += first
  EXPECT_EQ(c->lastX, 33.0f);
  EXPECT_EQ(at(31, 30), 3u);
  EXPECT_EQ(at(33, 30), 3u);
}

TEST_F(Draw, BadCoordinatesDrawNothingAndNeverCrash) {
  const float bad[] = {NAN, INFINITY, -INFINITY, 3e38f, -3e38f, 1e9f};
  for (float a : bad) {
    for (float b : bad) {
      drawLine(nullptr, a, 5, b, 7, 0x00123456, 0, 0xFFFF, 0);
      drawLine(nullptr, a, b, 5, 7, 0x00123456, 2, 0xFFFF, 0);
      drawLine(nullptr, 5, a, b, 7, 0x00123456, 1, 0x1234, 0);
    }
  }
  SUCCEED();
}

// An image target's pitch need not keep pixels aligned to their size; every
// pixel size draws exactly there (UBSan checks the accesses in the sanitised
// run).
TEST_F(Draw, ImageTargetsWithOddPitches) {
  for (int32_t bytes : {2, 4}) {
    std::vector<uint8_t> buffer(sizeof(ImageHeader) + 1 + 7 * 23, 0);
    uint8_t* image = buffer.data() + 1;  // the header itself unaligned too
    const ImageHeader header{longImageTag, bytes, 5, 7, 23, {}};
    std::memcpy(image, &header, sizeof header);
    drawLine(image, 0, 0, 4, 6, 0xFF123456u, linekind::filledBox, 0xFFFF, 0);
    for (int y = 0; y < 7; ++y) {
      for (int x = 0; x < 5; ++x) {
        uint32_t p = 0;
        std::memcpy(&p, image + sizeof header + y * 23 + x * bytes, static_cast<std::size_t>(bytes));
        ASSERT_NE(p, 0u) << bytes << " bytes at " << x << ", " << y;
      }
      ASSERT_EQ(image[sizeof header + y * 23 + 5 * bytes], 0) << "past the row, " << bytes << " bytes";
    }
    drawLine(image, 1, 1, 3, 1, 0xFF000000u, linekind::line, 0xFFFF, 0);
    uint32_t p = 1;
    std::memcpy(&p, image + sizeof header + 23 + 2 * bytes, static_cast<std::size_t>(bytes));
    EXPECT_EQ(p, bytes == 4 ? 0xFF000000u : 0u);  // black, as each pixel size holds it
  }
  resetScreenTarget(getContext());
}
