#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "default_palettes.h"
#include "fake_drivers.h"
#include "gfx/builtin_data.h"
#include "gfx/fonts.h"
#include "gfx/lzw.h"
#include "gfx/mode.h"
#include "gfx/pages.h"
#include "gfx/text.h"
#include "runtime/runtime.h"

using namespace pel;

namespace {

std::vector<uint8_t> unpackAll(std::size_t packedBytes, int32_t& result) {
  std::vector<uint8_t> out(builtinUnpackedSize);
  std::size_t length = out.size();
  result = lzwDecode(builtinPacked, packedBytes, out.data(), length);
  out.resize(length);
  return out;
}

class Text : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::install();
    ASSERT_EQ(openScreenBySize(800, 600, 32, 2, 36, 0), 0);
  }
  void TearDown() override {
    closeScreen();
    setBackendList(nullptr);
  }
  static uint32_t* page(int index = 0) { return reinterpret_cast<uint32_t*>(currentMode()->pages[index]); }
  static int32_t say(const std::string& s, float x, float y, uint32_t colour = 0xFFFFFFFF, uint32_t flags = 4) {
    const TextString text{s.data(), static_cast<uint32_t>(s.size())};
    return drawString(nullptr, x, y, flags, &text, colour, nullptr, 0, nullptr, nullptr, nullptr);
  }
  static bool glyphBit(const FontRecord& f, uint8_t code, int row, int column) {
    return (f.glyphs[code * f.height + row] >> column) & 1;
  }
  static int dirtyRows() {
    int n = 0;
    for (int y = 0; y < 600; ++y) n += currentMode()->dirty[y] != 0;
    return n;
  }
};

using Rows = std::vector<std::string>;

// A built-in glyph's rows as text, leftmost pixel first.
Rows glyphRows(int32_t font, uint8_t code) {
  const FontRecord& f = *builtinFont(font);
  Rows rows;
  for (int32_t r = 0; r < f.height; ++r) {
    std::string row;
    for (int x = 0; x < 8; ++x) row += (f.glyphs[code * f.height + r] >> x) & 1 ? '#' : '.';
    rows.push_back(row);
  }
  return rows;
}

// A glyph's rows moved to the left edge, flipped left to right first if asked: a glyph and its mirror image give
// the same rows whatever columns each was drawn in.
std::vector<uint8_t> leftAligned(const FontRecord& f, uint8_t code, bool flip) {
  std::vector<uint8_t> rows(f.glyphs + code * f.height, f.glyphs + (code + 1) * f.height);
  uint8_t all = 0;
  for (auto& row : rows) {
    if (flip) {
      uint8_t flipped = 0;
      for (int x = 0; x < 8; ++x) flipped |= ((row >> x) & 1) << (7 - x);
      row = flipped;
    }
    all |= row;
  }
  for (; all && !(all & 1); all >>= 1) {
    for (auto& row : rows) row >>= 1;
  }
  return rows;
}

// True when the lowest drawn row is a bar of five or more pixels with a blank row above it.
bool barBelow(const FontRecord& f, uint8_t code) {
  const uint8_t* g = f.glyphs + code * f.height;
  int last = f.height - 1;
  while (last > 0 && !g[last]) --last;
  int width = 0;
  for (int x = 0; x < 8; ++x) width += (g[last] >> x) & 1;
  return width >= 5 && last >= 2 && !g[last - 1] && g[last - 2];
}

int pixelCount(const FontRecord& f, uint8_t code) {
  int n = 0;
  for (int32_t r = 0; r < f.height; ++r) {
    for (int x = 0; x < 8; ++x) n += (f.glyphs[code * f.height + r] >> x) & 1;
  }
  return n;
}

// Copies a glyph block, drawing set source pixels in the colour.
std::vector<std::string> putterCalls;
void recordingPutter(const uint8_t* source, uint8_t* destination, int32_t width, int32_t height, int32_t sourcePitch,
                     int32_t destinationPitch, uint32_t colour, void*, void*) {
  putterCalls.push_back(std::to_string(width) + "x" + std::to_string(height));
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      uint32_t s;
      std::memcpy(&s, source + y * sourcePitch + x * 4, 4);
      if (s) std::memcpy(destination + y * destinationPitch + x * 4, &colour, 4);
    }
  }
}

}  // namespace

TEST(BuiltinData, UnpacksToTheFontsAndPalettes) {
  int32_t result = 1;
  const std::vector<uint8_t> data = unpackAll(static_cast<std::size_t>(builtinPackedSize()), result);
  EXPECT_EQ(result, 0);
  ASSERT_EQ(data.size(), 10742u);
  const auto palettes = generateDefaultPalettes();
  EXPECT_EQ(std::memcmp(data.data() + 9728, palettes.data(), palettes.size()), 0);
  EXPECT_EQ(data[65 * 8], 0x0C);  // 8 x 8 "A": pixels 2 and 3 of the top row
}

