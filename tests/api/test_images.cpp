// Public images: made, drawn into, put with each mode and clipped, grabbed,
// and read from and written to PNG and BMP files, checked pixel by pixel
// against formulas written out here.
#include <gtest/gtest.h>

#include <pellucet/pellucet.h>

#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <tuple>
#include <string>
#include <vector>

#include "gfx/mode.h"

namespace {

class Images : public ::testing::Test {
 protected:
  void SetUp() override { setenv("KELGFX", "null", 1); }
  void TearDown() override {
    pellucet::closeScreen();
    unsetenv("KELGFX");
  }
  static void fillRandom(pellucet::Image& image, uint32_t seed) {
    std::mt19937 random(seed);
    for (int y = 0; y < image.height(); ++y) {
      for (int i = 0; i < image.width() * image.bytesPerPixel(); ++i) {
        image.pixels()[y * image.pitch() + i] = static_cast<uint8_t>(random());
      }
    }
  }
  static uint32_t pagePixel(int x, int y) {
    const pel::ScreenMode* m = pel::currentMode();
    const uint8_t* p = pel::currentMode()->pages[0] + y * m->pitch + x * m->bytesPerPixel;
    uint32_t v = 0;
    std::memcpy(&v, p, static_cast<std::size_t>(m->bytesPerPixel));
    return v;
  }
  static std::string temporary(const char* name) { return ::testing::TempDir() + name; }
};

}  // namespace

TEST_F(Images, MadeClearedAtTheAskedDepth) {
  pellucet::Image none(10, 10);  // no screen: 32 bits
  ASSERT_TRUE(none);
  EXPECT_EQ(none.depth(), 32);
  EXPECT_EQ(none.pitch(), 40);
  ASSERT_TRUE(pellucet::openScreen(64, 48, 16, 1));
  pellucet::Image screenDepth(3, 2);
  EXPECT_EQ(screenDepth.depth(), 16);
  EXPECT_EQ(screenDepth.pitch(), 8);  // rows rounded up to 4 bytes
  pellucet::Image indexed(5, 4, 8);
  EXPECT_EQ(indexed.pitch(), 8);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 5; ++x) EXPECT_EQ(indexed.pixel(x, y), 0u);
  }
  screenDepth.setPixel(1, 1, 0xFF10F840);  // 32-bit colour to RGB565
  EXPECT_EQ(screenDepth.pixel(1, 1), 0x17C8u);
  screenDepth.setPixel(3, 0, 1);  // outside: nothing
  EXPECT_EQ(screenDepth.pixel(3, 0), 0u);
  EXPECT_EQ(screenDepth.pixel(-1, 0), 0u);
  for (auto [w, h, d] : {std::tuple{0, 5, 32}, std::tuple{5, -1, 32}, std::tuple{40000, 2, 32}, std::tuple{4, 4, 24},
                         std::tuple{32767, 32767, 32}}) {
    pellucet::Image refused(w, h, d);
    EXPECT_FALSE(refused) << w << " x " << h << " x " << d;
    EXPECT_NE(std::string(pellucet::lastFailure()), "") << w << " x " << h;
  }
  pellucet::Image moved = std::move(indexed);
  EXPECT_TRUE(moved);
  EXPECT_FALSE(indexed);  // NOLINT: moved from, empty
  EXPECT_EQ(indexed.width(), 0);
}

// An image belongs to the program: made before any screen, it is drawn into
// once one is open and keeps its pixels across mode sets.
TEST_F(Images, ImagesOutliveScreens) {
  pellucet::Image image(8, 8, 32);
  ASSERT_TRUE(pellucet::openScreen(32, 32, 32, 1));
  pellucet::fillBox(image, 2, 2, 5, 5, 0xFF00FF00);
  pellucet::closeScreen();
  ASSERT_TRUE(pellucet::openScreen(64, 48, 8, 2));
  ASSERT_TRUE(pellucet::openScreen(16, 16, 32, 1));
  EXPECT_EQ(image.pixel(2, 2), 0xFF00FF00u);
  EXPECT_EQ(image.pixel(5, 5), 0xFF00FF00u);
  EXPECT_EQ(image.pixel(6, 5), 0u);
}

