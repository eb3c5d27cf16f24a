#include "gfx/drivers/xkb_keys.h"

#include "gfx/drivers/window_rules.h"

#include <dlfcn.h>

#include <cstddef>
#include <cstdlib>
#include <type_traits>

#include <xkbcommon/xkbcommon-keysyms.h>

namespace pel::xkb {

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
  if (keysym >= XKB_KEY_a && keysym <= XKB_KEY_z) return static_cast<int32_t>('A' + keysym - XKB_KEY_a);
  if (keysym >= XKB_KEY_A && keysym <= XKB_KEY_Z) return static_cast<int32_t>(keysym);
  if (keysym >= XKB_KEY_0 && keysym <= XKB_KEY_9) return static_cast<int32_t>(keysym);
  if (keysym >= XKB_KEY_F1 && keysym <= XKB_KEY_F12) return static_cast<int32_t>(0x70 + keysym - XKB_KEY_F1);
  if (keysym >= XKB_KEY_KP_0 && keysym <= XKB_KEY_KP_9) return static_cast<int32_t>(0x60 + keysym - XKB_KEY_KP_0);
  switch (keysym) {
    case XKB_KEY_BackSpace: return 0x08;
    case XKB_KEY_Tab: return 0x09;
    case XKB_KEY_Return: case XKB_KEY_KP_Enter: return 0x0D;
    case XKB_KEY_Shift_L: case XKB_KEY_Shift_R: return 0x10;
    case XKB_KEY_Control_L: case XKB_KEY_Control_R: return 0x11;
    case XKB_KEY_Alt_L: case XKB_KEY_Alt_R: case XKB_KEY_Meta_L: return 0x12;
    case XKB_KEY_KP_Begin: return 0x0C;  // keypad 5 without Num Lock: Windows' Clear
    case XKB_KEY_Pause: return 0x13;
    case XKB_KEY_Caps_Lock: return 0x14;
    case XKB_KEY_Escape: return 0x1B;
    case XKB_KEY_space: return 0x20;
    case XKB_KEY_Prior: case XKB_KEY_KP_Prior: return 0x21;
    case XKB_KEY_Next: case XKB_KEY_KP_Next: return 0x22;
    case XKB_KEY_End: case XKB_KEY_KP_End: return 0x23;
    case XKB_KEY_Home: case XKB_KEY_KP_Home: return 0x24;
    case XKB_KEY_Left: case XKB_KEY_KP_Left: return 0x25;
    case XKB_KEY_Up: case XKB_KEY_KP_Up: return 0x26;
    case XKB_KEY_Right: case XKB_KEY_KP_Right: return 0x27;
    case XKB_KEY_Down: case XKB_KEY_KP_Down: return 0x28;
    case XKB_KEY_Insert: case XKB_KEY_KP_Insert: return 0x2D;
    case XKB_KEY_Delete: case XKB_KEY_KP_Delete: return 0x2E;
    case XKB_KEY_Super_L: return 0x5B;
    case XKB_KEY_Super_R: return 0x5C;
    case XKB_KEY_Menu: return 0x5D;
    case XKB_KEY_KP_Multiply: return 0x6A;
    case XKB_KEY_KP_Add: return 0x6B;
    case XKB_KEY_KP_Subtract: return 0x6D;
    case XKB_KEY_KP_Decimal: return 0x6E;
    case XKB_KEY_KP_Divide: return 0x6F;
    case XKB_KEY_Num_Lock: return 0x90;
    case XKB_KEY_Scroll_Lock: return 0x91;
    case XKB_KEY_semicolon: case XKB_KEY_colon: return 0xBA;
    case XKB_KEY_equal: case XKB_KEY_plus: return 0xBB;
    case XKB_KEY_comma: case XKB_KEY_less: return 0xBC;
    case XKB_KEY_minus: case XKB_KEY_underscore: return 0xBD;
    case XKB_KEY_period: case XKB_KEY_greater: return 0xBE;
    case XKB_KEY_slash: case XKB_KEY_question: return 0xBF;
    case XKB_KEY_grave: case XKB_KEY_asciitilde: return 0xC0;
    case XKB_KEY_bracketleft: case XKB_KEY_braceleft: return 0xDB;
    case XKB_KEY_backslash: case XKB_KEY_bar: return 0xDC;
    case XKB_KEY_bracketright: case XKB_KEY_braceright: return 0xDD;
    case XKB_KEY_apostrophe: case XKB_KEY_quotedbl: return 0xDE;
    default: return 0;
  }
}

