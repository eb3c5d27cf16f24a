// The checks both outline renderers answer to (FreeType on Linux, GDI on
// Windows under Wine), written once: the internal interface (openOutline,
// renderOutlineGlyph) is the same in both builds. Each suite's fixture
// derives from OutlineFaces, naming its copy of DejaVu Sans and its
// renderer, and adds what only its renderer does.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "api/font_files.h"
#include "pellucet/pellucet.h"

namespace pel::test {

inline std::vector<uint8_t> readAll(const char* path) {
  std::vector<uint8_t> bytes;
  if (std::FILE* f = std::fopen(path, "rb")) {
    uint8_t block[65536];
    for (std::size_t n; (n = std::fread(block, 1, sizeof block, f)) > 0;) bytes.insert(bytes.end(), block, block + n);
    std::fclose(f);
  }
  return bytes;
}

inline uint32_t be16(const std::vector<uint8_t>& d, std::size_t at) { return uint32_t{d.at(at)} << 8 | d.at(at + 1); }
inline uint32_t be32(const std::vector<uint8_t>& d, std::size_t at) { return be16(d, at) << 16 | be16(d, at + 2); }

// Where a table starts in a single font's data (0 when it has none).
inline std::size_t tableAt(const std::vector<uint8_t>& d, const char* tag) {
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
  int fullColumns() const {
    int full = 0;
    for (int x = 0; x < shape.width; ++x) {
      bool all = true;
      for (int y = 0; y < shape.height; ++y) all = all && at(x, y) == 255;
      full += all;
    }
    return full;
  }
};

// Regions of a font's data as (first byte, length).
using Places = std::vector<std::pair<std::size_t, std::size_t>>;

// A loaded font is refused, with `reason` somewhere in its failure.
inline void expectRefused(const std::vector<uint8_t>& bytes, const std::string& reason) {
  const pellucet::LoadedFont font = pellucet::loadFont(bytes.data(), bytes.size(), 16);
  EXPECT_FALSE(font);
  EXPECT_NE(std::string(pellucet::lastFailure()).find(reason), std::string::npos) << pellucet::lastFailure();
}

// DejaVu Sans at 24 pixels, loaded through the public call.
inline void expectPublicFont(const pellucet::LoadedFont& font) {
  ASSERT_TRUE(font) << pellucet::lastFailure();
  EXPECT_TRUE(pellucet::LoadedFont::outlines());
  EXPECT_GT(font.height(), 24);
  EXPECT_LT(font.height(), 36);
  EXPECT_TRUE(font.covers(U'A'));
  EXPECT_TRUE(font.covers(0x1F600));
  EXPECT_FALSE(font.covers(0xE000));
  EXPECT_FALSE(font.covers(0xE000));  // the miss is kept, and found again
}

// The shared checks take DejaVu Sans from `path`; the refusals they expect
// start with the renderer's name. Faces opened are closed after the test.
class OutlineFaces : public ::testing::Test {
 protected:
  OutlineFaces(const char* path, const char* renderer) : path(path), renderer(renderer) {}
  void SetUp() override {
    data = readAll(path);
    if (data.empty()) GTEST_SKIP() << path << " is not installed (fonts-dejavu-core)";
  }
  void TearDown() override {
    for (pellucet::OutlineFace* face : faces) pellucet::closeOutline(face);
  }
  pellucet::OutlineFace* open(const std::vector<uint8_t>& bytes, int32_t pixels, pellucet::GlyphSet& set) {
    std::string why;
    pellucet::OutlineFace* face = pellucet::openOutline(bytes.data(), bytes.size(), pixels, set, why);
    EXPECT_NE(face, nullptr) << why;
    if (face) faces.push_back(face);
    return face;
  }
  pellucet::OutlineFace* open(int32_t pixels, pellucet::GlyphSet& set) { return open(data, pixels, set); }
  // Renders into a fresh picture, preceded by some bytes of another glyph
  // so that the offset counts.
  static bool render(pellucet::OutlineFace* face, char32_t code, Picture& picture) {
    picture.bits.assign(3, 0xAB);
    picture.shape.offset = picture.bits.size();
    return pellucet::renderOutlineGlyph(face, code, picture.shape, picture.bits);
  }

  // 'A', 'x' and 'p' at 16 pixels; `x` is given back for the suite's own
  // checks.
  void expectLetterShapes(Picture& x) {
    pellucet::GlyphSet set;
    pellucet::OutlineFace* face = open(16, set);
    ASSERT_NE(face, nullptr);
    Picture a, p;
    ASSERT_TRUE(render(face, U'A', a));
    ASSERT_TRUE(render(face, U'x', x));
    ASSERT_TRUE(render(face, U'p', p));
    // 'A' is antialiased: empty corners, full pixels and edges between.
    const auto first = a.bits.begin() + static_cast<std::ptrdiff_t>(a.shape.offset);
    EXPECT_EQ(a.shape.pitch, a.shape.width);
    EXPECT_EQ(a.bits.size(), a.shape.offset + static_cast<std::size_t>(a.shape.width) * a.shape.height);
    EXPECT_EQ(a.at(0, 0), 0);
    EXPECT_GT(std::count(first, a.bits.end(), 255), 0);
    EXPECT_EQ(*std::max_element(first, a.bits.end()), 255);
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
    EXPECT_LE(p.bottom(), set.height);
    EXPECT_GT(x.shape.top, a.shape.top + 2);
    EXPECT_GE(a.shape.top, 1);
    EXPECT_GE(a.shape.height, 11);
    EXPECT_GE(a.shape.width, 9);
    EXPECT_GE(a.shape.advance, a.shape.width - 1);
    EXPECT_LE(a.shape.advance, 12);
    EXPECT_LE(x.shape.left + x.shape.width, x.shape.advance + 1);
  }

