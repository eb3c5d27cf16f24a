// Text in a loaded font: glyph pictures blended, set and clipped on 8-, 16-
// and 32-bit pages, characters the font lacks taken from the built-in font,
// kerning, lines, the measure and the background.
#include <gtest/gtest.h>

#include <pellucet/pellucet.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "api/font_files.h"
#include "gfx/fonts.h"
#include "gfx/mode.h"
#include "gfx/text.h"

namespace {

class LoadedFontText : public ::testing::Test {
 protected:
  void SetUp() override { setenv("KELGFX", "null", 1); }
  void TearDown() override {
    pellucet::textFont(pellucet::Font::screen);
    pellucet::closeScreen();
    unsetenv("KELGFX");
  }
  static uint32_t at(int x, int y) {
    const pel::ScreenMode* m = pel::currentMode();
    const uint8_t* p = m->pages[0] + static_cast<std::ptrdiff_t>(y) * m->pitch + x * m->bytesPerPixel;
    uint32_t v = 0;
    std::memcpy(&v, p, m->bytesPerPixel);
    return v;
  }
  // Rows of '#' and '.', one a pixel different from `background`.
  static std::vector<std::string> picture(int x, int y, int width, int height, uint32_t background = 0) {
    std::vector<std::string> rows;
    for (int r = 0; r < height; ++r) {
      std::string row;
      for (int c = 0; c < width; ++c) row += at(x + c, y + r) != background ? '#' : '.';
      rows.push_back(row);
    }
    return rows;
  }
};

// A font of 1-bit glyphs made in the test: 'A' a 4 x 3 block of rows
// 1001 / 0110 / 1111 placed one column right and two rows down, advance 6;
// 'V' a single pixel, advance 5; '?' a 2 x 1 bar, advance 3. Line height 10,
// baseline at 8.
pellucet::LoadedFont madeFont(bool withQuestionMark = true) {
  auto data = std::make_shared<pellucet::LoadedFontData>();
  pellucet::GlyphSet& s = data->set;
  s.height = 10;
  s.ascent = 8;
  const auto add = [&](char32_t code, int w, int h, int left, int top, int advance, std::vector<uint8_t> rows) {
    pellucet::GlyphShape g;
    g.width = w;
    g.height = h;
    g.pitch = 1;
    g.left = left;
    g.top = top;
    g.advance = advance;
    g.offset = s.bits.size();
    s.bits.insert(s.bits.end(), rows.begin(), rows.end());
    s.codes.emplace(code, static_cast<uint32_t>(s.glyphs.size()));
    s.glyphs.push_back(g);
  };
  add(U'A', 4, 3, 1, 2, 6, {0x90, 0x60, 0xF0});
  add(U'V', 1, 1, 0, 0, 5, {0x80});
  if (withQuestionMark) add(U'?', 2, 1, 0, 0, 3, {0xC0});
  pellucet::LoadedFont font;
  pellucet::LoadedFontAccess::data(font) = std::move(data);
  return font;
}

}  // namespace

TEST(GlyphPictures, CoverageBlendsOn32And16BitPagesAndIsSetFromHalfOn8Bit) {
  setenv("KELGFX", "null", 1);
  const uint8_t coverage[] = {0, 1, 127, 128, 255};
  const pel::GlyphPicture g{coverage, 5, 1, 5, 0, 0, pel::GlyphPicture::Bits::coverage};
  const auto pixel = [](int x) {
    const pel::ScreenMode* m = pel::currentMode();
    uint32_t v = 0;
    std::memcpy(&v, m->pages[0] + x * m->bytesPerPixel, m->bytesPerPixel);
    return v;
  };
  // The glyph in `colour` at the left of a new page cleared to `background`.
  const auto drawn = [&](int depth, uint32_t flags, uint32_t background, uint32_t colour) {
    if (!pellucet::openScreen(64, 16, depth, 1, flags)) return false;
    pellucet::clear(background);
    pel::drawGlyphs(nullptr, 0, 0, &g, 1, colour);
    return true;
  };
  ASSERT_TRUE(drawn(32, pellucet::windowed, 0xFF204060, 0xFFE0A000));
  // Each byte (d * (256 - w) + s * w) >> 8 with w = c + c / 128: none,
  // almost none, just under half, just over, all (the colour exactly).
  EXPECT_EQ(pixel(0), 0xFF204060u);
  EXPECT_EQ(pixel(1), 0xFF20405Fu);
  EXPECT_EQ(pixel(2), 0xFF7F6F30u);
  EXPECT_EQ(pixel(3), 0xFF80702Fu);
  EXPECT_EQ(pixel(4), 0xFFE0A000u);
  // With alpha primitives the colour's alpha scales the coverage and the
  // result keeps that alpha, as blended pixels do.
  ASSERT_TRUE(drawn(32, pellucet::windowed | pellucet::alphaPrimitives, 0xFF000000, 0x80FFFFFF));
  EXPECT_EQ(pixel(0), 0xFF000000u);
  EXPECT_EQ(pixel(4), 0x80808080u);
  EXPECT_EQ(pixel(3), 0x803F3F3Fu);
  // RGB565: widened, blended and narrowed by truncation; full coverage is
  // the colour as the page keeps it.
  ASSERT_TRUE(drawn(16, pellucet::windowed, 0, 0xFFFFFFFF));
  EXPECT_EQ(pixel(0), 0u);
  EXPECT_EQ(pixel(2), 0x7BEFu);  // 127 -> w 127: 248 * 127 >> 8 = 123 -> 15, 31, 15
  EXPECT_EQ(pixel(3), 0x8410u);  // 129: 124 -> 16, 32, 16
  EXPECT_EQ(pixel(4), 0xFFFFu);
  ASSERT_TRUE(drawn(8, pellucet::windowed, 0, 9));
  EXPECT_EQ(pixel(2), 0u);
  EXPECT_EQ(pixel(3), 9u);
  EXPECT_EQ(pixel(4), 9u);
  pellucet::closeScreen();
  unsetenv("KELGFX");
}

