// The public layer's text: UTF-8 in the built-in fonts or a loaded one, lines,
// measuring and a background.
#include <algorithm>
#include <string>
#include <vector>

#include "api/font_files.h"
#include "api/internal.h"
#include "gfx/draw.h"
#include "gfx/fonts.h"
#include "gfx/input.h"
#include "gfx/mode.h"
#include "gfx/pages.h"
#include "gfx/text.h"
#include "pellucet/pellucet.h"
#include "runtime/console_engine.h"

namespace pellucet {
namespace {

Font chosenFont = Font::screen;
std::shared_ptr<const LoadedFontData> chosenLoaded;

// The font text is drawn in: the chosen built-in one, else the screen's.
const pel::FontRecord* fontInUse() {
  if (chosenFont != Font::screen) return pel::fontsByHeight(static_cast<int32_t>(chosenFont));
  const pel::ScreenMode* m = pel::currentMode();
  return m ? m->font : nullptr;
}

// One code point from UTF-8 at `at`, which moves past it; -1 for bytes that
// are no UTF-8 (the caller takes such a byte as it is).
int32_t nextCodePoint(std::string_view s, std::size_t& at) {
  const auto byte = [&](std::size_t i) { return static_cast<uint8_t>(s[i]); };
  const uint8_t first = byte(at);
  if (first < 0x80) {
    ++at;
    return first;
  }
  const int length = first >= 0xF0 && first < 0xF5 ? 4 : first >= 0xE0 ? 3 : first >= 0xC2 && first < 0xE0 ? 2 : 0;
  if (length == 0 || at + length > s.size()) return -1;
  int32_t code = first & (0x7F >> length);
  for (int i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return -1;
    code = code << 6 | (byte(at + i) & 0x3F);
  }
  // Overlong forms and surrogates are no UTF-8 either.
  constexpr int32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < smallest[length] || (code >= 0xD800 && code < 0xE000) || code > 0x10FFFF) return -1;
  at += static_cast<std::size_t>(length);
  return code;
}

// The text as lines of code page 437 bytes.
std::vector<std::string> linesOf(std::string_view utf8) {
  std::vector<std::string> lines(1);
  for (std::size_t at = 0; at < utf8.size();) {
    const std::size_t start = at;
    const int32_t code = nextCodePoint(utf8, at);
    if (code < 0) {
      lines.back().push_back(utf8[start]);
      at = start + 1;
    } else if (code == '\n') {
      lines.emplace_back();
    } else if (code < 0x80) {
      lines.back().push_back(static_cast<char>(code));
    } else {
      const char16_t wide = code <= 0xFFFF ? static_cast<char16_t>(code) : u'?';
      lines.back() += pel::wideToBytes(&wide, 1);
    }
  }
  return lines;
}

// ---- Text in a loaded font ---------------------------------------------------

// Where a built-in font's baseline lies: under row 7 of 8, 11 of 14, 12 of 16.
int32_t builtinAscent(const pel::FontRecord& f) { return f.height == 8 ? 7 : f.height - f.height / 4; }

// One character's glyph: the loaded font's, else the built-in font's (by its
// code page 437 byte), else the loaded font's '?', else the built-in '?'.
struct Placed {
  pel::GlyphPicture picture;
  int32_t advance;
  bool loaded;  // from the loaded font, which kerns
};

Placed placeGlyph(const LoadedFontData& font, const pel::FontRecord* fallback, char32_t code) {
  for (const char32_t c : {code, char32_t{U'?'}}) {
    if (const GlyphShape* g = font.glyph(c)) {
      const uint8_t* bits = font.set.bits.data() + g->offset;
      const auto kind = font.set.coverage ? pel::GlyphPicture::Bits::coverage : pel::GlyphPicture::Bits::highFirst;
      return {{bits, g->width, g->height, g->pitch, g->left, g->top, kind}, g->advance, true};
    }
    const uint8_t byte = c < 0x80 ? static_cast<uint8_t>(c) : pel::cp437FromUnicode(c);
    if (fallback && fallback->glyphs && (byte != 0 || c == 0) && (byte != '?' || c == U'?')) {
      const int32_t rowBytes = (fallback->width + 7) / 8;
      const uint8_t* bits = fallback->glyphs + std::size_t{byte} * rowBytes * fallback->height;
      const int32_t top = font.set.ascent - builtinAscent(*fallback);
      return {{bits, fallback->width, fallback->height, rowBytes, 0, top, pel::GlyphPicture::Bits::lowFirst},
              fallback->width, false};
    }
  }
  return {{nullptr, 0, 0, 0, 0, 0, pel::GlyphPicture::Bits::highFirst}, 0, false};
}

// The built-in font a loaded font falls back on: the screen's, else 8 x 16.
const pel::FontRecord* fallbackFont() {
  const pel::FontRecord* f = fontInUse();
  return f ? f : pel::unpackBuiltinData() ? pel::fontsByHeight(16) : nullptr;
}

// Each line's glyphs, placed from the text's origin, and its width.
struct LaidLine {
  std::vector<pel::GlyphPicture> glyphs;
  int32_t width = 0;
};

// Calls `f` with each character of the text: a byte that is no UTF-8 stands
// for its code page 437 character.
template <typename F>
void forEachCharacter(std::string_view utf8, F f) {
  for (std::size_t at = 0; at < utf8.size();) {
    const std::size_t start = at;
    const int32_t code = nextCodePoint(utf8, at);
    if (code < 0) at = start + 1;
    f(code >= 0 ? static_cast<char32_t>(code) : char32_t{pel::byteToWide(static_cast<uint8_t>(utf8[start]))});
  }
}

std::vector<LaidLine> layOut(const LoadedFontData& font, std::string_view utf8) {
  // Outline glyphs are rendered as they are first asked for, which may move
  // the font's pictures: every one the text needs comes first, so the
  // pictures placed below stay where they are.
  forEachCharacter(utf8, [&](char32_t c) { font.glyph(c); });
  font.glyph(U'?');
  const pel::FontRecord* fallback = fallbackFont();
  std::vector<LaidLine> lines(1);
  int64_t pen = 0;
  int32_t top = 0;
  char32_t previous = 0;
  bool previousLoaded = false;
  forEachCharacter(utf8, [&](char32_t code) {
    if (code == U'\n') {
      top += font.set.height;
      lines.emplace_back();
      pen = 0;
      previous = 0;
      return;
    }
    Placed p = placeGlyph(font, fallback, code);
    if (p.loaded && previousLoaded) pen += font.kerning(previous, code);
    const int64_t x = std::clamp<int64_t>(pen, -(int64_t{1} << 30), int64_t{1} << 30);
    p.picture.x += static_cast<int32_t>(x);
    p.picture.y += top;
    if (p.picture.bits) lines.back().glyphs.push_back(p.picture);
    pen = x + p.advance;
    lines.back().width = static_cast<int32_t>(std::max<int64_t>(lines.back().width, pen));
    previous = code;
    previousLoaded = p.loaded;
  });
  return lines;
}

}  // namespace

