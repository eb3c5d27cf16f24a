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
