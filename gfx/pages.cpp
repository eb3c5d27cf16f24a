#include "pages.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "gfx/driver.h"
#include "gfx/mode.h"
#include "gfx/fonts.h"
#include "gfx/text_cells.h"
#include "runtime/runtime.h"

namespace pel {
namespace {

char titleBuffer[128];
const char* currentTitle = nullptr;

// Rows were marked since the lock's last level was last released. Window
// threads mark rows too (a repaint), under the back end's lock.
std::atomic<bool> rowsMarked{false};

// Pixel value to default colour number, by screen, at a palette reset.
struct ResetMapping {
  int32_t count;
  uint8_t colours[16];
};
constexpr ResetMapping screen1Maps[4] = {
    {4, {0, 11, 13, 15}}, {4, {0, 10, 12, 14}}, {4, {0, 3, 5, 7}}, {4, {0, 2, 4, 6}}};
constexpr ResetMapping screen2Map = {2, {0, 15}};
constexpr ResetMapping screen7Map = {16, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}};
constexpr ResetMapping screen9Map = {16, {0, 1, 2, 3, 4, 5, 20, 7, 56, 57, 58, 59, 60, 61, 62, 63}};

const ResetMapping* resetMapping(int32_t screen, int32_t index) {
  switch (screen) {
    case 1: return &screen1Maps[index >= -3 ? -index - 1 : 3];
    case 2: return &screen2Map;
    case 7:
    case 8: return &screen7Map;
    case 9: return &screen9Map;
    default: return nullptr;
  }
}

uint32_t packBgr(const uint8_t* triple) { return triple[0] | triple[1] << 8 | triple[2] << 16; }

void sendPalette(const ScreenMode* m, int32_t index, uint32_t bgr) {
  if (m->driver && m->driver->setPalette) {
    m->driver->setPalette(index, bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF);
  }
}

}  // namespace

void markAllRows(ScreenMode* m) {
  if (!m) return;
  fillBytes(m->dirty, 1, static_cast<std::size_t>(m->height));
  rowsMarked.store(true, std::memory_order_relaxed);
}

void markDirty(int32_t firstRow, int32_t lastRow) {
  ScreenMode* m = currentMode();
  if (!m || firstRow > lastRow) return;
  fillBytes(m->dirty + firstRow, 1, static_cast<std::size_t>(lastRow - firstRow + 1));
  rowsMarked.store(true, std::memory_order_relaxed);
}

RowSpan dirtyRows(const ScreenMode* m) {
  int32_t first = 0;
  while (first < m->height && !m->dirty[first]) ++first;
  if (first == m->height) return {0, 0};
  int32_t end = m->height;
  while (!m->dirty[end - 1]) --end;
  return {first, end};
}

void lockScreen() {
  ScreenMode* m = currentMode();
  if (!m) return;
  if (m->lockCount > 0) {
    ++m->lockCount;
    return;
  }
  if (m->driver && m->driver->lock) m->driver->lock();
  m->lockCount = 1;
}

void unlockScreen(int32_t firstRow, int32_t lastRow) {
  const DrawContext* c = getContext();
  ScreenMode* m = currentMode();
  if (!m || !c) return;
  if (firstRow < 0) firstRow = 0;
  if (lastRow < 0) lastRow = m->height - 1;
  if (lastRow >= firstRow && static_cast<uint32_t>(c->workPage) == m->visiblePage && lastRow < m->height) {
    markDirty(firstRow, lastRow);
  }
  if (m->lockCount > 0 && --m->lockCount == 0 && m->driver) {
    // Every way the program changes what the window shows ends here: one
    // word to the back end, not one a caller.
    if (rowsMarked.exchange(false, std::memory_order_relaxed) && m->driver->rowsMarked) m->driver->rowsMarked();
    if (m->driver->unlock) m->driver->unlock();
  }
}

int32_t setPages(int32_t work, int32_t visible) {
  ScreenMode* m = currentMode();
  if (!m) return -1;
  DrawContext* c = getContext();
  const int32_t previous = static_cast<int32_t>(m->visiblePage << 8) | c->workPage;
  resetScreenTarget(c);
  if (work < 0 && visible < 0) {
    if (m->pageCount < 1) return previous;
    work = visible = 0;
  }
  if (work >= 0 && static_cast<uint32_t>(work) < m->pageCount) {
    for (int32_t y = 0; y < m->height; ++y) c->rows[y] = m->pages[work] + static_cast<std::size_t>(y) * m->pitch;
    c->workPage = work;
  }
  if (visible >= 0 && static_cast<uint32_t>(visible) < m->pageCount && static_cast<uint32_t>(visible) != m->visiblePage) {
    lockScreen();
    m->visiblePage = static_cast<uint32_t>(visible);
    m->visibleBuffer = m->pages[visible];
    markAllRows(m);
    unlockScreen(1, 0);
  }
  return previous;
}

