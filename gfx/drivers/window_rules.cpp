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

void post(int32_t type, int32_t a = 0, int32_t b = 0, int32_t c = 0, int32_t d = 0) { postEvent({type, a, b, c, d}); }

// Reports the enter, replacing a pending move with it, and confines the
// pointer when asked.
void enterStep(WindowRules& w, EventRecord* pending) {
  if (w.mouseInside || !w.active) return;
  if (w.platform.trackLeave) w.platform.trackLeave(w.platform.window);
  w.mouseInside = true;
  if (pending) pending->type = MouseEnter;
  if (w.clip && w.platform.clipToClient) w.platform.clipToClient(w.platform.window);
}

}  // namespace

void markAllRows() {
  const ScreenMode* m = currentMode();
  if (m) std::memset(m->dirty, 1, static_cast<std::size_t>(m->height) * static_cast<std::size_t>(m->scanlineRepeat));
}

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
}

bool keyMessage(WindowRules&, KeyMessage kind, int32_t virtualKey, int32_t scanCode, int32_t modifiers,
                int32_t character, int32_t repeatCount, bool alreadyDown) {
  const int32_t code = translateKey(character, scanCode, virtualKey, modifiers, 0);
  int32_t type = KeyRelease;
  if (kind == KeyMessage::Down || (kind == KeyMessage::SystemDown && code == closeKeyCode)) {
    if (kind == KeyMessage::Down) type = alreadyDown ? KeyRepeat : KeyPress;
    if (code == closeKeyCode) {
      // Held Alt+F4 repeats: one close request per press, as a user means.
      if (!alreadyDown) postKey(code);
    } else if (code > 255) {
      for (int32_t i = 0; i < repeatCount; ++i) postKey(code);
    }
  }
  if (virtualKey == vkMenu || virtualKey == vkF10 || code == closeKeyCode) return true;
  post(type, scancodeFromVirtualKey(virtualKey), code >= 0 && code <= 255 ? code : 0);
  return false;
}

void characterMessage(WindowRules&, uint8_t character, int32_t repeatCount) {
  for (int32_t i = 0; i < repeatCount; ++i) postKey(static_cast<int8_t>(character));
}

void closeRequest(WindowRules&) {
  postKey(closeKeyCode);
  post(WindowClose);
}

void pointerMove(WindowRules& w, int32_t clientX, int32_t clientY, int32_t screenX, int32_t screenY) {
  w.mouseX = clientX & 0xFFFF;
  w.mouseY = clientY & 0xFFFF;
  EventRecord move{MouseMove, w.mouseX, w.mouseY, 0, 0};
  bool keep = false;
  if (w.lastScreenX != noMoveYet) {
    move.c = screenX - w.lastScreenX;
    move.d = screenY - w.lastScreenY;
    keep = (move.c != 0 || move.d != 0) && w.active;
  }
  w.lastScreenX = screenX;
  w.lastScreenY = screenY;
  const bool wasInside = w.mouseInside;
  enterStep(w, &move);
  if (keep || (!wasInside && w.mouseInside)) postEvent(move);
}

void pointerLeave(WindowRules& w) {
  if (!w.active) return;
  post(MouseExit);
  w.mouseInside = false;
}

void pointerEnter(WindowRules& w) {
  EventRecord enter{MouseMove, w.mouseX, w.mouseY, 0, 0};
  const bool wasInside = w.mouseInside;
  enterStep(w, &enter);
  if (!wasInside && w.mouseInside) postEvent(enter);
}

void buttonDown(WindowRules& w, int32_t bit, bool doubleClick) {
  if (w.platform.capture) w.platform.capture(w.platform.window, true);
  w.buttons |= bit;
  post(doubleClick ? MouseDoubleClick : MouseButtonPress, bit);
}

void buttonUp(WindowRules& w, int32_t bit) {
  w.buttons &= ~bit;
  if (w.buttons == 0 && w.platform.capture) w.platform.capture(w.platform.window, false);
  post(MouseButtonRelease, bit);
}

void extraButtons(WindowRules& w, bool first, bool second, bool down, bool doubleClick) {
  const int32_t previous = w.buttons;
  if (down) {
    if (w.platform.capture) w.platform.capture(w.platform.window, true);
    if (first) w.buttons |= 8;
    if (second) w.buttons |= 16;
    post(doubleClick ? MouseDoubleClick : MouseButtonPress, w.buttons & ~previous & 0x18);
  } else {
    if (!first) w.buttons &= ~8;
    if (!second) w.buttons &= ~16;
    if (w.buttons == 0 && w.platform.capture) w.platform.capture(w.platform.window, false);
    post(MouseButtonRelease, previous & 0x18 & ~w.buttons);
  }
}

void wheelStep(WindowRules& w, bool horizontal, bool forward) {
  std::atomic<int32_t>& counter = horizontal ? w.horizontalWheel : w.wheel;
  counter += forward ? 1 : -1;
  post(horizontal ? MouseHWheel : MouseWheel, counter.load());
}

void activation(WindowRules& w, bool active, bool reportFocus) {
  w.active = active;
  if ((w.modeFlags & modeflag::highPriority) && w.platform.setHighPriority) {
    w.platform.setHighPriority(w.platform.window, active);
  }
  if (ScreenMode* m = currentMode()) std::memset(m->keyState, 0, 128);
  w.buttons = 0;
  markAllRows();
  if (active) {
    post(WindowGotFocus);
    if (w.pointerInClient) {
      pointerEnter(w);
    } else if (w.clip && w.platform.clipToClient) {
      w.platform.clipToClient(w.platform.window);
    }
    return;
  }
  if (w.mouseInside) {
    post(MouseExit);
    w.mouseInside = false;
  }
  if (reportFocus) post(WindowLostFocus);
  if (w.clip && w.platform.releaseClip) w.platform.releaseClip(w.platform.window);
}

bool toggleFullScreen(WindowRules& w) {
  if (w.modeFlags & modeflag::noSwitching) return false;
  if (w.mouseInside) post(MouseExit);
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
