// X events through the platform-neutral window rules: keys, characters,
// buttons, wheels, the pointer, focus, exposure, the window manager's
// resizes, maximise and close requests; and the key state.
// The runtime's headers before X's (see x11_library.h).
#include "gfx/drivers/window_rules.h"
#include "gfx/drivers/xkb_keys.h"
#include "gfx/input.h"
#include "gfx/mode.h"

#include "gfx/drivers/x11/x11_window.h"

#include <X11/Xatom.h>

#include <cstring>

namespace pel::x11 {
namespace {

int32_t modifierWord(unsigned state) {
  int32_t m = 0;
  if (state & ShiftMask) m |= keymod::shift;
  if (state & ControlMask) m |= keymod::leftCtrl;
  if (state & Mod1Mask) m |= keymod::leftAlt;
  // The usual X keymap: Super on Mod4, Num Lock on Mod2.
  if (state & Mod4Mask) m |= keymod::super;
  if (state & LockMask) m |= keymod::capsLock;
  if (state & Mod2Mask) m |= keymod::numLock;
  return m;
}

void keyEvent(XKeyEvent& e, bool press) {
  const xkb::PcKey pc = xkb::pcKeyFromKeycode(e.keycode);
  char text[8] = {};
  KeySym keysym = 0;
  const int length = xl->XLookupString(&e, text, sizeof text, &keysym, nullptr);
  // The key is the one at its place, whatever Shift made of it.
  const int32_t virtualKey = xkb::virtualKeyOfKey(xl->XLookupKeysym(&e, 0), e.keycode);
  // Latin-1 is the first page of Unicode (and what Ctrl makes of a key
  // comes as such a byte); the other key symbols by xkb's table, or, where
  // that is missing, those from 0x1000100 on, Unicode characters themselves.
  uint32_t unicode = length == 1 ? static_cast<uint8_t>(text[0]) : 0;
  if (!unicode) unicode = xkb::unicodeOfKeysym(keysym);
  if (!unicode && keysym >= 0x1000100 && keysym <= 0x110FFFF) unicode = static_cast<uint32_t>(keysym - 0x1000000);
  DesktopKey key{e.keycode, virtualKey, pc.scanCode, pc.enhanced, unicode};
  char composed[32];
  xkb::composeTyped(win->composer, press && !win->keyDown[e.keycode & 0xFF], keysym, key, composed);
  desktopKey(win->rules, win->keyDown[e.keycode & 0xFF], press, key, modifierWord(e.state));
}

// Keys let go while the window did not have the keyboard (another client's
// grab, the focus elsewhere) are released now, so every press the program
// saw has its release and the next press is no repeat.
void releaseKeysLetGo(const char* keys) {
  for (uint32_t keycode = 8; keycode < 256; ++keycode) {
    if (!win->keyDown[keycode] || ((keys[keycode / 8] >> (keycode % 8)) & 1)) continue;
    XKeyEvent e{};
    e.type = KeyRelease;
    e.display = win->display;
    e.window = win->window;
    e.keycode = keycode;
    keyEvent(e, false);
  }
}

void buttonEvent(XButtonEvent& e, bool press) {
  switch (e.button) {
    case 4:
    case 5:
      if (press) wheelStep(win->rules, false, e.button == 4);
      return;
    case 6:
    case 7:
      if (press) wheelStep(win->rules, true, e.button == 7);
      return;
    case 8:
    case 9: {
      const bool first = e.button == 8 ? press : (win->rules.buttons & 8) != 0;
      const bool second = e.button == 9 ? press : (win->rules.buttons & 16) != 0;
      extraButtons(win->rules, first, second, press, false);
      return;
    }
    default: break;
  }
  const int32_t bit = e.button == 1 ? 1 : e.button == 3 ? 2 : e.button == 2 ? 4 : 0;
  if (!bit) return;
  if (!press) {
    buttonUp(win->rules, bit);
    return;
  }
  buttonDown(win->rules, bit, win->clicks.press(bit, static_cast<uint32_t>(e.time)));
}

void pointerAt(int x, int y, int rootX, int rootY) {
  const int32_t px = x - win->picture.x, py = y - win->picture.y;
  win->rules.pointerInClient = px >= 0 && py >= 0 && px < win->picture.width && py < win->picture.height;
  pointerMove(win->rules, pictureFromWindow(px, win->picture.width, win->width),
              pictureFromWindow(py, win->picture.height, win->height), rootX, rootY);
}

// The window manager maximised the window: full screen takes its place.
bool maximised() {
  const Property states(win->display, win->window, win->atoms.wmState, XA_ATOM, 32, 64);
  for (unsigned long i = 0; i < states.size(); ++i) {
    const Atom state = static_cast<Atom>(states.longs()[i]);
    if (state == win->atoms.maximizedVert || state == win->atoms.maximizedHorz) return true;
  }
  return false;
}

}  // namespace

void handleEvents() {
  while (xl->XPending(win->display)) {
    XEvent e;
    xl->XNextEvent(win->display, &e);
    if (e.type == MappingNotify) {  // sent to every client, with no window
      xl->XRefreshKeyboardMapping(&e.xmapping);
      continue;
    }
    if (e.type == win->xkbEvent) {
      auto& xkb = reinterpret_cast<XkbEvent&>(e);
      if (xkb.any.xkb_type == XkbMapNotify) xl->XkbRefreshKeyboardMapping(&xkb.map);
      continue;
    }
    if (e.type == KeymapNotify) {  // names no window: the keys held as the focus or a grab comes back
      releaseKeysLetGo(e.xkeymap.key_vector);
      if (win->rules.active) applyKeymap(e.xkeymap.key_vector);
      continue;
    }
    // Events still queued for a window the toggle replaced are dropped.
    if (e.xany.window != win->window) continue;
    switch (e.type) {
      case KeyPress: keyEvent(e.xkey, true); break;
      case KeyRelease: keyEvent(e.xkey, false); break;
      case ButtonPress: buttonEvent(e.xbutton, true); break;
      case ButtonRelease: buttonEvent(e.xbutton, false); break;
      case MotionNotify: pointerAt(e.xmotion.x, e.xmotion.y, e.xmotion.x_root, e.xmotion.y_root); break;
      case EnterNotify:
        if (e.xcrossing.detail == NotifyInferior) break;
        pointerAt(e.xcrossing.x, e.xcrossing.y, e.xcrossing.x_root, e.xcrossing.y_root);
        break;
      case LeaveNotify:
        // Into the picture's own child window is not out of the window.
        if (e.xcrossing.detail == NotifyInferior) break;
        win->rules.pointerInClient = false;
        if (win->rules.mouseInside) pointerLeave(win->rules);
        break;
      case FocusIn:
        if (!win->rules.active) activation(win->rules, true);
        break;
      case FocusOut: {
        // Keys held as the keyboard goes (to another window or a grab) are
        // let go now, as on the other platforms: their releases go elsewhere.
        // Into the window's own child it stays.
        if (e.xfocus.detail == NotifyInferior) break;
        const char none[32] = {};
        releaseKeysLetGo(none);
        if (win->rules.active && e.xfocus.mode != NotifyGrab) activation(win->rules, false);
        xkb::resetComposer(win->composer);
        break;
      }
      case Expose: markAllRows(); break;
      case ConfigureNotify:
        if (e.xconfigure.width != win->windowW || e.xconfigure.height != win->windowH) {
          placePicture(e.xconfigure.width, e.xconfigure.height);
          xl->XClearWindow(win->display, win->window);
          markAllRows();
        }
        break;
      case PropertyNotify:
        // A resizable window stays a window when maximised: the picture follows it.
        if (e.xproperty.atom == win->atoms.wmState && win->rules.active && !win->scale.resizable &&
            !(win->rules.modeFlags & modeflag::fullScreen) && maximised()) {
          toggleFullScreen(win->rules);
        }
        break;
      case ClientMessage:
        if (static_cast<Atom>(e.xclient.data.l[0]) == win->atoms.deleteWindow) closeRequest(win->rules);
        break;
      default: break;
    }
  }
}

void applyKeymap(const char* keys) {
  ScreenMode* m = currentMode();
  if (!m) return;
  for (uint32_t keycode = 8; keycode < 256; ++keycode) {
    const xkb::PcKey pc = xkb::pcKeyFromKeycode(keycode);
    if (pc.scanCode > 0 && pc.scanCode < 128) {
      const bool held = (keys[keycode / 8] >> (keycode % 8)) & 1;
      if (held || !pc.enhanced) m->keyState[pc.scanCode] = held;
    }
  }
}

}  // namespace pel::x11
