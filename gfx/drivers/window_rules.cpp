#include "window_rules.h"

#include <algorithm>
#include <cstring>

#include "gfx/driver.h"
#include "gfx/input.h"
#include "gfx/mode.h"
#include "gfx/pages.h"

namespace pel {
namespace {

constexpr int32_t noMoveYet = 0xFFFF;
constexpr int32_t vkMenu = 0x12, vkF10 = 0x79;

// Every record goes with where the pointer was and which modifiers were
// held when it happened.
WindowEvent eventOf(const WindowRules& w, int32_t type) {
  WindowEvent e{};
  e.type = type;
  e.moment = {true, w.mouseX, w.mouseY, w.modifiers, w.buttons};
  return e;
}

void post(const WindowRules& w, int32_t type) { postEvent(eventOf(w, type)); }

// A key's scan code for the runtime's records, its place for the public
// layer (its own code where it has no scan code), and what it typed.
struct KeyFacts {
  int32_t scan, place;
  uint32_t unicode;
};

int32_t placeOf(int32_t scan, int32_t virtualKey) { return scan ? scan : ownScanCodes + (virtualKey & 0xFF); }

void postKeyEvent(const WindowRules& w, int32_t type, const KeyFacts& key, int32_t character, KeyReport report) {
  WindowEvent e = eventOf(w, type);
  e.key = {key.scan, character, report, key.place, key.unicode};
  postEvent(e);
}

void postButtons(const WindowRules& w, int32_t type, int32_t buttons) {
  WindowEvent e = eventOf(w, type);
  e.buttons = buttons;
  postEvent(e);
}

// Reports the enter, replacing a pending move with it, and confines the
// pointer when asked.
void enterStep(WindowRules& w, WindowEvent* pending) {
  if (w.mouseInside || !w.active) return;
  if (w.platform.trackLeave) w.platform.trackLeave(w.platform.window);
  w.mouseInside = true;
  if (pending) pending->type = MouseEnter;
  if (w.clip && w.platform.clipToClient) w.platform.clipToClient(w.platform.window);
}

}  // namespace

void markAllRows() { markAllRows(currentMode()); }

void resetWindowRules(WindowRules& w, const WindowPlatform& platform, int32_t width, int32_t height,
                      int32_t modeFlags) {
  w.platform = platform;
  w.modeFlags = modeFlags;
  w.width = width;
  w.height = height;
  w.active = w.pointerInClient = w.mouseInside = w.clip = false;
  w.cursorVisible = true;
  w.mouseX = w.mouseY = 0;
  w.lastScreenX = noMoveYet;
  w.lastScreenY = 0;
  w.wheel = w.horizontalWheel = w.buttons = 0;
  w.modifiers = w.swallowedScan = w.heldSides = 0;
}

namespace {

// The side bit of a modifier key at this place, 0 for other keys.
int32_t sideOf(int32_t scanCode, bool enhanced) {
  switch (scanCode) {
    case 0x2A: return keymod::leftShiftKey;
    case 0x36: return keymod::rightShiftKey;
    case 0x1D: return enhanced ? keymod::rightCtrlKey : keymod::leftCtrlKey;
    case 0x38: return enhanced ? keymod::rightAltKey : keymod::leftAltKey;
    default: return 0;
  }
}

}  // namespace

void desktopKey(WindowRules& w, bool& down, bool press, const DesktopKey& key, int32_t modifiers) {
  constexpr int32_t vkReturn = 0x0D, vkDelete = 0x2E;
  const int32_t virtualKey = key.virtualKey, scanCode = key.scanCode;
  // The sides held once this key is down or up (the public layer counts a
  // modifier's own key as held after its press, not after its release).
  if (const int32_t side = sideOf(scanCode, key.enhanced)) w.heldSides = press ? w.heldSides | side : w.heldSides & ~side;
  modifiers |= w.heldSides;
  const bool alt = modifiers & (keymod::leftAlt | keymod::rightAlt);
  const bool ctrl = modifiers & (keymod::leftCtrl | keymod::rightCtrl);
  // X's Delete key types DEL; Windows' types nothing, and the key ring has
  // the key's code. Ctrl with a key types only the control characters, as
  // on Windows (Ctrl+A is 1, Ctrl+1 nothing); Ctrl+Alt (AltGr) types what
  // it shows.
  const bool onlyControl = ctrl && !alt && key.unicode >= 0x20;
  const uint32_t unicode = virtualKey == vkDelete || onlyControl ? 0 : key.unicode;
  const uint8_t character = cp437FromUnicode(unicode);
  // The events carry the key's place, whatever it typed.
  const KeyIdentity identity{scanCode ? scanCode : ownScanCodes + static_cast<int32_t>(key.platformKey), unicode};
  const bool enhanced = key.enhanced;
  // The key state follows the key events between two reads of the keymap.
  ScreenMode* m = currentMode();
  if (m && w.active && scanCode > 0 && scanCode < 128) m->keyState[scanCode] = press;
  if (enhanced) modifiers |= keymod::enhanced;
  // Keys pressed with Alt but not Ctrl, and F10, are system keys, as
  // Windows has them: they put nothing in the key ring. Ctrl+Alt (AltGr
  // on many keyboards) makes ordinary keys.
  const bool system = (alt && !ctrl) || virtualKey == vkF10;
  if (!press) {
    // A key the window never saw down (pressed elsewhere, or let go for the
    // window as the focus went) has no press to pair with: no event.
    if (!down) return;
    down = false;
    // System keys let go pass unreported.
    if (system) {
      systemKeyUp(w, virtualKey, modifiers, identity);
    } else {
      keyMessage(w, KeyMessage::Up, virtualKey, scanCode, modifiers, character, 1, false, identity);
    }
    return;
  }
  const bool repeat = down;
  down = true;
  if (alt && !ctrl && virtualKey == vkReturn && w.active) {
    toggleFullScreen(w);
    return;
  }
  const KeyMessage kind = system ? KeyMessage::SystemDown : KeyMessage::Down;
  const bool consumed = keyMessage(w, kind, virtualKey, scanCode, modifiers, character, 1, repeat, identity);
  if (!consumed && !system && character != 0) characterMessage(w, character, 1);
  if (!consumed && !system && key.text && key.text[0]) {
    textTyped(w, key.text);
  } else if (!consumed && !system && unicode != 0) {
    char text[5] = {};
    utf8Of(unicode, text);
    textTyped(w, text);
  }
}

bool keyMessage(WindowRules& w, KeyMessage kind, int32_t virtualKey, int32_t scanCode, int32_t modifiers,
                int32_t character, int32_t repeatCount, bool alreadyDown, const KeyIdentity& identity) {
  w.modifiers = modifiers & ~keymod::enhanced;
  const int32_t code = translateKey(character, scanCode, virtualKey, modifiers, 0);
  // A key pressed with Alt is posted as the press it is; the runtime's
  // reader sees it as a release (see KeyReport::systemPress).
  const int32_t type = kind == KeyMessage::Up ? KeyRelease : alreadyDown ? KeyRepeat : KeyPress;
  if (kind == KeyMessage::Down || (kind == KeyMessage::SystemDown && code == closeKeyCode)) {
    if (code == closeKeyCode) {
      // Held Alt+F4 repeats: one close request per press, as a user means.
      if (!alreadyDown) postKey(code);
    } else if (code > 255) {
      for (int32_t i = 0; i < repeatCount; ++i) postKey(code);
    }
  }
  const int32_t scan = identity.eventScan >= 0 ? identity.eventScan : scancodeFromVirtualKey(virtualKey);
  const KeyFacts facts{scan, placeOf(scan, virtualKey), identity.unicode};
  if (virtualKey == vkMenu || virtualKey == vkF10 || code == closeKeyCode) {
    // The runtime reports none of these; the public layer still hears of
    // Alt and F10 going down (and up, see systemKeyUp).
    if (kind != KeyMessage::Up && code != closeKeyCode) {
      postKeyEvent(w, alreadyDown ? KeyRepeat : KeyPress, facts, 0, KeyReport::publicOnly);
    } else if (kind == KeyMessage::Up) {
      postKeyEvent(w, KeyRelease, facts, 0, KeyReport::publicOnly);
    }
    return true;
  }
  const bool unpaired = kind == KeyMessage::Up && w.swallowedScan != 0 && scan == w.swallowedScan;
  if (unpaired) w.swallowedScan = 0;
  const KeyReport report = kind == KeyMessage::SystemDown ? KeyReport::systemPress
                           : unpaired                     ? KeyReport::unpairedRelease
                                                          : KeyReport::everyone;
  postKeyEvent(w, type, facts, code >= 0 && code <= 255 ? code : 0, report);
  return false;
}

void systemKeyUp(WindowRules& w, int32_t virtualKey, int32_t modifiers, const KeyIdentity& identity) {
  w.modifiers = modifiers & ~keymod::enhanced;
  const int32_t scan = identity.eventScan >= 0 ? identity.eventScan : scancodeFromVirtualKey(virtualKey);
  const KeyFacts facts{scan, placeOf(scan, virtualKey), identity.unicode};
  const bool unpaired = w.swallowedScan != 0 && scan == w.swallowedScan;
  if (unpaired) w.swallowedScan = 0;
  // Its press went to the runtime as a release already: the public layer's
  // alone, and not even that when the layer took the press.
  if (!unpaired) postKeyEvent(w, KeyRelease, facts, 0, KeyReport::publicOnly);
}

void characterMessage(WindowRules&, uint8_t character, int32_t repeatCount) {
  for (int32_t i = 0; i < repeatCount; ++i) postKey(static_cast<int8_t>(character));
}

int32_t utf8Of(uint32_t c, char* out) {
  if (c < 0x80) {
    out[0] = static_cast<char>(c);
    return 1;
  }
  if (c < 0x800) {
    out[0] = static_cast<char>(0xC0 | c >> 6);
    out[1] = static_cast<char>(0x80 | (c & 0x3F));
    return 2;
  }
  if (c >= 0xD800 && c < 0xE000) return 0;  // a lone surrogate is no character
  if (c < 0x10000) {
    out[0] = static_cast<char>(0xE0 | c >> 12);
    out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (c & 0x3F));
    return 3;
  }
  if (c > 0x10FFFF) return 0;
  out[0] = static_cast<char>(0xF0 | c >> 18);
  out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (c & 0x3F));
  return 4;
}

