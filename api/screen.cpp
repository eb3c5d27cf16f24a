// The public layer: each call is one of the runtime's operations with names
// and types in place of positional integers.
#include "pellucet/pellucet.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "gfx/draw.h"
#include "gfx/driver.h"
#include "gfx/drivers/window_record.h"
#include "gfx/drivers/window_scale.h"
#include "gfx/input.h"
#include "gfx/mode.h"
#include "gfx/pages.h"
#include "gfx/text.h"
#include "runtime/clock.h"
#include "runtime/console.h"
#include "runtime/keys.h"
#include "runtime/platform.h"
#include "runtime/random.h"
#include "api/internal.h"
#include "gfx/retrace_pacer.h"

namespace pellucet {
namespace {

using pel::currentMode;

// A failure the public layer finds itself: before the runtime is asked, and
// the image calls'.
std::string ownFailure;

void drawKind(float x1, float y1, float x2, float y2, uint32_t colour, int32_t kind) {
  pel::drawLine(nullptr, x1, y1, x2, y2, colour, kind, 0xFFFF, 0);
}

// Modifier keys held now, from the key state (set 1 scan codes).
uint32_t heldModifiers() {
  const pel::ScreenMode* m = currentMode();
  if (!m || !m->keyState) return 0;
  const uint8_t* k = m->keyState;
  return (k[0x2A] || k[0x36] ? shift : 0u) | (k[0x2A] ? leftShift : 0u) | (k[0x36] ? rightShift : 0u) |
         (k[0x1D] ? control : 0u) | (k[0x38] ? alt : 0u) | (k[0x5B] || k[0x5C] ? super : 0u);
}

// The modifier bits `m` with the sides the window layer's word tells, each
// only beside its modifier (AltGr is no Alt where the platform says so).
uint32_t withSides(uint32_t m, int32_t word) {
  namespace km = pel::keymod;
  m &= ~(leftShift | rightShift | leftControl | rightControl | leftAlt | rightAlt);
  constexpr struct {
    int32_t key;
    uint32_t modifier, side;
  } sides[] = {{km::leftShiftKey, shift, leftShift},     {km::rightShiftKey, shift, rightShift},
               {km::leftCtrlKey, control, leftControl}, {km::rightCtrlKey, control, rightControl},
               {km::leftAltKey, alt, leftAlt},          {km::rightAltKey, alt, rightAlt}};
  for (const auto& s : sides) {
    if ((word & s.key) && (m & s.modifier)) m |= s.side;
  }
  return m;
}

// The window layer's modifier word in the public bits.
uint32_t publicModifiers(int32_t word) {
  namespace km = pel::keymod;
  const uint32_t m = (word & km::shift ? shift : 0u) | (word & (km::leftCtrl | km::rightCtrl) ? control : 0u) |
                     (word & (km::leftAlt | km::rightAlt) ? alt : 0u) | (word & km::super ? super : 0u) |
                     (word & km::capsLock ? capsLock : 0u) | (word & km::numLock ? numLock : 0u);
  return withSides(m, word);
}

// What the public layer remembers of the screen's events: the wheels' last
// counts (for the step, where a bare record lacks it).
struct Remembered {
  uint32_t modeId = 0;
  int wheel[2] = {};
};
Remembered remembered;

// The public event types are the runtime's numbers, cast across.
constexpr bool sameType(EventType a, pel::EventType b) { return static_cast<int32_t>(a) == static_cast<int32_t>(b); }
static_assert(sameType(EventType::KeyPress, pel::KeyPress) && sameType(EventType::KeyRelease, pel::KeyRelease) &&
              sameType(EventType::KeyRepeat, pel::KeyRepeat) && sameType(EventType::MouseMove, pel::MouseMove) &&
              sameType(EventType::ButtonPress, pel::MouseButtonPress) &&
              sameType(EventType::ButtonRelease, pel::MouseButtonRelease) &&
              sameType(EventType::Wheel, pel::MouseWheel) && sameType(EventType::MouseEnter, pel::MouseEnter) &&
              sameType(EventType::MouseLeave, pel::MouseExit) && sameType(EventType::FocusGained, pel::WindowGotFocus) &&
              sameType(EventType::FocusLost, pel::WindowLostFocus) && sameType(EventType::Close, pel::WindowClose) &&
              sameType(EventType::HorizontalWheel, pel::MouseHWheel) && sameType(EventType::TextInput, pel::TextInput) &&
              sameType(EventType::Resize, pel::Resize));

// The queue's record as a typed event, or nothing for a record that stands
// for no event of the public layer's. Position and modifiers are those the
// window layer recorded when the event happened; where it recorded none
// (records posted bare by other code), those at the moment the event is taken.
std::optional<Event> typed(const pel::WindowEvent& r) {
  if (const pel::ScreenMode* m = currentMode(); m && m->id != remembered.modeId) {
    remembered = Remembered{};
    remembered.modeId = m->id;
  }
  const pel::EventMoment& at = r.moment;
  Event e;
  e.type = static_cast<EventType>(r.type);
  e.modifiers = at.known ? publicModifiers(at.modifiers) : heldModifiers();
  e.buttons = at.known ? at.buttons & 0x1F : std::max(mouse().buttons, 0);
  if (at.known) {
    // Client coordinates travel as unsigned 16-bit values.
    e.x = static_cast<int16_t>(at.x);
    e.y = static_cast<int16_t>(at.y);
  } else {
    const Mouse now = mouse();
    e.x = now.x;
    e.y = now.y;
  }
  switch (r.type) {
    case pel::KeyPress:
    case pel::KeyRelease:
    case pel::KeyRepeat: {
      if (r.key.report == pel::KeyReport::unpairedRelease) return std::nullopt;
      // The key's place and what it typed, alike on every back end: the
      // character in code page 437, none for keys pressed with Alt.
      e.scanCode = r.key.place;
      e.character = r.key.unicode ? pel::cp437FromUnicode(r.key.unicode) : r.key.character;
      if (at.known && (at.modifiers & (pel::keymod::leftAlt | pel::keymod::rightAlt))) e.character = 0;
      const bool down = e.type != EventType::KeyRelease;
      // A modifier key's own event counts it as held after a press and not
      // after a release, on every back end (X reports the state before the
      // event, Windows after).
      const int32_t scan = r.key.place;
      const uint32_t own = scan == 0x2A || scan == 0x36 ? shift
                           : scan == 0x1D            ? control
                           : scan == 0x38            ? alt
                           : scan == 0x5B || scan == 0x5C ? super
                                                     : 0u;
      e.modifiers = down ? e.modifiers | own : e.modifiers & ~own;
      if (at.known) e.modifiers = withSides(e.modifiers, at.modifiers);
      return e;
    }
    case pel::MouseMove:
    case pel::MouseEnter:
      e.x = static_cast<int16_t>(r.pointer.x);
      e.y = static_cast<int16_t>(r.pointer.y);
      e.dx = r.pointer.dx;
      e.dy = r.pointer.dy;
      return e;
    case pel::MouseButtonPress:
    case pel::MouseDoubleClick:
      e.type = EventType::ButtonPress;
      e.button = r.buttons;
      e.clicks = r.type == pel::MouseDoubleClick ? 2 : 1;
      return e;
    case pel::MouseButtonRelease:
      e.button = r.buttons;
      return e;
    case pel::Resize:
      e.width = r.area.width;
      e.height = r.area.height;
      e.picture = {r.area.pictureX, r.area.pictureY, r.area.pictureWidth, r.area.pictureHeight};
      return e;
    case pel::TextInput:
      std::memcpy(e.text, r.text, sizeof e.text);
      e.text[sizeof e.text - 1] = 0;
      return e;
    case pel::MouseWheel:
    case pel::MouseHWheel: {
      int& last = remembered.wheel[r.type == pel::MouseHWheel];
      e.wheel = r.wheel.position;
      e.step = r.wheel.step != 0 ? r.wheel.step : (r.wheel.position >= last ? 1 : -1);
      last = r.wheel.position;
      return e;
    }
    default:
      return e;
  }
}

// The next record that is an event of the public layer's.
bool nextEvent(Event& event) {
  pel::WindowEvent r{};
  while (pel::pollWindowEvent(r)) {
    if (std::optional<Event> e = typed(r)) {
      event = *e;
      return true;
    }
  }
  return false;
}

}  // namespace

void setPublicFailure(std::string reason) { ownFailure = std::move(reason); }

// The window scale asked for by the flags; false (with the reason) for a
// zoom out of range.
static bool takeWindowScale(uint32_t flags) {
  const uint32_t zoom = (flags & zoomToFit) >> 8;
  if (zoom > 8 && zoom != 0xF) {
    ownFailure = "a zoom of 1 to 8, or zoomToFit";
    return false;
  }
  pel::WindowScale scale;
  scale.zoom = zoom == 0xF ? pel::windowzoom::fit : static_cast<int32_t>(zoom);
  scale.resizable = flags & resizable;
  if (scale.resizable && scale.zoom == pel::windowzoom::none) scale.zoom = pel::windowzoom::desktop;
  pel::requestWindowScale(scale);
  return true;
}

WindowSize windowSize() {
  WindowSize size;
  const pel::ScreenMode* m = currentMode();
  if (!m) return size;
  pel::WindowArea area{};
  if (pel::windowArea(area)) {
    size.width = area.width;
    size.height = area.height;
    size.picture = {area.pictureX, area.pictureY, area.pictureWidth, area.pictureHeight};
  } else {
    size.width = m->width;
    size.height = m->height * m->scanlineRepeat;
    size.picture = {0, 0, size.width, size.height};
  }
  return size;
}

bool openScreen(int width, int height, int depth, int pages, uint32_t flags, int refreshRate) {
  ownFailure.clear();
  if (pages < 1) {
    ownFailure = "a screen has at least 1 page, not " + std::to_string(pages);
    return false;
  }
  if (!takeWindowScale(flags)) return false;
  const bool opened =
      pel::openScreenBySize(width, height, depth, pages, static_cast<int32_t>(flags & 0xFF), refreshRate) == 0;
  pel::requestWindowScale({});
  return opened;
}

bool openNumberedScreen(int number, int depth, int pages, uint32_t flags, int refreshRate) {
  ownFailure.clear();
  // The runtime's screen 0 is the text screen, which closes the graphics one.
  if (number < 1 || number > 21) {
    ownFailure = "no numbered screen " + std::to_string(number) + " (1-21; closeScreen() returns to text)";
    return false;
  }
  if (pel::numberedScreenTakesDepth(number, 0) && !pel::numberedScreenTakesDepth(number, depth)) {
    ownFailure = "screen " + std::to_string(number) + " does not open at depth " + std::to_string(depth) +
                 " (0 takes its own; screens 14-21 also open at 8, 15, 16, 24 or 32)";
    return false;
  }
  if (pages < 0) {
    ownFailure = "a screen has at least 1 page, not " + std::to_string(pages) + " (0 takes the screen's own)";
    return false;
  }
  if (!takeWindowScale(flags)) return false;
  const bool opened =
      pel::openScreenByNumber(number, depth, pages, static_cast<int32_t>(flags & 0xFF), refreshRate) == 0;
  pel::requestWindowScale({});
  return opened;
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
    info.zoom = pel::publishedWindowZoom();
  }
  return info;
}

