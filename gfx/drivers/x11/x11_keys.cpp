#include "x11_keys.h"

#include <X11/keysym.h>

namespace pel::x11 {

PcKey pcKeyFromKeycode(uint32_t keycode) {
  if (keycode < 8) return {0, false};
  const uint32_t linux = keycode - 8;
  // Keys 1..88 and 91..93 carry their scan code; the extended ones share
  // the scan code of their keypad twin and set the enhanced flag.
  switch (linux) {
    case 96: return {0x1C, true};   // keypad Enter
    case 97: return {0x1D, true};   // right Ctrl
    case 98: return {0x35, true};   // keypad /
    case 100: return {0x38, true};  // right Alt
    case 102: return {0x47, true};  // Home
    case 103: return {0x48, true};  // Up
    case 104: return {0x49, true};  // Page Up
    case 105: return {0x4B, true};  // Left
    case 106: return {0x4D, true};  // Right
    case 107: return {0x4F, true};  // End
    case 108: return {0x50, true};  // Down
    case 109: return {0x51, true};  // Page Down
    case 110: return {0x52, true};  // Insert
    case 111: return {0x53, true};  // Delete
    case 125: return {0x5B, true};  // left Windows
    case 126: return {0x5C, true};  // right Windows
    case 127: return {0x5D, true};  // Menu
    default: return {linux <= 88 ? static_cast<int32_t>(linux) : 0, false};
  }
}

int32_t virtualKeyFromKeysym(unsigned long keysym) {
  if (keysym >= XK_a && keysym <= XK_z) return static_cast<int32_t>('A' + keysym - XK_a);
  if (keysym >= XK_A && keysym <= XK_Z) return static_cast<int32_t>(keysym);
  if (keysym >= XK_0 && keysym <= XK_9) return static_cast<int32_t>(keysym);
  if (keysym >= XK_F1 && keysym <= XK_F12) return static_cast<int32_t>(0x70 + keysym - XK_F1);
  if (keysym >= XK_KP_0 && keysym <= XK_KP_9) return static_cast<int32_t>(0x60 + keysym - XK_KP_0);
  switch (keysym) {
    case XK_BackSpace: return 0x08;
    case XK_Tab: return 0x09;
    case XK_Return: case XK_KP_Enter: return 0x0D;
    case XK_Shift_L: case XK_Shift_R: return 0x10;
    case XK_Control_L: case XK_Control_R: return 0x11;
    case XK_Alt_L: case XK_Alt_R: case XK_Meta_L: return 0x12;
    case XK_Pause: return 0x13;
    case XK_Caps_Lock: return 0x14;
    case XK_Escape: return 0x1B;
    case XK_space: return 0x20;
    case XK_Prior: case XK_KP_Prior: return 0x21;
    case XK_Next: case XK_KP_Next: return 0x22;
    case XK_End: case XK_KP_End: return 0x23;
    case XK_Home: case XK_KP_Home: return 0x24;
    case XK_Left: case XK_KP_Left: return 0x25;
    case XK_Up: case XK_KP_Up: return 0x26;
    case XK_Right: case XK_KP_Right: return 0x27;
    case XK_Down: case XK_KP_Down: return 0x28;
    case XK_Insert: case XK_KP_Insert: return 0x2D;
    case XK_Delete: case XK_KP_Delete: return 0x2E;
    case XK_Super_L: return 0x5B;
    case XK_Super_R: return 0x5C;
    case XK_Menu: return 0x5D;
    case XK_KP_Multiply: return 0x6A;
    case XK_KP_Add: return 0x6B;
    case XK_KP_Subtract: return 0x6D;
    case XK_KP_Decimal: return 0x6E;
    case XK_KP_Divide: return 0x6F;
    case XK_Num_Lock: return 0x90;
    case XK_Scroll_Lock: return 0x91;
    case XK_semicolon: case XK_colon: return 0xBA;
    case XK_equal: case XK_plus: return 0xBB;
    case XK_comma: case XK_less: return 0xBC;
    case XK_minus: case XK_underscore: return 0xBD;
    case XK_period: case XK_greater: return 0xBE;
    case XK_slash: case XK_question: return 0xBF;
    case XK_grave: case XK_asciitilde: return 0xC0;
    case XK_bracketleft: case XK_braceleft: return 0xDB;
    case XK_backslash: case XK_bar: return 0xDC;
    case XK_bracketright: case XK_braceright: return 0xDD;
    case XK_apostrophe: case XK_quotedbl: return 0xDE;
    default: return 0;
  }
}

}  // namespace pel::x11
