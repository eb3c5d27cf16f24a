#include "console.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "gfx/draw.h"
#include "gfx/fonts.h"
#include "gfx/memory.h"
#include "gfx/mode.h"
#include "gfx/pages.h"
#include "gfx/text_cells.h"
#include "runtime/console.h"
#include "runtime/console_engine.h"
#include "runtime/keys.h"
#include "runtime/runtime.h"

namespace pel {
namespace {

constexpr uint8_t blockGlyph = 219;

// What the callbacks share: the context and the pixel rows they changed.
struct Strokes {
  DrawContext* context;
  int32_t firstRow, lastRow;
  void touch(int32_t first, int32_t last) {
    firstRow = std::min(firstRow, first);
    lastRow = std::max(lastRow, last);
  }
};

// RGB565 to 0xFFRRGGBB, each channel widened by repeating its top bits.
uint32_t expand565(uint32_t p) {
  const uint32_t r = (p >> 11) & 0x1F, g = (p >> 5) & 0x3F, b = p & 0x1F;
  return 0xFF000000u | ((r << 3) | (r >> 2)) << 16 | ((g << 2) | (g >> 4)) << 8 | ((b << 3) | (b >> 2));
}

TextCell* cellsOf(const ScreenMode* m, int32_t page) { return reinterpret_cast<TextCell*>(m->textPages[page]); }

// Visible pixel rows of the page that the console may touch.
int32_t clampRow(const ScreenMode* m, int64_t row) { return static_cast<int32_t>(std::clamp<int64_t>(row, 0, m->height)); }

DrawContext* screenContext(uint32_t colour) {
  DrawContext* c = getContext();
  selectTarget(c, nullptr);
  chooseDrawRoutines(c, colour);
  return c;
}

// The console's rows, kept on the page (its cursor may stand off the grid),
// marked by the primitives' rule for the shown page.
void markIfShown(const DrawContext* c, int32_t first, int32_t last) {
  markTargetRows(c, std::max(first, 0), std::min(last, currentMode()->height - 1));
}

void cursorBack() {
  ScreenMode* m = currentMode();
  // A cursor parked after the last cell already stands on that cell: backing
  // up only drops the pending new line, or the next key would scroll.
  if (m->flags & screenflag::pendingNewline) {
    m->flags &= ~screenflag::pendingNewline;
    return;
  }
  if (--m->cursorColumn < 0) {
    m->cursorColumn = std::max(m->textColumns - 1, 0);
    if (--m->cursorRow < 0) m->cursorRow = m->cursorColumn = 0;
  }
}

void printBlock() {
  const char block = static_cast<char>(blockGlyph);
  printBytes(&block, 1);
}

}  // namespace

int32_t writeRun(ConsoleWindow& window, const char* bytes, int32_t count) {
  auto* strokes = static_cast<Strokes*>(window.user);
  DrawContext* c = strokes->context;
  const ScreenMode* m = currentMode();
  const FontRecord* font = m->font;
  if (!font || !font->glyphs) return 1;
  const int32_t w = font->width, h = font->height;
  const int64_t x0 = int64_t{window.column} * w, y0 = int64_t{window.row} * h;
  // A cursor outside the grid draws only what falls on the page.
  auto inPage = [m](int64_t x, int64_t y) { return x >= 0 && y >= 0 && x < m->width && y < m->height; };
  if (count == 1 && static_cast<uint8_t>(bytes[0]) == 255) {
    for (int32_t x = 0; x < w; ++x) {
      if (inPage(x0 + x, y0 + h - 1)) c->putPixel(c, static_cast<int32_t>(x0 + x), static_cast<int32_t>(y0 + h - 1), c->foreground);
    }
  } else {
    const int32_t rowBytes = (w + 7) / 8;
    for (int32_t i = 0; i < count; ++i) {
      const uint8_t* glyph = font->glyphs + static_cast<uint8_t>(bytes[i]) * rowBytes * h;
      const int64_t gx = x0 + int64_t{i} * w;
      for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
          if (!inPage(gx + x, y0 + y)) continue;
          const bool set = (glyph[y * rowBytes + x / 8] >> (x % 8)) & 1;
          c->putPixel(c, static_cast<int32_t>(gx + x), static_cast<int32_t>(y0 + y), set ? c->foreground : c->background);
        }
      }
    }
    // Cells keep the byte value (0..255).
    TextCell* cells = cellsOf(m, c->workPage);
    for (int32_t i = 0; i < count; ++i) {
      const int64_t column = int64_t{window.column} + i;
      if (column < 0 || column >= m->textColumns || window.row < 0 || window.row >= m->textRows) continue;
      cells[window.row * m->textColumns + column] = {static_cast<uint8_t>(bytes[i]), 0, c->foreground, c->background};
    }
  }
  strokes->touch(clampRow(m, y0), clampRow(m, y0 + h - 1));
  return 1;
}