void textTyped(WindowRules& w, const char* utf8) {
  WindowEvent e = eventOf(w, TextInput);
  std::size_t used = 0;
  const auto send = [&] {
    if (used == 0) return;
    e.text[used] = 0;
    postEvent(e);
    used = 0;
  };
  for (const char* p = utf8; *p;) {
    // One character: its lead byte and the continuation bytes after it.
    std::size_t length = 1;
    while (p[length] && (static_cast<uint8_t>(p[length]) & 0xC0) == 0x80) ++length;
    const bool control = length == 1 && (static_cast<uint8_t>(*p) < 0x20 || *p == 0x7F);
    if (!control && length <= 4) {
      if (used + length >= sizeof e.text) send();
      std::memcpy(e.text + used, p, length);
      used += length;
    }
    p += length;
  }
  send();
}

void windowResized(WindowRules& w, const WindowArea& area) {
  WindowEvent e = eventOf(w, Resize);
  e.area = area;
  postEvent(e);
}

void closeRequest(WindowRules& w) {
  postKey(closeKeyCode);
  post(w, WindowClose);
}

void pointerMove(WindowRules& w, int32_t clientX, int32_t clientY, int32_t screenX, int32_t screenY) {
  w.mouseX = clientX & 0xFFFF;
  w.mouseY = clientY & 0xFFFF;
  WindowEvent move = eventOf(w, MouseMove);
  move.pointer = {w.mouseX, w.mouseY, 0, 0};
  bool keep = false;
  if (w.lastScreenX != noMoveYet) {
    move.pointer.dx = screenX - w.lastScreenX;
    move.pointer.dy = screenY - w.lastScreenY;
    keep = (move.pointer.dx != 0 || move.pointer.dy != 0) && w.active;
  }
  w.lastScreenX = screenX;
  w.lastScreenY = screenY;
  const bool wasInside = w.mouseInside;
  enterStep(w, &move);
  if (keep || (!wasInside && w.mouseInside)) postEvent(move);
}

