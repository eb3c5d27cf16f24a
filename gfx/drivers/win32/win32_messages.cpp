// The window procedure: Windows messages through the platform-neutral window
// rules into key codes, events and mouse state.
#include "win32_messages.h"

#include "gfx/drivers/win32/win32_window.h"
#include "gfx/input.h"
#include "gfx/mode.h"

namespace pel::win32 {
namespace {

WindowState& ws = windowState;
constexpr UINT_PTR leaveTimerId = 2;
HWND handling = nullptr;  // the window of the message in hand (window thread)

// Sets the window of the message in hand for the procedure's extent;
// messages sent from inside a message nest.
struct HandlingMessage {
  HWND previous;
  explicit HandlingMessage(HWND window) : previous(handling) { handling = window; }
  ~HandlingMessage() { handling = previous; }
};

bool isSurrogate(uint32_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; }
uint32_t joinedSurrogates(WCHAR high, WCHAR low) {
  return 0x10000 + ((static_cast<uint32_t>(high) - 0xD800) << 10) + (static_cast<uint32_t>(low) - 0xDC00);
}

// A high surrogate of WM_CHAR waiting for its low one, 0 for none (window
// thread).
WCHAR pendingHigh = 0;

// Keys whose press the program saw and whose release has not come, by
// scan code and extended bit (by virtual key for keys without a scan code),
// to let go as the focus goes: their releases go to another window.
struct HeldKey {
  bool held;
  bool system;  // pressed as a system key: its release is one too
  bool letGo;   // let go as the focus went: a release that still comes is dropped
  UINT virtualKey;
  LPARAM lParam;  // of the press
};
HeldKey heldKeys[512];

HeldKey* heldKeyOf(UINT virtualKey, LPARAM lParam) {
  // A character sent as itself has no place; its release follows at once.
  if (virtualKey == VK_PACKET) return nullptr;
  const auto scan = static_cast<unsigned>((lParam >> 16) & 0xFF);
  const auto extended = static_cast<unsigned>((lParam >> 24) & 1);
  return &heldKeys[scan ? scan | extended << 7 : 256 + (virtualKey & 0xFF)];
}

void notePress(UINT virtualKey, LPARAM lParam, bool system) {
  if (HeldKey* k = heldKeyOf(virtualKey, lParam)) *k = {true, system, false, virtualKey, lParam};
}

// False for the release of a key let go as the focus went: hardware input
// goes to the window that has the focus when it is taken from the queue,
// and a window of the same thread may have given it back by then.
bool noteRelease(UINT virtualKey, LPARAM lParam) {
  HeldKey* k = heldKeyOf(virtualKey, lParam);
  if (!k) return true;
  const bool letGo = k->letGo;
  k->held = k->letGo = false;
  return !letGo;
}

void CALLBACK leaveCheckTimer(HWND window, UINT, UINT_PTR id, DWORD) {
  RECT client;
  GetClientRect(window, &client);
  MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&client), 2);
  POINT pointer;
  GetCursorPos(&pointer);
  if (PtInRect(&client, pointer) && WindowFromPoint(pointer) == window) return;
  KillTimer(window, id);
  PostMessageA(window, WM_MOUSELEAVE, 0, 0);
}

bool down(const BYTE* state, int virtualKey) { return state[virtualKey] & 0x80; }

// The modifier word of a key message, from the thread's keyboard state.
int32_t modifierWord(const BYTE* state, LPARAM lParam) {
  int32_t modifiers = (lParam >> 24) & 1 ? keymod::enhanced : 0;
  if (down(state, VK_SHIFT) || down(state, VK_LSHIFT) || down(state, VK_RSHIFT)) modifiers |= keymod::shift;
  if (down(state, VK_CONTROL) || down(state, VK_LCONTROL)) modifiers |= keymod::leftCtrl;
  if (down(state, VK_RCONTROL)) modifiers |= keymod::rightCtrl;
  if (down(state, VK_MENU) || down(state, VK_LMENU)) modifiers |= keymod::leftAlt;
  if (down(state, VK_RMENU)) modifiers |= keymod::rightAlt;
  if (down(state, VK_LWIN) || down(state, VK_RWIN)) modifiers |= keymod::super;
  // Which key of each pair, for the public layer.
  constexpr struct {
    int key;
    int32_t side;
  } sides[] = {{VK_LSHIFT, keymod::leftShiftKey},  {VK_RSHIFT, keymod::rightShiftKey},
               {VK_LCONTROL, keymod::leftCtrlKey}, {VK_RCONTROL, keymod::rightCtrlKey},
               {VK_LMENU, keymod::leftAltKey},     {VK_RMENU, keymod::rightAltKey}};
  for (const auto& s : sides) {
    if (down(state, s.key)) modifiers |= s.side;
  }
  if (state[VK_CAPITAL] & 1) modifiers |= keymod::capsLock;
  if (state[VK_NUMLOCK] & 1) modifiers |= keymod::numLock;
  return modifiers;
}