void scrollText(ConsoleWindow& window, int32_t left, int32_t top, int32_t right, int32_t bottom, int32_t n) {
  auto* strokes = static_cast<Strokes*>(window.user);
  DrawContext* c = strokes->context;
  ScreenMode* m = currentMode();
  const FontRecord* font = m->font;
  if (!font || n <= 0 || bottom < top) {
    window.row = bottom;
    return;
  }
  const int32_t w = font->width, h = font->height, bpp = m->bytesPerPixel;
  // Pixel rows and columns of the text view, kept inside the page.
  const int32_t firstPixelRow = clampRow(m, int64_t{top} * h), endPixelRow = clampRow(m, (int64_t{bottom} + 1) * h);
  const int32_t x0 = std::clamp(left * w, 0, m->width), x1 = std::clamp((right + 1) * w, 0, m->width);
  const int64_t shift = int64_t{n} * h;
  if (x1 > x0 && endPixelRow > firstPixelRow) {
    int32_t y = firstPixelRow;
    if (shift < endPixelRow - firstPixelRow) {
      for (; y + shift < endPixelRow; ++y) {
        pixelRoutines.copy(c->rows[y] + static_cast<std::size_t>(x0) * bpp, c->rows[y + shift] + static_cast<std::size_t>(x0) * bpp, x1 - x0);
      }
    }
    for (; y < endPixelRow; ++y) c->fillSpan(c->rows[y] + static_cast<std::size_t>(x0) * bpp, c->background, x1 - x0);
    strokes->touch(firstPixelRow, endPixelRow - 1);
  }
  // Cells: rows move up, the last n become blank.
  const int32_t cellLeft = std::clamp(left, 0, m->textColumns), cellRight = std::clamp(right + 1, 0, m->textColumns);
  const int32_t cellTop = std::clamp(top, 0, m->textRows), cellBottom = std::clamp(bottom + 1, 0, m->textRows);
  TextCell* cells = cellsOf(m, c->workPage);
  int32_t row = cellTop;
  for (; row + n < cellBottom && cellRight > cellLeft; ++row) {
    copyBytes(cells + row * m->textColumns + cellLeft, cells + (row + n) * m->textColumns + cellLeft,
              static_cast<std::size_t>(cellRight - cellLeft) * sizeof(TextCell));
  }
  fillCells(cellLeft, row, cellRight, cellBottom, c->workPage, 32, c->foreground, c->background);
  window.row = bottom;
}

void printBytes(const char* bytes, int32_t length) {
  ScreenMode* m = currentMode();
  if (!m) return;
  DrawContext* c = screenContext(0xFF000000u);  // console text is always opaque
  lockScreen();
  Strokes strokes{c, INT32_MAX, INT32_MIN};
  ConsoleWindow window{0, consoleViewTop(), std::max(consoleColumns(), 1) - 1, consoleViewBottom(),
                       m->cursorColumn, m->cursorRow, writeRun, scrollText, &strokes};
  if (m->flags & screenflag::pendingNewline) {
    m->flags &= ~screenflag::pendingNewline;
    window.column = window.left;
    ++window.row;
    if (window.row > window.bottom) scrollText(window, window.left, window.top, window.right, window.bottom, window.row - window.bottom);
  }
  consoleWrite(window, bytes, length);
  if (window.column == window.left && window.row == window.bottom + 1) {
    window.column = window.right;
    window.row = window.bottom;
    m->flags |= screenflag::pendingNewline;
  } else if (window.row > window.bottom) {
    scrollText(window, window.left, window.top, window.right, window.bottom, window.row - window.bottom);
  }
  m->cursorColumn = window.column;
  m->cursorRow = window.row;
  if (strokes.firstRow <= strokes.lastRow) markIfShown(c, strokes.firstRow, strokes.lastRow);
  unlockScreen(1, 0);
}

