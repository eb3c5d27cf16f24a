// Key codes of the evdev layout and xkb key symbols, which X11 and Wayland
// share, in the terms of the PC keyboard: scan codes (set 1, with the
// enhanced flag for the extended keys) and virtual keys.
#pragma once
#include <cstdint>

namespace pel::xkb {

struct PcKey {
  int32_t scanCode;  // 0 when the key has none
  bool enhanced;
};

// From an X key code of the evdev layout (Linux key code + 8).
PcKey pcKeyFromKeycode(uint32_t keycode);
// The virtual key of a key symbol (letters and digits are their upper-case
// characters), or 0.
int32_t virtualKeyFromKeysym(unsigned long keysym);

// The virtual key of a key: its unshifted key symbol's, or, where that has
// none (another layout's symbols), the US keyboard's key at that place.
int32_t virtualKeyOfKey(unsigned long unshiftedKeysym, uint32_t keycode);

// The X key code (evdev layout) of the US keyboard's key that gives this
// key symbol, or 0: for keymaps whose key codes follow no keyboard (virtual
// keyboards that number the keys they type).
uint32_t keycodeFromKeysym(unsigned long keysym);

}  // namespace pel::xkb

namespace pel {
struct DesktopKey;
}

namespace pel::xkb {

// Dead keys and compose sequences (dead_acute then e, Multi_key - - -) by
// the locale's compose table, through xkbcommon looked up at run time.
// Without the library or a table, keys type what they show.
struct Composer {
  void* context = nullptr;
  void* table = nullptr;
  void* state = nullptr;
  bool tried = false;  // opened once: a missing table is not looked for again
};
// Opens the table at the first key; true when sequences compose.
bool openComposer(Composer& c);
void closeComposer(Composer& c);
// A pressed key's symbol fed in: `none` (the key types as it is), `composing`
// (a sequence has begun or goes on: the key types nothing yet), `done` (the
// sequence is complete: `text` holds its UTF-8) or `cancelled` (the key
// broke off a sequence and types nothing).
enum class Composed { none, composing, done, cancelled };
Composed composeKey(Composer& c, unsigned long keysym, char (&text)[32]);
// The character a key symbol types (Latin-2, Greek, Cyrillic, ... symbols
// too), 0 for none or without the library.
uint32_t unicodeOfKeysym(unsigned long keysym);
// Forgets a sequence begun, as the focus leaves.
void resetComposer(Composer& c);
// A key's first press through the composer: one that begins, goes on with
// or breaks off a sequence types nothing; the one that ends it types the
// sequence's text (held in `composed`), its character where that is one.
void composeTyped(Composer& c, bool firstPress, unsigned long keysym, DesktopKey& key, char (&composed)[32]);

}  // namespace pel::xkb
