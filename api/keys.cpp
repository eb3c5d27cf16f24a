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
