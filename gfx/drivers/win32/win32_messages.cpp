// The window procedure: Windows messages through the platform-neutral window
// rules into key codes, events and mouse state.
#include "win32_messages.h"

#include <cstdlib>

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

// The character conversion's buffers, grown as needed and reused.
wchar_t* wideText = nullptr;
int wideCapacity = 0;
char* narrowText = nullptr;
int narrowCapacity = 0;

// Grows a buffer to `needed` units; a failed growth keeps the old buffer.
template <typename T>
void grow(T*& buffer, int& capacity, int needed) {
  if (needed <= capacity) return;
  if (auto* larger = static_cast<T*>(std::realloc(buffer, static_cast<std::size_t>(needed) * sizeof(T)))) {
    buffer = larger;
    capacity = needed;
  }
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
  if (state[VK_CAPITAL] & 1) modifiers |= keymod::capsLock;
  if (state[VK_NUMLOCK] & 1) modifiers |= keymod::numLock;
  return modifiers;
}

// WM_KEYDOWN, WM_KEYUP and WM_SYSKEYDOWN.
LRESULT keyPath(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  BYTE state[256] = {};
  GetKeyboardState(state);
  const auto virtualKey = static_cast<UINT>(wParam);
  const auto scan = static_cast<int32_t>((lParam >> 16) & 0xFF);
  const int32_t modifiers = modifierWord(state, lParam);
  // A dead key (high bit of the mapping) gives no character and is left
  // untouched, so the next key still composes with it.
  int32_t character = 0;
  KeyIdentity identity;
  if (virtualKey == VK_PACKET) {
    // A character sent as itself (SendInput's KEYEVENTF_UNICODE) travels
    // where the scan code would.
    identity.unicode = HIWORD(lParam);
  } else if (static_cast<int32_t>(MapVirtualKeyA(virtualKey, MAPVK_VK_TO_CHAR)) >= 0) {
    WORD out = 0;
    if (ToAscii(virtualKey, static_cast<UINT>(scan), state, &out, 0) == 1) {
      character = static_cast<int8_t>(out & 0xFF);
      // The same character in Unicode, for the public layer.
      const char ansi = static_cast<char>(out & 0xFF);
      WCHAR wide = 0;
      if (MultiByteToWideChar(CP_ACP, 0, &ansi, 1, &wide, 1) == 1) identity.unicode = wide;
    }
  }
  const KeyMessage kind = message == WM_KEYDOWN   ? KeyMessage::Down
                          : message == WM_KEYUP   ? KeyMessage::Up
                                                  : KeyMessage::SystemDown;
  const bool consumed = keyMessage(ws.rules, kind, static_cast<int32_t>(virtualKey), scan, modifiers, character,
                                   LOWORD(lParam), (lParam >> 30) & 1, identity);
  return consumed ? 0 : DefWindowProcA(window, message, wParam, lParam);
}

void activate(HWND window, WPARAM wParam) {
  const bool minimised = HIWORD(wParam) != 0;
  const bool inactive = LOWORD(wParam) == WA_INACTIVE;
  const bool active = !minimised && !inactive;
  if (!active && ws.rules.mouseInside) KillTimer(window, leaveTimerId);
  // Minimised while still holding the focus: no focus event.
  activation(ws.rules, active, active || inactive);
}

}  // namespace

HWND messageWindow() { return handling ? handling : ws.window.load(); }

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

void freeCharacterBuffers() {
  std::free(wideText);
  std::free(narrowText);
  wideText = nullptr;
  narrowText = nullptr;
  wideCapacity = narrowCapacity = 0;
}

uint8_t ansiToCodePage437(uint8_t ansi) {
  if (ansi == 0) return 0;
  const char in = static_cast<char>(ansi);
  grow(wideText, wideCapacity, MultiByteToWideChar(CP_ACP, 0, &in, 1, nullptr, 0) + 1);
  if (wideCapacity < 2) return 0;
  const int wide = MultiByteToWideChar(CP_ACP, 0, &in, 1, wideText, wideCapacity - 1);
  if (wide <= 0) return 0;
  wideText[wide] = 0;
  grow(narrowText, narrowCapacity, WideCharToMultiByte(437, 0, wideText, wide, nullptr, 0, nullptr, nullptr) + 1);
  if (narrowCapacity < 2) return 0;
  const int narrow = WideCharToMultiByte(437, 0, wideText, wide, narrowText, narrowCapacity - 1, nullptr, nullptr);
  if (narrow <= 0) return 0;
  narrowText[narrow] = 0;
  return static_cast<uint8_t>(narrowText[0]);
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
    case WM_CHAR:
      if (wParam <= 255) {
        characterMessage(r, ansiToCodePage437(static_cast<uint8_t>(wParam)), LOWORD(lParam));
        // The same character as text, in the window's code page.
        const char ansi = static_cast<char>(wParam);
        WCHAR wide = 0;
        char text[5] = {};
        if (MultiByteToWideChar(CP_ACP, 0, &ansi, 1, &wide, 1) == 1 && utf8Of(wide, text) > 0) {
          for (int i = 0; i < LOWORD(lParam); ++i) textTyped(r, text);
        }
      }
      break;
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
    case WM_SYSKEYUP: {
      BYTE state[256] = {};
      GetKeyboardState(state);
      systemKeyUp(r, static_cast<int32_t>(wParam), modifierWord(state, lParam));
      // Letting go of Alt or F10 would enter the menu loop, a modal loop on
      // the window thread that holds the presentation lock.
      if (wParam == VK_MENU || wParam == VK_F10) return 0;
      break;
    }
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
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace pel::win32
