#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/random.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "keys.h"
#include "platform.h"
#include "terminal_input.h"

namespace pel::platform {
namespace {

struct RawTerminal {
  bool active = false;
  termios saved{};
};
RawTerminal raw;

// Non-canonical, unechoed input so keys arrive one by one; signals stay on
// so that Ctrl+C still interrupts.
bool enterRawInput() {
  if (raw.active) return true;
  if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &raw.saved) != 0) return false;
  termios t = raw.saved;
  t.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  if (tcsetattr(STDIN_FILENO, TCSANOW, &t) != 0) return false;
  raw.active = true;
  std::atexit(terminalRestore);
  return true;
}

}  // namespace

bool counterFrequency(int64_t& frequency) {
  timespec ts;
  if (clock_gettime(CLOCK_MONOTONIC, &ts) != 0) return false;
  frequency = 1000000000;
  return true;
}

int64_t counterValue() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

uint32_t tickCount() { return static_cast<uint32_t>(counterValue() / 1000000); }

void sleepMilliseconds(uint32_t ms) {
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

void modulePath(char* buffer, std::size_t size) {
  if (size == 0) return;
  const ssize_t n = readlink("/proc/self/exe", buffer, size - 1);
  buffer[n > 0 ? n : 0] = '\0';
}

void beep(uint32_t, uint32_t) {
  if (isatty(STDOUT_FILENO)) terminalWrite("\a", 1);
}

bool cryptoRandom(uint32_t& value) {
  return getrandom(&value, sizeof value, 0) == static_cast<ssize_t>(sizeof value);
}

bool stdoutIsTerminal() { return isatty(STDOUT_FILENO) == 1; }
bool stdinIsTerminal() { return isatty(STDIN_FILENO) == 1; }

void terminalWrite(const char* bytes, std::size_t count) {
  while (count > 0) {
    const ssize_t n = write(STDOUT_FILENO, bytes, count);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      return;
    }
    bytes += n;
    count -= static_cast<std::size_t>(n);
  }
}

bool terminalSize(int32_t& columns, int32_t& rows) {
  winsize ws{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) != 0 || ws.ws_col == 0 || ws.ws_row == 0) return false;
  columns = ws.ws_col;
  rows = ws.ws_row;
  return true;
}

void pollConsoleInput() {
  if (!enterRawInput()) return;
  uint8_t buffer[256];
  pollfd pfd{STDIN_FILENO, POLLIN, 0};
  while (poll(&pfd, 1, 0) > 0 && (pfd.revents & POLLIN)) {
    const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
    if (n <= 0) return;
    std::size_t at = 0;
    while (at < static_cast<std::size_t>(n)) {
      int32_t code = 0;
      at += decodeTerminalKey(buffer + at, static_cast<std::size_t>(n) - at, code);
      if (code != 0) postConsoleKey(code);
    }
  }
}

void terminalRestore() {
  if (!raw.active) return;
  tcsetattr(STDIN_FILENO, TCSANOW, &raw.saved);
  raw.active = false;
}

}  // namespace pel::platform
