// The window layer's rules that do not depend on the platform: the key path
// from a key message to key codes and events, characters, the close
// request, the pointer's first-move, enter and leave steps, buttons, wheels,
// activation, and the clamping of the mouse setter. A platform's window
// layer (Win32, X11) keeps one WindowRules record, calls these from its
// message handling with the platform's values, and supplies the few
// platform calls the rules need through WindowPlatform.
#pragma once
#include <atomic>
#include <cstdint>

#include "gfx/events.h"

namespace pel {

struct WindowPlatform {
  void (*trackLeave)(void* window) = nullptr;                         // arm the pointer-leave report
  void (*clipToClient)(void* window) = nullptr;                       // confine the pointer to the client area
  void (*releaseClip)(void* window) = nullptr;                        // free the pointer
  void (*capture)(void* window, bool take) = nullptr;                 // pointer capture for held buttons
  void (*warpPointer)(void* window, int32_t x, int32_t y) = nullptr;  // client coordinates
  void (*updateCursor)(void* window) = nullptr;                       // show or hide the pointer per cursorVisible
  // The back end's window and surfaces, rebuilt by the full-screen toggle
  // for the mode flags in the rules record.
  bool (*initWindow)(void* window) = nullptr;
  void (*exitWindow)(void* window) = nullptr;
  void (*setHighPriority)(void* window, bool high) = nullptr;  // the window thread's priority (mode flag 0x80)
  void* window = nullptr;
};

// The window thread writes these and the program's thread reads them (the
// mouse query, the setter, the thread's start), hence the atomics.
struct WindowRules {
  WindowPlatform platform;
  std::atomic<int32_t> modeFlags;  // as passed to init; the toggle flips 0x01
  int32_t width, height;           // client size
  std::atomic<bool> active;           // focused and not minimised
  std::atomic<bool> pointerInClient;  // recomputed by the layer before each message
  std::atomic<bool> mouseInside;      // enter reported, leave not yet
  std::atomic<bool> clip;
  std::atomic<bool> cursorVisible;
  std::atomic<int32_t> mouseX, mouseY;  // client coordinates
  int32_t lastScreenX, lastScreenY;     // window thread only; lastScreenX 0xFFFF: no move seen yet
  std::atomic<int32_t> wheel, horizontalWheel;
  std::atomic<int32_t> buttons;  // 1 left, 2 right, 4 middle, 8 and 16 the extra buttons
  int32_t modifiers;             // window thread only: the modifier word of the last key message
  int32_t swallowedScan;         // window thread only: a key whose press the layer took (0 none)
  int32_t heldSides;             // window thread only: the modifier keys seen held (keymod's ...Key bits)
};

// Shaped windows (mode flag 0x10): whether pixel x of a page row is the
// colour key that shows through, magenta above 8 bits a pixel, index 0 at 8
// bits and below.
inline bool isColourKey(const uint8_t* row, int32_t x, int32_t bytesPerPixel) {
  if (bytesPerPixel == 4) return (reinterpret_cast<const uint32_t*>(row)[x] & 0xFFFFFF) == 0xFF00FF;
  if (bytesPerPixel == 2) return reinterpret_cast<const uint16_t*>(row)[x] == 0xF81F;
  return row[x] == 0;
}

// Makes the record fresh for a window of the given client size.
void resetWindowRules(WindowRules& w, const WindowPlatform& platform, int32_t width, int32_t height,
                      int32_t modeFlags = 0);

enum class KeyMessage { Down, Up, SystemDown };

// What a key is, beyond the platform's message.
struct KeyIdentity {
  // The scan code its events carry; -1: the virtual key's (Windows).
  int32_t eventScan = -1;
  uint32_t unicode = 0;  // the character it typed, 0 for none
};

// Keys without a PC scan code carry a code of their own: this plus the
// platform's number for the key (the X key code, the Windows virtual key).
constexpr int32_t ownScanCodes = 0x100;

// The key path. `character` is the key's character (0 for none), `modifiers`
// the modifier word (keymod). Posts the key codes and the event; returns true
// when the message is consumed (Alt, F10 and the close key), which the
// platform must not pass on. Alt+F4 queues the close key even as a system
// key, so it ends a program as the close box does.
bool keyMessage(WindowRules& w, KeyMessage kind, int32_t virtualKey, int32_t scanCode, int32_t modifiers,
                int32_t character, int32_t repeatCount, bool alreadyDown, const KeyIdentity& identity = {});

// A key as a desktop that reports presses and releases by key (X11,
// Wayland) gives it.
struct DesktopKey {
  uint32_t platformKey;  // the X key code
  int32_t virtualKey;    // of the key unshifted, whatever the modifiers
  int32_t scanCode;      // of the key's place on the keyboard, 0 for none
  bool enhanced;
  uint32_t unicode;      // the character it typed, 0 for none
  const char* text = nullptr;  // what a finished compose sequence typed (UTF-8), else null
};
// The key state, Alt+Enter's toggle, system keys, the key path and the
// character. `down` is the layer's note that the key is held, so a press
// while it is counts as a repeat.
void desktopKey(WindowRules& w, bool& down, bool press, const DesktopKey& key, int32_t modifiers);
// A system key let go (any key while Alt is held, Alt itself, F10), which
// the runtime leaves unreported; the public layer hears of it.
void systemKeyUp(WindowRules& w, int32_t virtualKey, int32_t modifiers, const KeyIdentity& identity = {});
// A character in code page 437, posted repeat-count times as a signed byte.
void characterMessage(WindowRules& w, uint8_t character, int32_t repeatCount);
// Text the user typed (UTF-8), posted for the public layer in pieces that
// fit a record, each cut between characters. Control characters are not
// text and are left out.
void textTyped(WindowRules& w, const char* utf8);
// One character as UTF-8 into `out` (at least 5 bytes); the bytes written.
int32_t utf8Of(uint32_t character, char* out);

// The window's client area or the picture's place in it changed: a Resize
// event for the public layer.
void windowResized(WindowRules& w, const WindowArea& area);

// The window manager's close request: the close key and a WindowClose event.
void closeRequest(WindowRules& w);

// Pointer moves with the position in client and in screen coordinates.
void pointerMove(WindowRules& w, int32_t clientX, int32_t clientY, int32_t screenX, int32_t screenY);
void pointerLeave(WindowRules& w);
// The enter step on its own (focus gained with the pointer inside, or asked
// for by the platform): reports MouseEnter at the last client position.
void pointerEnter(WindowRules& w);
// Buttons by bit (1 left, 2 right, 4 middle).
void buttonDown(WindowRules& w, int32_t bit, bool doubleClick);
void buttonUp(WindowRules& w, int32_t bit);
// The extra buttons by the state of both after the message.
void extraButtons(WindowRules& w, bool first, bool second, bool down, bool doubleClick);
// One wheel step; the direction is all that counts.
void wheelStep(WindowRules& w, bool horizontal, bool forward);
// Marks every row of the visible page, so the next pass presents it whole
// (exposure, a new window size).
void markAllRows();
// Focus gained or lost; clears the key state and marks every row.
// `reportFocus` false keeps the focus events back (a window minimised while
// it keeps the focus).
void activation(WindowRules& w, bool active, bool reportFocus = true);
// Alt+Enter and maximise: window and full screen trade places by rebuilding
// the window; a failed rebuild returns to the previous mode. Nothing happens
// with mode flag 0x04 (no switching). Returns whether the mode changed.
bool toggleFullScreen(WindowRules& w);

// The common getMouse and setMouse.
int32_t rulesGetMouse(const WindowRules& w, int32_t* x, int32_t* y, int32_t* wheel, int32_t* buttons, int32_t* clip);
void rulesSetMouse(WindowRules& w, int32_t x, int32_t y, int32_t cursor, int32_t clip);

}  // namespace pel
