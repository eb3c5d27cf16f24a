// The bitmap font readers: PSF1, PSF2 and BDF fonts built byte by byte, read
// to the exact glyph bit, placement and code point; every kind of damage
// refused with its reason, and fonts cut short at every byte refused
// cleanly; the fonts through loadFont, from memory and from a file.
#include <gtest/gtest.h>

#include <pellucet/pellucet.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <initializer_list>
#include <string>
#include <vector>

#include "api/font_files.h"

namespace {

using Bytes = std::vector<uint8_t>;
using pellucet::GlyphSet;
using pellucet::GlyphShape;

void add16(Bytes& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}

void add32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void addUtf8(Bytes& b, char32_t c) {
  if (c < 0x80) {
    b.push_back(static_cast<uint8_t>(c));
  } else if (c < 0x800) {
    b.insert(b.end(), {static_cast<uint8_t>(0xC0 | c >> 6), static_cast<uint8_t>(0x80 | (c & 0x3F))});
  } else if (c < 0x10000) {
    b.insert(b.end(), {static_cast<uint8_t>(0xE0 | c >> 12), static_cast<uint8_t>(0x80 | (c >> 6 & 0x3F)),
                       static_cast<uint8_t>(0x80 | (c & 0x3F))});
  } else {
    b.insert(b.end(), {static_cast<uint8_t>(0xF0 | c >> 18), static_cast<uint8_t>(0x80 | (c >> 12 & 0x3F)),
                       static_cast<uint8_t>(0x80 | (c >> 6 & 0x3F)), static_cast<uint8_t>(0x80 | (c & 0x3F))});
  }
}

// A PSF2 header; the fields start out describing `count` glyphs of
// width x height with a Unicode table.
struct Psf2 {
  uint32_t version = 0, headerSize = 32, flags = 1, count, charSize, height, width;
  Psf2(uint32_t glyphs, uint32_t w, uint32_t h)
      : count(glyphs), charSize((w + 7) / 8 * h), height(h), width(w) {}
  Bytes header() const {
    Bytes b = {0x72, 0xB5, 0x4A, 0x86};
    for (uint32_t v : {version, headerSize, flags, count, charSize, height, width}) add32(b, v);
    b.resize(headerSize > 32 && headerSize < 4096 ? headerSize : 32, 0xEE);  // a longer header's unknown rest
    return b;
  }
};

// Glyph bytes that differ from glyph to glyph and row to row.
Bytes glyphBytes(uint32_t count, uint32_t charSize) {
  Bytes b;
  for (uint32_t g = 0; g < count; ++g) {
    for (uint32_t i = 0; i < charSize; ++i) b.push_back(static_cast<uint8_t>(g * 7 + i * 13 + 1));
  }
  return b;
}

Bytes psf1(uint8_t mode, uint8_t height, const Bytes& table) {
  Bytes b = {0x36, 0x04, mode, height};
  const Bytes glyphs = glyphBytes(mode & 1 ? 512 : 256, height);
  b.insert(b.end(), glyphs.begin(), glyphs.end());
  b.insert(b.end(), table.begin(), table.end());
  return b;
}

struct Read {
  bool ok;
  GlyphSet font;
  std::string why;
};

Read psf(const Bytes& b) {
  Read r;
  r.ok = pellucet::readPsf(b.data(), b.size(), r.font, r.why);
  return r;
}

Read bdf(const std::string& text) {
  Read r;
  r.ok = pellucet::readBdf(reinterpret_cast<const uint8_t*>(text.data()), text.size(), r.font, r.why);
  return r;
}

// The glyph a code maps to, or null.
const GlyphShape* glyphOf(const GlyphSet& font, char32_t code) {
  const auto found = font.codes.find(code);
  return found == font.codes.end() ? nullptr : &font.glyphs.at(found->second);
}

Bytes pictureOf(const GlyphSet& font, const GlyphShape& g) {
  const std::size_t bytes = static_cast<std::size_t>(g.pitch) * g.height;
  EXPECT_LE(g.offset + bytes, font.bits.size());
  if (g.offset + bytes > font.bits.size()) return {};
  return Bytes(font.bits.begin() + g.offset, font.bits.begin() + g.offset + bytes);
}

// Every cut of `whole` short of its end is refused with a reason starting
// `prefix`, and leaves the font given untouched.
template <typename Reader>
void everyCutFails(const Bytes& whole, std::size_t from, Reader reader, const char* prefix) {
  for (std::size_t size = from; size < whole.size(); ++size) {
    // A copy of exactly the cut's size, so the sanitizers catch a read past it.
    const Bytes cut(whole.begin(), whole.begin() + size);
    GlyphSet font;
    font.height = 99;
    std::string why;
    ASSERT_FALSE(reader(cut.empty() ? nullptr : cut.data(), cut.size(), font, why)) << "cut at " << size;
    ASSERT_EQ(why.rfind(prefix, 0), 0u) << "cut at " << size << ": " << why;
    ASSERT_EQ(font.height, 99);
    ASSERT_TRUE(font.glyphs.empty() && font.codes.empty() && font.bits.empty());
  }
}

TEST(PsfFonts, Version2GlyphsPlacementAndUnicodeTable) {
  // Three glyphs of 10 x 4: two bytes a row, the last with its 6 spare bits.
  Psf2 h(3, 10, 4);
  h.headerSize = 36;
  Bytes b = h.header();
  const Bytes glyphs = glyphBytes(3, 8);
  b.insert(b.end(), glyphs.begin(), glyphs.end());
  // Glyph 0: 'A'. Glyph 1: é and 中, then the sequence e + U+0301. Glyph 2:
  // 😀, then 'A' again (glyph 0 keeps it) and a second sequence.
  addUtf8(b, 'A');
  b.push_back(0xFF);
  addUtf8(b, 0xE9);
  addUtf8(b, 0x4E2D);
  b.push_back(0xFE);
  addUtf8(b, 'e');
  addUtf8(b, 0x301);
  b.push_back(0xFF);
  addUtf8(b, 0x1F600);
  addUtf8(b, 'A');
  b.insert(b.end(), {0xFE, 'x', 0xFE, 'y', 0xFF});
  const Read r = psf(b);
  ASSERT_TRUE(r.ok) << r.why;
  EXPECT_EQ(r.font.height, 4);
  EXPECT_EQ(r.font.ascent, 3);
  EXPECT_FALSE(r.font.coverage);
  ASSERT_EQ(r.font.glyphs.size(), 3u);
  EXPECT_EQ(r.font.bits, glyphs);  // stored once, as they are
  for (uint32_t i = 0; i < 3; ++i) {
    const GlyphShape& g = r.font.glyphs[i];
    EXPECT_EQ(g.width, 10);
    EXPECT_EQ(g.height, 4);
    EXPECT_EQ(g.pitch, 2);
    EXPECT_EQ(g.left, 0);
    EXPECT_EQ(g.top, 0);
    EXPECT_EQ(g.advance, 10);
    EXPECT_EQ(g.offset, i * 8u);
  }
  EXPECT_EQ(pictureOf(r.font, r.font.glyphs[1]), Bytes(glyphs.begin() + 8, glyphs.begin() + 16));
  const std::unordered_map<char32_t, uint32_t> codes = {{'A', 0}, {0xE9, 1}, {0x4E2D, 1}, {0x1F600, 2}};
  EXPECT_EQ(r.font.codes, codes);

  // The ascent leaves a quarter of the height (rounded down) below the baseline.
  for (const auto& [height, ascent] : {std::pair{16, 12}, {14, 11}, {8, 6}, {1, 1}, {3, 3}, {256, 192}}) {
    Psf2 two(2, 8, height);
    two.flags = 0;
    Bytes font = two.header();
    font.resize(font.size() + 2 * height);
    const Read f = psf(font);
    ASSERT_TRUE(f.ok) << f.why;
    EXPECT_EQ(f.font.ascent, ascent) << "height " << height;
  }
}

TEST(PsfFonts, Version1GlyphsAndUnicodeTable) {
  // 256 glyphs of 8 x 3. Glyph 0: 'A'; glyph 1: ☺, then the sequence e +
  // U+0301; glyph 2: 'A' again (glyph 0 keeps it) and 'B'; glyph 255: €;
  // the rest nothing.
  Bytes table;
  for (uint32_t g = 0; g < 256; ++g) {
    if (g == 0) add16(table, 'A');
    if (g == 1) {
      for (uint32_t v : {0x263Au, 0xFFFEu, 0x65u, 0x301u}) add16(table, v);
    }
    if (g == 2) add16(table, 'A'), add16(table, 'B');
    if (g == 255) add16(table, 0x20AC);
    add16(table, 0xFFFF);
  }
  const Bytes b = psf1(0x06, 3, table);
  const Read r = psf(b);
  ASSERT_TRUE(r.ok) << r.why;
  EXPECT_EQ(r.font.height, 3);
  EXPECT_EQ(r.font.ascent, 3);
  ASSERT_EQ(r.font.glyphs.size(), 256u);
  EXPECT_EQ(r.font.bits, glyphBytes(256, 3));
  const GlyphShape& last = r.font.glyphs[255];
  EXPECT_EQ(last.width, 8);
  EXPECT_EQ(last.height, 3);
  EXPECT_EQ(last.pitch, 1);
  EXPECT_EQ(last.advance, 8);
  EXPECT_EQ(last.offset, 255u * 3);
  const std::unordered_map<char32_t, uint32_t> codes = {{'A', 0}, {0x263A, 1}, {'B', 2}, {0x20AC, 255}};
  EXPECT_EQ(r.font.codes, codes);

  // Mode 0x01: 512 glyphs; 0x04 alone also says there is a table.
  Bytes wide;
  for (uint32_t g = 0; g < 512; ++g) {
    if (g == 300) add16(wide, 0x0416);
    add16(wide, 0xFFFF);
  }
  const Read w = psf(psf1(0x05, 16, wide));
  ASSERT_TRUE(w.ok) << w.why;
  EXPECT_EQ(w.font.glyphs.size(), 512u);
  EXPECT_EQ(w.font.ascent, 12);
  EXPECT_EQ(w.font.codes, (std::unordered_map<char32_t, uint32_t>{{0x0416, 300}}));
  const Bytes upTo300 = glyphBytes(301, 16);
  ASSERT_NE(glyphOf(w.font, 0x0416), nullptr);
  EXPECT_EQ(pictureOf(w.font, *glyphOf(w.font, 0x0416)), Bytes(upTo300.end() - 16, upTo300.end()));
}

TEST(PsfFonts, WithoutTableCodePage437OrGlyphNumbers) {
  for (const Bytes& b : {psf1(0x00, 8, {}), [] {
         Psf2 h(256, 8, 8);
         h.flags = 0;
         Bytes font = h.header();
         const Bytes glyphs = glyphBytes(256, 8);
         font.insert(font.end(), glyphs.begin(), glyphs.end());
         return font;
       }()}) {
    const Read r = psf(b);
    ASSERT_TRUE(r.ok) << r.why;
    // Glyph 0 is a blank with no character; the other 255 each have one.
    EXPECT_EQ(r.font.codes.size(), 255u);
    EXPECT_EQ(r.font.codes.count(0), 0u);
    const std::pair<char32_t, uint32_t> known[] = {
        {0x263A, 0x01}, {0x263B, 0x02}, {0x2665, 0x03}, {0x263C, 0x0F}, {0x25BA, 0x10}, {0x00B6, 0x14},
        {0x25BC, 0x1F}, {' ', 0x20},    {'A', 0x41},    {'~', 0x7E},    {0x2302, 0x7F}, {0x00C7, 0x80},
        {0x00E9, 0x82}, {0x2591, 0xB0}, {0x2588, 0xDB}, {0x00DF, 0xE1}, {0x25A0, 0xFE}, {0x00A0, 0xFF},
    };
    for (const auto& [code, glyph] : known) {
      const auto found = r.font.codes.find(code);
      ASSERT_NE(found, r.font.codes.end()) << std::hex << uint32_t{code};
      EXPECT_EQ(found->second, glyph) << std::hex << uint32_t{code};
    }
  }
  // More than 256 glyphs without a table: glyph i shows code point i.
  for (const Bytes& b : {psf1(0x01, 8, {}), [] {
         Psf2 h(300, 9, 2);
         h.flags = 0;
         Bytes font = h.header();
         font.resize(font.size() + 300 * 4);
         return font;
       }()}) {
    const Read r = psf(b);
    ASSERT_TRUE(r.ok) << r.why;
    EXPECT_EQ(r.font.codes.size(), r.font.glyphs.size());
    for (uint32_t i = 0; i < r.font.glyphs.size(); ++i) ASSERT_EQ(r.font.codes.at(i), i);
  }
}

TEST(PsfFonts, DamageRefusedWithItsReason) {
  const auto whyOf = [](const Bytes& b) {
    const Read r = psf(b);
    EXPECT_FALSE(r.ok);
    return r.why;
  };
  // A good PSF2 of two 8 x 2 glyphs ('A', 'B'), changed a field at a time.
  const auto font2 = [](Psf2 h, Bytes table = {'A', 0xFF, 'B', 0xFF}) {
    Bytes b = h.header();
    b.resize(b.size() + 4, 0x81);
    b.insert(b.end(), table.begin(), table.end());
    return b;
  };
  ASSERT_TRUE(psf(font2(Psf2(2, 8, 2))).ok);
  Psf2 h(2, 8, 2);

  EXPECT_EQ(whyOf({0x72, 0xB5, 0x4A, 0x86, 0, 0}),
            "PSF: the data is too short for a PSF2 header (32 bytes needed, 6 there)");
  h = Psf2(2, 8, 2), h.version = 1;
  EXPECT_EQ(whyOf(font2(h)), "PSF: PSF2 version 1 (only version 0 is known)");
  h = Psf2(2, 8, 2), h.headerSize = 28;
  EXPECT_EQ(whyOf(font2(h)), "PSF: a PSF2 header of 28 bytes (at least 32)");
  h = Psf2(2, 8, 2), h.headerSize = 0xFFFFFFF0;
  EXPECT_EQ(whyOf(font2(h)), "PSF: the PSF2 header of 4294967280 bytes runs past the end of the data (40 bytes)");
  h = Psf2(2, 8, 2), h.count = 0;
  EXPECT_EQ(whyOf(font2(h)), "PSF: the font has no glyphs");
  h = Psf2(2, 8, 2), h.count = 65537;
  EXPECT_EQ(whyOf(font2(h)), "PSF: 65537 glyphs (at most 65536)");
  h = Psf2(2, 8, 2), h.count = 0xFFFFFFFF;
  EXPECT_EQ(whyOf(font2(h)), "PSF: 4294967295 glyphs (at most 65536)");
  h = Psf2(2, 8, 2), h.width = 0;
  EXPECT_EQ(whyOf(font2(h)), "PSF: glyphs of 0 x 2 pixels (1 to 256 a side)");
  h = Psf2(2, 8, 2), h.height = 0;
  EXPECT_EQ(whyOf(font2(h)), "PSF: glyphs of 8 x 0 pixels (1 to 256 a side)");
  h = Psf2(2, 8, 2), h.width = 257;
  EXPECT_EQ(whyOf(font2(h)), "PSF: glyphs of 257 x 2 pixels (1 to 256 a side)");
  h = Psf2(2, 8, 2), h.height = 0x80000001;
  EXPECT_EQ(whyOf(font2(h)), "PSF: glyphs of 8 x 2147483649 pixels (1 to 256 a side)");
  h = Psf2(2, 8, 2), h.charSize = 3;
  EXPECT_EQ(whyOf(font2(h)), "PSF: a glyph of 8 x 2 pixels takes 2 bytes, the header says 3");
  h = Psf2(1, 8, 2), h.flags = 0;
  EXPECT_EQ(whyOf(font2(h, {})),
            "PSF: the font's one glyph, without a Unicode table, is code page 437's blank 0 and shows no character");
  h = Psf2(2, 8, 2), h.flags = 0;
  EXPECT_TRUE(psf(font2(h, {})).ok);  // glyph 1 is ☺
  h = Psf2(3, 8, 2), h.flags = 0;
  EXPECT_EQ(whyOf(font2(h, {})), "PSF: the glyphs run past the end of the data (6 bytes expected, 4 there)");
  h = Psf2(256, 256, 256);
  EXPECT_EQ(whyOf(font2(h)), "PSF: the glyphs run past the end of the data (2097152 bytes expected, 8 there)");

  // The Unicode table.
  h = Psf2(2, 8, 2);
  EXPECT_EQ(whyOf(font2(h, {'A', 0xFF})), "PSF: the Unicode table ends after the entries of 1 of 2 glyphs");
  EXPECT_EQ(whyOf(font2(h, {'A', 0xFF, 'B'})), "PSF: the Unicode table ends inside glyph 1's entry");
  EXPECT_EQ(whyOf(font2(h, {'A', 0xFF, 0xC3})), "PSF: the Unicode table ends inside glyph 1's entry");
  EXPECT_EQ(whyOf(font2(h, {'A', 0xFF, 0xFE, 'B'})), "PSF: the Unicode table ends inside glyph 1's entry");
  const std::pair<Bytes, const char*> badUtf8[] = {
      {{0x80}, "0x80"},              // a lone continuation byte
      {{0xC0, 0x81}, "0xC0"},        // an overlong 'A'
      {{0xE0, 0x80, 0xBF}, "0xE0"},  // an overlong '?'
      {{0xED, 0xA0, 0x80}, "0xED"},  // U+D800, half of a UTF-16 pair
      {{0xF4, 0x90, 0x80, 0x80}, "0xF4"},  // past U+10FFFF
      {{0xF5, 0x80, 0x80, 0x80}, "0xF5"},
      {{0xC3, 'A'}, "0xC3"},         // a continuation missing
      {{0xE4, 0xB8, 0xFF}, "0xE4"},  // the entry's end inside a character
  };
  for (const auto& [character, lead] : badUtf8) {
    Bytes table = {'A', 0xFF, 'C'};
    table.insert(table.end(), character.begin(), character.end());
    table.insert(table.end(), {0xFF});
    EXPECT_EQ(whyOf(font2(h, table)), std::string("PSF: the Unicode table has bad UTF-8 in glyph 1's entry (the "
                                                  "character at offset 39, starting ") + lead + ")");
  }
  EXPECT_EQ(whyOf(font2(h, {0xFE, 'e', 0xCC, 0x81, 0xFF, 0xFF})),
            "PSF: the Unicode table maps no character to a glyph");

  // PSF1.
  EXPECT_EQ(whyOf({0x36, 0x04, 0x00}), "PSF: the data is too short for a PSF1 header (4 bytes needed, 3 there)");
  EXPECT_EQ(whyOf(psf1(0x08, 8, {})),
            "PSF: PSF1 mode 0x08 has bits other than 0x01 (512 glyphs), 0x02 and 0x04 (a Unicode table)");
  EXPECT_EQ(whyOf({0x36, 0x04, 0x00, 0x00}), "PSF: PSF1 glyphs 0 pixels high");
  Bytes cut = psf1(0x01, 16, {});
  cut.pop_back();
  EXPECT_EQ(whyOf(cut), "PSF: the glyphs run past the end of the data (8192 bytes expected, 8191 there)");
  Bytes halves;
  add16(halves, 'A');
  add16(halves, 0xFFFF);
  add16(halves, 0xDC00);
  EXPECT_EQ(whyOf(psf1(0x02, 1, halves)), "PSF: the Unicode table names 0xDC00, half of a UTF-16 pair, for glyph 1");
  EXPECT_EQ(whyOf(psf1(0x02, 1, {0x41, 0x00, 0xFF, 0xFF, 0x42})), "PSF: the Unicode table ends inside glyph 1's entry");
  EXPECT_EQ(whyOf(psf1(0x02, 1, {0x41, 0x00, 0xFF, 0xFF})),
            "PSF: the Unicode table ends after the entries of 1 of 256 glyphs");
  Bytes onlySequences;
  for (int g = 0; g < 256; ++g) {
    for (uint32_t v : {0xFFFEu, 0x65u, 0x301u, 0xFFFFu}) add16(onlySequences, v);
  }
  EXPECT_EQ(whyOf(psf1(0x04, 1, onlySequences)), "PSF: the Unicode table maps no character to a glyph");

  EXPECT_EQ(whyOf({'S', 'T', 'A', 'R'}),
            "PSF: the data starts with neither PSF1's magic (36 04) nor PSF2's (72 B5 4A 86)");
  EXPECT_EQ(whyOf({0x36}), "PSF: the data starts with neither PSF1's magic (36 04) nor PSF2's (72 B5 4A 86)");
  EXPECT_EQ(whyOf({}), "PSF: the data starts with neither PSF1's magic (36 04) nor PSF2's (72 B5 4A 86)");
}

TEST(PsfFonts, EveryCutShortFailsCleanly) {
  // Four glyphs: 'A'; é and a sequence; 😀; nothing.
  Bytes b = Psf2(4, 12, 3).header();
  const Bytes glyphs = glyphBytes(4, 6);
  b.insert(b.end(), glyphs.begin(), glyphs.end());
  for (char32_t c : {U'A', U'é', U'中', U'😀'}) addUtf8(b, c), b.push_back(c == U'é' ? 0xFE : 0xFF);
  b.push_back(0xFF);
  ASSERT_TRUE(psf(b).ok) << psf(b).why;
  everyCutFails(b, 0, pellucet::readPsf, "PSF: ");

  Bytes table;
  for (uint32_t g = 0; g < 256; ++g) add16(table, g == 0 ? 0x263A : 0x100 + g), add16(table, 0xFFFF);
  const Bytes one = psf1(0x02, 1, table);
  ASSERT_TRUE(psf(one).ok);
  everyCutFails(one, 0, pellucet::readPsf, "PSF: ");
}

// A BDF font as lines, so a test can change one and know its number.
std::vector<std::string> bdfLines() {
  return {
      "STARTFONT 2.1",                                                         // 1
      "COMMENT made by the test",                                              // 2
      "FONT -test-fixed-medium-r-normal--10-100-75-75-c-80-iso10646-1",        // 3
      "SIZE 10 75 75",                                                         // 4
      "FONTBOUNDINGBOX 10 10 -1 -2",                                           // 5
      "STARTPROPERTIES 5",                                                     // 6
      "FONT_ASCENT 8",                                                         // 7
      "FONT_DESCENT 3",                                                        // 8
      "COMMENT not a property",                                                // 9
      "CHARSET_REGISTRY \"ISO10646\"",                                         // 10
      "CHARSET_ENCODING \"1\"",                                                // 11
      "DEFAULT_CHAR 65",                                                       // 12
      "ENDPROPERTIES",                                                         // 13
      "CHARS 7",                                                               // 14
      "STARTCHAR A",                                                           // 15
      "ENCODING 65",                                                           // 16
      "SWIDTH 700 0",                                                          // 17
      "DWIDTH 7 0",                                                            // 18
      "BBX 5 7 1 0",                                                           // 19
      "BITMAP",                                                                // 20
      "20",                                                                    // 21
      "5000",                                                                  // 22 more than 5 pixels need
      "88",                                                                    // 23
      "F8",                                                                    // 24
      "FF",                                                                    // 25 the spare bits cleared
      "88",                                                                    // 26
      "8b",                                                                    // 27
      "ENDCHAR",                                                               // 28
      "STARTCHAR uni4E2D",                                                     // 29
      "ENCODING 20013",                                                        // 30
      "DWIDTH 11 0",                                                           // 31
      "BBX 10 3 0 -2",                                                         // 32
      "BITMAP",                                                                // 33
      "0C00",                                                                  // 34
      "FFC0",                                                                  // 35
      "0FFF",                                                                  // 36
      "ENDCHAR",                                                               // 37
      "STARTCHAR space",                                                       // 38
      "ENCODING 32",                                                           // 39
      "DWIDTH 4 0",                                                            // 40
      "BBX 0 0 0 0",                                                           // 41
      "BITMAP",                                                                // 42
      "ENDCHAR",                                                               // 43
      "STARTCHAR unnamed",                                                     // 44
      "ENCODING -1",                                                           // 45
      "DWIDTH 8 0",                                                            // 46
      "BBX 1 1 0 0",                                                           // 47
      "BITMAP",                                                                // 48
      "80",                                                                    // 49
      "ENDCHAR",                                                               // 50
      "STARTCHAR private",                                                     // 51
      "ENCODING -1 200",                                                       // 52
      "DWIDTH 8 0",                                                            // 53
      "BBX 2 1 0 0",                                                           // 54
      "BITMAP",                                                                // 55
      "C0",                                                                    // 56
      "ENDCHAR",                                                               // 57
      "COMMENT between glyphs",                                                // 58
      "STARTCHAR A.again",                                                     // 59
      "ENCODING 65",                                                           // 60
      "DWIDTH 3 0",                                                            // 61
      "BBX 1 1 0 0",                                                           // 62
      "BITMAP",                                                                // 63
      "80",                                                                    // 64
      "ENDCHAR",                                                               // 65
      "STARTCHAR bottom",                                                      // 66
      "ENCODING 95",                                                           // 67
      "DWIDTH 8 0",                                                            // 68
      "BBX 8 1 -1 -3",                                                         // 69
      "BITMAP",                                                                // 70
      "A5",                                                                    // 71
      "ENDCHAR",                                                               // 72
      "ENDFONT",                                                               // 73
  };
}

std::string joined(const std::vector<std::string>& lines, const char* end = "\n") {
  std::string text;
  for (const std::string& line : lines) text += line + end;
  return text;
}

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

TEST(BdfFonts, GlyphsPlacementAndCodes) {
  // The last glyph is the 7th: the CHARS count has to match.
  std::vector<std::string> lines = bdfLines();
  for (const char* end : {"\n", "\r\n"}) {
    const Read r = bdf(joined(lines, end));
    ASSERT_TRUE(r.ok) << r.why;
    EXPECT_EQ(r.font.height, 11);  // FONT_ASCENT + FONT_DESCENT
    EXPECT_EQ(r.font.ascent, 8);
    EXPECT_FALSE(r.font.coverage);
    // Only the glyphs with a code are kept, the first of two for 'A'.
    EXPECT_EQ(r.font.glyphs.size(), 4u);
    EXPECT_EQ(r.font.codes.size(), 4u);

    const GlyphShape* a = glyphOf(r.font, 'A');
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->width, 5);
    EXPECT_EQ(a->height, 7);
    EXPECT_EQ(a->pitch, 1);
    EXPECT_EQ(a->left, 1);
    EXPECT_EQ(a->top, 1);  // 8 - (0 + 7)
    EXPECT_EQ(a->advance, 7);
    EXPECT_EQ(pictureOf(r.font, *a), (Bytes{0x20, 0x50, 0x88, 0xF8, 0xF8, 0x88, 0x88}));

    const GlyphShape* han = glyphOf(r.font, 0x4E2D);
    ASSERT_NE(han, nullptr);
    EXPECT_EQ(han->width, 10);
    EXPECT_EQ(han->height, 3);
    EXPECT_EQ(han->pitch, 2);
    EXPECT_EQ(han->left, 0);
    EXPECT_EQ(han->top, 7);  // 8 - (-2 + 3)
    EXPECT_EQ(han->advance, 11);
    EXPECT_EQ(pictureOf(r.font, *han), (Bytes{0x0C, 0x00, 0xFF, 0xC0, 0x0F, 0xC0}));

    const GlyphShape* space = glyphOf(r.font, ' ');
    ASSERT_NE(space, nullptr);
    EXPECT_EQ(space->width, 0);
    EXPECT_EQ(space->height, 0);
    EXPECT_EQ(space->advance, 4);

    const GlyphShape* low = glyphOf(r.font, '_');
    ASSERT_NE(low, nullptr);
    EXPECT_EQ(low->left, -1);
    EXPECT_EQ(low->top, 10);  // 8 - (-3 + 1): the bottom row of the line
    EXPECT_EQ(pictureOf(r.font, *low), Bytes{0xA5});
    // Nothing but the kept pictures is stored.
    EXPECT_EQ(r.font.bits.size(), 7u + 6 + 1);
  }

