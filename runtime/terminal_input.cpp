#include "terminal_input.h"

namespace pel {
namespace {

constexpr int32_t extended(int32_t scanCode) { return scanCode << 8 | 0xFF; }

// Final letters of "ESC [ x" and "ESC O x".
int32_t letterKey(uint8_t letter) {
  switch (letter) {
    case 'A': return extended(0x48);  // Up
    case 'B': return extended(0x50);  // Down
    case 'C': return extended(0x4D);  // Right
    case 'D': return extended(0x4B);  // Left
    case 'H': return extended(0x47);  // Home
    case 'F': return extended(0x4F);  // End
    case 'P': return extended(0x3B);  // F1 .. F4
    case 'Q': return extended(0x3C);
    case 'R': return extended(0x3D);
    case 'S': return extended(0x3E);
    default: return 0;
  }
}

// Numbers of "ESC [ n ~".
int32_t tildeKey(int number) {
  switch (number) {
    case 1: case 7: return extended(0x47);  // Home
    case 2: return extended(0x52);          // Insert
    case 3: return extended(0x53);          // Delete
    case 4: case 8: return extended(0x4F);  // End
    case 5: return extended(0x49);          // Page Up
    case 6: return extended(0x51);          // Page Down
    case 11: return extended(0x3B);         // F1 .. F5
    case 12: return extended(0x3C);
    case 13: return extended(0x3D);
    case 14: return extended(0x3E);
    case 15: return extended(0x3F);
    case 17: return extended(0x40);         // F6 .. F10
    case 18: return extended(0x41);
    case 19: return extended(0x42);
    case 20: return extended(0x43);
    case 21: return extended(0x44);
    case 23: return extended(0x85);         // F11, F12
    case 24: return extended(0x86);
    default: return 0;
  }
}

}  // namespace

std::size_t decodeTerminalKey(const uint8_t* bytes, std::size_t count, int32_t& code) {
  code = 0;
  if (count == 0) return 0;
  const uint8_t first = bytes[0];
  if (first != 0x1B) {
    code = first == 0x7F ? 8 : first == '\n' ? 13 : first;
    return 1;
  }
  if (count < 3 || (bytes[1] != '[' && bytes[1] != 'O')) {
    code = 27;
    return 1;
  }
  if (bytes[1] == 'O') {
    code = letterKey(bytes[2]);
    return 3;
  }
  // CSI: parameters (digits and ';') then one final byte.
  std::size_t i = 2;
  int number = 0;
  while (i < count && ((bytes[i] >= '0' && bytes[i] <= '9') || bytes[i] == ';')) {
    if (bytes[i] == ';') break;  // modifiers are not told apart
    number = number * 10 + (bytes[i] - '0');
    if (number > 999) number = 999;
    ++i;
  }
  while (i < count && ((bytes[i] >= '0' && bytes[i] <= '9') || bytes[i] == ';')) ++i;
  if (i >= count) {
    code = 27;
    return 1;
  }
  const uint8_t final = bytes[i];
  code = final == '~' ? tildeKey(number) : letterKey(final);
  return i + 1;
}

}  // namespace pel