void pointerLeave(WindowRules& w) {
  if (!w.active) return;
  post(w, MouseExit);
  w.mouseInside = false;
}

void pointerEnter(WindowRules& w) {
  WindowEvent enter = eventOf(w, MouseMove);
  enter.pointer = {w.mouseX, w.mouseY, 0, 0};
  const bool wasInside = w.mouseInside;
  enterStep(w, &enter);
  if (!wasInside && w.mouseInside) postEvent(enter);
}

void buttonDown(WindowRules& w, int32_t bit, bool doubleClick) {
  if (w.platform.capture) w.platform.capture(w.platform.window, true);
  w.buttons |= bit;
  postButtons(w, doubleClick ? MouseDoubleClick : MouseButtonPress, bit);
}

void buttonUp(WindowRules& w, int32_t bit) {
  w.buttons &= ~bit;
  if (w.buttons == 0 && w.platform.capture) w.platform.capture(w.platform.window, false);
  postButtons(w, MouseButtonRelease, bit);
}

void extraButtons(WindowRules& w, bool first, bool second, bool down, bool doubleClick) {
  const int32_t previous = w.buttons;
  if (down) {
    if (w.platform.capture) w.platform.capture(w.platform.window, true);
    if (first) w.buttons |= 8;
    if (second) w.buttons |= 16;
    postButtons(w, doubleClick ? MouseDoubleClick : MouseButtonPress, w.buttons & ~previous & 0x18);
  } else {
    if (!first) w.buttons &= ~8;
    if (!second) w.buttons &= ~16;
    if (w.buttons == 0 && w.platform.capture) w.platform.capture(w.platform.window, false);
    postButtons(w, MouseButtonRelease, previous & 0x18 & ~w.buttons);
  }
}