  // Without FONT_ASCENT and FONT_DESCENT the font's box places the line: 10
  // high, the baseline 2 above its bottom.
  lines.erase(lines.begin() + 6, lines.begin() + 8);
  lines[5] = "STARTPROPERTIES 3";
  const Read boxed = bdf(joined(lines));
  ASSERT_TRUE(boxed.ok) << boxed.why;
  EXPECT_EQ(boxed.font.height, 10);
  EXPECT_EQ(boxed.font.ascent, 8);
  // With no properties at all, and DWIDTH given once for the whole font.
  std::vector<std::string> bare = {"STARTFONT 2.1", "FONTBOUNDINGBOX 4 6 0 -1", "DWIDTH 5 0", "CHARS 1",
                                   "STARTCHAR x", "ENCODING 120", "BBX 3 2 0 0", "BITMAP", "A0", "40", "ENDCHAR",
                                   "ENDFONT"};
  const Read plain = bdf(joined(bare));
  ASSERT_TRUE(plain.ok) << plain.why;
  EXPECT_EQ(plain.font.height, 6);
  EXPECT_EQ(plain.font.ascent, 5);
  ASSERT_NE(glyphOf(plain.font, 'x'), nullptr);
  EXPECT_EQ(glyphOf(plain.font, 'x')->advance, 5);
  EXPECT_EQ(glyphOf(plain.font, 'x')->top, 3);
  EXPECT_EQ(pictureOf(plain.font, *glyphOf(plain.font, 'x')), (Bytes{0xA0, 0x40}));
  // The last line may end without a line end.
  std::string unended = joined(bare);
  unended.pop_back();
  EXPECT_TRUE(bdf(unended).ok);
}