TEST(BuiltinData, EveryGlyphButTheBlankOnesHasPixels) {
  ASSERT_TRUE(unpackBuiltinData());
  for (int index = 0; index < 3; ++index) {
    const FontRecord* f = builtinFont(index);
    for (int code = 0; code < 256; ++code) {
      bool any = false;
      for (int row = 0; row < f->height; ++row) any |= f->glyphs[code * f->height + row] != 0;
      const bool blank = code == 0 || code == 32 || code == 255;
      ASSERT_EQ(any, !blank) << "font " << index << " code " << code;
    }
  }
  EXPECT_EQ(fontsByHeight(8), builtinFont(0));
  EXPECT_EQ(fontsByHeight(14), builtinFont(1));
  EXPECT_EQ(fontsByHeight(16), builtinFont(2));
  EXPECT_EQ(fontsByHeight(12), nullptr);
  // The full block in code page 437: the box-drawing cross, the shade, Greek alpha.
  const FontRecord* f16 = builtinFont(2);
  EXPECT_EQ(f16->glyphs[0xDB * 16 + 8], 0xFF);
  EXPECT_NE(f16->glyphs[0xB0 * 16 + 8], 0);
  EXPECT_NE(f16->glyphs[0xE0 * 16 + 8], 0);
}

// Glyphs that were once taken from a source font whose glyph was wrong there (see scripts/make-builtin-data).
TEST(BuiltinFonts, GlyphsOnceTakenFromTheWrongSource) {
  ASSERT_TRUE(unpackBuiltinData());
  // 8 x 8 "≤" has its bar; it was "<" a row lower.
  EXPECT_EQ(glyphRows(0, 0xF3), (Rows{"...##...", "..##....", ".##.....", "..##....", "...##...", "........",
                                      "######..", "........"}));
  // 8 x 8 "¼"; it was "Œ".
  EXPECT_EQ(glyphRows(0, 0xAC), (Rows{"##....##", "##...##.", "##..##..", "##.##.##", "..##.###", ".##.####",
                                      "##..####", "......##"}));
  // 8 x 14 "½"; it was "œ".
  EXPECT_EQ(glyphRows(1, 0xAB), (Rows{"........", ".##.....", "###.....", ".##...##", ".##..##.", ".##.##..",
                                      "...##...", "..##....", ".##.###.", "##....##", ".....##.", "....##..",
                                      "...#####", "........"}));
  // 8 x 14 "⌐" on the rows of the other glyphs; it was a row lower.
  EXPECT_EQ(glyphRows(1, 0xA9), (Rows{"........", "........", "........", "........", "........", "........",
                                      "#######.", "##......", "##......", "##......", "........", "........",
                                      "........", "........"}));
}

// Shapes every built-in font must have whatever its design.
TEST(BuiltinFonts, ComparisonSignsDotsAndFractionsAgreeInEverySize) {
  ASSERT_TRUE(unpackBuiltinData());
  for (int32_t index = 0; index < 3; ++index) {
    const FontRecord& f = *builtinFont(index);
    SCOPED_TRACE("font " + std::to_string(index));
    // "<" and ">", "≤" and "≥" mirror each other; only the last two have a bar under the angle.
    EXPECT_EQ(leftAligned(f, '<', false), leftAligned(f, '>', true));
    EXPECT_EQ(leftAligned(f, 0xF3, false), leftAligned(f, 0xF2, true));
    EXPECT_FALSE(barBelow(f, '<'));
    EXPECT_FALSE(barBelow(f, '>'));
    EXPECT_TRUE(barBelow(f, 0xF3));
    EXPECT_TRUE(barBelow(f, 0xF2));
    // "∙" is the bigger dot and "·" the smaller.
    EXPECT_GT(pixelCount(f, 0xF9), pixelCount(f, 0xFA));
    // "½" and "¼" start with the same "1".
    const int32_t top = f.height * 3 / 8;
    const uint8_t* half = f.glyphs + 0xAB * f.height;
    EXPECT_TRUE(std::equal(half, half + top, f.glyphs + 0xAC * f.height));
  }
}

TEST(Lzw, CutOffDataKeepsWhatCameBefore) {
  int32_t result = 0;
  const std::vector<uint8_t> whole = unpackAll(static_cast<std::size_t>(builtinPackedSize()), result);
  const std::vector<uint8_t> cut = unpackAll(static_cast<std::size_t>(builtinPackedSize()) - 2, result);
  EXPECT_EQ(result, -1);
  EXPECT_GT(cut.size(), 10000u);
  EXPECT_TRUE(std::equal(cut.begin(), cut.end(), whole.begin()));
}