// Drawing into an image gives the pixels drawing on a screen of its depth
// gives.
TEST_F(Images, DrawingIntoAnImageIsDrawingOnTheScreen) {
  for (int depth : {8, 16, 32}) {
    ASSERT_TRUE(pellucet::openScreen(64, 40, depth, 1));
    pellucet::Image image(64, 40, depth);
    for (int pass = 0; pass < 2; ++pass) {
      auto draw = [&](auto&&... target) {
        pellucet::clear(target..., 3);
        pellucet::line(target..., 1, 1, 60, 37, 0xFF8040C0);
        pellucet::box(target..., 5, 5, 30, 20, 0xFF00FF00);
        pellucet::fillBox(target..., 40, 10, 50, 30, 0xFFFF0000);
        pellucet::text(target..., 2, 25, "Hé", 15);
      };
      if (pass == 0) {
        draw(image);
      } else {
        draw();
      }
    }
    int wrong = 0;
    for (int y = 0; y < 40; ++y) {
      for (int x = 0; x < 64; ++x) wrong += image.pixel(x, y) != pagePixel(x, y);
    }
    EXPECT_EQ(wrong, 0) << depth;
  }
}

namespace {

// Where the solid put of `part` at (x, y) lands: the source pixel for each
// target pixel, or none; written out the plain way.
bool sourceOf(int tx, int ty, int x, int y, pellucet::Rect part, const pellucet::Image& source, int& sx, int& sy) {
  const int w = part.width < 0 ? source.width() - part.x : part.width;
  const int h = part.height < 0 ? source.height() - part.y : part.height;
  if (tx < x || ty < y || tx >= x + w || ty >= y + h) return false;
  sx = part.x + tx - x;
  sy = part.y + ty - y;
  return sx >= 0 && sy >= 0 && sx < source.width() && sy < source.height();
}

}  // namespace

TEST_F(Images, PutsAreClippedEverywhere) {
  ASSERT_TRUE(pellucet::openScreen(40, 30, 32, 1));
  pellucet::Image source(12, 9, 32);
  fillRandom(source, 1);
  std::mt19937 random(2);
  for (int trial = 0; trial < 300; ++trial) {
    pellucet::Image target(40, 30, 32);
    pellucet::clear(target, 0xFF123456);
    const int x = static_cast<int>(random() % 60) - 15, y = static_cast<int>(random() % 50) - 12;
    pellucet::Rect part{static_cast<int>(random() % 16) - 3, static_cast<int>(random() % 12) - 3,
                        static_cast<int>(random() % 16) - 1, static_cast<int>(random() % 12) - 1};
    ASSERT_TRUE(pellucet::put(target, source, x, y, pellucet::PutMode::solid, 0, part));
    for (int ty = 0; ty < 30; ++ty) {
      for (int tx = 0; tx < 40; ++tx) {
        int sx, sy;
        const uint32_t expected = sourceOf(tx, ty, x, y, part, source, sx, sy) ? source.pixel(sx, sy) : 0xFF123456u;
        ASSERT_EQ(target.pixel(tx, ty), expected) << trial << ": " << tx << "," << ty;
      }
    }
  }
}

TEST_F(Images, ColourKeyAndAlphaPuts) {
  ASSERT_TRUE(pellucet::openScreen(32, 16, 32, 1));
  pellucet::Image sprite(16, 16, 32);
  fillRandom(sprite, 3);
  for (int i = 0; i < 16; ++i) sprite.setPixel(i, i, 0x00FF00FF);  // the key, with any alpha byte
  pellucet::Image back(16, 16, 32);
  fillRandom(back, 4);
  pellucet::Image keyed(16, 16, 32), blended(16, 16, 32);
  ASSERT_TRUE(pellucet::put(keyed, back, 0, 0));
  ASSERT_TRUE(pellucet::put(blended, back, 0, 0));
  ASSERT_TRUE(pellucet::put(keyed, sprite, 0, 0, pellucet::PutMode::colourKey, 0xFFFF00FF));
  ASSERT_TRUE(pellucet::put(blended, sprite, 0, 0, pellucet::PutMode::alpha));
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) {
      const uint32_t s = sprite.pixel(x, y), d = back.pixel(x, y);
      EXPECT_EQ(keyed.pixel(x, y), (s & 0xFFFFFF) == 0xFF00FF ? d : s) << x << "," << y;
      const uint32_t a = s >> 24;
      uint32_t expected = a << 24;
      for (int shift : {0, 8, 16}) {
        const uint32_t c = ((d >> shift & 0xFF) * (256 - a) + (s >> shift & 0xFF) * a) >> 8;
        expected |= c << shift;
      }
      ASSERT_EQ(blended.pixel(x, y), expected) << x << "," << y;
    }
  }
  // Alpha wants 32 bits on both sides.
  pellucet::Image low(4, 4, 16);
  EXPECT_FALSE(pellucet::put(low, sprite, 0, 0, pellucet::PutMode::alpha));
}