void clearHook(int32_t mode) {
  ScreenMode* m = currentMode();
  if (!m) return;
  DrawContext* c = getContext();
  selectTarget(c, nullptr);
  chooseDrawRoutines(c, c->background);
  lockScreen();
  const int32_t top = consoleViewTop(), bottom = consoleViewBottom();
  if (mode == clearDefault) mode = (top == 0 && bottom == m->textRows - 1) ? 0 : 2;
  const int32_t h = m->font ? m->font->height : 8;
  if (mode == 0) {
    // The page is contiguous: one span covers it.
    c->fillSpan(c->rows[0], c->background, m->width * m->height);
    markIfShown(c, 0, m->height - 1);
    c->lastX = static_cast<float>(c->viewX + c->viewWidth / 2);
    c->lastY = static_cast<float>(c->viewY + c->viewHeight / 2);
    fillCells(0, 0, m->textColumns, m->textRows, c->workPage, 32, c->foreground, c->background);
    unlockScreen(1, 0);
    cursorHook(top + 1, 1);
    return;
  }
  if (mode == 2) {
    const int32_t first = clampRow(m, int64_t{top} * h), end = clampRow(m, (int64_t{bottom} + 1) * h);
    if (end > first) c->fillSpan(c->rows[first], c->background, m->width * (end - first));
    markIfShown(c, first, end - 1);
    fillCells(0, top, m->textColumns, bottom + 1, c->workPage, 32, c->foreground, c->background);
    unlockScreen(1, 0);
    cursorHook(top + 1, 1);
    return;
  }
  const int32_t bpp = c->targetBytesPerPixel;
  for (int32_t y = c->viewY; y < c->viewY + c->viewHeight; ++y) {
    c->fillSpan(c->rows[y] + static_cast<std::size_t>(c->viewX) * bpp, c->background, c->viewWidth);
  }
  markIfShown(c, c->viewY, c->viewY + c->viewHeight - 1);
  c->lastX = static_cast<float>(c->viewX + c->viewWidth / 2);
  c->lastY = static_cast<float>(c->viewY + c->viewHeight / 2);
  unlockScreen(1, 0);
}

