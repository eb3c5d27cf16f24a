#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "gfx/blit.h"
#include "gfx/cpu.h"
#include "gfx/mode.h"
#include "gfx/pages.h"
#include "gfx/put_rows.h"

using namespace pel;

namespace {

enum SourceClass { Indexed, Rgb16, Rgb32 };
constexpr int destinationDepths[4] = {15, 16, 24, 32};

int bytesOf(int depth) { return depth == 8 ? 1 : depth <= 16 ? 2 : depth == 24 ? 3 : 4; }

// The member table's results, written out per pixel.
uint32_t reference(SourceClass source, int depth, int order, uint32_t pixel, const uint32_t* palette) {
  if (source == Indexed) {
    const uint32_t e = palette[pixel & 0xFF];
    switch (depth) {
      case 8: return pixel & 0xFF;
      case 15: return order ? ((e >> 9) & 0x7C00) | ((e >> 6) & 0x3E0) | ((e >> 3) & 0x1F)
                            : ((e << 7) & 0x7C00) | ((e >> 6) & 0x3E0) | ((e >> 19) & 0x1F);
      case 16: return order ? ((e >> 8) & 0xF800) | ((e >> 5) & 0x7E0) | ((e >> 3) & 0x1F)
                            : ((e << 8) & 0xF800) | ((e >> 5) & 0x7E0) | ((e >> 19) & 0x1F);
      case 24: return order ? (e & 0xFF) | (e & 0xFF00) | (e & 0xFF0000)
                            : ((e >> 16) & 0xFF) | (e & 0xFF00) | ((e & 0xFF) << 16);
      default: return order ? e : (e & 0xFF00) | (e >> 16) | ((e << 16) & 0xFF0000);
    }
  }
  if (source == Rgb16) {
    const uint32_t p = pixel & 0xFFFF;
    const uint32_t q = order ? ((p & 0x1F) << 19) | ((p & 0x7E0) << 5) | ((p >> 8) & 0xF8)
                             : ((p & 0xF800) << 8) | ((p & 0x7E0) << 5) | ((p & 0x1F) << 3);
    switch (depth) {
      case 15: return order ? (p >> 11) | ((p >> 1) & 0x3E0) | ((p << 10) & 0x7C00) : ((p >> 1) & 0x7FE0) | (p & 0x1F);
      case 16: return order ? (p >> 11) | (p & 0x7E0) | ((p << 11) & 0xF800) : p;
      case 24: return q & 0xFFFFFF;
      default: return q;
    }
  }
  const uint32_t s = pixel;
  switch (depth) {
    case 15: return order ? ((s << 7) & 0x7C00) | ((s >> 6) & 0x3E0) | ((s >> 19) & 0x1F)
                          : ((s >> 9) & 0x7C00) | ((s >> 6) & 0x3E0) | ((s >> 3) & 0x1F);
    case 16: return order ? ((s << 8) & 0xF800) | ((s >> 5) & 0x7E0) | ((s >> 19) & 0x1F)
                          : ((s >> 8) & 0xF800) | ((s >> 5) & 0x7E0) | ((s >> 3) & 0x1F);
    case 24: return order ? ((s >> 16) & 0xFF) | (s & 0xFF00) | ((s & 0xFF) << 16) : s & 0xFFFFFF;
    default: return order ? (((s & 0xFFFFFF) << 16) | ((s & 0xFFFFFF) >> 16) | (s & 0xFF00)) : s;
  }
}

int modeDepth(SourceClass source) { return source == Indexed ? 8 : source == Rgb16 ? 16 : 32; }

// A headless mode of the given size; pixels set by `pixelAt` (x, y).
template <typename PixelAt>
void openWith(SourceClass source, int width, int height, int repeat, bool vector, PixelAt pixelAt) {
  setenv("KELGFX", "null", 1);
  ASSERT_EQ(setMode(-1, width, height, modeDepth(source), repeat, 1, 0, 3, 0, 0, 1.0f, 0, 0), 0);
  ScreenMode* m = currentMode();
  if (!vector) m->flags &= ~screenflag::vector;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const uint32_t v = pixelAt(x, y);
      std::memcpy(m->visibleBuffer + y * m->pitch + x * m->bytesPerPixel, &v, static_cast<std::size_t>(m->bytesPerPixel));
    }
  }
}