// WM_KEYDOWN, WM_KEYUP and WM_SYSKEYDOWN; true when the message is consumed.
bool keyStep(UINT message, WPARAM wParam, LPARAM lParam) {
  BYTE state[256] = {};
  GetKeyboardState(state);
  const auto virtualKey = static_cast<UINT>(wParam);
  // VK_PACKET's scan code is the character it sends, no place on the
  // keyboard: its low byte would pass for another key's (0xD83D for F3).
  const auto scan = virtualKey == VK_PACKET ? 0 : static_cast<int32_t>((lParam >> 16) & 0xFF);
  const int32_t modifiers = modifierWord(state, lParam);
  // A dead key (high bit of the mapping) gives no character and is left
  // untouched, so the next key still composes with it.
  int32_t character = 0;
  KeyIdentity identity;
  if (virtualKey == VK_PACKET) {
    // A character sent as itself (SendInput's KEYEVENTF_UNICODE) travels
    // where the scan code would, one UTF-16 unit a key: half a surrogate
    // pair is no character.
    const WCHAR unit = HIWORD(lParam);
    if (!isSurrogate(unit)) identity.unicode = unit;
  } else if (static_cast<int32_t>(MapVirtualKeyW(virtualKey, MAPVK_VK_TO_CHAR)) >= 0) {
    // Flag 4 leaves the keyboard state alone (Windows 10 1607 and later; a
    // pending dead key is what older systems would lose, and the check above
    // keeps dead keys out). Wine keeps no dead-key state here and ignores it.
    WCHAR out[4] = {};
    const int units = ToUnicode(virtualKey, static_cast<UINT>(scan), state, out, 4, 0x4);
    if (units == 1 && !isSurrogate(out[0])) {
      identity.unicode = out[0];
      character = cp437FromUnicode(out[0]);
    } else if (units == 2 && IS_SURROGATE_PAIR(out[0], out[1])) {
      identity.unicode = joinedSurrogates(out[0], out[1]);
    }
  }
  const KeyMessage kind = message == WM_KEYDOWN   ? KeyMessage::Down
                          : message == WM_KEYUP   ? KeyMessage::Up
                                                  : KeyMessage::SystemDown;
  if (kind == KeyMessage::Up) {
    if (!noteRelease(virtualKey, lParam)) return false;
  } else {
    notePress(virtualKey, lParam, kind == KeyMessage::SystemDown);
  }
  // A character sent as itself is never held down: Wine marks the second
  // of two as a repeat.
  const bool alreadyDown = virtualKey != VK_PACKET && ((lParam >> 30) & 1);
  return keyMessage(ws.rules, kind, static_cast<int32_t>(virtualKey), scan, modifiers, character, LOWORD(lParam),
                    alreadyDown, identity);
}

LRESULT keyPath(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return keyStep(message, wParam, lParam) ? 0 : DefWindowProcW(window, message, wParam, lParam);
}

// WM_SYSKEYUP: a key let go while Alt is held, Alt itself, F10.
void systemKeyPath(WPARAM wParam, LPARAM lParam) {
  BYTE state[256] = {};
  GetKeyboardState(state);
  if (noteRelease(static_cast<UINT>(wParam), lParam)) {
    systemKeyUp(ws.rules, static_cast<int32_t>(wParam), modifierWord(state, lParam));
  }
}

// Keys held as the focus goes are let go for the window, each as its own
// release would have come, so every press the program saw has its release
// and keyDown no longer reports it. A window rebuilt by the toggle keeps
// them: their releases come to the new window.
void releaseHeldKeys() {
  if (ws.rebuilding) return;
  for (HeldKey& k : heldKeys) {
    if (!k.held) continue;
    k.held = false;
    // The release's lParam: one key, previously down, going up.
    const LPARAM up = (k.lParam & 0x01FF0000) | 1 | static_cast<LPARAM>(3u << 30);
    if (k.system) {
      systemKeyPath(k.virtualKey, up);
    } else {
      keyStep(WM_KEYUP, k.virtualKey, up);
    }
    k.letGo = true;
  }
}

