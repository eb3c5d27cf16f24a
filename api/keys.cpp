// The public layer's key names: scan codes and key codes in words.
#include <cstdio>

#include "pellucet/pellucet.h"

namespace pellucet {
namespace {

struct Named {
  int code;
  const char* name;
};

// Set 1 scan codes. The arrows and the block above them share theirs with
// the keypad's digits, as on the keyboard itself.
constexpr Named scanNames[] = {
    {scan::escape, "Escape"},     {scan::digit1, "1"},           {scan::digit2, "2"},
    {scan::digit3, "3"},          {scan::digit4, "4"},           {scan::digit5, "5"},
    {scan::digit6, "6"},          {scan::digit7, "7"},           {scan::digit8, "8"},
    {scan::digit9, "9"},          {scan::digit0, "0"},           {scan::minus, "-"},
    {scan::equals, "="},          {scan::backspace, "Backspace"}, {scan::tab, "Tab"},
    {scan::q, "Q"},               {scan::w, "W"},                {scan::e, "E"},
    {scan::r, "R"},               {scan::t, "T"},                {scan::y, "Y"},
    {scan::u, "U"},               {scan::i, "I"},                {scan::o, "O"},
    {scan::p, "P"},               {scan::leftBracket, "["},      {scan::rightBracket, "]"},
    {scan::enter, "Enter"},       {scan::control, "Ctrl"},       {scan::a, "A"},
    {scan::s, "S"},               {scan::d, "D"},                {scan::f, "F"},
    {scan::g, "G"},               {scan::h, "H"},                {scan::j, "J"},
    {scan::k, "K"},               {scan::l, "L"},                {scan::semicolon, ";"},
    {scan::apostrophe, "'"},      {scan::grave, "`"},            {scan::leftShift, "Left Shift"},
    {scan::backslash, "\\"},      {scan::z, "Z"},                {scan::x, "X"},
    {scan::c, "C"},               {scan::v, "V"},                {scan::b, "B"},
    {scan::n, "N"},               {scan::m, "M"},                {scan::comma, ","},
    {scan::period, "."},          {scan::slash, "/"},            {scan::rightShift, "Right Shift"},
    {scan::keypadMultiply, "Keypad *"}, {scan::alt, "Alt"},      {scan::space, "Space"},
    {scan::capsLock, "Caps Lock"}, {scan::f1, "F1"},             {scan::f2, "F2"},
    {scan::f3, "F3"},             {scan::f4, "F4"},              {scan::f5, "F5"},
    {scan::f6, "F6"},             {scan::f7, "F7"},              {scan::f8, "F8"},
    {scan::f9, "F9"},             {scan::f10, "F10"},            {scan::numLock, "Num Lock"},
    {scan::scrollLock, "Scroll Lock"}, {scan::home, "Home"},     {scan::up, "Up"},
    {scan::pageUp, "Page Up"},    {scan::keypadMinus, "Keypad -"}, {scan::left, "Left"},
    {scan::keypad5, "Keypad 5"},  {scan::right, "Right"},        {scan::keypadPlus, "Keypad +"},
    {scan::end, "End"},           {scan::down, "Down"},          {scan::pageDown, "Page Down"},
    {scan::insert, "Insert"},     {scan::deleteKey, "Delete"},   {scan::f11, "F11"},
    {scan::f12, "F12"},           {scan::leftSystem, "Left System"}, {scan::rightSystem, "Right System"},
    {scan::menu, "Menu"},
};

// Characters that have a name rather than a glyph.
constexpr Named characterNames[] = {
    {key::backspace, "Backspace"}, {key::tab, "Tab"}, {key::enter, "Enter"}, {key::escape, "Escape"},
    {key::space, "Space"},
};

// Key codes of keys without a character, by their extended code.
constexpr Named extendedNames[] = {
    {key::up, "Up"},         {key::down, "Down"},         {key::left, "Left"},         {key::right, "Right"},
    {key::home, "Home"},     {key::end, "End"},           {key::pageUp, "Page Up"},    {key::pageDown, "Page Down"},
    {key::insert, "Insert"}, {key::deleteKey, "Delete"},  {key::f1, "F1"},             {key::f2, "F2"},
    {key::f3, "F3"},         {key::f4, "F4"},             {key::f5, "F5"},             {key::f6, "F6"},
    {key::f7, "F7"},         {key::f8, "F8"},             {key::f9, "F9"},             {key::f10, "F10"},
    {key::f11, "F11"},       {key::f12, "F12"},           {closeKey, "Close"},
};

// Key codes of combinations: Shift, Ctrl or Alt with a key, by their
// extended code (the PC BIOS's).
constexpr Named comboNames[] = {
    {0x01FF, "Alt+Escape"}, {0x03FF, "Ctrl+2"}, {0x0FFF, "Shift+Tab"}, {0x10FF, "Alt+Q"}, {0x11FF, "Alt+W"},
    {0x12FF, "Alt+E"}, {0x13FF, "Alt+R"}, {0x14FF, "Alt+T"}, {0x15FF, "Alt+Y"}, {0x16FF, "Alt+U"}, {0x17FF, "Alt+I"},
    {0x18FF, "Alt+O"}, {0x19FF, "Alt+P"}, {0x1AFF, "Alt+["}, {0x1BFF, "Alt+]"}, {0x1CFF, "Alt+Enter"},
    {0x1EFF, "Alt+A"}, {0x1FFF, "Alt+S"}, {0x20FF, "Alt+D"}, {0x21FF, "Alt+F"}, {0x22FF, "Alt+G"}, {0x23FF, "Alt+H"},
    {0x24FF, "Alt+J"}, {0x25FF, "Alt+K"}, {0x26FF, "Alt+L"}, {0x27FF, "Alt+;"}, {0x28FF, "Alt+'"}, {0x29FF, "Alt+`"},
    {0x2BFF, "Alt+\\"}, {0x2CFF, "Alt+Z"}, {0x2DFF, "Alt+X"}, {0x2EFF, "Alt+C"}, {0x2FFF, "Alt+V"}, {0x30FF, "Alt+B"},
    {0x31FF, "Alt+N"}, {0x32FF, "Alt+M"}, {0x33FF, "Alt+,"}, {0x34FF, "Alt+."}, {0x35FF, "Alt+/"},
    {0x37FF, "Alt+Keypad *"}, {0x4AFF, "Alt+Keypad -"}, {0x4EFF, "Alt+Keypad +"}, {0x54FF, "Shift+F1"},
    {0x55FF, "Shift+F2"}, {0x56FF, "Shift+F3"}, {0x57FF, "Shift+F4"}, {0x58FF, "Shift+F5"}, {0x59FF, "Shift+F6"},
    {0x5AFF, "Shift+F7"}, {0x5BFF, "Shift+F8"}, {0x5CFF, "Shift+F9"}, {0x5DFF, "Shift+F10"}, {0x5EFF, "Ctrl+F1"},
    {0x5FFF, "Ctrl+F2"}, {0x60FF, "Ctrl+F3"}, {0x61FF, "Ctrl+F4"}, {0x62FF, "Ctrl+F5"}, {0x63FF, "Ctrl+F6"},
    {0x64FF, "Ctrl+F7"}, {0x65FF, "Ctrl+F8"}, {0x66FF, "Ctrl+F9"}, {0x67FF, "Ctrl+F10"}, {0x68FF, "Alt+F1"},
    {0x69FF, "Alt+F2"}, {0x6AFF, "Alt+F3"}, {0x6BFF, "Alt+F4"}, {0x6CFF, "Alt+F5"}, {0x6DFF, "Alt+F6"},
    {0x6EFF, "Alt+F7"}, {0x6FFF, "Alt+F8"}, {0x70FF, "Alt+F9"}, {0x71FF, "Alt+F10"}, {0x72FF, "Ctrl+Print Screen"},
    {0x73FF, "Ctrl+Left"}, {0x74FF, "Ctrl+Right"}, {0x75FF, "Ctrl+End"}, {0x76FF, "Ctrl+Page Down"},
    {0x77FF, "Ctrl+Home"}, {0x78FF, "Alt+1"}, {0x79FF, "Alt+2"}, {0x7AFF, "Alt+3"}, {0x7BFF, "Alt+4"},
    {0x7CFF, "Alt+5"}, {0x7DFF, "Alt+6"}, {0x7EFF, "Alt+7"}, {0x7FFF, "Alt+8"}, {0x80FF, "Alt+9"}, {0x81FF, "Alt+0"},
    {0x82FF, "Alt+-"}, {0x83FF, "Alt+="}, {0x84FF, "Ctrl+Page Up"}, {0x87FF, "Shift+F11"}, {0x88FF, "Shift+F12"},
    {0x89FF, "Ctrl+F11"}, {0x8AFF, "Ctrl+F12"}, {0x8BFF, "Alt+F11"}, {0x8CFF, "Alt+F12"}, {0x8DFF, "Ctrl+Up"},
    {0x8EFF, "Ctrl+Keypad -"}, {0x8FFF, "Ctrl+Keypad 5"}, {0x90FF, "Ctrl+Keypad +"}, {0x91FF, "Ctrl+Down"},
    {0x92FF, "Ctrl+Insert"}, {0x93FF, "Ctrl+Delete"}, {0x94FF, "Ctrl+Tab"}, {0x95FF, "Ctrl+Keypad /"},
    {0x96FF, "Ctrl+Keypad *"}, {0x97FF, "Alt+Home"}, {0x98FF, "Alt+Up"}, {0x99FF, "Alt+Page Up"},
    {0x9BFF, "Alt+Left"}, {0x9DFF, "Alt+Right"}, {0x9FFF, "Alt+End"}, {0xA0FF, "Alt+Down"}, {0xA1FF, "Alt+Page Down"},
    {0xA2FF, "Alt+Insert"}, {0xA3FF, "Alt+Delete"}, {0xA4FF, "Alt+Keypad /"}, {0xA5FF, "Alt+Tab"},
    {0xA6FF, "Alt+Keypad Enter"}, {0xE0FF, "Alt+Backspace"},
};

template <std::size_t N>
const char* find(const Named (&table)[N], int code) {
  for (const Named& n : table) {
    if (n.code == code) return n.name;
  }
  return nullptr;
}

}  // namespace

const char* scanName(int scanCode) {
  const char* name = find(scanNames, scanCode);
  return name ? name : "";
}

const char* keyName(int code) {
  if (const char* name = find(characterNames, code)) return name;
  if (const char* name = find(extendedNames, code)) return name;
  if (const char* name = find(comboNames, code)) return name;
  // Other characters name themselves: one byte of code page 437.
  static thread_local char single[2];
  if (code > 32 && code <= 255 && code != 127) {
    single[0] = static_cast<char>(code);
    single[1] = '\0';
    return single;
  }
  return "";
}

}  // namespace pellucet
