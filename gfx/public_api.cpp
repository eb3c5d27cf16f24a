// The public layer: each call is one of the runtime's operations with names
// and types in place of positional integers.
#include "pellucet/pellucet.h"

#include <algorithm>

#include "gfx/draw.h"
#include "gfx/driver.h"
#include "gfx/input.h"
#include "gfx/mode.h"
#include "gfx/pages.h"
#include "gfx/text.h"
#include "runtime/clock.h"
#include "runtime/console.h"
#include "runtime/keys.h"

namespace pellucet {
namespace {

using pel::currentMode;

void drawKind(float x1, float y1, float x2, float y2, uint32_t colour, int32_t kind) {
  pel::drawLine(nullptr, x1, y1, x2, y2, colour, kind, 0xFFFF, 0);
}

// Modifier keys held now, from the key state (set 1 scan codes).
uint32_t heldModifiers() {
  const pel::ScreenMode* m = currentMode();
  if (!m || !m->keyState) return 0;
  const uint8_t* k = m->keyState;
  return (k[0x2A] || k[0x36] ? shift : 0u) | (k[0x1D] ? control : 0u) | (k[0x38] ? alt : 0u);
}

// The queue's record as a typed event; mouse events get the pointer's
// position where the record has none.
Event typed(const pel::EventRecord& r) {
  Event e;
  e.type = static_cast<EventType>(r.type);
  switch (r.type) {
    case pel::KeyPress:
    case pel::KeyRelease:
    case pel::KeyRepeat:
      e.scanCode = r.a;
      e.character = r.b;
      e.modifiers = heldModifiers();
      return e;
    case pel::MouseMove:
    case pel::MouseEnter:
      // Client coordinates travel as unsigned 16-bit values.
      e.x = static_cast<int16_t>(r.a);
      e.y = static_cast<int16_t>(r.b);
      e.dx = r.c;
      e.dy = r.d;
      e.modifiers = heldModifiers();
      return e;
    case pel::MouseButtonPress:
    case pel::MouseButtonRelease:
    case pel::MouseDoubleClick:
    case pel::MouseWheel:
    case pel::MouseHWheel:
    case pel::MouseExit: {
      const Mouse now = mouse();
      e.x = now.x;
      e.y = now.y;
      if (r.type == pel::MouseWheel || r.type == pel::MouseHWheel) {
        e.wheel = r.a;
      } else if (r.type != pel::MouseExit) {
        e.button = r.a;
      }
      e.modifiers = heldModifiers();
      return e;
    }
    default:
      return e;
  }
}

}  // namespace

bool openScreen(int width, int height, int depth, int pages, uint32_t flags, int refreshRate) {
  return pel::openScreenBySize(width, height, depth, pages, static_cast<int32_t>(flags & 0xFF), refreshRate) == 0;
}

bool openNumberedScreen(int number, int depth, int pages, uint32_t flags, int refreshRate) {
  return pel::openScreenByNumber(number, depth, pages, static_cast<int32_t>(flags & 0xFF), refreshRate) == 0;
}

void closeScreen() { pel::closeScreen(); }
bool screenOpen() { return currentMode() != nullptr; }

ScreenInfo screenInfo() {
  ScreenInfo info;
  if (const pel::ScreenMode* m = currentMode()) {
    info.width = m->width;
    info.height = m->height;
    info.depth = m->depth;
    info.bytesPerPixel = m->bytesPerPixel;
    info.pitch = m->pitch;
    info.pages = static_cast<int>(m->pageCount);
    info.refreshRate = m->refreshRate;
    info.backend = m->driver && m->driver->name ? m->driver->name : "";
  }
  return info;
}

const char* lastFailure() { return pel::modeSetFailure(); }

void flip() { pel::copyPage(-1, -1); }
bool setPages(int workPage, int visiblePage) { return pel::setPages(workPage, visiblePage) != -1; }

void waitVsync() {
  if (const pel::ScreenMode* m = currentMode(); m && m->driver && m->driver->waitVsync) m->driver->waitVsync();
}

void setTitle(std::string_view title) { pel::setTitle(title); }

void line(float x1, float y1, float x2, float y2, uint32_t colour) {
  drawKind(x1, y1, x2, y2, colour, pel::linekind::line);
}
void box(float x1, float y1, float x2, float y2, uint32_t colour) { drawKind(x1, y1, x2, y2, colour, 1); }
void fillBox(float x1, float y1, float x2, float y2, uint32_t colour) {
  drawKind(x1, y1, x2, y2, colour, pel::linekind::filledBox);
}

void clear(uint32_t colour) {
  if (const pel::ScreenMode* m = currentMode()) {
    fillBox(0, 0, static_cast<float>(m->width - 1), static_cast<float>(m->height - 1), colour);
  }
}

void text(float x, float y, std::string_view s, uint32_t colour) {
  // The runtime's strings carry their length; the top bit would mark one the
  // runtime frees.
  const pel::TextString t{s.data(), static_cast<uint32_t>(std::min<std::size_t>(s.size(), 0x7FFFFFFF))};
  pel::drawString(nullptr, x, y, 0, &t, colour, nullptr, 0, nullptr, nullptr, nullptr);
}

Pixels lockPixels() {
  Pixels p;
  const pel::ScreenMode* m = currentMode();
  if (!m) return p;
  pel::lockScreen();
  p.data = pel::workPagePointer();
  p.width = m->width;
  p.height = m->height;
  p.pitch = m->pitch;
  p.bytesPerPixel = m->bytesPerPixel;
  return p;
}

void unlockPixels() { pel::unlockScreen(-1, -1); }
void unlockPixels(int firstRow, int lastRow) { pel::unlockScreen(firstRow, lastRow); }

void setPalette(int index, uint8_t red, uint8_t green, uint8_t blue) {
  if (index >= 0 && index <= 255) pel::paletteSet(index, red, green, blue);
}
void resetPalette() { pel::paletteSet(-1, 0, 0, 0); }

bool keyDown(int scanCode) { return scanCode > 0 && scanCode < 128 && pel::keyHeld(scanCode) != 0; }
int takeKey() { return pel::takeKey(); }
int waitKey() { return pel::waitKey(); }

Mouse mouse() {
  Mouse state;
  int32_t x = -1, y = -1, wheel = 0, buttons = 0, clip = 0;
  if (pel::mouseGet(&x, &y, &wheel, &buttons, &clip) == 0) {
    state.x = x;
    state.y = y;
    state.wheel = wheel;
    state.buttons = buttons;
  }
  return state;
}

void setMouse(int x, int y) { pel::mouseSet(x, y, -1, -1); }
void showCursor(bool shown) { pel::mouseSet(pel::keepCoordinate, pel::keepCoordinate, shown ? 1 : 0, -1); }

bool pollEvent(Event& event) {
  pel::EventRecord r{};
  if (!pel::pollEvent(r)) return false;
  event = typed(r);
  return true;
}

bool waitEvent(Event& event, int timeoutMs) {
  pel::EventRecord r{};
  if (!pel::waitEvent(r, timeoutMs, 5)) return false;
  event = typed(r);
  return true;
}

void print(std::string_view s) { pel::consolePrint(s.data(), static_cast<int32_t>(std::min<std::size_t>(s.size(), INT32_MAX)), 0); }
void locate(int row, int column) { pel::consoleLocate(row, column); }
void textColour(uint32_t foreground, uint32_t background) {
  pel::consoleColor(static_cast<int32_t>(foreground), static_cast<int32_t>(background), 0);
}

std::string_view readLine(char* buffer, int size) {
  if (!buffer || size < 1) return {};
  if (!pel::consoleReadString(buffer, size)) {
    buffer[0] = '\0';
    return {};
  }
  std::string_view line(buffer);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

double seconds() { return pel::timerSeconds(); }
bool sleepMs(int ms) { return pel::sleepMs(ms) != 0; }

}  // namespace pellucet