TEST_F(LoadedFontText, BitOrdersAndClippingAtEveryEdge) {
  ASSERT_TRUE(pellucet::openScreen(16, 8, 8, 1));
  // 0xC1: the top bit first gives ##.....#, the bottom bit first #.....##.
  const uint8_t bits[] = {0xC1, 0xC1};
  const pel::GlyphPicture glyphs[] = {{bits, 8, 1, 1, 0, 0, pel::GlyphPicture::Bits::highFirst},
                                      {bits, 8, 1, 1, 0, 1, pel::GlyphPicture::Bits::lowFirst}};
  pellucet::clear(0);
  pel::drawGlyphs(nullptr, 4, 2, glyphs, 2, 1);
  EXPECT_EQ(picture(4, 2, 8, 2), (std::vector<std::string>{"##.....#", "#.....##"}));
  // Past every edge: only what falls on the page is drawn.
  const pel::GlyphPicture big{bits, 8, 2, 1, 0, 0, pel::GlyphPicture::Bits::highFirst};
  for (const auto& [x, y] : {std::pair{-7, 0}, {15, 0}, {0, -1}, {0, 7}, {-100000, 3}, {3, 100000}}) {
    pellucet::clear(0);
    pel::drawGlyphs(nullptr, static_cast<float>(x), static_cast<float>(y), &big, 1, 1);
    int set = 0;
    for (int r = 0; r < 8; ++r) {
      for (int c = 0; c < 16; ++c) set += at(c, r) != 0;
    }
    const int expected = x == -7 ? 2 : x == 15 ? 2 : y == -1 || y == 7 ? 3 : 0;
    EXPECT_EQ(set, expected) << x << ", " << y;
  }
}

TEST_F(LoadedFontText, GlyphsArePlacedByTheirOffsetsAndAdvances) {
  ASSERT_TRUE(pellucet::openScreen(64, 32, 8, 1));
  pellucet::textFont(madeFont());
  pellucet::clear(0);
  pellucet::text(2, 3, "AA", 5);
  EXPECT_EQ(picture(2, 3, 12, 6), (std::vector<std::string>{"............", "............", ".#..#..#..#.",
                                                            "..##....##..", ".####..####.", "............"}));
  EXPECT_EQ(at(3, 5), 5u);
  const pellucet::TextSize size = pellucet::measureText("AA\nV");
  EXPECT_EQ(size.width, 12);
  EXPECT_EQ(size.height, 20);
}

