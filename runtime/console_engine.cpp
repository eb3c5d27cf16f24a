#include "console_engine.h"

#include <algorithm>
#include <cstring>

#include "console.h"
#include "platform.h"
#include "runtime.h"

namespace pel {
namespace {

// Code page 437's upper half in UTF-16.
constexpr char16_t upperHalf[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC,
    0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6, 0x00DC, 0x00A2,
    0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310,
    0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C,
    0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF,
    0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2,
    0x25A0, 0x00A0,
};

void scrollBelowBottom(ConsoleWindow& w) {
  if (w.row > w.bottom) {
    w.scrollText(w, w.left, w.top, w.right, w.bottom, w.row - w.bottom);
    w.row = w.bottom;
  }
}

// Writes a run of printable bytes in chunks that end at the right column.
void writeChunks(ConsoleWindow& w, const char* bytes, int32_t count) {
  while (count > 0) {
    scrollBelowBottom(w);
    const int32_t room = std::max(w.right - w.column + 1, 1);
    const int32_t chunk = std::min(count, room);
    w.writeRun(w, bytes, chunk);
    bytes += chunk;
    count -= chunk;
    w.column += chunk;
    if (w.column > w.right) {
      w.column = w.left;
      ++w.row;
    }
  }
}

bool isControl(char c) { return c == 7 || c == 8 || c == 9 || c == 10 || c == 13; }

}  // namespace

char16_t byteToWide(uint8_t byte) { return byte < 128 ? byte : upperHalf[byte - 128]; }

std::string wideToBytes(const char16_t* text, int32_t length) {
  std::string out;
  for (int32_t i = 0; text && i < length; ++i) {
    const char16_t c = text[i];
    if (c < 128) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    const char16_t* found = std::find(std::begin(upperHalf), std::end(upperHalf), c);
    out.push_back(found == std::end(upperHalf) ? '?' : static_cast<char>(128 + (found - upperHalf)));
  }
  return out;
}

void consoleWrite(ConsoleWindow& w, const char* bytes, int32_t length) {
  static constexpr char spaces[8] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
  for (int32_t i = 0; i < length;) {
    switch (bytes[i]) {
      case 7:
        platform::beep(1000, 250);
        ++i;
        break;
      case 8:
        if (w.column > w.left) --w.column;
        ++i;
        break;
      case 9:
        writeChunks(w, spaces, 8 - (w.column - w.left) % 8);
        ++i;
        break;
      case 10:
        ++w.row;
        w.column = w.left;
        ++i;
        break;
      case 13:
        w.column = w.left;
        ++i;
        break;
      default: {
        int32_t run = 0;
        while (i + run < length && run < maxConsoleRun && !isControl(bytes[i + run])) ++run;
        writeChunks(w, bytes + i, run);
        i += run;
      }
    }
  }
}

int32_t lineInput(const char* prompt, char* destination, int32_t size, int32_t question, int32_t newline) {
  if (prompt && *prompt) consolePrint(prompt, static_cast<int32_t>(std::strlen(prompt)), 0);
  if (question) consolePrint("? ", 2, 0);
  if (!destination || size < 1) return setLastError(4);
  char line[4096];
  if (!consoleReadString(line, sizeof line)) return setLastError(4);
  std::size_t length = std::strlen(line);
  while (length > 0 && (line[length - 1] == 13 || line[length - 1] == 10)) --length;
  const std::size_t kept = std::min(length, static_cast<std::size_t>(size - 1));
  std::memcpy(destination, line, kept);
  destination[kept] = '\0';
  if (newline) consolePrint("\n", 1, 0);
  return setLastError(0);
}

int32_t lineInputWide(const char16_t* prompt, char16_t* destination, int32_t size, int32_t question, int32_t newline) {
  if (prompt && *prompt) consolePrintWide(prompt, static_cast<int32_t>(std::char_traits<char16_t>::length(prompt)), 0);
  if (!destination || size < 1) {
    if (question) consolePrint("? ", 2, 0);
    return setLastError(4);
  }
  std::string bytes(static_cast<std::size_t>(size), '\0');
  const int32_t result = lineInput(nullptr, bytes.data(), size, question, newline);
  if (result != 0) return result;
  const std::size_t length = std::strlen(bytes.c_str());
  for (std::size_t i = 0; i < length; ++i) destination[i] = byteToWide(static_cast<uint8_t>(bytes[i]));
  destination[length] = u'\0';
  return 0;
}

}  // namespace pel
