// Sleeping and key polling. With a graphics mode open these pass to the
// hook slots; without one they use the console key ring, which console
// input fills.
#pragma once
#include <cstdint>
#include <string>

namespace pel {

// Sleeps; returns 0, or the key flag when a key cut the wait short.
int32_t sleepMs(int32_t ms);
// The next key as 0, 1 or 2 characters; never waits.
std::string readKey();
// Waits for the next key code.
int32_t waitKey();
// Non-zero when a key is waiting; consumes nothing.
int32_t keyWaiting();

// A key code as a string: codes of 256 and above read as (code & 0xFF)
// followed by (code >> 8); 0 is the empty string.
std::string keyString(int32_t code);

// Console key ring (512 codes, drops nothing: a full ring refuses the key).
void postConsoleKey(int32_t code);
// Takes a whole code, or 0 when the ring is empty.
int32_t takeConsoleKey();
// Takes one character: an extended code gives 255 first and its scan code
// on the next read. 0 when empty.
int32_t takeConsoleChar();
// Reads and clears the key-pressed flag.
int32_t takeConsoleKeyFlag();

}  // namespace pel