namespace {

struct KeysymCode {
  uint32_t keysym, code;
};
// The US layout's keys by key symbol, both levels.
constexpr KeysymCode usLayout[] = {
    {XKB_KEY_Escape, 1}, {XKB_KEY_1, 2}, {XKB_KEY_exclam, 2}, {XKB_KEY_2, 3}, {XKB_KEY_at, 3}, {XKB_KEY_3, 4}, {XKB_KEY_numbersign, 4}, {XKB_KEY_4, 5},
    {XKB_KEY_dollar, 5}, {XKB_KEY_5, 6}, {XKB_KEY_percent, 6}, {XKB_KEY_6, 7}, {XKB_KEY_asciicircum, 7}, {XKB_KEY_7, 8}, {XKB_KEY_ampersand, 8},
    {XKB_KEY_8, 9}, {XKB_KEY_asterisk, 9}, {XKB_KEY_9, 10}, {XKB_KEY_parenleft, 10}, {XKB_KEY_0, 11}, {XKB_KEY_parenright, 11}, {XKB_KEY_minus, 12},
    {XKB_KEY_underscore, 12}, {XKB_KEY_equal, 13}, {XKB_KEY_plus, 13}, {XKB_KEY_BackSpace, 14}, {XKB_KEY_Tab, 15}, {XKB_KEY_q, 16}, {XKB_KEY_w, 17},
    {XKB_KEY_e, 18}, {XKB_KEY_r, 19}, {XKB_KEY_t, 20}, {XKB_KEY_y, 21}, {XKB_KEY_u, 22}, {XKB_KEY_i, 23}, {XKB_KEY_o, 24}, {XKB_KEY_p, 25},
    {XKB_KEY_bracketleft, 26}, {XKB_KEY_braceleft, 26}, {XKB_KEY_bracketright, 27}, {XKB_KEY_braceright, 27}, {XKB_KEY_Return, 28},
    {XKB_KEY_Control_L, 29}, {XKB_KEY_a, 30}, {XKB_KEY_s, 31}, {XKB_KEY_d, 32}, {XKB_KEY_f, 33}, {XKB_KEY_g, 34}, {XKB_KEY_h, 35}, {XKB_KEY_j, 36},
    {XKB_KEY_k, 37}, {XKB_KEY_l, 38}, {XKB_KEY_semicolon, 39}, {XKB_KEY_colon, 39}, {XKB_KEY_apostrophe, 40}, {XKB_KEY_quotedbl, 40},
    {XKB_KEY_grave, 41}, {XKB_KEY_asciitilde, 41}, {XKB_KEY_Shift_L, 42}, {XKB_KEY_backslash, 43}, {XKB_KEY_bar, 43}, {XKB_KEY_z, 44},
    {XKB_KEY_x, 45}, {XKB_KEY_c, 46}, {XKB_KEY_v, 47}, {XKB_KEY_b, 48}, {XKB_KEY_n, 49}, {XKB_KEY_m, 50}, {XKB_KEY_comma, 51}, {XKB_KEY_less, 51},
    {XKB_KEY_period, 52}, {XKB_KEY_greater, 52}, {XKB_KEY_slash, 53}, {XKB_KEY_question, 53}, {XKB_KEY_Shift_R, 54}, {XKB_KEY_KP_Multiply, 55},
    {XKB_KEY_Alt_L, 56}, {XKB_KEY_space, 57}, {XKB_KEY_Caps_Lock, 58}, {XKB_KEY_F1, 59}, {XKB_KEY_F2, 60}, {XKB_KEY_F3, 61}, {XKB_KEY_F4, 62},
    {XKB_KEY_F5, 63}, {XKB_KEY_F6, 64}, {XKB_KEY_F7, 65}, {XKB_KEY_F8, 66}, {XKB_KEY_F9, 67}, {XKB_KEY_F10, 68}, {XKB_KEY_Num_Lock, 69},
    {XKB_KEY_Scroll_Lock, 70}, {XKB_KEY_KP_7, 71}, {XKB_KEY_KP_Home, 71}, {XKB_KEY_KP_8, 72}, {XKB_KEY_KP_Up, 72}, {XKB_KEY_KP_9, 73},
    {XKB_KEY_KP_Prior, 73}, {XKB_KEY_KP_Subtract, 74}, {XKB_KEY_KP_4, 75}, {XKB_KEY_KP_Left, 75}, {XKB_KEY_KP_5, 76}, {XKB_KEY_KP_6, 77},
    {XKB_KEY_KP_Right, 77}, {XKB_KEY_KP_Add, 78}, {XKB_KEY_KP_1, 79}, {XKB_KEY_KP_End, 79}, {XKB_KEY_KP_2, 80}, {XKB_KEY_KP_Down, 80},
    {XKB_KEY_KP_3, 81}, {XKB_KEY_KP_Next, 81}, {XKB_KEY_KP_0, 82}, {XKB_KEY_KP_Insert, 82}, {XKB_KEY_KP_Decimal, 83},
    {XKB_KEY_KP_Delete, 83}, {XKB_KEY_F11, 87}, {XKB_KEY_F12, 88}, {XKB_KEY_KP_Enter, 96}, {XKB_KEY_Control_R, 97}, {XKB_KEY_KP_Divide, 98},
    {XKB_KEY_Alt_R, 100}, {XKB_KEY_Home, 102}, {XKB_KEY_Up, 103}, {XKB_KEY_Prior, 104}, {XKB_KEY_Left, 105}, {XKB_KEY_Right, 106},
    {XKB_KEY_End, 107}, {XKB_KEY_Down, 108}, {XKB_KEY_Next, 109}, {XKB_KEY_Insert, 110}, {XKB_KEY_Delete, 111}, {XKB_KEY_Pause, 119},
    {XKB_KEY_Super_L, 125}, {XKB_KEY_Super_R, 126}, {XKB_KEY_Menu, 127},
};

}  // namespace

