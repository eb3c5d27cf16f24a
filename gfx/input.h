// Keyboard and mouse input: the process-wide key ring, the mode's event
// queue, key translation, and the handlers that key polling, sleeping, the
// mouse and the VGA port emulation reach through the hook slots.
#pragma once
#include <chrono>
#include <cstdint>
#include <string>

#include "gfx/events.h"

namespace pel {

constexpr int32_t closeKeyCode = 0x6BFF;  // Alt+F4 and the close request

enum EventType : int32_t {
  KeyPress = 1,
  KeyRelease = 2,
  KeyRepeat = 3,
  MouseMove = 4,
  MouseButtonPress = 5,
  MouseButtonRelease = 6,
  MouseDoubleClick = 7,
  MouseWheel = 8,
  MouseEnter = 9,
  MouseExit = 10,
  WindowGotFocus = 11,
  WindowLostFocus = 12,
  WindowClose = 13,
  MouseHWheel = 14,
  // The window layer's own, which the runtime's reader never sees: text the
  // user typed, in UTF-8.
  TextInput = 15,
  Resize = 16,  // the window's client area changed size, or the picture moved in it
};

// Modifier word of a key message.
namespace keymod {
constexpr int32_t rightAlt = 0x01;
constexpr int32_t leftAlt = 0x02;
constexpr int32_t rightCtrl = 0x04;
constexpr int32_t leftCtrl = 0x08;
constexpr int32_t shift = 0x10;
constexpr int32_t enhanced = 0x100;
// Beyond the runtime's own word, for the public layer.
constexpr int32_t super = 0x40;      // the Windows (logo) key
constexpr int32_t capsLock = 0x80;   // locked on
constexpr int32_t numLock = 0x200;   // locked on
// Which of each pair of modifier keys is held, where the platform tells the
// sides apart (Windows by its key state; X11 and Wayland by the keys the
// window saw go down).
constexpr int32_t leftShiftKey = 0x400;
constexpr int32_t rightShiftKey = 0x800;
constexpr int32_t leftCtrlKey = 0x1000;
constexpr int32_t rightCtrlKey = 0x2000;
constexpr int32_t leftAltKey = 0x4000;
constexpr int32_t rightAltKey = 0x8000;
}  // namespace keymod

// Key ring: 16 slots, at most 15 codes; a full ring drops its oldest code.
// postKey takes no lock: its caller holds the back end's lock.
void postKey(int32_t code);
int32_t takeKey();      // oldest code or 0, under the runtime lock
int32_t takeKeyFlag();  // the key-hit flag, cleared, under the runtime lock

// Event queue of the open mode (127 records at most; a full queue drops its
// oldest record). Each call takes the queue's lock.
// A bare record, as the runtime and other code post them.
void postEvent(const EventRecord& event);
// A record of the window layer's.
void postEvent(const WindowEvent& event);
// Takes the oldest record the runtime sees, in the runtime's view; false
// when there is none or no mode is open.
bool pollEvent(EventRecord& event);
// Takes the oldest record of any kind (the public layer).
bool pollWindowEvent(WindowEvent& event);
// Waits for a record, asleep until one is posted; false when the mode goes
// away or `timeoutMs` (>= 0) passes first. A negative timeout waits without
// limit.
bool waitEvent(EventRecord& event, int32_t timeoutMs);
// Milliseconds of `timeoutMs` left since `start` (0 when none, -1 for a
// negative timeout).
int32_t msLeft(std::chrono::steady_clock::time_point start, int32_t timeoutMs);

// Keys and records posted (postKey, postEvent) are counted: a waiter reads
// the count, looks for input, and sleeps until the count moves on or
// `timeoutMs` (-1: no limit) pass. The mode's close moves it on too.
uint64_t inputSeen();
void waitForInput(uint64_t seen, int32_t timeoutMs);
void noteInput();
// The runtime's view of a record; false for one it does not see.
bool runtimeRecord(const WindowEvent& event, EventRecord& record);
// A bare record's fields by name, as its type gives them meaning.
WindowEvent namedRecord(const EventRecord& record);

// A character as code page 437, 0 when it has none there.
uint8_t cp437FromUnicode(uint32_t character);

// The key code of a key message, or -1 for none.
int32_t translateKey(int32_t character, int32_t scanCode, int32_t virtualKey, int32_t modifiers,
                     int32_t extendedOnly);
int32_t scancodeFromVirtualKey(int32_t virtualKey);
// The unshifted character of a virtual key, or 0: the keyboard layout's
// where a window layer gave its lookup (Windows does, at its first window),
// a US layout's otherwise.
int32_t unshiftedCharacter(int32_t virtualKey);
using UnshiftedCharacterLookup = int32_t (*)(int32_t virtualKey);
void useUnshiftedCharacters(UnshiftedCharacterLookup lookup);  // null: the US layout

// Hook handlers.
std::string readKeyHook();
int32_t waitKeyHook();
int32_t keyWaitingHook();
int32_t sleepHook(int32_t ms);
int32_t keyHeldHook(int32_t scanCode);
int32_t getMouseHook(int32_t* x, int32_t* y, int32_t* wheel, int32_t* buttons, int32_t* clip);
int32_t setMouseHook(int32_t x, int32_t y, int32_t cursor, int32_t clip);
int32_t portInHook(int32_t port);
int32_t portOutHook(int32_t port, int32_t value);

// The scan-code table: rows of (scan code, primary virtual key, alternative
// virtual key or 0), ended by a row with scan code 0.
struct ScanCodeRow {
  uint8_t scanCode, primary, alternative;
};
extern const ScanCodeRow ScanCodeTable[87];

}  // namespace pel
