// BDF fonts (2.1, and the 2.2 fields horizontal text needs): a text file of
// keyword lines, each glyph with its own box, offsets, advance and hex rows.
// Codes are taken as Unicode, which CHARSET_REGISTRY "ISO10646" and
// "ISO8859" with CHARSET_ENCODING "1" (Latin-1, Unicode's first 256) are, as
// is a font that names no registry. In any other registry (the other ISO8859
// parts, KOI8, the PC code pages ...) only codes below 128, ASCII in all of
// those, are kept; a "FontSpecific" font is refused, its codes being its own.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "api/font_files.h"

namespace pellucet {
namespace {

constexpr int32_t mostGlyphs = 65536;
constexpr int32_t largestSide = 256;
// Offsets, advances, ascents and descents beyond this are damage.
constexpr int32_t farthest = 1024;

std::string quoted(std::string_view text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size() && i < 24; ++i) {
    const char c = text[i];
    out += (c >= 0x20 && c < 0x7F) ? c : '?';
  }
  if (text.size() > 24) out += "...";
  return out + "\"";
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const char x = (a[i] >= 'a' && a[i] <= 'z') ? static_cast<char>(a[i] - 32) : a[i];
    const char y = (b[i] >= 'a' && b[i] <= 'z') ? static_cast<char>(b[i] - 32) : b[i];
    if (x != y) return false;
  }
  return true;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

enum class Number { ok, none, tooLarge };

// A whole decimal number with an optional '-', within int32_t.
Number wholeNumber(std::string_view token, int32_t& value) {
  std::size_t i = 0;
  const bool negative = !token.empty() && token[0] == '-';
  if (negative) i = 1;
  if (i == token.size()) return Number::none;
  int64_t v = 0;
  for (; i < token.size(); ++i) {
    if (token[i] < '0' || token[i] > '9') return Number::none;
    v = v * 10 + (token[i] - '0');
    if (v > int64_t{INT32_MAX} + 1) return Number::tooLarge;
  }
  if (negative) v = -v;
  if (v > INT32_MAX || v < INT32_MIN) return Number::tooLarge;
  value = static_cast<int32_t>(v);
  return Number::ok;
}

class Reader {
 public:
  Reader(const uint8_t* data, std::size_t size, std::string& why)
      : text_(reinterpret_cast<const char*>(data), data ? size : 0), why_(why) {}

  bool read(GlyphSet& font);

 private:
  std::string_view text_;
  std::size_t at_ = 0;
  std::size_t lineNumber_ = 0;
  std::string_view line_;
  std::vector<std::string_view> words_;
  std::string& why_;

  // The font's fields, as read so far.
  bool haveBox_ = false;
  int32_t box_[4] = {};
  bool haveAscent_ = false, haveDescent_ = false;
  int32_t fontAscent_ = 0, fontDescent_ = 0;
  bool haveAdvance_ = false;
  int32_t fontAdvance_ = 0;
  std::string registry_, encoding_;
  bool unicode_ = true;

  bool fail(std::string reason) {
    why_ = "BDF: " + std::move(reason);
    return false;
  }
  bool failHere(std::string reason) { return fail("line " + std::to_string(lineNumber_) + ": " + std::move(reason)); }

  // The next line, split into words at spaces and tabs (a '\r' before the
  // '\n' goes too); false at the end of the data.
  bool nextLine() {
    if (at_ >= text_.size()) return false;
    std::size_t end = text_.find('\n', at_);
    if (end == std::string_view::npos) end = text_.size();
    line_ = text_.substr(at_, end - at_);
    at_ = end + 1;
    ++lineNumber_;
    words_.clear();
    for (std::size_t i = 0; i < line_.size();) {
      while (i < line_.size() && (line_[i] == ' ' || line_[i] == '\t' || line_[i] == '\r')) ++i;
      const std::size_t start = i;
      while (i < line_.size() && line_[i] != ' ' && line_[i] != '\t' && line_[i] != '\r') ++i;
      if (i > start) words_.push_back(line_.substr(start, i - start));
    }
    return true;
  }
  std::string_view keyword() const { return words_.empty() ? std::string_view() : words_[0]; }
  // What follows the keyword, without the surrounding spaces or quotes.
  std::string_view rest() const {
    if (words_.size() < 2) return {};
    const std::size_t start = static_cast<std::size_t>(words_[1].data() - line_.data());
    const std::size_t end = static_cast<std::size_t>(words_.back().data() + words_.back().size() - line_.data());
    std::string_view value = line_.substr(start, end - start);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    return value;
  }