// The thread's key state from the keys held now: keys let go while another
// window had the focus are still down in it otherwise.
void takeHeldKeys() {
  BYTE state[256] = {};
  if (!GetKeyboardState(state)) return;
  for (int key = 1; key < 256; ++key) {
    const bool down = GetAsyncKeyState(key) & 0x8000;
    state[key] = static_cast<BYTE>((state[key] & 0x7F) | (down ? 0x80 : 0));
  }
  SetKeyboardState(state);
}

// A character typed (WM_CHAR, WM_UNICHAR): the key ring's code page 437
// byte where it has one, and the text.
void typed(uint32_t character, int32_t repeatCount) {
  char text[5] = {};
  if (utf8Of(character, text) == 0) return;
  if (const uint8_t c = cp437FromUnicode(character)) characterMessage(ws.rules, c, repeatCount);
  for (int32_t i = 0; i < repeatCount; ++i) textTyped(ws.rules, text);
}

// WM_CHAR's UTF-16 units: a character beyond the first 65,536 comes as a
// high surrogate then a low one. Half a pair alone is dropped.
void typedUnit(WCHAR unit, int32_t repeatCount) {
  const WCHAR high = pendingHigh;
  pendingHigh = 0;
  if (IS_HIGH_SURROGATE(unit)) {
    pendingHigh = unit;
  } else if (IS_LOW_SURROGATE(unit)) {
    if (high) typed(joinedSurrogates(high, unit), repeatCount);
  } else {
    typed(unit, repeatCount);
  }
}

void activate(HWND window, WPARAM wParam) {
  const bool minimised = HIWORD(wParam) != 0;
  const bool inactive = LOWORD(wParam) == WA_INACTIVE;
  const bool active = !minimised && !inactive;
  if (!active && ws.rules.mouseInside) KillTimer(window, leaveTimerId);
  // Minimised while still holding the focus, the keys' releases still come.
  if (inactive) releaseHeldKeys();
  pendingHigh = 0;
  if (active) takeHeldKeys();
  // Minimised while still holding the focus: no focus event.
  activation(ws.rules, active, active || inactive);
  if (active) refreshKeyState();
}

}  // namespace

HWND messageWindow() { return handling ? handling : ws.window.load(); }

void resetKeyMessages() {
  pendingHigh = 0;
  for (HeldKey& k : heldKeys) k.held = k.letGo = false;
}

