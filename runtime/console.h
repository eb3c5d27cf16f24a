// The language runtime's text console. Each operation with a hook slot calls
// the slot's routine while a graphics mode has filled it and otherwise runs
// its own form on the process's terminal (ANSI sequences when stdout is a
// terminal; nothing is written when it is not).
#pragma once
#include <cstdint>

namespace pel {

// Operations that mode setting relies on.
void consoleReset80x25();                             // size 80 x 25 and clear
void consoleSetView(int32_t top, int32_t bottom);     // scroll region, 1-based; -1 unsets
void resetConsoleViewLimits();                        // both limits unset, nothing else
void consoleRefreshSize();                            // re-read the terminal's size
void setConsoleTextRow(int32_t row);                  // record of the current text row
int32_t consoleTextRow();

// The scroll region as 0-based rows, unset values resolved: top 0, bottom
// rows - 1 (24 while the row count is 0).
int32_t consoleViewTop();
int32_t consoleViewBottom();
int32_t consoleColumns();
int32_t consoleRows();

// Dispatching operations, one per hook slot (slot numbers in hooks.h).
void consoleClear(int32_t mode);
int32_t consoleColor(int32_t foreground, int32_t background, int32_t flags);
int32_t consoleLocate(int32_t row, int32_t column);
int32_t consoleSetSize(int32_t columns, int32_t rows);
int32_t consoleColumn();
int32_t consoleRow();
void consolePosition(int32_t* column, int32_t* row);
void consoleSize(int32_t* columns, int32_t* rows);
void consolePrint(const char* bytes, int32_t length, int32_t flags);
void consolePrintWide(const char16_t* text, int32_t length, int32_t flags);
char* consoleReadString(char* buffer, int32_t size);
int32_t keyHeld(int32_t scanCode);
int32_t mouseGet(int32_t* x, int32_t* y, int32_t* wheel, int32_t* buttons, int32_t* clip);
int32_t mouseSet(int32_t x, int32_t y, int32_t cursor, int32_t clip);
int32_t portIn(int32_t port);
int32_t portOut(int32_t port, int32_t value);
void consoleViewUpdate();
int32_t consoleReadLine(const char* prompt, char* destination, int32_t size,
                        int32_t destinationType, int32_t question, int32_t newline);
int32_t consoleReadLineWide(const char16_t* prompt, char16_t* destination, int32_t size,
                            int32_t question, int32_t newline);
int32_t consoleReadCell(int32_t column, int32_t row, int32_t colourFlag);
int32_t runtimeQuery();
int32_t pageCopy(int32_t source, int32_t destination);
int32_t pageSet(int32_t work, int32_t visible);

// Leaves the terminal as the program found it (raw input mode off).
void terminalRestore();

}  // namespace pel
