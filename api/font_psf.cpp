// PSF fonts, versions 1 and 2: fixed-size 1-bit glyphs, each row in whole
// bytes with the leftmost pixel in the top bit, and an optional table of the
// code points each glyph shows.
#include <cstdint>
#include <string>

#include "api/font_files.h"
#include "runtime/console_engine.h"

namespace pellucet {
namespace {

constexpr uint32_t mostGlyphs = 65536;
constexpr uint32_t largestSide = 256;

// PSF1 mode bits.
constexpr uint8_t psf1Has512 = 0x01, psf1HasTable = 0x02, psf1HasSequences = 0x04;

// The PC's symbols for code page 437's control codes 1..31 (glyph 0 is a
// blank and stays unmapped); 127 is ⌂. The rest comes from byteToWide.
constexpr char16_t controlSymbols[32] = {
    0x0000, 0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0x2022, 0x25D8, 0x25CB, 0x25D9,
    0x2642, 0x2640, 0x266A, 0x266B, 0x263C, 0x25BA, 0x25C4, 0x2195, 0x203C, 0x00B6, 0x00A7,
    0x25AC, 0x21A8, 0x2191, 0x2193, 0x2192, 0x2190, 0x221F, 0x2194, 0x25B2, 0x25BC,
};

char16_t cp437ToUnicode(uint32_t byte) {
  if (byte < 32) return controlSymbols[byte];
  if (byte == 127) return 0x2302;
  return pel::byteToWide(static_cast<uint8_t>(byte));
}

uint32_t le32(const uint8_t* b) {
  return uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
}

std::string hex(uint32_t value) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out = "0x";
  const int top = value > 0xFFFF ? 28 : value > 0xFF ? 12 : 4;
  for (int shift = top; shift >= 0; shift -= 4) out += digits[(value >> shift) & 15];
  return out;
}

// The entries of a Unicode table, glyph by glyph, from `at` on.
struct TableReader {
  const uint8_t* data;
  std::size_t size, at;
  uint32_t glyphs;
  GlyphSet& font;
  std::string& why;

  bool fail(std::string reason) {
    why = "PSF: " + std::move(reason);
    return false;
  }
  bool endedIn(uint32_t glyph, bool started) {
    if (!started) {
      return fail("the Unicode table ends after the entries of " + std::to_string(glyph) + " of " +
                  std::to_string(glyphs) + " glyphs");
    }
    return fail("the Unicode table ends inside glyph " + std::to_string(glyph) + "'s entry");
  }
  // The first glyph named for a code point keeps it.
  void map(char32_t code, uint32_t glyph) { font.codes.emplace(code, glyph); }

  // PSF1: little-endian UCS-2, 0xFFFE before the sequences, 0xFFFF ending an entry.
  bool readUcs2() {
    for (uint32_t glyph = 0; glyph < glyphs; ++glyph) {
      bool inSequence = false;
      for (bool started = false;; started = true) {
        if (size - at < 2) return endedIn(glyph, started || size - at == 1);
        const uint32_t code = data[at] | uint32_t{data[at + 1]} << 8;
        at += 2;
        if (code == 0xFFFF) break;
        if (code == 0xFFFE) inSequence = true;
        if (inSequence) continue;
        if (code >= 0xD800 && code <= 0xDFFF) {
          return fail("the Unicode table names " + hex(code) + ", half of a UTF-16 pair, for glyph " +
                      std::to_string(glyph));
        }
        map(code, glyph);
      }
    }
    return true;
  }

  // PSF2: UTF-8, 0xFE before the sequences, 0xFF ending an entry (neither
  // byte occurs in UTF-8).
  bool readUtf8() {
    for (uint32_t glyph = 0; glyph < glyphs; ++glyph) {
      for (bool started = false;; started = true) {
        if (at >= size) return endedIn(glyph, started);
        const uint8_t lead = data[at];
        if (lead == 0xFF) {
          ++at;
          break;
        }
        if (lead == 0xFE) {
          while (at < size && data[at] != 0xFF) ++at;
          if (at >= size) return endedIn(glyph, true);
          ++at;
          break;
        }
        const std::size_t start = at;
        char32_t code = 0;
        const Decoded decoded = decode(code);
        if (decoded == Decoded::cut) return endedIn(glyph, true);
        if (decoded == Decoded::bad) {
          return fail("the Unicode table has bad UTF-8 in glyph " + std::to_string(glyph) +
                      "'s entry (the character at offset " + std::to_string(start) + ", starting " + hex(lead) + ")");
        }
        map(code, glyph);
      }
    }
    return true;
  }

