// The console text engine shared by the terminal console and the graphics
// console: control characters, runs, chunking at the right column and
// scrolling, over a window record whose callbacks do the output.
#pragma once
#include <cstdint>
#include <string>

namespace pel {

struct ConsoleWindow {
  int32_t left, top, right, bottom;  // 0-based, inclusive
  int32_t column, row;               // cursor
  // Draws count bytes at the cursor; they always fit before the right column.
  int32_t (*writeRun)(ConsoleWindow& window, const char* bytes, int32_t count);
  // Scrolls rows top..bottom of columns left..right up by n rows.
  void (*scrollText)(ConsoleWindow& window, int32_t left, int32_t top, int32_t right, int32_t bottom, int32_t n);
  void* user;  // the callbacks' own state
};

constexpr int32_t maxConsoleRun = 1024;

// Interprets 7 (beep), 8 (back one column), 9 (to the next multiple of 8
// columns), 10 (next row, left column) and 13 (left column); other bytes are
// written in runs of at most 1,024, each in chunks that end at the right
// column, scrolling first while the cursor is below the bottom row.
void consoleWrite(ConsoleWindow& window, const char* bytes, int32_t length);

// UTF-16 to code page 437; characters it lacks become '?'.
std::string wideToBytes(const char16_t* text, int32_t length);
// Code page 437 to UTF-16.
char16_t byteToWide(uint8_t byte);

// Line input through the console's dispatching operations: prints the
// prompt and, when asked, "? ", reads a line, moves to a new line when
// asked, and stores the text (without the line end) into the destination of
// `size` bytes. Returns 0, or 4 when no line could be read.
int32_t lineInput(const char* prompt, char* destination, int32_t size, int32_t question, int32_t newline);
int32_t lineInputWide(const char16_t* prompt, char16_t* destination, int32_t size, int32_t question, int32_t newline);

}  // namespace pel