// Between depths: 32 to 16 by truncation, 16 to 32 by shifting up, 8 to
// more through the screen's palette; a 16-bit key compares as RGB565.
TEST_F(Images, PutsConvertBetweenDepths) {
  ASSERT_TRUE(pellucet::openScreen(8, 8, 8, 1));
  pellucet::setPalette(7, 0x12, 0x34, 0x56);
  pellucet::Image indexed(2, 1, 8), wide(2, 1, 32), narrow(2, 1, 16);
  indexed.setPixel(0, 0, 7);
  ASSERT_TRUE(pellucet::put(wide, indexed, 0, 0));
  EXPECT_EQ(wide.pixel(0, 0), 0xFF123456u);
  wide.setPixel(1, 0, 0xFFFFFFFF);
  ASSERT_TRUE(pellucet::put(narrow, wide, 0, 0));
  EXPECT_EQ(narrow.pixel(0, 0), ((0x12u >> 3) << 11) | ((0x34u >> 2) << 5) | (0x56u >> 3));
  EXPECT_EQ(narrow.pixel(1, 0), 0xFFFFu);
  pellucet::Image back(2, 1, 32);
  ASSERT_TRUE(pellucet::put(back, narrow, 0, 0));
  EXPECT_EQ(back.pixel(1, 0), 0xFFF8FCF8u);
  pellucet::Image keyedOver(2, 1, 32);
  ASSERT_TRUE(pellucet::put(keyedOver, narrow, 0, 0, pellucet::PutMode::colourKey, 0xFFFFFFFF));
  EXPECT_EQ(keyedOver.pixel(1, 0), 0u);  // white was the key
  EXPECT_NE(keyedOver.pixel(0, 0), 0u);
}

TEST_F(Images, PutsOnTheScreenMarkTheirRowsAndGrabTakesThemBack) {
  ASSERT_TRUE(pellucet::openScreen(40, 30, 32, 1));
  pel::ScreenMode* m = pel::currentMode();
  pellucet::Image sprite(10, 5, 32);
  fillRandom(sprite, 5);
  std::fill(m->dirty, m->dirty + 30, 0);
  ASSERT_TRUE(pellucet::put(sprite, 35, 27));
  for (int y = 0; y < 30; ++y) EXPECT_EQ(m->dirty[y], y >= 27 ? 1 : 0) << y;
  EXPECT_EQ(pagePixel(39, 29), sprite.pixel(4, 2));
  pellucet::Image grabbed = pellucet::grab(30, 25, 20, 20);  // clipped to 10 x 5
  ASSERT_TRUE(grabbed);
  EXPECT_EQ(grabbed.width(), 10);
  EXPECT_EQ(grabbed.height(), 5);
  // The screen has no alpha primitives: its top byte means nothing, and the
  // grab is opaque as shown.
  EXPECT_EQ(grabbed.pixel(9, 4), sprite.pixel(4, 2) | 0xFF000000u);
  EXPECT_NE(sprite.pixel(4, 2) >> 24, 0xFFu);
  ASSERT_TRUE(pellucet::openScreen(40, 30, 32, 1, pellucet::alphaPrimitives));
  ASSERT_TRUE(pellucet::put(sprite, 0, 0));
  EXPECT_EQ(pellucet::grab(0, 0, 10, 5).pixel(4, 2), sprite.pixel(4, 2));  // there it is the opacity
  EXPECT_FALSE(pellucet::grab(50, 50, 4, 4));
  EXPECT_FALSE(pellucet::put(pellucet::Image{}, 0, 0));
}