  // One UTF-8 character at `at`, which moves past it.
  enum class Decoded { ok, bad, cut };
  Decoded decode(char32_t& code) {
    const uint8_t lead = data[at++];
    int more;
    uint32_t value, least;
    if (lead < 0x80) {
      code = lead;
      return Decoded::ok;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      more = 1, value = lead & 0x1Fu, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      more = 2, value = lead & 0x0Fu, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      more = 3, value = lead & 0x07u, least = 0x10000;
    } else {
      return Decoded::bad;
    }
    for (int i = 0; i < more; ++i, ++at) {
      if (at >= size) return Decoded::cut;
      if ((data[at] & 0xC0) != 0x80) return Decoded::bad;
      value = value << 6 | (data[at] & 0x3Fu);
    }
    // Overlong forms, UTF-16 halves and values past U+10FFFF are no characters.
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return Decoded::bad;
    code = value;
    return Decoded::ok;
  }
};

bool fill(const uint8_t* data, std::size_t size, std::size_t glyphStart, uint32_t count, uint32_t width,
          uint32_t height, bool hasTable, bool utf8Table, GlyphSet& font, std::string& why) {
  const uint32_t pitch = (width + 7) / 8;
  const uint64_t charSize = uint64_t{pitch} * height;
  const uint64_t needed = charSize * count;
  if (needed > size - glyphStart) {
    why = "PSF: the glyphs run past the end of the data (" + std::to_string(needed) + " bytes expected, " +
          std::to_string(size - glyphStart) + " there)";
    return false;
  }
  GlyphSet set;
  set.height = static_cast<int32_t>(height);
  // PSF keeps no baseline: the bottom quarter (rounded down) is taken as
  // the descent, which puts it under row 12 of 16 and row 11 of 14.
  set.ascent = static_cast<int32_t>(height - height / 4);
  set.coverage = false;
  set.bits.assign(data + glyphStart, data + glyphStart + needed);
  set.glyphs.resize(count);
  for (uint32_t i = 0; i < count; ++i) {
    GlyphShape& g = set.glyphs[i];
    g.width = static_cast<int32_t>(width);
    g.height = static_cast<int32_t>(height);
    g.pitch = static_cast<int32_t>(pitch);
    g.advance = static_cast<int32_t>(width);
    g.offset = static_cast<std::size_t>(charSize * i);
  }
  if (hasTable) {
    TableReader table{data, size, glyphStart + static_cast<std::size_t>(needed), count, set, why};
    if (!(utf8Table ? table.readUtf8() : table.readUcs2())) return false;
    if (set.codes.empty()) {
      why = "PSF: the Unicode table maps no character to a glyph";
      return false;
    }
  } else if (count <= 256) {
    // A console font without a table holds code page 437 in its order.
    for (uint32_t i = 1; i < count; ++i) set.codes.emplace(cp437ToUnicode(i), i);
    if (set.codes.empty()) {
      why = "PSF: the font's one glyph, without a Unicode table, is code page 437's blank 0 and shows no character";
      return false;
    }
  } else {
    for (uint32_t i = 0; i < count; ++i) set.codes.emplace(i, i);
  }
  font = std::move(set);
  return true;
}

bool readPsf1(const uint8_t* data, std::size_t size, GlyphSet& font, std::string& why) {
  const uint8_t mode = data[2], height = data[3];
  if (mode & ~(psf1Has512 | psf1HasTable | psf1HasSequences)) {
    why = "PSF: PSF1 mode " + hex(mode) + " has bits other than 0x01 (512 glyphs), 0x02 and 0x04 (a Unicode table)";
    return false;
  }
  if (height == 0) {
    why = "PSF: PSF1 glyphs 0 pixels high";
    return false;
  }
  const uint32_t count = (mode & psf1Has512) ? 512 : 256;
  return fill(data, size, 4, count, 8, height, (mode & (psf1HasTable | psf1HasSequences)) != 0, false, font, why);
}

bool readPsf2(const uint8_t* data, std::size_t size, GlyphSet& font, std::string& why) {
  if (size < 32) {
    why = "PSF: the data is too short for a PSF2 header (32 bytes needed, " + std::to_string(size) + " there)";
    return false;
  }
  const uint32_t version = le32(data + 4), headerSize = le32(data + 8), flags = le32(data + 12);
  const uint32_t count = le32(data + 16), charSize = le32(data + 20), height = le32(data + 24),
                 width = le32(data + 28);
  if (version != 0) {
    why = "PSF: PSF2 version " + std::to_string(version) + " (only version 0 is known)";
    return false;
  }
  if (headerSize < 32) {
    why = "PSF: a PSF2 header of " + std::to_string(headerSize) + " bytes (at least 32)";
    return false;
  }
  if (headerSize > size) {
    why = "PSF: the PSF2 header of " + std::to_string(headerSize) + " bytes runs past the end of the data (" +
          std::to_string(size) + " bytes)";
    return false;
  }
  if (count == 0) {
    why = "PSF: the font has no glyphs";
    return false;
  }
  if (count > mostGlyphs) {
    why = "PSF: " + std::to_string(count) + " glyphs (at most " + std::to_string(mostGlyphs) + ")";
    return false;
  }
  if (width == 0 || height == 0 || width > largestSide || height > largestSide) {
    why = "PSF: glyphs of " + std::to_string(width) + " x " + std::to_string(height) + " pixels (1 to " +
          std::to_string(largestSide) + " a side)";
    return false;
  }
  const uint32_t expected = (width + 7) / 8 * height;
  if (charSize != expected) {
    why = "PSF: a glyph of " + std::to_string(width) + " x " + std::to_string(height) + " pixels takes " +
          std::to_string(expected) + " bytes, the header says " + std::to_string(charSize);
    return false;
  }
  return fill(data, size, headerSize, count, width, height, (flags & 1) != 0, true, font, why);
}

}  // namespace

bool readPsf(const uint8_t* data, std::size_t size, GlyphSet& font, std::string& why) {
  if (!data) size = 0;
  if (size >= 4 && data[0] == 0x72 && data[1] == 0xB5 && data[2] == 0x4A && data[3] == 0x86) {
    return readPsf2(data, size, font, why);
  }
  if (size >= 2 && data[0] == 0x36 && data[1] == 0x04) {
    if (size < 4) {
      why = "PSF: the data is too short for a PSF1 header (4 bytes needed, " + std::to_string(size) + " there)";
      return false;
    }
    return readPsf1(data, size, font, why);
  }
  why = "PSF: the data starts with neither PSF1's magic (36 04) nor PSF2's (72 B5 4A 86)";
  return false;
}

}  // namespace pellucet