void wheelStep(WindowRules& w, bool horizontal, bool forward) {
  std::atomic<int32_t>& counter = horizontal ? w.horizontalWheel : w.wheel;
  counter += forward ? 1 : -1;
  WindowEvent e = eventOf(w, horizontal ? MouseHWheel : MouseWheel);
  e.wheel = {counter.load(), forward ? 1 : -1};
  postEvent(e);
}

void activation(WindowRules& w, bool active, bool reportFocus) {
  w.active = active;
  if ((w.modeFlags & modeflag::highPriority) && w.platform.setHighPriority) {
    w.platform.setHighPriority(w.platform.window, active);
  }
  if (ScreenMode* m = currentMode()) std::memset(m->keyState, 0, 128);
  w.buttons = 0;
  w.modifiers = 0;
  markAllRows();
  if (active) {
    post(w, WindowGotFocus);
    if (w.pointerInClient) {
      pointerEnter(w);
    } else if (w.clip && w.platform.clipToClient) {
      w.platform.clipToClient(w.platform.window);
    }
    return;
  }
  if (w.mouseInside) {
    post(w, MouseExit);
    w.mouseInside = false;
  }
  if (reportFocus) post(w, WindowLostFocus);
  if (w.clip && w.platform.releaseClip) w.platform.releaseClip(w.platform.window);
}

bool toggleFullScreen(WindowRules& w) {
  if (w.modeFlags & modeflag::noSwitching) return false;
  w.swallowedScan = 0x1C;  // Enter's press went to the toggle, so its release is no one's
  if (w.mouseInside) post(w, MouseExit);
  if (w.clip && w.platform.releaseClip) w.platform.releaseClip(w.platform.window);
  w.platform.exitWindow(w.platform.window);
  w.modeFlags ^= modeflag::fullScreen;
  bool switched = w.platform.initWindow(w.platform.window);
  if (!switched) {
    w.platform.exitWindow(w.platform.window);
    w.modeFlags ^= modeflag::fullScreen;
    if (!w.platform.initWindow(w.platform.window)) {
      // No window at all: nothing half-built is left, and the program is
      // told as if the window had been closed.
      w.platform.exitWindow(w.platform.window);
      w.active = false;
      w.mouseInside = false;
      closeRequest(w);
      return false;
    }
  }
  resendPalette();
  markAllRows();
  w.active = true;
  w.mouseInside = false;
  return switched;
}

int32_t rulesGetMouse(const WindowRules& w, int32_t* x, int32_t* y, int32_t* wheel, int32_t* buttons, int32_t* clip) {
  if (!w.active || !w.pointerInClient) return -1;
  *x = w.mouseX;
  *y = w.mouseY;
  *wheel = w.wheel;
  *buttons = w.buttons;
  *clip = w.clip ? 1 : 0;
  return 0;
}

void rulesSetMouse(WindowRules& w, int32_t x, int32_t y, int32_t cursor, int32_t clip) {
  if (x != keepCoordinate || y != keepCoordinate) {
    if (x == keepCoordinate) x = w.mouseX;
    if (y == keepCoordinate) y = w.mouseY;
    w.pointerInClient = true;
    w.mouseX = std::clamp(x, 0, std::max(w.width - 1, 0));
    w.mouseY = std::clamp(y, 0, std::max(w.height - 1, 0));
    if (w.platform.warpPointer) w.platform.warpPointer(w.platform.window, w.mouseX, w.mouseY);
  }
  if (cursor >= 0 && (cursor > 0) != w.cursorVisible) {
    w.cursorVisible = cursor > 0;
    if (w.platform.updateCursor) w.platform.updateCursor(w.platform.window);
  }
  if (clip == 0) {
    w.clip = false;
    if (w.platform.releaseClip) w.platform.releaseClip(w.platform.window);
  } else if (clip > 0) {
    w.clip = true;
    if (w.platform.clipToClient) w.platform.clipToClient(w.platform.window);
  }
}

}  // namespace pel
