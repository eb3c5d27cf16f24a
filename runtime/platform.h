// The few platform services the language runtime needs; one implementation
// per platform (platform_posix.cpp, platform_win32.cpp).
#pragma once
#include <cstddef>
#include <cstdint>

namespace pel::platform {

// Performance counter: false when the platform has none.
bool counterFrequency(int64_t& frequency);
int64_t counterValue();
// Millisecond tick counter, the clock's fallback.
uint32_t tickCount();

void sleepMilliseconds(uint32_t ms);
// A tone of `hertz` for `ms` (the terminal bell where there is no speaker).
void beep(uint32_t hertz, uint32_t ms);

// The running program's file path, zero-terminated and cut to the buffer;
// an empty string when it cannot be had.
void modulePath(char* buffer, std::size_t size);

// Four bytes from the system's cryptographic source; false on failure.
bool cryptoRandom(uint32_t& value);

// Terminal: whether stdout / stdin are terminals, raw writes to stdout,
// and non-blocking raw reads from stdin (raw mode entered on first read).
bool stdoutIsTerminal();
bool stdinIsTerminal();
void terminalWrite(const char* bytes, std::size_t count);
bool terminalSize(int32_t& columns, int32_t& rows);
// Feeds every key that is waiting on the console to postConsoleKey.
void pollConsoleInput();
void terminalRestore();

}  // namespace pel::platform