TEST(BdfFonts, CharacterSets) {
  // Glyphs for 'A', é (0xE9) and Ā (0x100), in a font of the given set.
  const auto font = [](const char* registry, const char* encoding) {
    std::vector<std::string> lines = {"STARTFONT 2.1", "FONTBOUNDINGBOX 1 1 0 0", "STARTPROPERTIES 2",
                                      std::string("CHARSET_REGISTRY \"") + registry + "\"",
                                      std::string("CHARSET_ENCODING \"") + encoding + "\"", "ENDPROPERTIES",
                                      "CHARS 3"};
    for (int code : {0x41, 0xE9, 0x100}) {
      for (const std::string& line : std::vector<std::string>{"STARTCHAR c", "ENCODING " + std::to_string(code),
                                                              "DWIDTH 1 0", "BBX 1 1 0 0", "BITMAP", "80", "ENDCHAR"}) {
        lines.push_back(line);
      }
    }
    lines.push_back("ENDFONT");
    return bdf(joined(lines));
  };
  const auto codes = [](const Read& r) {
    std::vector<char32_t> found;
    for (char32_t c : {U'A', U'\u00E9', U'\u0100'}) {
      if (r.font.codes.count(c)) found.push_back(c);
    }
    return found;
  };
  EXPECT_EQ(codes(font("ISO10646", "1")), (std::vector<char32_t>{U'A', U'\u00E9', U'\u0100'}));
  EXPECT_EQ(codes(font("iso10646", "1")), (std::vector<char32_t>{U'A', U'\u00E9', U'\u0100'}));
  // Latin-1 is Unicode's first 256 codes; the other ISO 8859 parts and other
  // sets share only ASCII with it.
  EXPECT_EQ(codes(font("ISO8859", "1")), (std::vector<char32_t>{U'A', U'\u00E9'}));
  EXPECT_EQ(codes(font("ISO8859", "5")), (std::vector<char32_t>{U'A'}));
  EXPECT_EQ(codes(font("KOI8", "R")), (std::vector<char32_t>{U'A'}));
  const Read own = font("FontSpecific", "0");
  EXPECT_FALSE(own.ok);
  EXPECT_EQ(own.why, "BDF: the font's codes are its own (CHARSET_REGISTRY \"FontSpecific\", CHARSET_ENCODING \"0\"), "
                     "not Unicode's");
  const Read adobe = font("Adobe", "fontspecific");
  EXPECT_FALSE(adobe.ok);
  EXPECT_EQ(adobe.why, "BDF: the font's codes are its own (CHARSET_REGISTRY \"Adobe\", CHARSET_ENCODING "
                       "\"fontspecific\"), not Unicode's");

  std::string jis = joined({"STARTFONT 2.1", "FONTBOUNDINGBOX 1 1 0 0", "STARTPROPERTIES 1",
                            "CHARSET_REGISTRY \"JISX0208.1983\"", "ENDPROPERTIES", "CHARS 1", "STARTCHAR a",
                            "ENCODING 8481", "DWIDTH 1 0", "BBX 1 1 0 0", "BITMAP", "80", "ENDCHAR", "ENDFONT"});
  const Read japanese = bdf(jis);
  EXPECT_FALSE(japanese.ok);
  EXPECT_EQ(japanese.why, "BDF: no glyph has a code below 128, the only ones read in CHARSET_REGISTRY "
                          "\"JISX0208.1983\" CHARSET_ENCODING \"\"");
}