// Runs the blitter over a sentinel-filled surface and checks every byte:
// converted pixels on the rows of dirty page rows, the sentinel elsewhere.
void checkBlit(Blitter blitter, SourceClass source, int depth, int order, const std::vector<uint8_t>& dirty) {
  ScreenMode* m = currentMode();
  std::memcpy(m->dirty, dirty.data(), dirty.size());
  const int bytes = bytesOf(depth);
  const int32_t pitch = m->width * bytes + 7;
  std::vector<uint8_t> surface(static_cast<std::size_t>(pitch) * m->height * m->scanlineRepeat, 0xA5);
  blitter(surface.data(), pitch);
  for (int row = 0; row < m->height * m->scanlineRepeat; ++row) {
    const int pageRow = row / m->scanlineRepeat;
    const uint8_t* out = surface.data() + static_cast<std::size_t>(row) * pitch;
    for (int x = 0; x < m->width; ++x) {
      uint32_t expected = 0xA5A5A5A5u;
      if (dirty[pageRow]) {
        uint32_t pixel = 0;
        std::memcpy(&pixel, m->visibleBuffer + pageRow * m->pitch + x * m->bytesPerPixel, static_cast<std::size_t>(m->bytesPerPixel));
        expected = reference(source, depth, order, pixel, m->palette);
      }
      uint32_t actual = 0, want = 0;
      std::memcpy(&actual, out + x * bytes, static_cast<std::size_t>(bytes));
      std::memcpy(&want, &expected, static_cast<std::size_t>(bytes));
      ASSERT_EQ(actual, want) << "source " << source << " depth " << depth << " order " << order << " row " << row
                              << " x " << x << " width " << m->width;
    }
    for (int i = m->width * bytes; i < pitch; ++i) ASSERT_EQ(out[i], 0xA5) << "past the row, row " << row;
  }
}

std::vector<uint8_t> someDirty(int height, std::mt19937& random) {
  std::vector<uint8_t> dirty(static_cast<std::size_t>(height));
  for (auto& d : dirty) d = random() % 3 != 0;
  return dirty;
}

}  // namespace

TEST(Blit, EveryMemberAgainstTheFormulas) {
  std::mt19937 random(11);
  for (int vector = 0; vector < 2; ++vector) {
    for (SourceClass source : {Indexed, Rgb16, Rgb32}) {
      for (int width : {1, 2, 3, 5, 799, 800, 802}) {
        const int height = 6;
        openWith(source, width, height, 1, vector, [&](int, int) { return static_cast<uint32_t>(random()); });
        for (int i = 0; i < 256; ++i) currentMode()->palette[i] = random() & 0xFFFFFF;
        for (int order = 0; order < 2; ++order) {
          for (int depth : {8, 15, 16, 24, 32}) {
            const Blitter b = selectBlitter(depth, order);
            if (depth == 8 && source != Indexed) {
              EXPECT_EQ(b, nullptr);
              continue;
            }
            ASSERT_NE(b, nullptr);
            checkBlit(b, source, depth, order, someDirty(height, random));
          }
        }
        closeScreen();
      }
    }
  }
}

TEST(Blit, AllSixteenBitValuesAndAllPaletteIndices) {
  std::mt19937 random(5);
  for (int vector = 0; vector < 2; ++vector) {
    openWith(Rgb16, 256, 256, 1, vector, [](int x, int y) { return static_cast<uint32_t>(y * 256 + x); });
    const std::vector<uint8_t> all(256, 1);
    for (int order = 0; order < 2; ++order) {
      for (int depth : destinationDepths) checkBlit(selectBlitter(depth, order), Rgb16, depth, order, all);
    }
    openWith(Indexed, 256, 4, 1, vector, [](int x, int) { return static_cast<uint32_t>(x); });
    for (int trial = 0; trial < 4; ++trial) {
      for (int i = 0; i < 256; ++i) currentMode()->palette[i] = random() & 0xFFFFFF;
      for (int order = 0; order < 2; ++order) {
        for (int depth : destinationDepths) checkBlit(selectBlitter(depth, order), Indexed, depth, order, {1, 1, 1, 1});
      }
    }
    closeScreen();
  }
}

TEST(Blit, ScanlineRepeatAndCleanRows) {
  std::mt19937 random(8);
  for (SourceClass source : {Indexed, Rgb16, Rgb32}) {
    openWith(source, 13, 5, 2, true, [&](int, int) { return static_cast<uint32_t>(random()); });
    EXPECT_EQ(selectBlitter(32, 0) == BlitterTable[12 + source * 4 + 3], true);  // repeat 2: a plain member
    for (int order = 0; order < 2; ++order) {
      for (int depth : {8, 15, 16, 24, 32}) {
        if (depth == 8 && source != Indexed) continue;
        checkBlit(selectBlitter(depth, order), source, depth, order, {0, 1, 0, 1, 1});
        checkBlit(selectBlitter(depth, order), source, depth, order, {0, 0, 0, 0, 0});
      }
    }
    closeScreen();
  }
}

// Each vector tier the processor has (AVX-512 byte permutes, AVX2) against
// the plain forms.
TEST(Blit, VectorAndPlainFormsAgreeOnRandomFrames) {
  std::mt19937 random(21);
  for (int tier = 0; tier < 2; ++tier) {
  allowAvx512(tier == 0);
  for (SourceClass source : {Indexed, Rgb16, Rgb32}) {
    openWith(source, 800, 40, 1, true, [&](int, int) { return static_cast<uint32_t>(random()); });
    for (int i = 0; i < 256; ++i) currentMode()->palette[i] = random() & 0xFFFFFF;
    const std::vector<uint8_t> dirty = someDirty(40, random);
    for (int order = 0; order < 2; ++order) {
      selectBlitter(16, order);  // the lookup for this order
      for (int entry = 0; entry < 4; ++entry) {
        const int depth = destinationDepths[entry];
        const Blitter plain = BlitterTable[(order ? 0 : 12) + source * 4 + entry];
        const Blitter vector = BlitterTable[24 + (order ? 0 : 12) + source * 4 + entry];
        const int32_t pitch = 800 * bytesOf(depth);
        std::vector<uint8_t> a(static_cast<std::size_t>(pitch) * 40, 1), b(a.size(), 1);
        std::memcpy(currentMode()->dirty, dirty.data(), dirty.size());
        plain(a.data(), pitch);
        vector(b.data(), pitch);
        ASSERT_TRUE(a == b) << "source " << source << " order " << order << " depth " << depth << " tier " << tier;
      }
    }
    closeScreen();
  }
  }
  allowAvx512(true);
}