TEST_F(Images, PngAndBmpRoundTrips) {
  pellucet::Image image(37, 23, 32);
  fillRandom(image, 6);
  const std::string png = temporary("round.png"), bmp = temporary("round.bmp");
  ASSERT_TRUE(pellucet::savePng(image, png.c_str())) << pellucet::lastFailure();
  ASSERT_TRUE(pellucet::saveBmp(image, bmp.c_str())) << pellucet::lastFailure();
  const pellucet::Image fromPng = pellucet::loadImage(png.c_str()), fromBmp = pellucet::loadImage(bmp.c_str());
  ASSERT_TRUE(fromPng) << pellucet::lastFailure();
  ASSERT_TRUE(fromBmp) << pellucet::lastFailure();
  for (int y = 0; y < 23; ++y) {
    for (int x = 0; x < 37; ++x) {
      ASSERT_EQ(fromPng.pixel(x, y), image.pixel(x, y)) << x << "," << y;  // with its alpha
      ASSERT_EQ(fromBmp.pixel(x, y), image.pixel(x, y) | 0xFF000000u) << x << "," << y;  // 24 bits
    }
  }
  std::remove(png.c_str());
  std::remove(bmp.c_str());
  EXPECT_FALSE(pellucet::loadImage("/nonexistent/picture.png"));
  EXPECT_NE(std::string(pellucet::lastFailure()).find("cannot open"), std::string::npos);
}

namespace {

std::vector<uint8_t> pngOf(uint32_t format, const void* pixels, int width, int height, const void* colourMap = nullptr,
                           int colours = 0) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  png.width = static_cast<png_uint_32>(width);
  png.height = static_cast<png_uint_32>(height);
  png.format = format;
  png.colormap_entries = static_cast<png_uint_32>(colours);
  png_alloc_size_t size = 0;
  png_image_write_to_memory(&png, nullptr, &size, 0, pixels, 0, colourMap);
  std::vector<uint8_t> out(size);
  png_image_write_to_memory(&png, out.data(), &size, 0, pixels, 0, colourMap);
  out.resize(size);
  return out;
}

}  // namespace

TEST_F(Images, PngKindsAllBecome32Bits) {
  const uint8_t grey[4] = {0, 85, 170, 255};
  const std::vector<uint8_t> greyFile = pngOf(PNG_FORMAT_GRAY, grey, 2, 2);
  pellucet::Image g = pellucet::loadImage(greyFile.data(), greyFile.size());
  ASSERT_TRUE(g) << pellucet::lastFailure();
  EXPECT_EQ(g.pixel(1, 0), 0xFF555555u);
  EXPECT_EQ(g.pixel(1, 1), 0xFFFFFFFFu);
  const uint8_t map[2 * 4] = {255, 0, 0, 255, 0, 0, 255, 128};  // RGBA entries
  const uint8_t indices[3] = {0, 1, 0};
  const std::vector<uint8_t> indexedFile = pngOf(PNG_FORMAT_RGBA_COLORMAP, indices, 3, 1, map, 2);
  pellucet::Image i = pellucet::loadImage(indexedFile.data(), indexedFile.size());
  ASSERT_TRUE(i) << pellucet::lastFailure();
  EXPECT_EQ(i.pixel(0, 0), 0xFFFF0000u);
  EXPECT_EQ(i.pixel(1, 0) >> 24, 128u);
  EXPECT_EQ(i.pixel(1, 0) & 0xFF, 0xFFu);
  const uint8_t rgb[6] = {1, 2, 3, 4, 5, 6};
  const std::vector<uint8_t> rgbFile = pngOf(PNG_FORMAT_RGB, rgb, 2, 1);
  pellucet::Image c = pellucet::loadImage(rgbFile.data(), rgbFile.size());
  ASSERT_TRUE(c);
  EXPECT_EQ(c.pixel(1, 0), 0xFF040506u);
}