TEST(Lzw, CapacityAndDegenerateInput) {
  std::vector<uint8_t> out(100);
  std::size_t length = out.size();
  EXPECT_EQ(lzwDecode(builtinPacked, static_cast<std::size_t>(builtinPackedSize()), out.data(), length), -1);
  EXPECT_EQ(length, 100u);
  const uint8_t justEnd[] = {'A', 0xF0, 0xFF};  // 'A', then the end code
  length = out.size();
  EXPECT_EQ(lzwDecode(justEnd, 3, out.data(), length), 0);
  EXPECT_EQ(length, 1u);
  EXPECT_EQ(out[0], 'A');
  length = out.size();
  EXPECT_EQ(lzwDecode(justEnd, 1, out.data(), length), -1);
  // A code that is not yet defined repeats the previous string and its first byte.
  const uint8_t repeat[] = {'a', 0x00, 0x10, 0xFF, 0xFF, 0x00};  // 'a', 256, end
  length = out.size();
  EXPECT_EQ(lzwDecode(repeat, sizeof repeat, out.data(), length), 0);
  EXPECT_EQ(std::string(out.begin(), out.begin() + static_cast<long>(length)), "aaa");
  std::mt19937 random(3);
  std::vector<uint8_t> noise(3000);
  for (int trial = 0; trial < 300; ++trial) {
    for (auto& b : noise) b = static_cast<uint8_t>(random());
    length = out.size();
    const int32_t r = lzwDecode(noise.data(), noise.size(), out.data(), length);
    ASSERT_TRUE(r == 0 || r == -1);
    ASSERT_LE(length, out.size());
  }
}

TEST_F(Text, DemoLineAtOneOne) {
  setPages(1, 0);
  const std::string s = "60 fps / average: 61 fps";
  ASSERT_EQ(s.size(), 24u);
  EXPECT_EQ(say(s, 1, 1), 0);
  const FontRecord& f = *builtinFont(0);
  const uint32_t* p = page(1);
  int lastColumn = 0;
  for (int y = 0; y < 12; ++y) {
    for (int x = 0; x < 200; ++x) {
      const int ch = (x - 1) / 8;
      const bool set = x >= 1 && y >= 1 && y <= 8 && ch < 24 && glyphBit(f, static_cast<uint8_t>(s[ch]), y - 1, (x - 1) % 8);
      ASSERT_EQ(p[y * 800 + x], set ? 0xFFFFFFFFu : 0xFF000000u) << x << "," << y;
      if (set) lastColumn = std::max(lastColumn, x);
    }
  }
  EXPECT_LE(lastColumn, 192);
  EXPECT_EQ(dirtyRows(), 0);
  EXPECT_EQ(getContext()->lastX, 1.0f);
}

TEST_F(Text, ClippedAtTheLeftAndTop) {
  EXPECT_EQ(say("AB", -12, 20), 0);
  const FontRecord& f = *builtinFont(0);
  for (int x = 0; x < 16; ++x) {
    for (int y = 20; y < 28; ++y) {
      const bool set = x < 4 && glyphBit(f, 'B', y - 20, x + 4);
      ASSERT_EQ(page()[y * 800 + x], set ? 0xFFFFFFFFu : 0xFF000000u) << x << "," << y;
    }
  }
  std::fill(currentMode()->dirty, currentMode()->dirty + 600, 0);
  EXPECT_EQ(say("W", 40, -3), 0);
  for (int y = 0; y < 8; ++y) {
    for (int x = 40; x < 48; ++x) {
      const bool set = y <= 4 && glyphBit(f, 'W', y + 3, x - 40);
      ASSERT_EQ(page()[y * 800 + x], set ? 0xFFFFFFFFu : 0xFF000000u);
    }
  }
  EXPECT_EQ(dirtyRows(), 5);
  EXPECT_EQ(currentMode()->dirty[4], 1);
}

