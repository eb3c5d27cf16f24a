// The public layer's text: UTF-8 in the built-in fonts, lines, measuring and
// a background.
#include <algorithm>
#include <string>
#include <vector>

#include "gfx/draw.h"
#include "gfx/fonts.h"
#include "api/internal.h"
#include "gfx/mode.h"
#include "gfx/pages.h"
#include "gfx/text.h"
#include "pellucet/pellucet.h"
#include "runtime/console_engine.h"

namespace pellucet {
namespace {

Font chosenFont = Font::screen;

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

}  // namespace

void textFont(Font font) {
  chosenFont = font == Font::font8x8 || font == Font::font8x14 || font == Font::font8x16 ? font : Font::screen;
}

TextSize measureText(std::string_view utf8) {
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
  const pel::FontRecord* f = fontInUse();
  if (!m || !f) return;
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
