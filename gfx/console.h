// The graphics console: the text-side hook handlers that draw the language
// runtime's console on the graphics screen, with a cell record per page.
#pragma once
#include <cstdint>

namespace pel {

struct ConsoleWindow;

void clearHook(int32_t mode);  // 0 whole screen, 2 text view, other: graphics view
constexpr int32_t clearDefault = static_cast<int32_t>(0xFFFF0000u);
int32_t colorHook(int32_t foreground, int32_t background, int32_t flags);
int32_t cursorHook(int32_t row, int32_t column);
int32_t textSizeHook(int32_t columns, int32_t rows);
int32_t getXHook();
int32_t getYHook();
void getXYHook(int32_t* column, int32_t* row);
void getSizeHook(int32_t* columns, int32_t* rows);
void printHook(const char* bytes, int32_t length, int32_t flags);
void printWideHook(const char16_t* text, int32_t length, int32_t flags);
char* readStringHook(char* buffer, int32_t size);
int32_t readLineHook(const char* prompt, char* destination, int32_t size, int32_t destinationType, int32_t question,
                     int32_t newline);
int32_t readLineWideHook(const char16_t* prompt, char16_t* destination, int32_t size, int32_t question,
                         int32_t newline);
int32_t readCellHook(int32_t column, int32_t row, int32_t colourFlag);

// The print engine: bytes at the cursor, with the pending newline.
void printBytes(const char* bytes, int32_t length);
// The engine's callbacks.
int32_t writeRun(ConsoleWindow& window, const char* bytes, int32_t count);
void scrollText(ConsoleWindow& window, int32_t left, int32_t top, int32_t right, int32_t bottom, int32_t n);

}  // namespace pel