namespace {

// A BMP file: the headers, a palette, then the rows as given.
std::vector<uint8_t> bmpOf(int width, int height, int bits, const std::vector<uint32_t>& palette,
                           const std::vector<uint8_t>& rows, uint32_t compression = 0,
                           const std::vector<uint32_t>& masks = {}) {
  std::vector<uint8_t> b;
  auto put16 = [&](uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
  };
  auto put32 = [&](uint32_t v) {
    put16(v & 0xFFFF);
    put16(v >> 16);
  };
  const uint32_t pixelsAt = 14 + 40 + static_cast<uint32_t>(4 * masks.size() + 4 * palette.size());
  b.push_back('B');
  b.push_back('M');
  put32(pixelsAt + static_cast<uint32_t>(rows.size()));
  put32(0);
  put32(pixelsAt);
  put32(40);
  put32(static_cast<uint32_t>(width));
  put32(static_cast<uint32_t>(height));
  put16(1);
  put16(static_cast<uint32_t>(bits));
  put32(compression);
  put32(static_cast<uint32_t>(rows.size()));
  put32(0);
  put32(0);
  put32(static_cast<uint32_t>(palette.size()));
  put32(0);
  for (uint32_t m : masks) put32(m);
  for (uint32_t c : palette) put32(c);
  b.insert(b.end(), rows.begin(), rows.end());
  return b;
}

}  // namespace

TEST_F(Images, BmpKinds) {
  // 2 x 2 at 1 bit, bottom-up: the lower row first.
  {
    const auto file = bmpOf(2, 2, 1, {0x000000, 0xFFFFFF}, {0x40, 0, 0, 0, 0x80, 0, 0, 0});
    const pellucet::Image i = pellucet::loadImage(file.data(), file.size());
    ASSERT_TRUE(i) << pellucet::lastFailure();
    EXPECT_EQ(i.pixel(0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(i.pixel(1, 0), 0xFF000000u);
    EXPECT_EQ(i.pixel(1, 1), 0xFFFFFFFFu);
  }
  // 3 x 1 at 4 bits; 2 x 1 at 8 bits, top-down.
  {
    const auto file = bmpOf(3, 1, 4, {0x112233, 0x445566, 0x778899}, {0x21, 0x00, 0, 0});
    const pellucet::Image i = pellucet::loadImage(file.data(), file.size());
    ASSERT_TRUE(i) << pellucet::lastFailure();
    EXPECT_EQ(i.pixel(0, 0), 0xFF778899u);
    EXPECT_EQ(i.pixel(1, 0), 0xFF445566u);
    EXPECT_EQ(i.pixel(2, 0), 0xFF112233u);
    const auto top = bmpOf(2, -2, 8, {0x010203, 0x040506}, {1, 0, 0, 0, 0, 1, 0, 0});
    const pellucet::Image t = pellucet::loadImage(top.data(), top.size());
    ASSERT_TRUE(t) << pellucet::lastFailure();
    EXPECT_EQ(t.pixel(0, 0), 0xFF040506u);
    EXPECT_EQ(t.pixel(1, 1), 0xFF040506u);
  }
  // 16 bits 5-5-5 (31 widens to 255), and 32 bits with bit masks and alpha.
  {
    const auto file = bmpOf(1, 1, 16, {}, {0x1F, 0x7C, 0, 0});
    const pellucet::Image i = pellucet::loadImage(file.data(), file.size());
    ASSERT_TRUE(i) << pellucet::lastFailure();
    EXPECT_EQ(i.pixel(0, 0), 0xFFFF00FFu);
    const auto masked = bmpOf(1, 1, 32, {}, {0x11, 0x22, 0x33, 0x44}, 6,
                              {0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000});
    const pellucet::Image j = pellucet::loadImage(masked.data(), masked.size());
    ASSERT_TRUE(j) << pellucet::lastFailure();
    EXPECT_EQ(j.pixel(0, 0), 0x44112233u);
  }
}

// Damaged files are refused with a reason, never read past their end.
TEST_F(Images, DamagedFilesAreRefused) {
  pellucet::Image image(9, 7, 32);
  fillRandom(image, 8);
  const std::string png = temporary("damaged.png"), bmp = temporary("damaged.bmp");
  ASSERT_TRUE(pellucet::savePng(image, png.c_str()));
  ASSERT_TRUE(pellucet::saveBmp(image, bmp.c_str()));
  for (const std::string& path : {png, bmp}) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    std::vector<uint8_t> bytes(100000);
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), f));
    std::fclose(f);
    for (std::size_t cut = 0; cut < bytes.size(); cut += 7) {
      // Each cut copied to a buffer of exactly its size, so ASan sees any
      // read past it.
      std::vector<uint8_t> shorter(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut));
      const pellucet::Image i = pellucet::loadImage(shorter.data(), shorter.size());
      if (!i) {
        EXPECT_NE(std::string(pellucet::lastFailure()), "") << path << " cut at " << cut;
      }
    }
  }
  std::remove(png.c_str());
  std::remove(bmp.c_str());
  // A header that claims a huge image.
  auto huge = bmpOf(100000, 2, 24, {}, std::vector<uint8_t>(16));
  EXPECT_FALSE(pellucet::loadImage(huge.data(), huge.size()));
  EXPECT_NE(std::string(pellucet::lastFailure()).find("16384"), std::string::npos) << pellucet::lastFailure();
  const char garbage[] = "GIF89a........";
  EXPECT_FALSE(pellucet::loadImage(garbage, sizeof garbage));
  EXPECT_STREQ(pellucet::lastFailure(), "not a PNG, JPEG or BMP file");
}