int32_t copyPage(int32_t source, int32_t destination) {
  ScreenMode* m = currentMode();
  if (!m) return setLastError(1);
  if (m->driver && m->driver->flip) {
    m->driver->flip();
    if (m->driver->pollEvents) m->driver->pollEvents();
    return setLastError(0);
  }
  DrawContext* c = getContext();
  resetScreenTarget(c);
  const uint32_t from = source < 0 ? static_cast<uint32_t>(c->workPage) : static_cast<uint32_t>(source);
  const uint32_t to = destination < 0 ? m->visiblePage : static_cast<uint32_t>(destination);
  if (from >= m->pageCount || to >= m->pageCount) return setLastError(1);
  if (from == to) return setLastError(0);
  const bool present = to == m->visiblePage && m->lockCount == 0;
  if (present) lockScreen();
  const std::size_t offset = static_cast<std::size_t>(c->viewY) * m->pitch + static_cast<std::size_t>(c->viewX) * m->bytesPerPixel;
  const std::size_t rowBytes = static_cast<std::size_t>(c->viewWidth) * m->bytesPerPixel;
  const uint8_t* src = m->pages[from] + offset;
  uint8_t* dst = m->pages[to] + offset;
  if (rowBytes == static_cast<std::size_t>(m->pitch)) {
    // Whole rows are contiguous: one copy instead of one per row.
    copyBytes(dst, src, rowBytes * static_cast<std::size_t>(c->viewHeight));
  } else {
    for (int32_t y = 0; y < c->viewHeight; ++y) copyBytes(dst + static_cast<std::size_t>(y) * m->pitch, src + static_cast<std::size_t>(y) * m->pitch, rowBytes);
  }
  if (m->textPages) {
    copyBytes(m->textPages[to], m->textPages[from],
              static_cast<std::size_t>(m->textColumns) * static_cast<std::size_t>(m->textRows) * sizeof(TextCell));
  }
  if (present) {
    if (c->viewHeight > 0) markDirty(c->viewY, c->viewY + c->viewHeight - 1);
    unlockScreen(1, 0);
  }
  return setLastError(0);
}

uint8_t* workPagePointer() {
  if (!currentMode()) return nullptr;
  DrawContext* c = getContext();
  resetScreenTarget(c);
  return c->rows[0];
}

void setTitle(std::string_view text) {
  std::memset(titleBuffer, 0, sizeof titleBuffer);
  text.copy(titleBuffer, std::min<std::size_t>(text.size(), sizeof titleBuffer - 1));
  currentTitle = titleBuffer;
  const ScreenMode* m = currentMode();
  if (m && m->driver && m->driver->setWindowTitle) m->driver->setWindowTitle(titleBuffer);
}

const char* windowTitle() { return currentTitle; }

void paletteSet(int32_t index, int32_t colour, int32_t green, int32_t blue) {
  ScreenMode* m = currentMode();
  if (!m || m->depth > 8) return;
  lockScreen();
  if (index >= 0) {
    if (green < 0 || blue < 0) {
      setPaletteFromValue(index, colour);
    } else {
      setPaletteEntry(index, colour, green, blue);
    }
  } else if (const PaletteRecord* defaults = m->defaultPalette) {
    const ResetMapping* mapping = resetMapping(m->modeNumber, index);
    for (int32_t i = 0; i < defaults->count; ++i) {
      m->deviceColors[i] = packBgr(defaults->triples + 3 * i);
      if (i >= (1 << m->depth)) continue;
      int32_t shown = i;
      if (mapping && i < mapping->count) {
        m->colorMap[i] = mapping->colours[i];
        shown = mapping->colours[i];
      }
      m->palette[i] = packBgr(defaults->triples + 3 * shown);
      sendPalette(m, i, m->palette[i]);
    }
  }
  markAllRows(m);
  unlockScreen(1, 0);
}

void setPaletteEntry(int32_t index, int32_t red, int32_t green, int32_t blue) {
  ScreenMode* m = currentMode();
  if (!m || !m->defaultPalette) return;
  index &= m->defaultPalette->count - 1;
  // Components are bytes; wider values would spill into their neighbours.
  red &= 0xFF;
  green &= 0xFF;
  blue &= 0xFF;
  m->palette[index] = static_cast<uint32_t>(red | green << 8 | blue << 16);
  if (m->driver && m->driver->setPalette) m->driver->setPalette(index, red, green, blue);
}

void setPaletteFromValue(int32_t index, int32_t value) {
  ScreenMode* m = currentMode();
  if (!m || !m->defaultPalette) return;
  const int32_t count = m->defaultPalette->count;
  index &= count - 1;
  if (count == 256) {
    const auto widen = [](int32_t c) { return (c & 0x3F) * 255 / 63; };
    setPaletteEntry(index, widen(value), widen(value >> 8), widen(value >> 16));
    return;
  }
  value &= count - 1;
  if (index < 16) m->colorMap[index] = static_cast<uint8_t>(value);  // the map has 16 slots
  const uint32_t bgr = m->deviceColors[value];
  setPaletteEntry(index, bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF);
}

void resendPalette() {
  const ScreenMode* m = currentMode();
  if (!m || !m->driver || !m->driver->setPalette) return;
  for (int32_t i = 0; i < 256; ++i) sendPalette(m, i, m->palette[i]);
}

}  // namespace pel