TEST_F(LoadedFontText, MissingCharactersComeFromTheBuiltInFontThenAsQuestionMarks) {
  ASSERT_TRUE(pellucet::openScreen(64, 32, 8, 1));
  pellucet::textFont(pellucet::Font::font8x8);
  // "é" is not in the made font: the built-in 8 x 8 glyph, its baseline (under
  // row 7) on the font's (8), so one row down; then "€", in neither: the
  // font's '?'.
  pellucet::clear(0);
  pellucet::text(0, 0, "é", 7);
  const std::vector<std::string> builtin = picture(0, 0, 8, 8);
  pellucet::textFont(madeFont());
  pellucet::clear(0);
  pellucet::text(0, 0, "é€V", 7);
  EXPECT_EQ(picture(0, 0, 8, 1), std::vector<std::string>{"........"});
  EXPECT_EQ(picture(0, 1, 8, 8), builtin);
  EXPECT_EQ(picture(8, 0, 5, 1), std::vector<std::string>{"##.#."});  // '?' then V at 8 + 3
  EXPECT_EQ(pellucet::measureText("é€V").width, 8 + 3 + 5);
  // Without a '?' of its own the built-in one stands in.
  pellucet::textFont(madeFont(false));
  EXPECT_EQ(pellucet::measureText("€").width, 8);
  // The built-in font also changes with the screen's.
  ASSERT_TRUE(pellucet::openScreen(640, 480, 8, 1));
  EXPECT_EQ(pellucet::measureText("é").width, 8);
}

TEST_F(LoadedFontText, LinesBackgroundAndTextIntoImages) {
  ASSERT_TRUE(pellucet::openScreen(64, 32, 8, 1));
  pellucet::textFont(madeFont());
  pellucet::clear(0);
  pellucet::text(1, 1, "V\nAV", 4, 2);
  // Line one: 5 x 10 of background with V's pixel; line two 11 wide.
  EXPECT_EQ(at(1, 1), 4u);
  EXPECT_EQ(at(5, 10), 2u);
  EXPECT_EQ(at(6, 10), 0u);
  EXPECT_EQ(at(11, 20), 2u);
  EXPECT_EQ(at(12, 20), 0u);
  EXPECT_EQ(at(1, 20), 2u);
  EXPECT_EQ(at(1, 21), 0u);
  EXPECT_EQ(at(7, 11), 4u);  // the second line's V, 10 rows down after A's 6
  pellucet::Image image(16, 16, 32);
  pellucet::textFont(madeFont());
  pellucet::text(image, 0, 0, "A", 0xFF00FF00);
  EXPECT_EQ(image.pixel(1, 2), 0xFF00FF00u);
  EXPECT_EQ(image.pixel(2, 2), 0u);
  // A font stays alive while chosen, after the program's copy is gone.
  pellucet::textFont(madeFont());
  EXPECT_EQ(pellucet::measureText("AV").width, 11);
  pellucet::textFont(pellucet::LoadedFont());
  EXPECT_EQ(pellucet::measureText("AV").width, 16);  // the screen's font again
}

// An outline font renders each glyph when it is first drawn: a text whose
// glyphs are all new comes out as the same text drawn once they are known
// (the pictures of the first ones must not move as later ones are added).
TEST_F(LoadedFontText, OutlineGlyphsFirstDrawnTogetherLookAsWhenKnown) {
  if (!pellucet::LoadedFont::outlines()) GTEST_SKIP() << "this build renders no outline fonts";
  const char* path = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
  const pellucet::LoadedFont fresh = pellucet::loadFont(path, 24);
  if (!fresh) GTEST_SKIP() << pellucet::lastFailure();
  ASSERT_TRUE(pellucet::openScreen(400, 40, 32, 1));
  const std::string text = "\xc3\xb3\xc5\x82\xc4\x87\xc5\xbb\xc5\xba\xc4\x98 \xce\x95\xce\xbb\xce\xbb\xce\xb7\xce\xbd"
                           "\xce\xb9\xce\xba\xce\xac \xd0\x9a\xd0\xb8\xd1\x80\xd0\xb8\xd0\xbb\xd0\xbb";  // ółćŻźĘ Ελληνικά Кирилл
  const auto drawn = [&] {
    pellucet::clear(0);
    pellucet::text(2, 4, text, 0xFFFFFFFF);
    const pel::ScreenMode* m = pel::currentMode();
    return std::vector<uint8_t>(m->pages[0], m->pages[0] + static_cast<std::size_t>(m->pitch) * m->height);
  };
  pellucet::textFont(fresh);
  const std::vector<uint8_t> together = drawn();
  // The same font loaded again, its glyphs drawn one at a time first.
  const pellucet::LoadedFont known = pellucet::loadFont(path, 24);
  pellucet::textFont(known);
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t next = at + 1;
    while (next < text.size() && (static_cast<uint8_t>(text[next]) & 0xC0) == 0x80) ++next;
    pellucet::text(0, 0, text.substr(at, next - at), 0xFFFFFFFF);
    at = next;
  }
  EXPECT_EQ(together, drawn());
}
