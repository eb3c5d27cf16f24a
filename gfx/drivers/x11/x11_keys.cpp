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

namespace {

struct KeysymCode {
  uint32_t keysym, code;
};
// The US layout's keys by key symbol, both levels.
constexpr KeysymCode usLayout[] = {
    {XK_Escape, 1}, {XK_1, 2}, {XK_exclam, 2}, {XK_2, 3}, {XK_at, 3}, {XK_3, 4}, {XK_numbersign, 4}, {XK_4, 5},
    {XK_dollar, 5}, {XK_5, 6}, {XK_percent, 6}, {XK_6, 7}, {XK_asciicircum, 7}, {XK_7, 8}, {XK_ampersand, 8},
    {XK_8, 9}, {XK_asterisk, 9}, {XK_9, 10}, {XK_parenleft, 10}, {XK_0, 11}, {XK_parenright, 11}, {XK_minus, 12},
    {XK_underscore, 12}, {XK_equal, 13}, {XK_plus, 13}, {XK_BackSpace, 14}, {XK_Tab, 15}, {XK_q, 16}, {XK_w, 17},
    {XK_e, 18}, {XK_r, 19}, {XK_t, 20}, {XK_y, 21}, {XK_u, 22}, {XK_i, 23}, {XK_o, 24}, {XK_p, 25},
    {XK_bracketleft, 26}, {XK_braceleft, 26}, {XK_bracketright, 27}, {XK_braceright, 27}, {XK_Return, 28},
    {XK_Control_L, 29}, {XK_a, 30}, {XK_s, 31}, {XK_d, 32}, {XK_f, 33}, {XK_g, 34}, {XK_h, 35}, {XK_j, 36},
    {XK_k, 37}, {XK_l, 38}, {XK_semicolon, 39}, {XK_colon, 39}, {XK_apostrophe, 40}, {XK_quotedbl, 40},
    {XK_grave, 41}, {XK_asciitilde, 41}, {XK_Shift_L, 42}, {XK_backslash, 43}, {XK_bar, 43}, {XK_z, 44},
    {XK_x, 45}, {XK_c, 46}, {XK_v, 47}, {XK_b, 48}, {XK_n, 49}, {XK_m, 50}, {XK_comma, 51}, {XK_less, 51},
    {XK_period, 52}, {XK_greater, 52}, {XK_slash, 53}, {XK_question, 53}, {XK_Shift_R, 54}, {XK_KP_Multiply, 55},
    {XK_Alt_L, 56}, {XK_space, 57}, {XK_Caps_Lock, 58}, {XK_F1, 59}, {XK_F2, 60}, {XK_F3, 61}, {XK_F4, 62},
    {XK_F5, 63}, {XK_F6, 64}, {XK_F7, 65}, {XK_F8, 66}, {XK_F9, 67}, {XK_F10, 68}, {XK_Num_Lock, 69},
    {XK_Scroll_Lock, 70}, {XK_KP_7, 71}, {XK_KP_Home, 71}, {XK_KP_8, 72}, {XK_KP_Up, 72}, {XK_KP_9, 73},
    {XK_KP_Prior, 73}, {XK_KP_Subtract, 74}, {XK_KP_4, 75}, {XK_KP_Left, 75}, {XK_KP_5, 76}, {XK_KP_6, 77},
    {XK_KP_Right, 77}, {XK_KP_Add, 78}, {XK_KP_1, 79}, {XK_KP_End, 79}, {XK_KP_2, 80}, {XK_KP_Down, 80},
    {XK_KP_3, 81}, {XK_KP_Next, 81}, {XK_KP_0, 82}, {XK_KP_Insert, 82}, {XK_KP_Decimal, 83},
    {XK_KP_Delete, 83}, {XK_F11, 87}, {XK_F12, 88}, {XK_KP_Enter, 96}, {XK_Control_R, 97}, {XK_KP_Divide, 98},
    {XK_Alt_R, 100}, {XK_Home, 102}, {XK_Up, 103}, {XK_Prior, 104}, {XK_Left, 105}, {XK_Right, 106},
    {XK_End, 107}, {XK_Down, 108}, {XK_Next, 109}, {XK_Insert, 110}, {XK_Delete, 111}, {XK_Pause, 119},
    {XK_Super_L, 125}, {XK_Super_R, 126}, {XK_Menu, 127},
};

}  // namespace

uint32_t keycodeFromKeysym(unsigned long keysym) {
  if (keysym >= XK_A && keysym <= XK_Z) keysym += XK_a - XK_A;
  for (const KeysymCode& k : usLayout) {
    if (k.keysym == keysym) return k.code + 8;
  }
  return 0;
}

}  // namespace pel::x11