TEST(BdfFonts, DamageRefusedWithItsReason) {
  const std::vector<std::string> good = bdfLines();
  ASSERT_TRUE(bdf(joined(good)).ok);
  // The reason for the font with line `number` (from 1) replaced.
  const auto changed = [&](std::size_t number, const std::string& line) {
    std::vector<std::string> lines = good;
    lines.at(number - 1) = line;
    const Read r = bdf(joined(lines));
    EXPECT_FALSE(r.ok) << "line " << number << " as " << line;
    return r.why;
  };
  const auto without = [&](std::size_t first, std::size_t last) {
    std::vector<std::string> lines = good;
    lines.erase(lines.begin() + (first - 1), lines.begin() + last);
    const Read r = bdf(joined(lines));
    EXPECT_FALSE(r.ok);
    return r.why;
  };

  EXPECT_EQ(changed(1, "STARTFONTS 2.1"), "BDF: the data does not start with STARTFONT");
  EXPECT_EQ(bdf("").why, "BDF: the data does not start with STARTFONT");
  // Numbers.
  EXPECT_EQ(changed(5, "FONTBOUNDINGBOX 10 10 -1"), "BDF: line 5: FONTBOUNDINGBOX needs 4 numbers, not \"10 10 -1\"");
  EXPECT_EQ(changed(5, "FONTBOUNDINGBOX 10 10 -1 -2 0"),
            "BDF: line 5: FONTBOUNDINGBOX needs 4 numbers, not \"10 10 -1 -2 0\"");
  EXPECT_EQ(changed(5, "FONTBOUNDINGBOX 10 1O -1 -2"), "BDF: line 5: FONTBOUNDINGBOX's \"1O\" is not a whole number");
  EXPECT_EQ(changed(5, "FONTBOUNDINGBOX 10 10 - -2"), "BDF: line 5: FONTBOUNDINGBOX's \"-\" is not a whole number");
  EXPECT_EQ(changed(5, "FONTBOUNDINGBOX 10 10 -2147483649 -2"),
            "BDF: line 5: FONTBOUNDINGBOX's \"-2147483649\" is too large a number");
  EXPECT_EQ(changed(5, "FONTBOUNDINGBOX 99999999999999999999 10 -1 -2"),
            "BDF: line 5: FONTBOUNDINGBOX's \"99999999999999999999\" is too large a number");
  EXPECT_EQ(changed(5, "FONTBOUNDINGBOX -10 10 -1 -2"),
            "BDF: line 5: a FONTBOUNDINGBOX of -10 x 10 pixels (0 to 256 a side)");
  EXPECT_EQ(changed(19, "BBX 5 257 1 0"), "BDF: line 19: a BBX of 5 x 257 pixels (0 to 256 a side)");
  EXPECT_EQ(changed(19, "BBX 5 -7 1 0"), "BDF: line 19: a BBX of 5 x -7 pixels (0 to 256 a side)");
  EXPECT_EQ(changed(19, "BBX 5 7 1 2147483647"),
            "BDF: line 19: BBX offsets of 1, 2147483647 (at most 1024 either way)");
  EXPECT_EQ(changed(19, "BBX 5 7 -1025 0"), "BDF: line 19: BBX offsets of -1025, 0 (at most 1024 either way)");
  EXPECT_EQ(changed(18, "DWIDTH -7 0"), "BDF: line 18: a DWIDTH of -7 (0 to 1024)");
  EXPECT_EQ(changed(18, "DWIDTH 7"), "BDF: line 18: DWIDTH needs 2 numbers, not \"7\"");
  // The line's placement.
  EXPECT_EQ(changed(7, "FONT_ASCENT -1"), "BDF: line 7: a FONT_ASCENT of -1 (0 to 1024)");
  EXPECT_EQ(changed(8, "FONT_DESCENT 1025"), "BDF: line 8: a FONT_DESCENT of 1025 (0 to 1024)");
  EXPECT_EQ(changed(8, "FONT_DESCENT three"), "BDF: line 8: FONT_DESCENT's \"three\" is not a whole number");
  {
    std::vector<std::string> lines = good;
    lines[6] = "FONT_ASCENT 0";
    lines[7] = "FONT_DESCENT 0";
    EXPECT_EQ(bdf(joined(lines)).why, "BDF: lines 0 pixels high (the ascent and descent are both 0)");
    lines.erase(lines.begin() + 6, lines.begin() + 8);
    lines[5] = "STARTPROPERTIES 3";
    lines[4] = "FONTBOUNDINGBOX 10 10 0 -11";
    EXPECT_EQ(bdf(joined(lines)).why, "BDF: an ascent of -1 (from FONTBOUNDINGBOX 10 10 0 -11) (0 to 1024)");
    lines[4] = "FONTBOUNDINGBOX 10 10 0 1";
    EXPECT_EQ(bdf(joined(lines)).why, "BDF: a descent of -1 (from FONTBOUNDINGBOX 10 10 0 1) (0 to 1024)");
  }
  EXPECT_EQ(without(5, 5), "BDF: line 13: CHARS comes before any FONTBOUNDINGBOX");
  // Properties.
  EXPECT_EQ(changed(6, "STARTPROPERTIES 6"), "BDF: line 13: STARTPROPERTIES (line 6) says 6 properties, 5 follow");
  EXPECT_EQ(changed(6, "STARTPROPERTIES -1"), "BDF: line 6: STARTPROPERTIES of -1 properties");
  EXPECT_EQ(changed(13, "ENDPROPERTY"),
            "BDF: the data ends inside the properties from line 6 (no ENDPROPERTIES)");
  // Counts.
  EXPECT_EQ(changed(14, "CHARS 6"), "BDF: line 66: CHARS (line 14) says 6 glyphs, and another starts here");
  EXPECT_EQ(changed(14, "CHARS 8"), "BDF: line 73: CHARS (line 14) says 8 glyphs, 7 come before ENDFONT");
  EXPECT_EQ(changed(14, "CHARS 65537"), "BDF: line 14: CHARS of 65537 (0 to 65536)");
  EXPECT_EQ(changed(14, "CHARS -1"), "BDF: line 14: CHARS of -1 (0 to 65536)");
  EXPECT_EQ(without(14, 14), "BDF: line 14: STARTCHAR before CHARS");
  EXPECT_EQ(without(73, 73), "BDF: the data ends after 7 glyphs (CHARS (line 14) says 7; no ENDFONT)");
  EXPECT_EQ(without(14, 73), "BDF: the data ends before CHARS and its glyphs");
  EXPECT_EQ(changed(58, "ENCODING 3"), "BDF: line 58: \"ENCODING\" where STARTCHAR or ENDFONT belongs");
  // A glyph's fields.
  EXPECT_EQ(without(16, 16), "BDF: line 19: glyph \"A\" has no ENCODING");
  EXPECT_EQ(without(18, 18), "BDF: line 19: glyph \"A\" has no DWIDTH");
  EXPECT_EQ(without(19, 19), "BDF: line 19: glyph \"A\" has no BBX");
  EXPECT_EQ(changed(16, "ENCODING -2"), "BDF: line 16: glyph \"A\" has an ENCODING of -2");
  EXPECT_EQ(changed(16, "ENCODING 65 66"), "BDF: line 16: ENCODING has a second number after a code");
  EXPECT_EQ(changed(16, "ENCODING"), "BDF: line 16: ENCODING needs 1 number, not \"\"");
  EXPECT_EQ(without(20, 28), "BDF: line 20: STARTCHAR inside glyph \"A\" from line 15 before its BITMAP");
  // Its rows.
  EXPECT_EQ(changed(23, "XY"), "BDF: line 23: BITMAP row \"XY\" is not hexadecimal");
  EXPECT_EQ(changed(23, "0x88"), "BDF: line 23: BITMAP row \"0x88\" is not hexadecimal");
  EXPECT_EQ(changed(23, "88 88"), "BDF: line 23: BITMAP row \"88 88\" is not hexadecimal");
  EXPECT_EQ(changed(35, "FFC"), "BDF: line 35: BITMAP row \"FFC\" is shorter than the glyph's 10 pixels");
  EXPECT_EQ(changed(23, ""), "BDF: line 23: BITMAP row \"\" is shorter than the glyph's 5 pixels");
  EXPECT_EQ(without(23, 23), "BDF: line 27: glyph \"A\" has 6 BITMAP rows, its BBX 7");
  EXPECT_EQ(changed(28, "88"), "BDF: line 28: glyph \"A\" has more BITMAP rows than its BBX's 7");
  EXPECT_EQ(without(28, 28), "BDF: line 28: STARTCHAR inside glyph \"A\" from line 15 (no ENDCHAR)");
  EXPECT_EQ(without(72, 72), "BDF: line 72: ENDFONT inside glyph \"bottom\" from line 66 (no ENDCHAR)");
  EXPECT_EQ(without(72, 73), "BDF: the data ends inside glyph \"bottom\" from line 66 (no ENDCHAR)");
  EXPECT_EQ(without(70, 73), "BDF: the data ends inside glyph \"bottom\" from line 66 (no ENDCHAR)");
  // Nothing to draw with.
  EXPECT_EQ(bdf(joined({"STARTFONT 2.1", "FONTBOUNDINGBOX 1 1 0 0", "CHARS 0", "ENDFONT"})).why,
            "BDF: the font has no glyphs (CHARS 0)");
  EXPECT_EQ(bdf(joined({"STARTFONT 2.1", "FONTBOUNDINGBOX 1 1 0 0", "CHARS 2", "STARTCHAR a", "ENCODING -1",
                        "DWIDTH 1 0", "BBX 1 1 0 0", "BITMAP", "80", "ENDCHAR", "STARTCHAR b", "ENCODING 1114112",
                        "DWIDTH 1 0", "BBX 1 1 0 0", "BITMAP", "80", "ENDCHAR", "ENDFONT"}))
                .why,
            "BDF: no glyph has a Unicode code point (all 2 ENCODING -1 or out of range)");
  // Names and rows in reasons are cut short and shown printable.
  {
    std::vector<std::string> lines = good;
    lines[14] = std::string("STARTCHAR a\x01very-long-glyph-name-indeed");
    lines.erase(lines.begin() + 15);
    EXPECT_EQ(bdf(joined(lines)).why, "BDF: line 19: glyph \"a?very-long-glyph-name-i...\" has no ENCODING");
  }
}