TEST_F(Images, AScreenshotIsTheVisiblePage) {
  ASSERT_TRUE(pellucet::openScreen(24, 16, 16, 2));
  pellucet::setPages(1, 0);
  pellucet::clear(0xFF3366CC);
  pellucet::fillBox(2, 2, 5, 5, 0xFFFFFFFF);
  pellucet::flip();
  const std::string path = temporary("shot.png");
  ASSERT_TRUE(pellucet::saveScreenshot(path.c_str())) << pellucet::lastFailure();
  const pellucet::Image shot = pellucet::loadImage(path.c_str());
  std::remove(path.c_str());
  ASSERT_TRUE(shot);
  EXPECT_EQ(shot.width(), 24);
  EXPECT_EQ(shot.pixel(3, 3), 0xFFFFFFFFu);  // white at RGB565, each channel's top bits repeated
  EXPECT_EQ(shot.pixel(10, 10), 0xFF3165CEu);
}

// An image put onto itself reads as it was before the put, whatever the
// overlap, depth and mode: as a put from a copy does.
TEST_F(Images, PuttingAnImageOntoItselfReadsItAsItWas) {
  ASSERT_TRUE(pellucet::openScreen(16, 16, 8, 1));
  const pellucet::Rect parts[] = {{}, {2, 3, 20, 11}, {-4, 1, 30, -1}};
  const int places[][2] = {{0, 1}, {1, 0}, {-3, -2}, {5, 4}, {0, -1}};
  int trial = 0;
  for (int depth : {8, 16, 32}) {
    for (auto mode : {pellucet::PutMode::solid, pellucet::PutMode::colourKey, pellucet::PutMode::alpha}) {
      if (mode == pellucet::PutMode::alpha && depth != 32) continue;
      for (const pellucet::Rect& part : parts) {
        for (const auto& place : places) {
          pellucet::Image image(40, 30, depth), copy(40, 30, depth), expected(40, 30, depth);
          fillRandom(image, static_cast<uint32_t>(++trial));
          for (int y = 0; y < 30; ++y) {
            std::memcpy(copy.pixels() + y * copy.pitch(), image.pixels() + y * image.pitch(), static_cast<std::size_t>(image.pitch()));
            std::memcpy(expected.pixels() + y * copy.pitch(), image.pixels() + y * image.pitch(), static_cast<std::size_t>(image.pitch()));
          }
          const uint32_t key = image.pixel(3, 3);
          ASSERT_TRUE(pellucet::put(expected, copy, place[0], place[1], mode, key, part));
          ASSERT_TRUE(pellucet::put(image, image, place[0], place[1], mode, key, part));
          int wrong = 0;
          for (int y = 0; y < 30; ++y) {
            for (int x = 0; x < 40; ++x) wrong += image.pixel(x, y) != expected.pixel(x, y);
          }
          EXPECT_EQ(wrong, 0) << "depth " << depth << ", mode " << static_cast<int>(mode) << ", at " << place[0] << ","
                              << place[1];
        }
      }
    }
  }
}