int32_t colorHook(int32_t foreground, int32_t background, int32_t flags) {
  const ScreenMode* m = currentMode();
  if (!m) return 0;
  DrawContext* c = getContext();
  int32_t previous;
  if (m->depth <= 8) {
    previous = static_cast<int32_t>(c->background << 16 | c->foreground);
  } else if (m->depth == 16) {
    previous = static_cast<int32_t>(expand565(c->foreground));
  } else {
    previous = static_cast<int32_t>(c->foreground);
  }
  const bool keepForeground = flags & 1, keepBackground = flags & 2;
  auto convert = [m, c](int32_t value) {
    const auto v = static_cast<uint32_t>(value);
    if (m->depth > 8) return rgbForDepth(m->bytesPerPixel, v, (v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
    return c->targetBytesPerPixel >= 4 ? v : v & ((1u << (8 * c->targetBytesPerPixel)) - 1);
  };
  switch (m->modeNumber) {
    case 1:
      if (!keepBackground) paletteSet((background & 0xFF) | ~3, 0, 0, 0);
      if (!keepForeground) paletteSet(0, foreground, -1, -1);
      break;
    case 7:
    case 8:
    case 9:
      if (!keepForeground) c->foreground = static_cast<uint32_t>(foreground & 0x0F);
      if (!keepBackground) paletteSet(0, background, -1, -1);
      break;
    default:
      if (!keepForeground) c->foreground = convert(foreground);
      if (!keepBackground) c->background = convert(background);
  }
  return previous;
}

int32_t cursorHook(int32_t row, int32_t column) {
  ScreenMode* m = currentMode();
  if (!m) return 0;
  m->flags &= ~screenflag::pendingNewline;
  if (column - 1 >= 0) m->cursorColumn = column - 1;
  if (row - 1 >= 0) m->cursorRow = row - 1;
  // Positions are not compared with the grid, so a far row would overflow
  // a signed shift: the word is built unsigned and wraps.
  const uint32_t word = (static_cast<uint32_t>(m->cursorColumn) & 0xFF) | static_cast<uint32_t>(m->cursorRow) << 8;
  return static_cast<int32_t>(word + 0x101u);
}

int32_t textSizeHook(int32_t columns, int32_t rows) {
  ScreenMode* m = currentMode();
  if (!m) return 0;
  const int32_t previous = m->textColumns | m->textRows << 16;
  if (columns <= 0 && rows <= 0) return previous;
  const int32_t newColumns = columns > 0 ? columns : m->textColumns;
  const int32_t newRows = rows > 0 ? rows : m->textRows;
  const int32_t cellWidth = columns > 0 ? m->width / columns : (m->font ? m->font->width : 0);
  const int32_t cellHeight = rows > 0 ? m->height / rows : (m->font ? m->font->height : 0);
  const FontRecord* font = cellWidth == 8 ? fontsByHeight(cellHeight) : nullptr;
  if (!font) return previous;
  // New cell buffers first, so that a failed allocation changes nothing.
  const auto cells = static_cast<std::size_t>(newColumns) * static_cast<std::size_t>(newRows);
  auto** pages = static_cast<uint8_t**>(allocateZeroed(m->pageCount, sizeof(uint8_t*)));
  bool complete = pages != nullptr;
  for (uint32_t i = 0; complete && i < m->pageCount; ++i) {
    complete = (pages[i] = static_cast<uint8_t*>(allocateZeroed(cells, sizeof(TextCell)))) != nullptr;
  }
  if (!complete) {
    for (uint32_t i = 0; pages && i < m->pageCount; ++i) std::free(pages[i]);
    std::free(pages);
    return previous;
  }
  for (uint32_t i = 0; i < m->pageCount; ++i) std::free(m->textPages[i]);
  std::free(m->textPages);
  m->textPages = pages;
  m->textColumns = newColumns;
  m->textRows = newRows;
  m->font = font;
  DrawContext* c = getContext();
  c->screenViewX = c->screenViewY = 0;
  c->screenViewWidth = m->width;
  c->screenViewHeight = m->height;
  c->flags |= contextflag::rebuildScreen;
  selectTarget(c, nullptr);
  consoleRefreshSize();
  resetConsoleViewLimits();
  clearHook(0);
  return previous;
}

int32_t getXHook() { return currentMode() ? currentMode()->cursorColumn + 1 : 0; }
int32_t getYHook() { return currentMode() ? currentMode()->cursorRow + 1 : 0; }

void getXYHook(int32_t* column, int32_t* row) {
  if (column) *column = getXHook();
  if (row) *row = getYHook();
}

void getSizeHook(int32_t* columns, int32_t* rows) {
  const ScreenMode* m = currentMode();
  if (columns) *columns = m ? m->textColumns : 0;
  if (rows) *rows = m ? m->textRows : 0;
}

void printHook(const char* bytes, int32_t length, int32_t flags) {
  if (bytes && (length > 0 || (flags & 8))) printBytes(bytes, std::max(length, 0));
}

void printWideHook(const char16_t* text, int32_t length, int32_t flags) {
  const std::string bytes = wideToBytes(text, length);
  printHook(bytes.data(), static_cast<int32_t>(bytes.size()), flags);
}

char* readStringHook(char* buffer, int32_t size) {
  if (!currentMode() || !buffer || size < 1) return nullptr;
  int32_t held = 0;
  printBlock();
  cursorBack();
  for (;;) {
    const int32_t code = waitKey();
    if (!currentMode()) break;
    if (code < 256) {
      const auto byte = static_cast<uint8_t>(code);
      if (byte == 8 && held > 0) {
        --held;
        ScreenMode* m = currentMode();
        if (m->cursorRow == 0 && m->cursorColumn == 0) {
          printBlock();
          cursorBack();
        } else {
          cursorBack();
          const char blockAndSpace[2] = {static_cast<char>(blockGlyph), ' '};
          printBytes(blockAndSpace, 2);
          cursorBack();
          cursorBack();
        }
        continue;
      }
      if (byte != 8 && byte != 7 && held < size - 1) {
        if (byte == 13) {
          printBytes(" ", 1);
          cursorBack();
        }
        buffer[held++] = static_cast<char>(byte);
        const char c = static_cast<char>(byte);
        printBytes(&c, 1);
      }
      if (byte == 13) break;
    }
    printBlock();
    cursorBack();
  }
  buffer[held] = '\0';
  return buffer;
}

int32_t readLineHook(const char* prompt, char* destination, int32_t size, int32_t, int32_t question, int32_t newline) {
  return lineInput(prompt, destination, size, question, newline);
}

int32_t readLineWideHook(const char16_t* prompt, char16_t* destination, int32_t size, int32_t question,
                         int32_t newline) {
  return lineInputWide(prompt, destination, size, question, newline);
}

int32_t readCellHook(int32_t column, int32_t row, int32_t colourFlag) {
  const ScreenMode* m = currentMode();
  if (!m || column < 1 || column > m->textColumns || row < 1 || row > m->textRows) return 0;
  const TextCell& cell = cellsOf(m, getContext()->workPage)[(row - 1) * m->textColumns + column - 1];
  if (colourFlag == 0) return cell.character;
  const uint32_t colour = colourFlag == 2 ? cell.background : cell.foreground;
  if (m->depth < 5) return static_cast<int32_t>(cell.background * 16 + cell.foreground);
  if (m->depth <= 8) return static_cast<int32_t>(cell.background * 256 + cell.foreground);
  if (m->depth == 16) return static_cast<int32_t>(expand565(colour));
  return static_cast<int32_t>(colour);
}

}  // namespace pel