TEST(BdfFonts, EveryCutShortFailsCleanly) {
  const std::string text = joined(bdfLines(), "\r\n");
  ASSERT_TRUE(bdf(text).ok);
  // Cut anywhere before ENDFONT's last letter, the font is incomplete.
  const Bytes whole = bytesOf(text.substr(0, text.size() - 2));
  everyCutFails(whole, 0, pellucet::readBdf, "BDF: ");
}

class LoadedFonts : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "pellucet-fonts-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder = pattern;
  }
  void TearDown() override {
    if (DIR* d = opendir(folder.c_str())) {
      while (dirent* e = readdir(d)) {
        if (e->d_name[0] != '.') std::remove((folder + "/" + e->d_name).c_str());
      }
      closedir(d);
    }
    rmdir(folder.c_str());
  }
  std::string folder;
};

TEST_F(LoadedFonts, FromMemoryAndFromFiles) {
  // PSF2 with a table: 'A' and ☺ only.
  Bytes psf2 = Psf2(2, 6, 9).header();
  psf2.resize(psf2.size() + 18, 0x30);
  psf2.insert(psf2.end(), {'A', 0xFF});
  addUtf8(psf2, 0x263A);
  psf2.push_back(0xFF);
  pellucet::LoadedFont font = pellucet::loadFont(psf2.data(), psf2.size());
  ASSERT_TRUE(font) << pellucet::lastFailure();
  EXPECT_EQ(font.height(), 9);
  EXPECT_TRUE(font.covers('A'));
  EXPECT_TRUE(font.covers(0x263A));
  EXPECT_FALSE(font.covers('B'));
  EXPECT_FALSE(font.covers(0));

  // PSF1 without a table: code page 437.
  const Bytes psf1Font = psf1(0x00, 14, {});
  font = pellucet::loadFont(psf1Font.data(), psf1Font.size());
  ASSERT_TRUE(font) << pellucet::lastFailure();
  EXPECT_EQ(font.height(), 14);
  EXPECT_TRUE(font.covers(0x2592));
  EXPECT_TRUE(font.covers('z'));
  EXPECT_FALSE(font.covers(0x4E2D));

  const std::string bdfText = joined(bdfLines());
  font = pellucet::loadFont(static_cast<const void*>(bdfText.data()), bdfText.size());
  ASSERT_TRUE(font) << pellucet::lastFailure();
  EXPECT_EQ(font.height(), 11);
  EXPECT_TRUE(font.covers(0x4E2D));
  EXPECT_TRUE(font.covers(' '));
  EXPECT_FALSE(font.covers(200));  // ENCODING -1 200 is no code point

  // A reader's reason reaches lastFailure().
  Bytes damaged = psf2;
  damaged[28] = 0;  // width 0
  EXPECT_FALSE(pellucet::loadFont(damaged.data(), damaged.size()));
  EXPECT_STREQ(pellucet::lastFailure(), "PSF: glyphs of 0 x 9 pixels (1 to 256 a side)");
  const std::string cut = bdfText.substr(0, bdfText.find("ENDFONT"));
  EXPECT_FALSE(pellucet::loadFont(static_cast<const void*>(cut.data()), cut.size()));
  EXPECT_STREQ(pellucet::lastFailure(), "BDF: the data ends after 7 glyphs (CHARS (line 14) says 7; no ENDFONT)");

  // From files.
  const std::string psfPath = folder + "/font.psf", bdfPath = folder + "/font.bdf";
  for (const auto& [path, bytes] : {std::pair{psfPath, psf2}, {bdfPath, bytesOf(bdfText)}}) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    std::fclose(f);
  }
  font = pellucet::loadFont(psfPath.c_str());
  ASSERT_TRUE(font) << pellucet::lastFailure();
  EXPECT_EQ(font.height(), 9);
  EXPECT_TRUE(font.covers(0x263A));
  font = pellucet::loadFont(bdfPath.c_str());
  ASSERT_TRUE(font) << pellucet::lastFailure();
  EXPECT_EQ(font.height(), 11);
  EXPECT_TRUE(font.covers('_'));
  FILE* f = std::fopen(psfPath.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fwrite(psf2.data(), 1, 40, f), 40u);
  std::fclose(f);
  EXPECT_FALSE(pellucet::loadFont(psfPath.c_str()));
  EXPECT_EQ(std::string(pellucet::lastFailure()),
            psfPath + ": PSF: the glyphs run past the end of the data (18 bytes expected, 8 there)");
}

// The system's console and BDF fonts, where it has any, all load.
TEST(SystemFonts, EveryPsfAndBdfLoads) {
  int tried = 0;
  for (const char* folder : {"/usr/share/consolefonts", "/usr/share/fonts/X11/misc", "/usr/share/fonts/misc"}) {
    DIR* d = opendir(folder);
    if (!d) continue;
    while (dirent* e = readdir(d)) {
      const std::string name = e->d_name;
      const auto endsWith = [&](const std::string& tail) {
        return name.size() > tail.size() && name.compare(name.size() - tail.size(), tail.size(), tail) == 0;
      };
      // Compressed files (.gz) are not read by the library.
      if (!endsWith(".psf") && !endsWith(".psfu") && !endsWith(".bdf")) continue;
      const std::string path = std::string(folder) + "/" + name;
      EXPECT_TRUE(pellucet::loadFont(path.c_str())) << pellucet::lastFailure();
      ++tried;
    }
    closedir(d);
  }
  if (tried == 0) GTEST_SKIP() << "no uncompressed PSF or BDF fonts on this system";
}

}  // namespace