int32_t virtualKeyOfKey(unsigned long unshiftedKeysym, uint32_t keycode) {
  if (const int32_t vk = virtualKeyFromKeysym(unshiftedKeysym)) return vk;
  for (const KeysymCode& k : usLayout) {
    if (k.code + 8 == keycode) return virtualKeyFromKeysym(k.keysym);
  }
  return 0;
}

uint32_t keycodeFromKeysym(unsigned long keysym) {
  if (keysym >= XKB_KEY_A && keysym <= XKB_KEY_Z) keysym += XKB_KEY_a - XKB_KEY_A;
  for (const KeysymCode& k : usLayout) {
    if (k.keysym == keysym) return k.code + 8;
  }
  return 0;
}

}  // namespace pel::xkb

// ---- Compose sequences ---------------------------------------------------------

namespace pel::xkb {
namespace {

// The few entry points of xkbcommon's compose interface; its types are
// opaque here, so the build needs none of its headers.
struct ComposeLibrary {
  void* (*contextNew)(int);
  void (*contextUnref)(void*);
  void* (*tableNewFromLocale)(void*, const char*, int);
  void (*tableUnref)(void*);
  void* (*stateNew)(void*, int);
  void (*stateUnref)(void*);
  int (*feed)(void*, uint32_t);
  void (*reset)(void*);
  int (*status)(void*);
  int (*utf8)(void*, char*, std::size_t);
  uint32_t (*keysymToUtf32)(uint32_t);
};

const ComposeLibrary* composeLibrary() {
  static const ComposeLibrary* loaded = [] () -> const ComposeLibrary* {
    void* library = dlopen("libxkbcommon.so.0", RTLD_NOW | RTLD_LOCAL);
    if (!library) return nullptr;
    static ComposeLibrary l;
    const auto find = [&](auto& entry, const char* name) {
      entry = reinterpret_cast<std::remove_reference_t<decltype(entry)>>(dlsym(library, name));
      return entry != nullptr;
    };
    const bool all = find(l.contextNew, "xkb_context_new") && find(l.contextUnref, "xkb_context_unref") &&
                     find(l.tableNewFromLocale, "xkb_compose_table_new_from_locale") &&
                     find(l.tableUnref, "xkb_compose_table_unref") && find(l.stateNew, "xkb_compose_state_new") &&
                     find(l.stateUnref, "xkb_compose_state_unref") && find(l.feed, "xkb_compose_state_feed") &&
                     find(l.reset, "xkb_compose_state_reset") && find(l.status, "xkb_compose_state_get_status") &&
                     find(l.utf8, "xkb_compose_state_get_utf8") && find(l.keysymToUtf32, "xkb_keysym_to_utf32");
    // The library stays loaded: its tables may outlive any one window.
    return all ? &l : nullptr;
  }();
  return loaded;
}

// The locale the user types in, as the C library would pick it.
const char* typingLocale() {
  for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(name);
    if (value && *value) return value;
  }
  return "C";
}

}  // namespace