TEST(Blit, EdgeCases) {
  const uint32_t noPalette[256] = {};
  EXPECT_EQ(reference(Rgb16, 32, 0, 0xFFFF, noPalette), 0x00F8FCF8u);
  EXPECT_EQ(reference(Rgb16, 32, 1, 0xFFFF, noPalette), 0x00F8FCF8u);
  EXPECT_EQ(reference(Rgb16, 32, 0, 0xF800, noPalette), 0x00F80000u);
  EXPECT_EQ(reference(Rgb16, 32, 1, 0xF800, noPalette), 0x000000F8u);
  EXPECT_EQ(reference(Rgb32, 16, 0, 0x00FFFFFF, noPalette), 0xFFFFu);
  EXPECT_EQ(reference(Rgb32, 15, 0, 0x00FFFFFF, noPalette), 0x7FFFu);
  EXPECT_EQ(reference(Rgb32, 16, 0, 0x00070307, noPalette), 0u);
  EXPECT_EQ(reference(Rgb32, 15, 0, 0x00070307, noPalette), 0u);
  EXPECT_EQ(reference(Rgb32, 32, 1, 0x00112233, noPalette), 0x22332211u);
  EXPECT_EQ(reference(Rgb32, 16, 0, 0xAB123456, noPalette), reference(Rgb32, 16, 0, 0x00123456, noPalette));
  // The members agree with those values (the formulas above are checked against them).
  openWith(Rgb32, 4, 1, 1, true, [](int x, int) { return x == 0 ? 0x00112233u : 0xFFA1B2C3u; });
  uint32_t out[4];
  currentMode()->dirty[0] = 1;
  selectBlitter(32, 1)(reinterpret_cast<uint8_t*>(out), 16);
  EXPECT_EQ(out[0], 0x22332211u);
  EXPECT_EQ(out[1], 0xB2C3B2A1u);  // the green byte copied into the fourth
  // Selection.
  EXPECT_EQ(selectBlitter(8, 0), nullptr);
  EXPECT_EQ(selectBlitter(12, 0), nullptr);
  EXPECT_EQ(selectBlitter(32, 0), blitCopy);
  openWith(Rgb32, 802, 2, 1, true, [](int, int) { return 0u; });
  EXPECT_EQ(selectBlitter(16, 0), BlitterTable[12 + 8 + 1]);  // never a vector member
  openWith(Rgb32, 800, 2, 1, true, [](int, int) { return 0u; });
  EXPECT_EQ(selectBlitter(16, 0), BlitterTable[24 + 12 + 8 + 1]);
  openWith(Indexed, 800, 2, 1, true, [](int, int) { return 0u; });
  EXPECT_EQ(selectBlitter(8, 1), blitCopy);
  closeScreen();
  EXPECT_EQ(selectBlitter(32, 0), nullptr);  // no mode
}

// The put rows' vector forms give the plain forms' bytes, on random pixels
// and alphas (every alpha, 0 and 255 among them) and every row length up to
// 40, with the colour key present.
TEST(PutRows, VectorAndPlainFormsAgree) {
  const pel::PutRows& plain = pel::putRows(false);
  const pel::PutRows& vector = pel::putRows(true);
  std::mt19937 random(17);
  for (int trial = 0; trial < 2000; ++trial) {
    const int32_t count = trial % 41;
    std::vector<uint32_t> source(static_cast<std::size_t>(count) + 1), a(source.size()), b(source.size());
    for (auto& p : source) p = random();
    if (count > 0) source[trial % count] = (source[trial % count] & 0xFF000000u) | 0xFF00FF;
    if (count > 1) source[(trial * 7) % count] &= 0x00FFFFFFu;  // alpha 0
    if (count > 2) source[(trial * 3) % count] |= 0xFF000000u;  // alpha 255
    for (std::size_t i = 0; i < a.size(); ++i) a[i] = b[i] = random();
    auto bytes = [](std::vector<uint32_t>& v) { return reinterpret_cast<uint8_t*>(v.data()); };
    plain.keyed(bytes(a), bytes(source), count, 0xFF00FF);
    vector.keyed(bytes(b), bytes(source), count, 0xFF00FF);
    ASSERT_EQ(a, b) << "keyed, " << count;
    plain.blended(bytes(a), bytes(source), count);
    vector.blended(bytes(b), bytes(source), count);
    ASSERT_EQ(a, b) << "blended, " << count;
  }
}