void trackMouseLeave() {
  HWND window = messageWindow();
  if (!window) return;
  if (ws.user32.TrackMouseEvent) {
    TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, window, 0};
    ws.user32.TrackMouseEvent(&track);
  } else {
    SetTimer(window, leaveTimerId, 100, leaveCheckTimer);
  }
}

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const HandlingMessage inHand(window);
  WindowRules& r = ws.rules;
  RECT client;
  GetClientRect(window, &client);
  MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&client), 2);
  POINT pointer{};
  GetCursorPos(&pointer);
  r.pointerInClient = PtInRect(&client, pointer) != 0;
  // A scaled picture: points in the bars are outside.
  if (scaling() && r.pointerInClient) {
    POINT inClient = pointer;
    ScreenToClient(window, &inClient);
    r.pointerInClient = pageFromClient(ws.picture, ws.width, ws.height, inClient.x, inClient.y).inside;
  }
  const bool wheels = ws.version > 0x409, extraButtons = ws.version > 0x4FF;

  switch (message) {
    case WM_SIZE:
      // A resizable window stays a window when maximised: the picture follows it.
      if (wParam == SIZE_MAXIMIZED && r.active && !ws.scale.resizable) {
        toggleFullscreen();
        return 0;
      }
      if (scaling() && wParam != SIZE_MINIMIZED && window == ws.window) {
        placePicture(LOWORD(lParam), HIWORD(lParam));
        InvalidateRect(window, nullptr, TRUE);
      }
      break;
    case WM_ACTIVATE: activate(window, wParam); return 0;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      BeginPaint(window, &paint);
      if (ws.hooks.paint) ws.hooks.paint();
      EndPaint(window, &paint);
      break;
    }
    case WM_CLOSE: closeRequest(r); return 0;
    case WM_SETCURSOR:
      SetCursor(!r.pointerInClient || r.cursorVisible ? LoadCursorA(nullptr, IDC_ARROW) : nullptr);
      return TRUE;
    case WM_GETMINMAXINFO: {
      if (ws.scale.resizable && !fullScreen()) break;
      auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
      info->ptMaxSize = info->ptMinTrackSize = info->ptMaxTrackSize = {ws.outerWidth, ws.outerHeight};
      return 0;
    }
    case WM_DISPLAYCHANGE:
      if (ws.hooks.paint) ws.hooks.paint();
      markAllRows();
      break;
    case WM_CHAR: typedUnit(static_cast<WCHAR>(wParam), LOWORD(lParam)); break;
    case WM_UNICHAR:
      // UNICODE_NOCHAR asks whether the window takes the message at all.
      if (wParam == UNICODE_NOCHAR) return TRUE;
      typed(static_cast<uint32_t>(wParam), LOWORD(lParam));
      return FALSE;
    case WM_KILLFOCUS: releaseHeldKeys(); break;
    case WM_SYSKEYDOWN:
      if (wParam == VK_RETURN && r.active && (lParam & (1 << 29))) {
        toggleFullscreen();
        return 0;
      }
      return keyPath(window, message, wParam, lParam);
    case WM_KEYDOWN:
    case WM_KEYUP: return keyPath(window, message, wParam, lParam);
    case WM_SYSCHAR:
      // A character typed with Alt would start the menu bar's keyboard
      // loop, a modal loop on the window thread that takes the keys after
      // it; the window has no menu bar. Alt+Space still opens the system menu.
      if (wParam != ' ') return 0;
      break;
    case WM_SYSKEYUP:
      systemKeyPath(wParam, lParam);
      // Letting go of Alt or F10 would enter the menu loop, a modal loop on
      // the window thread that holds the presentation lock.
      if (wParam == VK_MENU || wParam == VK_F10) return 0;
      break;
    case WM_MOUSEMOVE: {
      int32_t x = static_cast<int16_t>(LOWORD(lParam)), y = static_cast<int16_t>(HIWORD(lParam));
      if (scaling()) {
        const PagePoint p = pageFromClient(ws.picture, ws.width, ws.height, x, y);
        x = p.x;
        y = p.y;
      } else {
        x = LOWORD(lParam);
        y = HIWORD(lParam);
      }
      pointerMove(r, x, y, pointer.x, pointer.y);
      break;
    }
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: buttonDown(r, 1, message == WM_LBUTTONDBLCLK); break;
    case WM_RBUTTONDOWN:
    case WM_RBUTTONDBLCLK: buttonDown(r, 2, message == WM_RBUTTONDBLCLK); break;
    case WM_MBUTTONDOWN:
    case WM_MBUTTONDBLCLK: buttonDown(r, 4, message == WM_MBUTTONDBLCLK); break;
    case WM_LBUTTONUP: buttonUp(r, 1); break;
    case WM_RBUTTONUP: buttonUp(r, 2); break;
    case WM_MBUTTONUP: buttonUp(r, 4); break;
    case WM_MOUSEWHEEL:
      if (wheels) wheelStep(r, false, static_cast<int32_t>(wParam) > 0);
      break;
    case WM_MOUSEHWHEEL:
      if (extraButtons) wheelStep(r, true, static_cast<int32_t>(wParam) > 0);
      break;
    case WM_XBUTTONDOWN:
    case WM_XBUTTONDBLCLK:
      if (extraButtons) {
        pel::extraButtons(r, wParam & MK_XBUTTON1, wParam & MK_XBUTTON2, true, message == WM_XBUTTONDBLCLK);
      }
      break;
    case WM_XBUTTONUP:
      if (extraButtons) pel::extraButtons(r, wParam & MK_XBUTTON1, wParam & MK_XBUTTON2, false, false);
      break;
    case WM_MOVING:
      if (r.clip) ClipCursor(nullptr);
      break;
    case WM_MOUSELEAVE:
      if (r.active) {
        pointerLeave(r);
        return 0;
      }
      break;
    case WM_USER: pointerEnter(r); return 0;
    default: break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace pel::win32