bool openComposer(Composer& c) {
  if (c.tried) return c.state != nullptr;
  c.tried = true;
  const ComposeLibrary* l = composeLibrary();
  if (!l) return false;
  c.context = l->contextNew(0);
  if (c.context) c.table = l->tableNewFromLocale(c.context, typingLocale(), 0);
  // A locale without a table of its own still composes by the common one.
  if (c.context && !c.table) c.table = l->tableNewFromLocale(c.context, "C", 0);
  if (c.table) c.state = l->stateNew(c.table, 0);
  if (!c.state) {
    closeComposer(c);
    c.tried = true;
  }
  return c.state != nullptr;
}

void closeComposer(Composer& c) {
  const ComposeLibrary* l = composeLibrary();
  if (!l) return;
  if (c.state) l->stateUnref(c.state);
  if (c.table) l->tableUnref(c.table);
  if (c.context) l->contextUnref(c.context);
  c = {};
}

Composed composeKey(Composer& c, unsigned long keysym, char (&text)[32]) {
  text[0] = 0;
  const ComposeLibrary* l = composeLibrary();
  if (!l || !openComposer(c) || keysym == 0 || keysym > 0x1FFFFFFF) return Composed::none;
  constexpr int accepted = 1, composing = 1, composed = 2, cancelled = 3;
  // Modifier keys leave a sequence as it is.
  if (l->feed(c.state, static_cast<uint32_t>(keysym)) != accepted) return Composed::none;
  switch (l->status(c.state)) {
    case composing: return Composed::composing;
    case composed: {
      const int length = l->utf8(c.state, text, sizeof text);
      l->reset(c.state);
      if (length <= 0 || length >= static_cast<int>(sizeof text)) {
        text[0] = 0;
        return Composed::cancelled;  // a result of symbols only, or too long to carry
      }
      return Composed::done;
    }
    case cancelled: l->reset(c.state); return Composed::cancelled;
    default: return Composed::none;
  }
}

namespace {

// The code point of UTF-8 text of exactly one character, else 0.
uint32_t onlyCharacter(const char* utf8) {
  const auto* s = reinterpret_cast<const unsigned char*>(utf8);
  const int length = s[0] < 0x80 ? 1 : s[0] >= 0xF0 ? 4 : s[0] >= 0xE0 ? 3 : s[0] >= 0xC0 ? 2 : 0;
  if (length == 0 || s[0] == 0) return 0;
  uint32_t code = length == 1 ? s[0] : s[0] & (0x7F >> length);
  for (int i = 1; i < length; ++i) {
    if ((s[i] & 0xC0) != 0x80) return 0;
    code = code << 6 | (s[i] & 0x3F);
  }
  return s[length] == 0 ? code : 0;
}

}  // namespace

void composeTyped(Composer& c, bool firstPress, unsigned long keysym, DesktopKey& key, char (&composed)[32]) {
  if (!firstPress) return;
  switch (composeKey(c, keysym, composed)) {
    case Composed::none: return;
    case Composed::composing:
    case Composed::cancelled: key.unicode = 0; return;
    case Composed::done:
      key.unicode = onlyCharacter(composed);
      key.text = composed;
      return;
  }
}

uint32_t unicodeOfKeysym(unsigned long keysym) {
  const ComposeLibrary* l = composeLibrary();
  return l && keysym <= 0x1FFFFFFF ? l->keysymToUtf32(static_cast<uint32_t>(keysym)) : 0;
}

void resetComposer(Composer& c) {
  if (const ComposeLibrary* l = composeLibrary(); l && c.state) l->reset(c.state);
}

}  // namespace pel::xkb