const char* lastFailure() { return ownFailure.empty() ? pel::modeSetFailure() : ownFailure.c_str(); }

void flip() { pel::copyPage(-1, -1); }
bool setPages(int workPage, int visiblePage) {
  const pel::ScreenMode* m = currentMode();
  if (!m) return false;
  const int pages = static_cast<int>(m->pageCount);
  if (workPage < -1 || workPage >= pages || visiblePage < -1 || visiblePage >= pages) return false;
  return pel::setPages(workPage, visiblePage) != -1;
}

void waitVsync() {
  static pel::RetracePacer pacer;
  const pel::ScreenMode* m = currentMode();
  if (!m) return;
  if (m->driver && m->driver->waitVsync) m->driver->waitVsync();
  // A back end that cannot wait for the retrace (the null one) still takes
  // about a frame.
  pacer.pace(m->refreshRate);
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
// Characters travel in the ring as signed bytes; the public caller gets
// them as 0-255.
int publicKey(int32_t code) { return code < 0 && code >= -128 ? code & 0xFF : code; }
int takeKey() { return publicKey(pel::takeKey()); }

int waitKey() {
  // With no screen, keys come from the terminal; standard input that is no
  // terminal (a pipe, a file) gives its bytes, and 0 at its end.
  if (!currentMode() && !pel::platform::stdinIsTerminal()) {
    const int c = std::getchar();
    return c == EOF ? 0 : c;
  }
  return publicKey(pel::waitKey());
}

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

bool pollEvent(Event& event) { return nextEvent(event); }

bool waitEvent(Event& event, int timeoutMs) {
  const auto start = std::chrono::steady_clock::now();
  while (currentMode()) {
    // Counted before the look, so a record posted in between ends the wait.
    const uint64_t seen = pel::inputSeen();
    if (nextEvent(event)) return true;
    const int32_t left = pel::msLeft(start, timeoutMs);
    if (left == 0) return false;
    pel::waitForInput(seen, left);
  }
  return false;
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
  // The screen's line reader leaves the cursor after the text; a terminal
  // goes on to the next line.
  if (currentMode()) print("\n");
  return line;
}

void seedRandom(double seed, RandomAlgorithm algorithm) { pel::seedRandom(seed, static_cast<int32_t>(algorithm)); }
double nextRandom() { return pel::nextRandom(1.0f); }
int randomBetween(int low, int high) {
  if (high <= low) return low;
  const int64_t span = static_cast<int64_t>(high) - low + 1;
  const auto offset = static_cast<int64_t>(nextRandom() * static_cast<double>(span));
  return static_cast<int>(low + std::min(offset, span - 1));
}

double seconds() { return pel::timerSeconds(); }
bool sleepMs(int ms) { return pel::sleepMs(ms) != 0; }

}  // namespace pellucet