  // A vertical stem fills whole columns; at 32 pixels DejaVu's is about three
  // pixels wide, so at least one column is full whatever its position. A
  // space has nothing to draw but moves the pen. `l` is given back.
  void expectStemFillsAColumn(Picture& l) {
    pellucet::GlyphSet set;
    pellucet::OutlineFace* face = open(32, set);
    ASSERT_NE(face, nullptr);
    ASSERT_TRUE(render(face, U'l', l));
    EXPECT_EQ(l.bottom(), set.ascent);
    EXPECT_GE(l.shape.height, 22);  // the ascender of 'l' is below the font's
    EXPECT_LE(l.shape.height, 26);
    EXPECT_GE(l.fullColumns(), 1);
    EXPECT_LE(l.fullColumns(), 3);
    Picture space;
    ASSERT_TRUE(render(face, U' ', space));
    EXPECT_EQ(space.shape.width * space.shape.height, 0);
    EXPECT_GT(space.shape.advance, 5);
    EXPECT_EQ(space.bits.size(), space.shape.offset);
  }

  // Characters DejaVu Sans lacks are refused at 16 pixels, and one beyond
  // the first plane is found through its 32-bit character map. The face is
  // given back for the suite's own characters.
  void expectMissingCharactersRefused(pellucet::OutlineFace*& face) {
    pellucet::GlyphSet set;
    face = open(16, set);
    ASSERT_NE(face, nullptr);
    Picture picture;
    EXPECT_FALSE(render(face, 0xE000, picture));   // private use
    EXPECT_FALSE(render(face, 0x4E00, picture));   // a CJK ideograph
    EXPECT_FALSE(render(face, 0x1D53A, picture));  // the gap in its double-struck capitals
    EXPECT_FALSE(render(face, 0x110000, picture));
    ASSERT_TRUE(render(face, 0x1D538, picture));   // double-struck A, a tall glyph on the baseline
    EXPECT_GT(picture.shape.width, 5);
    EXPECT_EQ(picture.bottom(), set.ascent);
  }

  // DejaVu Sans's 'kern' table has "AV" and "To", nothing between two 'l',
  // at 32 pixels. The face is given back for the suite's own pairs.
  void expectKerningPairs(pellucet::OutlineFace*& face) {
    pellucet::GlyphSet set;
    face = open(32, set);
    ASSERT_NE(face, nullptr);
    EXPECT_LT(pellucet::outlineKerning(face, U'A', U'V'), 0);
    EXPECT_GT(pellucet::outlineKerning(face, U'A', U'V'), -8);
    EXPECT_LT(pellucet::outlineKerning(face, U'T', U'o'), 0);
    EXPECT_EQ(pellucet::outlineKerning(face, U'l', U'l'), 0);
  }

  // Damaged data gives an empty font and a reason, never a crash: cut short
  // to each of `lengths`, with no tables listed, with 'glyf' moved far
  // away, or with its glyphs counted as none.
  void expectDamagedDataRefused(std::initializer_list<std::size_t> lengths) {
    const std::string by = renderer + ": ";
    for (std::size_t length : lengths) {
      SCOPED_TRACE(length);
      const std::vector<uint8_t> cut(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(length));
      expectRefused(cut, length < 12    ? by + "the font's table directory lies past the end of the data"
                         : length < 332 ? by + "the font's table directory (20 tables) does not fit in the data"
                                        : "runs past the end of the data (" + std::to_string(length) + " bytes)");
    }
    std::vector<uint8_t> broken = data;
    broken[4] = broken[5] = 0;
    expectRefused(broken, by + "the font's table directory lists no tables");
    broken = data;
    const std::size_t glyf = 12 + 16 * 10;
    ASSERT_EQ(std::memcmp(broken.data() + glyf, "glyf", 4), 0);
    broken[glyf + 8] = 0xFF;
    expectRefused(broken, by + "the font's 'glyf' table (bytes ");
    broken = data;
    const std::size_t maxp = tableAt(data, "maxp");
    ASSERT_NE(maxp, 0u);
    broken[maxp + 4] = broken[maxp + 5] = 0;
    expectRefused(broken, by + "the font has no glyphs");
  }

  // `rounds` fonts, each `fresh(round)` with four bytes changed at random
  // among `places` (seeded, so that a failure repeats): each either loads
  // and draws or is refused with a reason.
  void expectScramblesLoadOrAreRefused(int rounds, const Places& places,
                                       const std::function<std::vector<uint8_t>(int round)>& fresh) {
    std::mt19937 random(20240611);
    for (int round = 0; round < rounds; ++round) {
      std::vector<uint8_t> bytes = fresh(round);
      for (int change = 0; change < 4; ++change) {
        std::vector<std::size_t> where;
        for (const auto& [start, length] : places) where.push_back(start + random() % length);
        bytes[where[random() % where.size()]] = static_cast<uint8_t>(random());
      }
      const pellucet::LoadedFont font = pellucet::loadFont(bytes.data(), bytes.size(), 16);
      if (!font) {
        const std::string why = pellucet::lastFailure();
        EXPECT_TRUE(why.rfind(renderer + ": ", 0) == 0 || why == "not a PSF, BDF, TrueType or OpenType font") << why;
        continue;
      }
      for (char32_t code : {U'A', U'g', U' ', char32_t{0x1D538}}) font.covers(code);
    }
  }

  const char* path;
  const std::string renderer;  // how its refusals start, without the ": "
  std::vector<uint8_t> data;
  std::vector<pellucet::OutlineFace*> faces;
};

}  // namespace pel::test
