// Public text: UTF-8 into code page 437's glyphs, lines, the fonts, the
// measure and the background, checked against the runtime's own drawing.
#include <gtest/gtest.h>

#include <pellucet/pellucet.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gfx/fonts.h"
#include "gfx/mode.h"
#include "gfx/text.h"

namespace {

class PublicText : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("KELGFX", "null", 1);
    ASSERT_TRUE(pellucet::openScreen(320, 200, 8, 1));
    pellucet::textFont(pellucet::Font::font8x8);
  }
  void TearDown() override {
    pellucet::textFont(pellucet::Font::screen);
    pellucet::closeScreen();
    unsetenv("KELGFX");
  }
  static std::vector<uint8_t> page() {
    const pel::ScreenMode* m = pel::currentMode();
    return {m->pages[0], m->pages[0] + static_cast<std::size_t>(m->pitch) * m->height};
  }
  // The page after the public call, and after the runtime's drawing of the
  // bytes given, in the font of that height, each on a cleared page.
  static std::vector<uint8_t> publicDrawing(const std::string& utf8, float x = 4, float y = 4) {
    pellucet::clear(0);
    pellucet::text(x, y, utf8, 15);
    return page();
  }
  static std::vector<uint8_t> runtimeDrawing(const std::string& bytes, float x = 4, float y = 4, int height = 8) {
    pellucet::clear(0);
    pel::ScreenMode* m = pel::currentMode();
    const pel::FontRecord* screenFont = m->font;
    m->font = pel::fontsByHeight(height);
    const pel::TextString t{bytes.data(), static_cast<uint32_t>(bytes.size())};
    pel::drawString(nullptr, x, y, 0, &t, 15, nullptr, 0, nullptr, nullptr, nullptr);
    m->font = screenFont;
    return page();
  }
};

}  // namespace

TEST_F(PublicText, Utf8ReachesCodePage437sGlyphs) {
  const std::pair<std::string, std::string> cases[] = {
      {"é", "\x82"},           {"ü", "\x81"},           {"ß", "\xE1"},     {"░▒▓", "\xB0\xB1\xB2"},
      {"┌─┐", "\xDA\xC4\xBF"}, {"Ça va à ½", "\x80" "a va \x85 \xAB"}, {"π≈3", "\xE3\xF7" "3"},
      {"€ 𝄞", "? ?"},          // not in code page 437: the stand-in
      {"\x82", "\x82"},        // a byte that is no UTF-8: taken as it is
      {"\xE2\x82", "\xE2\x82"},  // a sequence cut short: the bytes as they are
  };
  for (const auto& [utf8, bytes] : cases) {
    const std::vector<uint8_t> drawn = publicDrawing(utf8);
    EXPECT_NE(std::count(drawn.begin(), drawn.end(), 15), 0) << utf8;
    EXPECT_EQ(drawn, runtimeDrawing(bytes)) << utf8;
  }
}

TEST_F(PublicText, NewLinesStartOneFontHeightDown) {
  const std::vector<uint8_t> drawn = publicDrawing("AB\nC", 10, 20);
  pellucet::clear(0);
  std::vector<uint8_t> expected = runtimeDrawing("AB", 10, 20);
  const std::vector<uint8_t> second = runtimeDrawing("C", 10, 28);
  for (std::size_t i = 0; i < expected.size(); ++i) expected[i] |= second[i];
  EXPECT_EQ(drawn, expected);
  pellucet::textFont(pellucet::Font::font8x16);
  pellucet::clear(0);
  pellucet::text(10, 20, "AB\nC", 15);
  std::vector<uint8_t> tall = runtimeDrawing("AB", 10, 20, 16);
  const std::vector<uint8_t> tallSecond = runtimeDrawing("C", 10, 36, 16);
  for (std::size_t i = 0; i < tall.size(); ++i) tall[i] |= tallSecond[i];
  pellucet::clear(0);
  pellucet::text(10, 20, "AB\nC", 15);
  EXPECT_EQ(page(), tall);
}

TEST_F(PublicText, TheMeasureIsTheLongestLineAndEveryLine) {
  EXPECT_EQ(pellucet::measureText("ab\ncdé").width, 24);
  EXPECT_EQ(pellucet::measureText("ab\ncdé").height, 16);
  EXPECT_EQ(pellucet::measureText("").height, 8);
  pellucet::textFont(pellucet::Font::font8x14);
  EXPECT_EQ(pellucet::measureText("x\n\nyz").width, 16);
  EXPECT_EQ(pellucet::measureText("x\n\nyz").height, 42);
  pellucet::textFont(pellucet::Font::screen);
  EXPECT_EQ(pellucet::measureText("abc").height, pel::currentMode()->font->height);
}

TEST_F(PublicText, ABackgroundFillsEachLinesCells) {
  pellucet::clear(0);
  pellucet::text(10, 10, "ab\nc", 15, 4);
  const pel::ScreenMode* m = pel::currentMode();
  auto at = [&](int x, int y) { return m->pages[0][y * m->pitch + x]; };
  int lit = 0;
  for (int y = 10; y < 18; ++y) {
    for (int x = 10; x < 26; ++x) {
      ASSERT_TRUE(at(x, y) == 15 || at(x, y) == 4) << x << "," << y;
      lit += at(x, y) == 15;
    }
  }
  EXPECT_GT(lit, 0);
  for (int y = 18; y < 26; ++y) {
    for (int x = 10; x < 18; ++x) ASSERT_NE(at(x, y), 0) << x << "," << y;
    EXPECT_EQ(at(18, y), 0) << "the second line is one cell wide";
  }
  EXPECT_EQ(at(26, 10), 0);
  EXPECT_EQ(at(10, 9), 0);
  EXPECT_EQ(at(9, 10), 0);
}
