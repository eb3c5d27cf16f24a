// Outline fonts rendered by the build's renderer (FreeType on Linux), checked
// by the shapes of well-known glyphs of DejaVu Sans: stems, baselines,
// descenders, the font's own line metrics and kerning table, and refusals
// of damaged data.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "api/font_files.h"
#include "pellucet/pellucet.h"

namespace {

constexpr const char* dejaVuSans = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

std::vector<uint8_t> readAll(const char* path) {
  std::vector<uint8_t> bytes;
  if (FILE* f = std::fopen(path, "rb")) {
    uint8_t block[65536];
    for (std::size_t n; (n = std::fread(block, 1, sizeof block, f)) > 0;) bytes.insert(bytes.end(), block, block + n);
    std::fclose(f);
  }
  return bytes;
}

#ifdef PEL_HAVE_OUTLINES

uint32_t be16(const std::vector<uint8_t>& d, std::size_t at) { return uint32_t{d.at(at)} << 8 | d.at(at + 1); }
uint32_t be32(const std::vector<uint8_t>& d, std::size_t at) { return be16(d, at) << 16 | be16(d, at + 2); }

// Where a table starts in a single font's data (0 when it has none).
std::size_t tableAt(const std::vector<uint8_t>& d, const char* tag) {
  for (uint32_t i = 0, n = be16(d, 4); i < n; ++i) {
    if (std::memcmp(d.data() + 12 + 16 * i, tag, 4) == 0) return be32(d, 12 + 16 * i + 8);
  }
  return 0;
}

// A glyph's picture, for looking at.
struct Picture {
  pellucet::GlyphShape shape;
  std::vector<uint8_t> bits;
  uint8_t at(int x, int y) const { return bits[shape.offset + static_cast<std::size_t>(y) * shape.pitch + x]; }
  int bottom() const { return shape.top + shape.height; }  // rows from the line's top to just below the picture
  bool fullColumn(int x) const {
    for (int y = 0; y < shape.height; ++y) {
      if (at(x, y) != 255) return false;
    }
    return true;
  }
};

class OutlineFont : public ::testing::Test {
 protected:
  void SetUp() override {
    data = readAll(dejaVuSans);
    if (data.empty()) GTEST_SKIP() << dejaVuSans << " is not installed (fonts-dejavu-core)";
  }
  void TearDown() override {
    for (pellucet::OutlineFace* face : faces) pellucet::closeOutline(face);
  }
  pellucet::OutlineFace* open(int32_t pixels, pellucet::GlyphSet& set) {
    std::string why;
    pellucet::OutlineFace* face = pellucet::openOutline(data.data(), data.size(), pixels, set, why);
    EXPECT_NE(face, nullptr) << why;
    if (face) faces.push_back(face);
    return face;
  }
  // Renders into a fresh picture, preceded by some bytes of another glyph
  // so that the offset counts.
  static bool render(pellucet::OutlineFace* face, char32_t code, Picture& picture) {
    picture.bits.assign(3, 0xAB);
    picture.shape.offset = picture.bits.size();
    return pellucet::renderOutlineGlyph(face, code, picture.shape, picture.bits);
  }
  std::vector<uint8_t> data;
  std::vector<pellucet::OutlineFace*> faces;
};

// The line's height and ascent are the font's own (hhea) ascender, descender
// and line gap scaled to the em, rounded up.
TEST_F(OutlineFont, LineMetricsFollowTheFontsOwn) {
  const std::size_t head = tableAt(data, "head"), hhea = tableAt(data, "hhea");
  ASSERT_NE(head, 0u);
  ASSERT_NE(hhea, 0u);
  const double em = be16(data, head + 18);
  const double ascender = static_cast<int16_t>(be16(data, hhea + 4));
  const double descender = static_cast<int16_t>(be16(data, hhea + 6));
  const double gap = static_cast<int16_t>(be16(data, hhea + 8));
  for (int32_t pixels : {16, 32}) {
    SCOPED_TRACE(pixels);
    pellucet::GlyphSet set;
    ASSERT_NE(open(pixels, set), nullptr);
    const double scale = pixels / em;
    EXPECT_NEAR(set.height, std::ceil((ascender - descender + gap) * scale), 1);
    EXPECT_NEAR(set.ascent, std::ceil(ascender * scale), 1);
    EXPECT_GT(set.height, pixels);
    EXPECT_LT(set.ascent, set.height);
  }
}

TEST_F(OutlineFont, GlyphsHaveTheirShapes) {
  pellucet::GlyphSet set;
  pellucet::OutlineFace* face = open(16, set);
  ASSERT_NE(face, nullptr);
  Picture a, x, p;
  ASSERT_TRUE(render(face, U'A', a));
  ASSERT_TRUE(render(face, U'x', x));
  ASSERT_TRUE(render(face, U'p', p));
  // 'A' is antialiased: empty corners, full pixels and edges between.
  const auto first = a.bits.begin() + static_cast<std::ptrdiff_t>(a.shape.offset);
  EXPECT_EQ(a.shape.pitch, a.shape.width);
  EXPECT_EQ(a.bits.size(), a.shape.offset + static_cast<std::size_t>(a.shape.width) * a.shape.height);
  EXPECT_EQ(a.at(0, 0), 0);
  EXPECT_EQ(std::count(first, a.bits.end(), 255) > 0, true);
  EXPECT_GT(std::count_if(first, a.bits.end(), [](uint8_t v) { return v > 0 && v < 255; }), 4);
  // It is symmetric: each row's ink (half coverage or more) is mirrored,
  // within a pixel, about the middle.
  for (int y = 0; y < a.shape.height; ++y) {
    int left = -1, right = -1;
    for (int column = 0; column < a.shape.width; ++column) {
      if (a.at(column, y) < 128) continue;
      if (left < 0) left = column;
      right = column;
    }
    ASSERT_GE(left, 0) << "row " << y;
    EXPECT_LE(std::abs(left + right - (a.shape.width - 1)), 1) << "row " << y;
  }
  // 'A' and 'x' sit on the baseline; 'p' goes below it and 'x' is lower than
  // 'A'; 'A' stands about as tall as the ascent, wider than it is thin.
  EXPECT_EQ(a.bottom(), set.ascent);
  EXPECT_EQ(x.bottom(), set.ascent);
  EXPECT_GE(p.bottom(), set.ascent + 3);
  EXPECT_LT(p.bottom(), set.height + 1);
  EXPECT_GT(x.shape.top, a.shape.top + 2);
  EXPECT_GE(a.shape.top, 1);
  EXPECT_GE(a.shape.height, 11);
  EXPECT_GE(a.shape.width, 9);
  EXPECT_GE(a.shape.advance, a.shape.width - 1);
  EXPECT_LE(a.shape.advance, 12);
  EXPECT_GE(x.shape.left, 0);
  EXPECT_LE(x.shape.left + x.shape.width, x.shape.advance + 1);
}

// A vertical stem fills whole columns; at 32 pixels DejaVu's is about three
// pixels wide, so at least one column is full whatever its position.
TEST_F(OutlineFont, StemFillsAColumn) {
  pellucet::GlyphSet set;
  pellucet::OutlineFace* face = open(32, set);
  ASSERT_NE(face, nullptr);
  Picture l;
  ASSERT_TRUE(render(face, U'l', l));
  EXPECT_EQ(l.bottom(), set.ascent);
  EXPECT_GE(l.shape.height, 22);  // the ascender of 'l' is below the font's
  EXPECT_LE(l.shape.height, 26);
  EXPECT_LE(l.shape.width, 5);
  int full = 0;
  for (int column = 0; column < l.shape.width; ++column) full += l.fullColumn(column);
  EXPECT_GE(full, 1);
  EXPECT_LE(full, 3);
  // A space has nothing to draw but moves the pen.
  Picture space;
  ASSERT_TRUE(render(face, U' ', space));
  EXPECT_EQ(space.shape.width * space.shape.height, 0);
  EXPECT_GT(space.shape.advance, 5);
  EXPECT_EQ(space.bits.size(), space.shape.offset);
}

TEST_F(OutlineFont, MissingCharactersAreRefused) {
  pellucet::GlyphSet set;
  pellucet::OutlineFace* face = open(16, set);
  ASSERT_NE(face, nullptr);
  Picture picture;
  EXPECT_FALSE(render(face, 0xE000, picture));   // private use
  EXPECT_FALSE(render(face, 0x4E00, picture));   // a CJK ideograph
  EXPECT_FALSE(render(face, 0x1D53A, picture));  // the gap in its double-struck capitals
  EXPECT_FALSE(render(face, 0x110000, picture));
  // Beyond the first plane through the font's 32-bit character map.
  ASSERT_TRUE(render(face, 0x1D538, picture));   // double-struck A
  EXPECT_GT(picture.shape.width, 5);
  EXPECT_EQ(picture.bottom(), set.ascent);
}

// DejaVu Sans kerns through a legacy 'kern' table as well as GPOS; only the
// former is read (FT_Get_Kerning), which has "AV", "To" and "LT" but nothing
// between two letters 'l'.
TEST_F(OutlineFont, KerningFromTheKernTable) {
  ASSERT_NE(tableAt(data, "kern"), 0u);
  pellucet::GlyphSet set;
  pellucet::OutlineFace* face = open(32, set);
  ASSERT_NE(face, nullptr);
  EXPECT_LT(pellucet::outlineKerning(face, U'A', U'V'), 0);
  EXPECT_LT(pellucet::outlineKerning(face, U'T', U'o'), 0);
  EXPECT_EQ(pellucet::outlineKerning(face, U'l', U'l'), 0);
  EXPECT_EQ(pellucet::outlineKerning(face, U'A', 0xE000), 0);
  EXPECT_EQ(pellucet::outlineKerning(face, 0xE000, U'V'), 0);
  EXPECT_GT(pellucet::outlineKerning(face, U'A', U'V'), -8);
}

// Damaged data gives an empty font and a reason, never a crash: cut short
// anywhere, or with its table directory broken.
TEST_F(OutlineFont, DamagedDataIsRefusedWithItsReason) {
  const auto refused = [](const std::vector<uint8_t>& bytes, const std::string& reason) {
    const pellucet::LoadedFont font = pellucet::loadFont(bytes.data(), bytes.size(), 16);
    EXPECT_FALSE(font);
    EXPECT_NE(std::string(pellucet::lastFailure()).find(reason), std::string::npos) << pellucet::lastFailure();
  };
  for (std::size_t length : {std::size_t{4}, std::size_t{11}, std::size_t{12}, std::size_t{100}, std::size_t{331},
                             std::size_t{4096}, data.size() / 2, data.size() - 1}) {
    SCOPED_TRACE(length);
    const std::vector<uint8_t> cut(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(length));
    refused(cut, length < 12    ? "FreeType: the font's table directory lies past the end of the data"
                 : length < 332 ? "FreeType: the font's table directory (20 tables) does not fit in the data"
                                : "runs past the end of the data (" + std::to_string(length) + " bytes)");
  }
  for (uint32_t i = 0, n = be16(data, 4); i < n; ++i) {  // the table that ends the file, named
    const std::size_t offset = be32(data, 12 + 16 * i + 8), end = offset + be32(data, 12 + 16 * i + 12);
    if (end != data.size()) continue;
    const std::vector<uint8_t> cut(data.begin(), data.end() - 1);
    refused(cut, "the font's '" + std::string(reinterpret_cast<const char*>(data.data() + 12 + 16 * i), 4) +
                     "' table (bytes " + std::to_string(offset) + " to " + std::to_string(end) +
                     ") runs past the end of the data (" + std::to_string(data.size() - 1) + " bytes)");
  }
  std::vector<uint8_t> broken = data;
  broken[4] = broken[5] = 0;  // no tables
  refused(broken, "FreeType: the font's table directory lists no tables");
  broken = data;
  broken[4] = broken[5] = 0xFF;  // far too many
  refused(broken, "FreeType: the font's table directory (65535 tables) does not fit in the data");
  broken = data;
  const std::size_t glyf = 12 + 16 * 10;  // 'glyf' moved far away
  ASSERT_EQ(std::memcmp(broken.data() + glyf, "glyf", 4), 0);
  broken[glyf + 8] = 0xFF;
  refused(broken, "the font's 'glyf' table");
  broken = data;
  std::memcpy(broken.data() + 12 + 16 * 11, "hexd", 4);  // no 'head' table
  refused(broken, "FreeType: opening the font: unknown file format (error 2)");
  // An ascender of 16 ems.
  broken = data;
  const std::size_t hhea = tableAt(data, "hhea");
  broken[hhea + 4] = 0x7F;
  broken[hhea + 5] = 0xFF;
  refused(broken, "FreeType: the font's line metrics make no sense (height ");
  // A font whose glyphs were counted as none.
  broken = data;
  const std::size_t maxp = tableAt(data, "maxp");
  broken[maxp + 4] = broken[maxp + 5] = 0;
  refused(broken, "FreeType: the font has no glyphs");
}

// Bytes changed at random in the table directory and the tables read
// before FreeType (seeded, so that a failure repeats): each font either loads
// and draws or is refused with a reason.
TEST_F(OutlineFont, ScrambledHeadersNeverCrash) {
  std::mt19937 random(20240611);
  const std::size_t name = tableAt(data, "name"), maxp = tableAt(data, "maxp");
  for (int round = 0; round < 300; ++round) {
    std::vector<uint8_t> bytes = data;
    for (int change = 0; change < 4; ++change) {
      const std::size_t where[] = {random() % 332, name + random() % 320, maxp + random() % 32};
      bytes[where[random() % 3]] = static_cast<uint8_t>(random());
    }
    const pellucet::LoadedFont font = pellucet::loadFont(bytes.data(), bytes.size(), 16);
    if (!font) {
      const std::string why = pellucet::lastFailure();
      EXPECT_TRUE(why.rfind("FreeType: ", 0) == 0 || why == "not a PSF, BDF, TrueType or OpenType font") << why;
      continue;
    }
    for (char32_t code : {U'A', U'g', U' ', char32_t{0x1D538}}) font.covers(code);
  }
}

TEST_F(OutlineFont, LoadedThroughThePublicCall) {
  const pellucet::LoadedFont font = pellucet::loadFont(data.data(), data.size(), 24);
  ASSERT_TRUE(font) << pellucet::lastFailure();
  EXPECT_TRUE(pellucet::LoadedFont::outlines());
  EXPECT_GT(font.height(), 24);
  EXPECT_LT(font.height(), 36);
  EXPECT_TRUE(font.covers(U'A'));
  EXPECT_TRUE(font.covers(0x1F600));
  EXPECT_FALSE(font.covers(0xE000));
  EXPECT_FALSE(font.covers(0xE000));  // the miss is kept, and found again
  const pellucet::LoadedFont fromFile = pellucet::loadFont(dejaVuSans, 24);
  ASSERT_TRUE(fromFile) << pellucet::lastFailure();
  EXPECT_EQ(fromFile.height(), font.height());
}

#else

TEST(OutlineFont, RefusedWhereTheBuildRendersNone) {
  const std::vector<uint8_t> data = readAll(dejaVuSans);
  if (data.empty()) GTEST_SKIP() << dejaVuSans << " is not installed (fonts-dejavu-core)";
  EXPECT_FALSE(pellucet::LoadedFont::outlines());
  EXPECT_FALSE(pellucet::loadFont(data.data(), data.size(), 16));
  EXPECT_STREQ(pellucet::lastFailure(), "TrueType and OpenType fonts are not read in this build");
}

#endif

TEST(OutlineFontSizes, OutsideOneTo1024Refused) {
  const uint8_t truetype[16] = {0, 1, 0, 0};
  for (int pixels : {0, -1, 1025, 2000}) {
    EXPECT_FALSE(pellucet::loadFont(truetype, sizeof truetype, pixels));
    EXPECT_EQ(std::string(pellucet::lastFailure()), "a pixel size of " + std::to_string(pixels) + " (1 to 1024)");
  }
}

}  // namespace