  // The keyword's `count` numbers (exactly that many follow it).
  bool numbers(int32_t* out, std::size_t count) {
    const std::string name(keyword());
    if (words_.size() != count + 1) {
      return failHere(name + " needs " + std::to_string(count) + (count == 1 ? " number" : " numbers") + ", not " +
                      quoted(rest()));
    }
    for (std::size_t i = 0; i < count; ++i) {
      const Number n = wholeNumber(words_[i + 1], out[i]);
      if (n == Number::none) return failHere(name + "'s " + quoted(words_[i + 1]) + " is not a whole number");
      if (n == Number::tooLarge) return failHere(name + "'s " + quoted(words_[i + 1]) + " is too large a number");
    }
    return true;
  }
  bool boxNumbers(int32_t* box) {
    if (!numbers(box, 4)) return false;
    const std::string name(keyword());
    if (box[0] < 0 || box[1] < 0 || box[0] > largestSide || box[1] > largestSide) {
      return failHere("a " + name + " of " + std::to_string(box[0]) + " x " + std::to_string(box[1]) +
                      " pixels (0 to " + std::to_string(largestSide) + " a side)");
    }
    if (box[2] < -farthest || box[2] > farthest || box[3] < -farthest || box[3] > farthest) {
      return failHere(name + " offsets of " + std::to_string(box[2]) + ", " + std::to_string(box[3]) + " (at most " +
                      std::to_string(farthest) + " either way)");
    }
    return true;
  }
  bool advanceNumber(int32_t& advance) {
    int32_t pair[2];
    if (!numbers(pair, 2)) return false;
    if (pair[0] < 0 || pair[0] > farthest) {
      return failHere("a DWIDTH of " + std::to_string(pair[0]) + " (0 to " + std::to_string(farthest) + ")");
    }
    advance = pair[0];
    return true;
  }
  bool properties();
  bool placement(GlyphSet& font);
  bool glyph(GlyphSet& font);
  bool usable(int32_t code) const {
    if (code < 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    if (!unicode_) return code < 128;
    // Latin-1 has nothing past its 256 codes.
    return !equalsIgnoringCase(registry_, "ISO8859") || code < 256;
  }
};

bool Reader::properties() {
  int32_t declared;
  if (!numbers(&declared, 1)) return false;
  if (declared < 0) return failHere("STARTPROPERTIES of " + std::to_string(declared) + " properties");
  const std::size_t first = lineNumber_;
  int32_t found = 0;
  while (nextLine()) {
    const std::string_view name = keyword();
    if (name.empty() || name == "COMMENT") continue;
    if (name == "ENDPROPERTIES") {
      if (found != declared) {
        return failHere("STARTPROPERTIES (line " + std::to_string(first) + ") says " + std::to_string(declared) +
                        " properties, " + std::to_string(found) + " follow");
      }
      return true;
    }
    ++found;
    if (name == "FONT_ASCENT" || name == "FONT_DESCENT") {
      int32_t value;
      if (!numbers(&value, 1)) return false;
      if (value < 0 || value > farthest) {
        return failHere("a " + std::string(name) + " of " + std::to_string(value) + " (0 to " +
                        std::to_string(farthest) + ")");
      }
      (name == "FONT_ASCENT" ? haveAscent_ : haveDescent_) = true;
      (name == "FONT_ASCENT" ? fontAscent_ : fontDescent_) = value;
    } else if (name == "CHARSET_REGISTRY") {
      registry_ = std::string(rest());
    } else if (name == "CHARSET_ENCODING") {
      encoding_ = std::string(rest());
    }
  }
  return fail("the data ends inside the properties from line " + std::to_string(first) + " (no ENDPROPERTIES)");
}

// The line's height and ascent, once the header is read.
bool Reader::placement(GlyphSet& font) {
  if (!haveBox_) return failHere("CHARS comes before any FONTBOUNDINGBOX");
  const std::string fromBox = " (from FONTBOUNDINGBOX " + std::to_string(box_[0]) + " " + std::to_string(box_[1]) +
                              " " + std::to_string(box_[2]) + " " + std::to_string(box_[3]) + ")";
  const int32_t ascent = haveAscent_ ? fontAscent_ : box_[1] + box_[3];
  const int32_t descent = haveDescent_ ? fontDescent_ : -box_[3];
  if (ascent < 0 || ascent > farthest) {
    return fail("an ascent of " + std::to_string(ascent) + fromBox + " (0 to " + std::to_string(farthest) + ")");
  }
  if (descent < 0 || descent > farthest) {
    return fail("a descent of " + std::to_string(descent) + fromBox + " (0 to " + std::to_string(farthest) + ")");
  }
  if (ascent + descent == 0) return fail("lines 0 pixels high (the ascent and descent are both 0)");
  font.height = ascent + descent;
  font.ascent = ascent;

  if (equalsIgnoringCase(registry_, "FontSpecific") || equalsIgnoringCase(encoding_, "FontSpecific")) {
    return fail("the font's codes are its own (CHARSET_REGISTRY " + quoted(registry_) + ", CHARSET_ENCODING " +
                quoted(encoding_) + "), not Unicode's");
  }
  unicode_ = registry_.empty() || equalsIgnoringCase(registry_, "ISO10646") ||
             (equalsIgnoringCase(registry_, "ISO8859") && encoding_ == "1");
  return true;
}

// One glyph, from the line after STARTCHAR to its ENDCHAR.
bool Reader::glyph(GlyphSet& font) {
  const std::string name = quoted(rest());
  const std::size_t first = lineNumber_;
  bool haveCode = false, haveBox = false, haveAdvance = haveAdvance_;
  int32_t code = -1, box[4] = {}, advance = fontAdvance_;
  for (;;) {
    if (!nextLine()) {
      return fail("the data ends inside glyph " + name + " from line " + std::to_string(first) + " (no ENDCHAR)");
    }
    const std::string_view word = keyword();
    if (word == "BITMAP") break;
    if (word == "ENCODING") {
      int32_t pair[2];
      if (words_.size() == 3) {
        if (!numbers(pair, 2)) return false;
      } else if (!numbers(pair, 1)) {
        return false;
      }
      // -1 (with or without a code of the font's own after it) is a glyph no
      // standard code names.
      if (pair[0] < -1) return failHere("glyph " + name + " has an ENCODING of " + std::to_string(pair[0]));
      if (pair[0] != -1 && words_.size() == 3) return failHere("ENCODING has a second number after a code");
      code = pair[0];
      haveCode = true;
    } else if (word == "BBX") {
      if (!boxNumbers(box)) return false;
      haveBox = true;
    } else if (word == "DWIDTH") {
      if (!advanceNumber(advance)) return false;
      haveAdvance = true;
    } else if (word == "STARTCHAR" || word == "ENDCHAR" || word == "ENDFONT") {
      return failHere(std::string(word) + " inside glyph " + name + " from line " + std::to_string(first) +
                      " before its BITMAP");
    }
  }
  if (!haveCode) return failHere("glyph " + name + " has no ENCODING");
  if (!haveBox) return failHere("glyph " + name + " has no BBX");
  if (!haveAdvance) return failHere("glyph " + name + " has no DWIDTH");

  const int32_t width = box[0], height = box[1];
  const int32_t pitch = (width + 7) / 8;
  const bool keep = usable(code) && font.codes.find(static_cast<char32_t>(code)) == font.codes.end();
  const std::size_t offset = font.bits.size();
  // The last byte's bits past the width are cleared: they are no pixels.
  const uint8_t lastMask = static_cast<uint8_t>(width % 8 ? 0xFF00 >> (width % 8) : 0xFF);
  for (int32_t row = 0;; ++row) {
    if (!nextLine()) {
      return fail("the data ends inside glyph " + name + " from line " + std::to_string(first) + " (no ENDCHAR)");
    }
    const std::string_view word = keyword();
    if (word == "ENDCHAR") {
      if (row < height) {
        return failHere("glyph " + name + " has " + std::to_string(row) + " BITMAP rows, its BBX " +
                        std::to_string(height));
      }
      break;
    }
    if (word == "STARTCHAR" || word == "ENDFONT") {
      return failHere(std::string(word) + " inside glyph " + name + " from line " + std::to_string(first) +
                      " (no ENDCHAR)");
    }
    if (row >= height) {
      return failHere("glyph " + name + " has more BITMAP rows than its BBX's " + std::to_string(height));
    }
    if (words_.size() > 1) return failHere("BITMAP row " + quoted(line_) + " is not hexadecimal");
    for (const char c : word) {
      if (hexDigit(c) < 0) return failHere("BITMAP row " + quoted(word) + " is not hexadecimal");
    }
    if (word.size() < static_cast<std::size_t>(pitch) * 2) {
      return failHere("BITMAP row " + quoted(word) + " is shorter than the glyph's " + std::to_string(width) +
                      " pixels");
    }
    if (!keep) continue;
    for (int32_t i = 0; i < pitch; ++i) {
      uint8_t byte = static_cast<uint8_t>(hexDigit(word[2 * i]) << 4 | hexDigit(word[2 * i + 1]));
      if (i == pitch - 1) byte &= lastMask;
      font.bits.push_back(byte);
    }
  }
  if (!keep) return true;
  GlyphShape shape;
  // A glyph with no pixels (a space's BBX of 0 x 0, or one of its sides 0)
  // keeps only its placement.
  const bool empty = width == 0 || height == 0;
  shape.width = empty ? 0 : width;
  shape.height = empty ? 0 : height;
  shape.pitch = empty ? 0 : pitch;
  if (empty) font.bits.resize(offset);
  shape.left = box[2];
  shape.top = font.ascent - (box[3] + height);
  shape.advance = advance;
  shape.offset = offset;
  font.codes.emplace(static_cast<char32_t>(code), static_cast<uint32_t>(font.glyphs.size()));
  font.glyphs.push_back(shape);
  return true;
}

bool Reader::read(GlyphSet& font) {
  if (!nextLine() || keyword() != "STARTFONT") return fail("the data does not start with STARTFONT");
  GlyphSet set;
  set.coverage = false;
  int32_t declared = -1;
  std::size_t charsLine = 0;
  for (;;) {
    if (!nextLine()) return fail("the data ends before CHARS and its glyphs");
    const std::string_view word = keyword();
    if (word == "FONTBOUNDINGBOX") {
      if (!boxNumbers(box_)) return false;
      haveBox_ = true;
    } else if (word == "STARTPROPERTIES") {
      if (!properties()) return false;
    } else if (word == "DWIDTH") {
      if (!advanceNumber(fontAdvance_)) return false;
      haveAdvance_ = true;
    } else if (word == "CHARS") {
      if (!numbers(&declared, 1)) return false;
      if (declared < 0 || declared > mostGlyphs) {
        return failHere("CHARS of " + std::to_string(declared) + " (0 to " + std::to_string(mostGlyphs) + ")");
      }
      charsLine = lineNumber_;
      if (!placement(set)) return false;
      break;
    } else if (word == "STARTCHAR" || word == "ENDFONT") {
      return failHere(std::string(word) + " before CHARS");
    }
  }
  const std::string says = "CHARS (line " + std::to_string(charsLine) + ") says " + std::to_string(declared);
  int32_t found = 0;
  for (;;) {
    if (!nextLine()) {
      return fail("the data ends after " + std::to_string(found) + " glyphs (" + says + "; no ENDFONT)");
    }
    const std::string_view word = keyword();
    if (word.empty() || word == "COMMENT") continue;
    if (word == "ENDFONT") break;
    if (word != "STARTCHAR") return failHere(quoted(word) + " where STARTCHAR or ENDFONT belongs");
    if (found == declared) return failHere(says + " glyphs, and another starts here");
    ++found;
    if (!glyph(set)) return false;
  }
  if (found != declared) return failHere(says + " glyphs, " + std::to_string(found) + " come before ENDFONT");
  if (set.glyphs.empty()) {
    if (declared == 0) return fail("the font has no glyphs (CHARS 0)");
    if (!unicode_) {
      return fail("no glyph has a code below 128, the only ones read in CHARSET_REGISTRY " + quoted(registry_) +
                  " CHARSET_ENCODING " + quoted(encoding_));
    }
    return fail("no glyph has a Unicode code point (all " + std::to_string(declared) + " ENCODING -1 or out of range)");
  }
  font = std::move(set);
  return true;
}

}  // namespace

bool readBdf(const uint8_t* data, std::size_t size, GlyphSet& font, std::string& why) {
  return Reader(data, size, why).read(font);
}

}  // namespace pellucet
