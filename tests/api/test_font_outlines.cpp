// Outline fonts rendered by the build's renderer (FreeType on Linux), checked
// by the shapes of well-known glyphs of DejaVu Sans: stems, baselines,
// descenders, the font's own line metrics and kerning table, and refusals
// of damaged data.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "api/font_files.h"
#include "pellucet/pellucet.h"
#include "tests/api/outline_checks.h"

namespace {

using namespace pel::test;  // the shared outline checks

constexpr const char* dejaVuSans = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

#ifdef PEL_HAVE_OUTLINES

class OutlineFont : public OutlineFaces {
 protected:
  OutlineFont() : OutlineFaces(dejaVuSans, "FreeType") {}
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
  Picture x;
  ASSERT_NO_FATAL_FAILURE(expectLetterShapes(x));
  EXPECT_GE(x.shape.left, 0);  // 'x' starts at the pen or right of it
}

// DejaVu's stem is narrow.
TEST_F(OutlineFont, StemFillsAColumn) {
  Picture l;
  ASSERT_NO_FATAL_FAILURE(expectStemFillsAColumn(l));
  EXPECT_LE(l.shape.width, 5);
}

TEST_F(OutlineFont, MissingCharactersAreRefused) {
  pellucet::OutlineFace* face = nullptr;
  expectMissingCharactersRefused(face);
}

// DejaVu Sans kerns through a legacy 'kern' table as well as GPOS; only the
// former is read (FT_Get_Kerning), which has "AV", "To" and "LT" but nothing
// between two letters 'l'.
TEST_F(OutlineFont, KerningFromTheKernTable) {
  ASSERT_NE(tableAt(data, "kern"), 0u);
  pellucet::OutlineFace* face = nullptr;
  ASSERT_NO_FATAL_FAILURE(expectKerningPairs(face));
  EXPECT_EQ(pellucet::outlineKerning(face, U'A', 0xE000), 0);
  EXPECT_EQ(pellucet::outlineKerning(face, 0xE000, U'V'), 0);
}

// Besides the shared cases: the table that ends the file named when it is
// cut short, far too many tables, no 'head', an absurd ascender.
TEST_F(OutlineFont, DamagedDataIsRefusedWithItsReason) {
  ASSERT_NO_FATAL_FAILURE(expectDamagedDataRefused({4, 11, 12, 100, 331, 4096, data.size() / 2, data.size() - 1}));
  for (uint32_t i = 0, n = be16(data, 4); i < n; ++i) {  // the table that ends the file, named
    const std::size_t offset = be32(data, 12 + 16 * i + 8), end = offset + be32(data, 12 + 16 * i + 12);
    if (end != data.size()) continue;
    const std::vector<uint8_t> cut(data.begin(), data.end() - 1);
    expectRefused(cut, "the font's '" + std::string(reinterpret_cast<const char*>(data.data() + 12 + 16 * i), 4) +
                           "' table (bytes " + std::to_string(offset) + " to " + std::to_string(end) +
                           ") runs past the end of the data (" + std::to_string(data.size() - 1) + " bytes)");
  }
  std::vector<uint8_t> broken = data;
  broken[4] = broken[5] = 0xFF;  // far too many
  expectRefused(broken, "FreeType: the font's table directory (65535 tables) does not fit in the data");
  broken = data;
  std::memcpy(broken.data() + 12 + 16 * 11, "hexd", 4);  // no 'head' table
  expectRefused(broken, "FreeType: opening the font: unknown file format (error 2)");
  // An ascender of 16 ems.
  broken = data;
  const std::size_t hhea = tableAt(data, "hhea");
  broken[hhea + 4] = 0x7F;
  broken[hhea + 5] = 0xFF;
  expectRefused(broken, "FreeType: the font's line metrics make no sense (height ");
}

// Bytes changed in the table directory and the tables read before FreeType.
TEST_F(OutlineFont, ScrambledHeadersNeverCrash) {
  expectScramblesLoadOrAreRefused(300, {{0, 332}, {tableAt(data, "name"), 320}, {tableAt(data, "maxp"), 32}},
                                  [&](int) { return data; });
}

TEST_F(OutlineFont, LoadedThroughThePublicCall) {
  const pellucet::LoadedFont font = pellucet::loadFont(data.data(), data.size(), 24);
  ASSERT_NO_FATAL_FAILURE(expectPublicFont(font));
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
