#include "console.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "console_engine.h"
#include "hooks.h"
#include "platform.h"
#include "runtime.h"

namespace pel {
namespace {

struct TextConsole {
  int32_t columns = 80;
  int32_t rows = 25;
  int32_t viewTop = -1;  // 1-based, -1 unset
  int32_t viewBottom = -1;
  int32_t column = 0;  // 0-based cursor
  int32_t row = 0;
  int32_t textRow = 0;
  int32_t foreground = 7;
  int32_t background = 0;
};

TextConsole con;

void control(const std::string& sequence) {
  if (platform::stdoutIsTerminal()) platform::terminalWrite(sequence.data(), sequence.size());
}

// Reads one line from standard input without its line end; false at end of input.
bool readInputLine(std::string& line) {
  std::fflush(stdout);
  line.clear();
  int c;
  while ((c = std::getchar()) != EOF && c != '\n') line.push_back(static_cast<char>(c));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return c != EOF || !line.empty();
}

void writeOut(const char* bytes, std::size_t count) {
  std::fwrite(bytes, 1, count, stdout);
  std::fflush(stdout);
}

}  // namespace

void consoleReset80x25() {
  con.columns = 80;
  con.rows = 25;
  con.column = con.row = 0;
  control("\x1b[8;25;80t\x1b[2J\x1b[H");
}

void consoleSetView(int32_t top, int32_t bottom) {
  con.viewTop = top;
  con.viewBottom = bottom;
  if (hooks().cursor) {
    if (auto update = hooks().viewUpdate) update();
    hooks().cursor(consoleViewTop() + 1, 1);
    return;
  }
  if (top < 1 || bottom < top) {
    control("\x1b[r");
  } else {
    control("\x1b[" + std::to_string(top) + ";" + std::to_string(bottom) + "r");
  }
}

void resetConsoleViewLimits() { con.viewTop = con.viewBottom = -1; }

void consoleRefreshSize() {
  int32_t columns = 0, rows = 0;
  if (auto hook = hooks().getSize) {
    hook(&columns, &rows);
  } else if (!platform::stdoutIsTerminal() || !platform::terminalSize(columns, rows)) {
    return;
  }
  con.columns = columns;
  con.rows = rows;
}

void setConsoleTextRow(int32_t row) { con.textRow = row; }
int32_t consoleTextRow() { return con.textRow; }

int32_t consoleViewTop() { return con.viewTop < 1 ? 0 : con.viewTop - 1; }
int32_t consoleViewBottom() {
  if (con.viewBottom >= 1) return con.viewBottom - 1;
  return con.rows == 0 ? 24 : con.rows - 1;
}
int32_t consoleColumns() { return con.columns; }
int32_t consoleRows() { return con.rows; }

void consoleClear(int32_t mode) {
  if (auto hook = hooks().clear) return hook(mode);
  con.column = 0;
  con.row = consoleViewTop();
  control("\x1b[2J\x1b[" + std::to_string(con.row + 1) + ";1H");
}

int32_t consoleColor(int32_t foreground, int32_t background, int32_t flags) {
  if (auto hook = hooks().color) return hook(foreground, background, flags);
  const int32_t previous = (con.background << 16) | con.foreground;
  // PC colour numbers to ANSI: red and blue trade places.
  constexpr int ansi[8] = {0, 4, 2, 6, 1, 5, 3, 7};
  if (!(flags & 1)) {
    con.foreground = foreground & 0x0F;
    control("\x1b[" + std::to_string((con.foreground & 8 ? 90 : 30) + ansi[con.foreground & 7]) + "m");
  }
  if (!(flags & 2)) {
    con.background = background & 0x0F;
    control("\x1b[" + std::to_string(40 + ansi[con.background & 7]) + "m");
  }
  return previous;
}

int32_t consoleLocate(int32_t row, int32_t column) {
  if (auto hook = hooks().cursor) return hook(row, column);
  if (column >= 1) con.column = column - 1;
  if (row >= 1) con.row = row - 1;
  control("\x1b[" + std::to_string(con.row + 1) + ";" + std::to_string(con.column + 1) + "H");
  return ((con.column & 0xFF) | con.row << 8) + 0x101;
}

int32_t consoleSetSize(int32_t columns, int32_t rows) {
  if (auto hook = hooks().textSize) return hook(columns, rows);
  const int32_t previous = con.columns | con.rows << 16;
  if (columns > 0) con.columns = columns;
  if (rows > 0) con.rows = rows;
  return previous;
}

int32_t consoleColumn() {
  if (auto hook = hooks().getX) return hook();
  return con.column + 1;
}

int32_t consoleRow() {
  if (auto hook = hooks().getY) return hook();
  return con.row + 1;
}

void consolePosition(int32_t* column, int32_t* row) {
  if (auto hook = hooks().getXY) return hook(column, row);
  if (column) *column = con.column + 1;
  if (row) *row = con.row + 1;
}

void consoleSize(int32_t* columns, int32_t* rows) {
  if (auto hook = hooks().getSize) return hook(columns, rows);
  if (columns) *columns = con.columns;
  if (rows) *rows = con.rows;
}

void consolePrint(const char* bytes, int32_t length, int32_t flags) {
  if (auto hook = hooks().print) return hook(bytes, length, flags);
  if (!bytes || length <= 0) return;
  writeOut(bytes, static_cast<std::size_t>(length));
  // The terminal draws; the engine only keeps the cursor in step with it.
  ConsoleWindow window{0, consoleViewTop(), std::max(con.columns - 1, 0), consoleViewBottom(), con.column, con.row,
                       [](ConsoleWindow&, const char*, int32_t) { return int32_t{1}; },
                       [](ConsoleWindow&, int32_t, int32_t, int32_t, int32_t, int32_t) {}, nullptr};
  consoleWrite(window, bytes, length);
  con.column = window.column;
  con.row = std::min(window.row, consoleViewBottom());
}

void consolePrintWide(const char16_t* text, int32_t length, int32_t flags) {
  if (auto hook = hooks().printWide) return hook(text, length, flags);
  const std::string bytes = wideToBytes(text, length);
  consolePrint(bytes.data(), static_cast<int32_t>(bytes.size()), flags);
}

char* consoleReadString(char* buffer, int32_t size) {
  if (auto hook = hooks().readString) return hook(buffer, size);
  std::string line;
  if (!buffer || size < 1 || !readInputLine(line)) return nullptr;
  const std::size_t kept = std::min(line.size(), static_cast<std::size_t>(size - 1));
  line.copy(buffer, kept);
  buffer[kept] = '\0';
  return buffer;
}

int32_t keyHeld(int32_t scanCode) {
  if (auto hook = hooks().keyHeld) return hook(scanCode);
  return 0;
}

int32_t mouseGet(int32_t* x, int32_t* y, int32_t* wheel, int32_t* buttons, int32_t* clip) {
  if (auto hook = hooks().getMouse) return hook(x, y, wheel, buttons, clip);
  for (int32_t* out : {x, y, wheel, buttons, clip}) {
    if (out) *out = -1;
  }
  return setLastError(1);
}

int32_t mouseSet(int32_t x, int32_t y, int32_t cursor, int32_t clip) {
  if (auto hook = hooks().setMouse) return hook(x, y, cursor, clip);
  return setLastError(1);
}

int32_t portIn(int32_t port) {
  if (auto hook = hooks().portIn) return hook(port);
  return -1;
}

int32_t portOut(int32_t port, int32_t value) {
  if (auto hook = hooks().portOut) return hook(port, value);
  return -1;
}

void consoleViewUpdate() {
  if (auto hook = hooks().viewUpdate) hook();
}

int32_t consoleReadLine(const char* prompt, char* destination, int32_t size,
                        int32_t destinationType, int32_t question, int32_t newline) {
  if (auto hook = hooks().readLine) return hook(prompt, destination, size, destinationType, question, newline);
  return lineInput(prompt, destination, size, question, newline);
}

int32_t consoleReadLineWide(const char16_t* prompt, char16_t* destination, int32_t size,
                            int32_t question, int32_t newline) {
  if (auto hook = hooks().readLineWide) return hook(prompt, destination, size, question, newline);
  return lineInputWide(prompt, destination, size, question, newline);
}

int32_t consoleReadCell(int32_t column, int32_t row, int32_t colourFlag) {
  if (auto hook = hooks().readCell) return hook(column, row, colourFlag);
  return 0;
}

int32_t runtimeQuery() {
  if (auto hook = hooks().query) return hook();
  return 0;
}

int32_t pageCopy(int32_t source, int32_t destination) {
  if (auto hook = hooks().copyPage) return hook(source, destination);
  return setLastError(1);
}

int32_t pageSet(int32_t work, int32_t visible) {
  if (auto hook = hooks().setPages) return hook(work, visible);
  return -1;
}

void terminalRestore() { platform::terminalRestore(); }

}  // namespace pel
