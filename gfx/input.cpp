#include "input.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "gfx/driver.h"
#include "gfx/fonts.h"
#include "gfx/mode.h"
#include "gfx/pages.h"
#include "runtime/console_engine.h"
#include "runtime/keys.h"
#include "runtime/platform.h"
#include "runtime/runtime.h"


namespace pel {

const ScanCodeRow ScanCodeTable[87] = {
    {0x01, 0x1B, 0},    {0x02, 0x31, 0},    {0x03, 0x32, 0},    {0x04, 0x33, 0},    {0x05, 0x34, 0},
    {0x06, 0x35, 0},    {0x07, 0x36, 0},    {0x08, 0x37, 0},    {0x09, 0x38, 0},    {0x0A, 0x39, 0},
    {0x0B, 0x30, 0},    {0x0C, 0xBD, 0x6D}, {0x0D, 0xBB, 0},    {0x0E, 0x08, 0},    {0x0F, 0x09, 0},
    {0x10, 0x51, 0},    {0x11, 0x57, 0},    {0x12, 0x45, 0},    {0x13, 0x52, 0},    {0x14, 0x54, 0},
    {0x15, 0x59, 0},    {0x16, 0x55, 0},    {0x17, 0x49, 0},    {0x18, 0x4F, 0},    {0x19, 0x50, 0},
    {0x1A, 0xDB, 0},    {0x1B, 0xDD, 0},    {0x1C, 0x0D, 0},    {0x1D, 0x11, 0},    {0x1E, 0x41, 0},
    {0x1F, 0x53, 0},    {0x20, 0x44, 0},    {0x21, 0x46, 0},    {0x22, 0x47, 0},    {0x23, 0x48, 0},
    {0x24, 0x4A, 0},    {0x25, 0x4B, 0},    {0x26, 0x4C, 0},    {0x27, 0xBA, 0},    {0x28, 0xDE, 0},
    {0x29, 0xC0, 0},    {0x2A, 0x10, 0},    {0x2B, 0xDC, 0},    {0x2C, 0x5A, 0},    {0x2D, 0x58, 0},
    {0x2E, 0x43, 0},    {0x2F, 0x56, 0},    {0x30, 0x42, 0},    {0x31, 0x4E, 0},    {0x32, 0x4D, 0},
    {0x33, 0xBC, 0},    {0x34, 0xBE, 0},    {0x35, 0xBF, 0x6F}, {0x36, 0x10, 0},    {0x37, 0x6A, 0},
    {0x38, 0x12, 0},    {0x39, 0x20, 0},    {0x3A, 0x14, 0},    {0x3B, 0x70, 0},    {0x3C, 0x71, 0},
    {0x3D, 0x72, 0},    {0x3E, 0x73, 0},    {0x3F, 0x74, 0},    {0x40, 0x75, 0},    {0x41, 0x76, 0},
    {0x42, 0x77, 0},    {0x43, 0x78, 0},    {0x44, 0x79, 0},    {0x45, 0x90, 0},    {0x46, 0x91, 0},
    {0x47, 0x24, 0x67}, {0x48, 0x26, 0x68}, {0x49, 0x21, 0x69}, {0x4B, 0x25, 0x64}, {0x4D, 0x27, 0x66},
    {0x4E, 0x6B, 0},    {0x4F, 0x23, 0x61}, {0x50, 0x28, 0x62}, {0x51, 0x22, 0x63}, {0x52, 0x2D, 0x60},
    {0x53, 0x2E, 0x6E}, {0x57, 0x7A, 0},    {0x58, 0x7B, 0},    {0x5B, 0x5B, 0},    {0x5C, 0x5C, 0},
    {0x5D, 0x5D, 0},    {0, 0, 0},
};

namespace {

// Key-code table: by scan code 0..0x58, columns none, Shift, Ctrl, Alt.
// Only the extended entries (256 and above: the extended scan code in the
// high byte) matter; every other entry is 0.
enum Column { None, Shift, Ctrl, Alt };
using KeyCodeRows = std::array<std::array<uint16_t, 4>, 89>;

constexpr KeyCodeRows buildKeyCodeTable() {
  KeyCodeRows t{};
  auto set = [&t](int scan, Column column, int code) { t[scan][column] = static_cast<uint16_t>(code << 8); };
  auto range = [&set](int first, int last, Column column, int code) {
    for (int scan = first; scan <= last; ++scan) set(scan, column, code + scan - first);
  };
  // Alt: letters and punctuation give their own scan code; the digit row 78..83.
  range(0x10, 0x1C, Alt, 0x10);
  range(0x1E, 0x29, Alt, 0x1E);
  range(0x2C, 0x35, Alt, 0x2C);
  set(0x01, Alt, 0x01);
  range(0x02, 0x0D, Alt, 0x78);
  set(0x0E, Alt, 0xE0);
  set(0x0F, Alt, 0x0F);
  range(0x3B, 0x44, Alt, 0x68);
  set(0x4C, Alt, 0x4C);
  set(0x57, Alt, 0x8B);
  set(0x58, Alt, 0x8C);
  // Ctrl.
  set(0x03, Ctrl, 0x03);
  set(0x0F, Ctrl, 0x94);
  range(0x3B, 0x44, Ctrl, 0x5E);
  constexpr int ctrlPad[][2] = {{0x47, 0x77}, {0x48, 0x8D}, {0x49, 0x84}, {0x4B, 0x73}, {0x4C, 0x8F}, {0x4D, 0x74},
                                {0x4F, 0x75}, {0x50, 0x91}, {0x51, 0x76}, {0x52, 0x92}, {0x53, 0x93}};
  for (const auto& [scan, code] : ctrlPad) set(scan, Ctrl, code);
  set(0x57, Ctrl, 0x89);
  set(0x58, Ctrl, 0x8A);
  // Shift.
  set(0x0F, Shift, 0x0F);
  range(0x3B, 0x44, Shift, 0x54);
  set(0x57, Shift, 0x87);
  set(0x58, Shift, 0x88);
  // No modifier: function keys and the keypad's cursor keys give their own scan code.
  range(0x3B, 0x44, None, 0x3B);
  for (int scan : {0x47, 0x48, 0x49, 0x4B, 0x4C, 0x4D, 0x4F, 0x50, 0x51, 0x52, 0x53}) set(scan, None, scan);
  set(0x57, None, 0x85);
  set(0x58, None, 0x86);
  return t;
}

constexpr KeyCodeRows KeyCodeTable = buildKeyCodeTable();

// Enhanced keys: scan code, then the none, Shift, Ctrl and Alt values.
constexpr uint16_t EnhancedKeyTable[12][5] = {
    {0x1C, 0x000D, 0x000D, 0x000A, 0xA600}, {0x35, 0x002F, 0x003F, 0x9500, 0xA400},
    {0x47, 0x4700, 0x4700, 0x7700, 0x9700}, {0x48, 0x4800, 0x4800, 0x8D00, 0x9800},
    {0x49, 0x4900, 0x4900, 0x8400, 0x9900}, {0x4B, 0x4B00, 0x4B00, 0x7300, 0x9B00},
    {0x4D, 0x4D00, 0x4D00, 0x7400, 0x9D00}, {0x4F, 0x4F00, 0x4F00, 0x7500, 0x9F00},
    {0x50, 0x5000, 0x5000, 0x9100, 0xA000}, {0x51, 0x5100, 0x5100, 0x7600, 0xA100},
    {0x52, 0x5200, 0x5200, 0x9200, 0xA200}, {0x53, 0x5300, 0x5300, 0x9300, 0xA300},
};

Column modifierColumn(int32_t modifiers) {
  if (modifiers & (keymod::rightAlt | keymod::leftAlt)) return Alt;
  if (modifiers & (keymod::rightCtrl | keymod::leftCtrl)) return Ctrl;
  if (modifiers & keymod::shift) return Shift;
  return None;
}

int32_t extendedCode(int32_t value) { return (value & 0xFF00) | 0xFF; }

int32_t swapCase(int32_t c) {
  if (c >= 'A' && c <= 'Z') return c + ('a' - 'A');
  if (c >= 'a' && c <= 'z') return c - ('a' - 'A');
  return c;
}

struct KeyRing {
  int32_t codes[16];
  uint32_t read, write;
  int32_t hit;
};
KeyRing ring{};

// VGA palette port state.
uint32_t dacIndex = 0;
uint32_t dacShift = 2;
uint32_t dacAccum = 0;

uint32_t paletteMask(const ScreenMode* m) {
  return static_cast<uint32_t>((m->defaultPalette ? m->defaultPalette->count : 256) - 1);
}

// Keys and records posted so far, counted, so a program waiting for input
// sleeps until some comes instead of looking every few milliseconds.
struct InputSignal {
  std::mutex lock;
  std::condition_variable posted;
  uint64_t count = 0;
};
InputSignal& inputSignal() {
  static InputSignal s;
  return s;
}

}  // namespace

void noteInput() {
  InputSignal& s = inputSignal();
  {
    std::lock_guard guard(s.lock);
    ++s.count;
  }
  s.posted.notify_all();
}

uint64_t inputSeen() {
  InputSignal& s = inputSignal();
  std::lock_guard guard(s.lock);
  return s.count;
}

void waitForInput(uint64_t seen, int32_t timeoutMs) {
  InputSignal& s = inputSignal();
  std::unique_lock guard(s.lock);
  const auto came = [&s, seen] { return s.count != seen; };
  if (timeoutMs < 0) {
    s.posted.wait(guard, came);
  } else {
    s.posted.wait_for(guard, std::chrono::milliseconds(timeoutMs), came);
  }
}

void postKey(int32_t code) {
  ring.codes[ring.write] = code;
  ring.write = (ring.write + 1) & 0x0F;
  if (ring.write == ring.read) ring.read = (ring.read + 1) & 0x0F;
  ring.hit = 1;
  noteInput();
}

int32_t takeKeyFlag() {
  lockScreen();
  const int32_t flag = ring.hit;
  ring.hit = 0;
  unlockScreen(1, 0);
  return flag;
}

int32_t takeKey() {
  lockScreen();
  int32_t code = 0;
  if (ring.read != ring.write) {
    code = ring.codes[ring.read];
    ring.read = (ring.read + 1) & 0x0F;
  }
  takeKeyFlag();
  unlockScreen(1, 0);
  return code;
}

WindowEvent namedRecord(const EventRecord& r) {
  WindowEvent e{};
  e.type = r.type;
  switch (r.type) {
    case KeyPress:
    case KeyRelease:
    case KeyRepeat:
      e.key = {r.a, r.b, KeyReport::everyone, r.a, 0};
      break;
    case MouseMove:
    case MouseEnter:
      e.pointer = {r.a, r.b, r.c, r.d};
      break;
    case MouseButtonPress:
    case MouseButtonRelease:
    case MouseDoubleClick:
      e.buttons = r.a;
      break;
    case MouseWheel:
    case MouseHWheel:
      e.wheel = {r.a, 0};
      break;
    default:
      break;
  }
  e.bare = true;
  e.asPosted = r;
  return e;
}

bool runtimeRecord(const WindowEvent& e, EventRecord& r) {
  if (e.bare) {
    r = e.asPosted;
    return true;
  }
  r = {e.type, 0, 0, 0, 0};
  switch (e.type) {
    case KeyPress:
    case KeyRelease:
    case KeyRepeat:
      if (e.key.report == KeyReport::publicOnly) return false;
      // The runtime's rule reports a key pressed with Alt as let go at once.
      if (e.key.report == KeyReport::systemPress) r.type = KeyRelease;
      r.a = e.key.scanCode;
      r.b = e.key.character;
      return true;
    case MouseMove:
    case MouseEnter:
      r = {e.type, e.pointer.x, e.pointer.y, e.pointer.dx, e.pointer.dy};
      return true;
    case MouseButtonPress:
    case MouseButtonRelease:
    case MouseDoubleClick:
      r.a = e.buttons;
      return true;
    case MouseWheel:
    case MouseHWheel:
      r.a = e.wheel.position;
      return true;
    case TextInput:
    case Resize:
      return false;
    default:
      return true;
  }
}

void postEvent(const EventRecord& event) { postEvent(namedRecord(event)); }

void postEvent(const WindowEvent& event) {
  ScreenMode* m = currentMode();
  if (!m) return;
  acquireEventLock(m->eventLock);
  m->eventQueue[m->eventWrite] = event;
  const uint32_t next = (m->eventWrite + 1) & 0x7F;
  if (next == m->eventRead) m->eventRead = (next + 1) & 0x7F;
  m->eventWrite = next;
  releaseEventLock(m->eventLock);
  noteInput();
}

namespace {

// The oldest record the reader sees (all of them when `runtime` is null),
// and every record before it that the reader does not see.
bool takeEvent(WindowEvent& event, EventRecord* runtime) {
  ScreenMode* m = currentMode();
  if (!m) return false;
  acquireEventLock(m->eventLock);
  bool any = false;
  while (!any && m->eventRead != m->eventWrite) {
    event = m->eventQueue[m->eventRead];
    any = !runtime || runtimeRecord(event, *runtime);
    m->eventRead = (m->eventRead + 1) & 0x7F;
  }
  releaseEventLock(m->eventLock);
  return any;
}

}  // namespace

bool pollEvent(EventRecord& event) {
  WindowEvent named;
  return takeEvent(named, &event);
}

bool pollWindowEvent(WindowEvent& event) { return takeEvent(event, nullptr); }

int32_t msLeft(std::chrono::steady_clock::time_point start, int32_t timeoutMs) {
  if (timeoutMs < 0) return -1;
  const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  return waited.count() >= timeoutMs ? 0 : timeoutMs - static_cast<int32_t>(waited.count());
}

bool waitEvent(EventRecord& event, int32_t timeoutMs) {
  const auto start = std::chrono::steady_clock::now();
  while (currentMode()) {
    // Counted before the look, so a record posted in between ends the wait.
    const uint64_t seen = inputSeen();
    if (pollEvent(event)) return true;
    const int32_t left = msLeft(start, timeoutMs);
    if (left == 0) return false;
    waitForInput(seen, left);
  }
  return false;
}

uint8_t cp437FromUnicode(uint32_t character) {
  if (character == 0 || character > 0xFFFF) return 0;
  const char16_t wide = static_cast<char16_t>(character);
  const std::string bytes = wideToBytes(&wide, 1);
  if (bytes.size() != 1 || (bytes[0] == '?' && wide != '?')) return 0;
  return static_cast<uint8_t>(bytes[0]);
}

namespace {
// Set on the program's thread before a window thread starts; read there.
std::atomic<UnshiftedCharacterLookup> layoutLookup{nullptr};
}  // namespace

void useUnshiftedCharacters(UnshiftedCharacterLookup lookup) { layoutLookup = lookup; }

int32_t unshiftedCharacter(int32_t virtualKey) {
  if (const UnshiftedCharacterLookup lookup = layoutLookup.load()) return lookup(virtualKey);
  // The US layout's answers.
  const int32_t vk = virtualKey & 0xFFFF;
  if ((vk >= '0' && vk <= '9') || (vk >= 'A' && vk <= 'Z')) return vk;
  if (vk >= 0x60 && vk <= 0x69) return '0' + vk - 0x60;  // keypad digits
  switch (vk) {
    case 0x08: case 0x09: case 0x0D: case 0x1B: case 0x20: return vk;
    case 0x6A: return '*';
    case 0x6B: return '+';
    case 0x6D: return '-';
    case 0x6E: return '.';
    case 0x6F: return '/';
    case 0xBA: return ';';
    case 0xBB: return '=';
    case 0xBC: return ',';
    case 0xBD: return '-';
    case 0xBE: return '.';
    case 0xBF: return '/';
    case 0xC0: return '`';
    case 0xDB: return '[';
    case 0xDC: return '\\';
    case 0xDD: return ']';
    case 0xDE: return '\'';
    default: return 0;
  }
}

int32_t translateKey(int32_t character, int32_t scanCode, int32_t virtualKey, int32_t modifiers, int32_t extendedOnly) {
  const int32_t c = character & 0xFF, sc = scanCode & 0xFFFF, vk = virtualKey & 0xFFFF;
  const Column column = modifierColumn(modifiers);
  if ((modifiers & keymod::enhanced) && c == 0) {
    for (const auto& row : EnhancedKeyTable) {
      if (row[0] != sc) continue;
      const int32_t v = row[1 + column];
      if (column != None && v == 0) return -1;
      return v <= 255 ? v : extendedCode(v);
    }
    return -1;
  }
  if (sc <= 88) {
    const int32_t m = unshiftedCharacter(vk) & 0xFFFF, s = swapCase(m);
    const int32_t v = column == None && c != 0 ? m : KeyCodeTable[sc][column];
    if (v > 255 && (c == s || c == m)) return extendedCode(v);
  }
  return (extendedOnly != 0 || c == 0) ? -1 : c;
}

int32_t scancodeFromVirtualKey(int32_t virtualKey) {
  if (virtualKey == 0x1B) return 1;
  if (virtualKey == 0) return 0;
  for (const ScanCodeRow* row = ScanCodeTable + 1; row->scanCode; ++row) {
    if ((row->alternative != 0 && row->alternative == virtualKey) || row->primary == virtualKey) return row->scanCode;
  }
  return 0;
}

std::string readKeyHook() {
  if (!currentMode()) return {};
  return keyString(takeKey());
}

int32_t waitKeyHook() {
  while (currentMode()) {
    const uint64_t seen = inputSeen();
    if (int32_t code = takeKey()) return code;
    waitForInput(seen, -1);
  }
  return 0;
}

int32_t keyWaitingHook() {
  lockScreen();
  const bool waiting = ring.read != ring.write;
  unlockScreen(1, 0);
  return waiting ? 1 : 0;
}

int32_t sleepHook(int32_t ms) {
  if (ms == -1) {
    for (;;) {
      const uint64_t seen = inputSeen();
      if (takeKeyFlag()) return 1;
      waitForInput(seen, -1);
    }
  }
  if (ms <= 0) return 0;
  if (ms >= 100) {
    do {
      if (takeKeyFlag()) return 1;
      ms -= 50;
      platform::sleepMilliseconds(50);
    } while (ms > 50);
  }
  platform::sleepMilliseconds(static_cast<uint32_t>(ms));
  return 0;
}

int32_t keyHeldHook(int32_t scanCode) {
  const ScreenMode* m = currentMode();
  if (!m || static_cast<uint32_t>(scanCode) > 127) return 0;
  lockScreen();
  const bool held = m->keyState[scanCode] != 0;
  unlockScreen(1, 0);
  return held ? -1 : 0;
}

int32_t getMouseHook(int32_t* x, int32_t* y, int32_t* wheel, int32_t* buttons, int32_t* clip) {
  int32_t scratch[5];
  int32_t* out[5] = {x ? x : &scratch[0], y ? y : &scratch[1], wheel ? wheel : &scratch[2],
                     buttons ? buttons : &scratch[3], clip ? clip : &scratch[4]};
  const ScreenMode* m = currentMode();
  int32_t result = -1;
  if (m && m->driver && m->driver->getMouse) {
    lockScreen();
    result = m->driver->getMouse(out[0], out[1], out[2], out[3], out[4]);
    unlockScreen(1, 0);
  }
  if (result != 0) {
    for (int32_t* value : out) *value = -1;
    return setLastError(1);
  }
  return setLastError(0);
}

int32_t setMouseHook(int32_t x, int32_t y, int32_t cursor, int32_t clip) {
  const ScreenMode* m = currentMode();
  if (!m || !m->driver || !m->driver->setMouse) return setLastError(1);
  lockScreen();
  m->driver->setMouse(x, y, cursor, clip);
  unlockScreen(1, 0);
  return setLastError(0);
}

int32_t portInHook(int32_t port) {
  const ScreenMode* m = currentMode();
  if (!m) return -1;
  switch (port & 0xFFFF) {
    case 0x3C9: {
      if (m->depth > 8) return -1;
      const auto value = static_cast<int32_t>((m->palette[dacIndex] >> dacShift) & 0x3F);
      dacShift += 8;
      if (dacShift > 18) {
        dacShift = 2;
        dacIndex = (dacIndex + 1) & paletteMask(m);
      }
      return value;
    }
    case 0x3DA:
      if (m->driver && m->driver->waitVsync) m->driver->waitVsync();
      return 8;  // retrace in progress
    default:
      return -1;
  }
}

int32_t portOutHook(int32_t port, int32_t value) {
  ScreenMode* m = currentMode();
  if (!m || m->depth > 8) return -1;
  switch (port & 0xFFFF) {
    case 0x3C7:
    case 0x3C8:
      dacShift = 2;
      dacAccum = 0;
      dacIndex = static_cast<uint32_t>(value & 0xFF) & paletteMask(m);
      return 0;
    case 0x3C9:
      dacAccum |= static_cast<uint32_t>(value & 0x3F) << dacShift;
      dacShift += 8;
      if (dacShift <= 18) return 0;
      if (m->defaultPalette == builtinPalette(3)) {
        paletteSet(static_cast<int32_t>(dacIndex), static_cast<int32_t>((dacAccum >> 2) & 0x3F3F3F), -1, -1);
      } else {
        lockScreen();
        m->deviceColors[dacIndex] = dacAccum;
        // The colour map has 16 entries; deeper modes use the 256-colour palette.
        const int32_t shown = std::min(1 << m->depth, 16);
        for (int32_t i = 0; i < shown; ++i) {
          if (m->colorMap[i] != dacIndex) continue;
          m->palette[i] = dacAccum;
          if (m->driver && m->driver->setPalette) {
            m->driver->setPalette(i, dacAccum & 0xFF, (dacAccum >> 8) & 0xFF, (dacAccum >> 16) & 0xFF);
          }
        }
        markDirty(0, m->height - 1);
        unlockScreen(1, 0);
      }
      dacShift = 2;
      dacAccum = 0;
      dacIndex = (dacIndex + 1) & paletteMask(m);
      return 0;
    default:
      return -1;
  }
}

}  // namespace pel