TEST_F(Text, EmptyNullAndOffscreenText) {
  const TextString empty{nullptr, 0};
  EXPECT_EQ(drawString(nullptr, 0, 0, 4, &empty, 1, nullptr, 0, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(drawString(nullptr, 0, 0, 4, nullptr, 1, nullptr, 0, nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(lastError(), 1);
  fake::A::locks = 0;
  EXPECT_EQ(say(std::string(100000, 'x'), 790, 100), 0);  // runs off the view
  EXPECT_EQ(say("x", NAN, 100), 0);
  EXPECT_EQ(say("x", 1e30f, 1e30f), 0);
  const TextString temporary{"Z", 1 | temporaryString};
  EXPECT_EQ(drawString(nullptr, 300, 300, 4, &temporary, 0xFF00FF00, nullptr, 0, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(page()[300 * 800 + 300], 0xFF00FF00u);  // 'Z' top row starts at its left edge
}

TEST_F(Text, ModeSixUsesTheColourUnchanged) {
  ASSERT_EQ(openScreenBySize(64, 16, 16, 1, 0, 0), 0);
  const TextString t{"\xDB", 1};
  drawString(nullptr, 0, 0, 0x80000004u, &t, 0x12345, nullptr, 6, nullptr, nullptr, nullptr);
  EXPECT_EQ(reinterpret_cast<uint16_t*>(currentMode()->pages[0])[0], 0x2345);
  drawString(nullptr, 8, 0, 0x80000004u, &t, 0x12345, nullptr, 0, nullptr, nullptr, nullptr);
  EXPECT_EQ(reinterpret_cast<uint16_t*>(currentMode()->pages[0])[8], 0xFFFF);  // foreground
}

TEST_F(Text, ScreenSixWithTheFourteenRowFont) {
  ASSERT_EQ(openScreenByNumber(9, 0, 0, 0, 0), 0);
  const TextString t{"\xDB", 1};
  drawString(nullptr, 0, 0, 4, &t, 9, nullptr, 0, nullptr, nullptr, nullptr);
  const uint8_t* p = currentMode()->pages[0];
  EXPECT_EQ(p[0], 9);
  EXPECT_EQ(p[13 * 640 + 7], 9);
  EXPECT_EQ(p[14 * 640], 0);
}

namespace {
// A 32-bit user font image: codes 'a'..'b' of widths 2 and 3, glyph rows 1..2.
struct UserFont {
  ImageHeader header{longImageTag, 4, 8, 3, 32, {}};
  uint32_t pixels[3][8] = {};
  UserFont() {
    auto* row0 = reinterpret_cast<uint8_t*>(pixels[0]);
    row0[0] = 0;
    row0[1] = 'b';  // swapped with the last code
    row0[2] = 'a';
    row0[3] = 2;
    row0[4] = 3;
    for (int x = 0; x < 5; ++x) pixels[1][x] = pixels[2][x] = 1;
  }
};
}  // namespace

TEST_F(Text, UserFontGlyphsGoToThePutter) {
  UserFont font;
  putterCalls.clear();
  const TextString t{"ab", 2};
  EXPECT_EQ(drawString(nullptr, 10, 20, 4, &t, 0x00ABCDEF, &font, 0, recordingPutter, nullptr, nullptr), 0);
  EXPECT_EQ(putterCalls, (std::vector<std::string>{"2x2", "3x2"}));
  EXPECT_EQ(page()[20 * 800 + 10], 0x00ABCDEFu);
  EXPECT_EQ(page()[21 * 800 + 14], 0x00ABCDEFu);
  EXPECT_EQ(page()[21 * 800 + 15], 0xFF000000u);
}

TEST_F(Text, UserFontsThatCannotBeUsedAreRefused) {
  const TextString t{"ab", 2};
  UserFont version;
  reinterpret_cast<uint8_t*>(version.pixels[0])[0] = 1;
  EXPECT_EQ(drawString(nullptr, 10, 20, 4, &t, 1, &version, 0, recordingPutter, nullptr, nullptr), 1);
  UserFont depth;
  depth.header.bytesPerPixel = 2;
  EXPECT_EQ(drawString(nullptr, 10, 20, 4, &t, 1, &depth, 0, recordingPutter, nullptr, nullptr), 1);
  UserFont wide;
  reinterpret_cast<uint8_t*>(wide.pixels[0])[4] = 7;  // 2 + 7 > 8 pixels
  EXPECT_EQ(drawString(nullptr, 10, 20, 4, &t, 1, &wide, 0, recordingPutter, nullptr, nullptr), 1);
  UserFont pitch;
  pitch.header.pitch = 8;  // less than width x 4
  EXPECT_EQ(drawString(nullptr, 10, 20, 4, &t, 1, &pitch, 0, recordingPutter, nullptr, nullptr), 1);
  UserFont codes;
  reinterpret_cast<uint8_t*>(codes.pixels[0])[2] = 255;  // 'b'..255: widths beyond the header row
  EXPECT_EQ(drawString(nullptr, 10, 20, 4, &t, 1, &codes, 0, recordingPutter, nullptr, nullptr), 1);
  EXPECT_EQ(lastError(), 1);
  EXPECT_EQ(currentMode()->lockCount, 0);
  EXPECT_EQ(page()[20 * 800 + 10], 0xFF000000u);
}