void textFont(Font font) {
  chosenFont = font == Font::font8x8 || font == Font::font8x14 || font == Font::font8x16 ? font : Font::screen;
  chosenLoaded.reset();
}

void textFont(const LoadedFont& font) {
  chosenFont = Font::screen;
  chosenLoaded = LoadedFontAccess::data(font);
}

TextSize measureText(std::string_view utf8) {
  if (const std::shared_ptr<const LoadedFontData> font = chosenLoaded) {
    const std::lock_guard<std::mutex> hold(font->lock);
    const std::vector<LaidLine> lines = layOut(*font, utf8);
    int32_t width = 0;
    for (const LaidLine& line : lines) width = std::max(width, line.width);
    return {width, static_cast<int>(lines.size()) * font->set.height};
  }
  const pel::FontRecord* f = fontInUse();
  if (!f) return {};
  const std::vector<std::string> lines = linesOf(utf8);
  std::size_t longest = 0;
  for (const std::string& line : lines) longest = std::max(longest, line.size());
  const auto width = static_cast<int64_t>(longest) * f->width;
  return {static_cast<int>(std::min<int64_t>(width, INT32_MAX)), static_cast<int>(lines.size()) * f->height};
}

void drawTextOn(const void* target, float x, float y, std::string_view utf8, uint32_t colour,
                const uint32_t* background) {
  pel::ScreenMode* m = pel::currentMode();
  if (!m) return;
  if (const std::shared_ptr<const LoadedFontData> font = chosenLoaded) {
    const std::lock_guard<std::mutex> hold(font->lock);
    const std::vector<LaidLine> lines = layOut(*font, utf8);
    for (std::size_t i = 0; i < lines.size() && background; ++i) {
      if (lines[i].width <= 0) continue;
      const float top = y + static_cast<float>(static_cast<int64_t>(i) * font->set.height);
      pel::drawLine(target, x, top, x + static_cast<float>(lines[i].width - 1),
                    top + static_cast<float>(font->set.height - 1), *background, pel::linekind::filledBox, 0xFFFF, 0);
    }
    for (const LaidLine& line : lines) {
      pel::drawGlyphs(target, x, y, line.glyphs.data(), static_cast<int32_t>(line.glyphs.size()), colour);
    }
    return;
  }
  const pel::FontRecord* f = fontInUse();
  if (!f) return;
  // The runtime draws in the mode's font: the chosen one stands in for the
  // call, under the lock.
  pel::lockScreen();
  const pel::FontRecord* screenFont = m->font;
  m->font = f;
  float top = y;
  for (const std::string& line : linesOf(utf8)) {
    if (background && !line.empty()) {
      const float right = x + static_cast<float>(static_cast<int64_t>(line.size()) * f->width) - 1.0f;
      pel::drawLine(target, x, top, right, top + static_cast<float>(f->height - 1), *background,
                    pel::linekind::filledBox, 0xFFFF, 0);
    }
    // The runtime's strings carry their length; the top bit would mark one the
    // runtime frees.
    const pel::TextString t{line.data(), static_cast<uint32_t>(std::min<std::size_t>(line.size(), 0x7FFFFFFF))};
    pel::drawString(target, x, top, 0, &t, colour, nullptr, 0, nullptr, nullptr, nullptr);
    top += static_cast<float>(f->height);
  }
  m->font = screenFont;
  pel::unlockScreen(1, 0);
}

void text(float x, float y, std::string_view utf8, uint32_t colour) { drawTextOn(nullptr, x, y, utf8, colour, nullptr); }

void text(float x, float y, std::string_view utf8, uint32_t colour, uint32_t background) {
  drawTextOn(nullptr, x, y, utf8, colour, &background);
}

}  // namespace pellucet
