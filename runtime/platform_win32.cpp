#include <windows.h>
#include <wincrypt.h>
#include <io.h>

#include <cstdio>

#include "keys.h"
#include "platform.h"

namespace pel::platform {
namespace {

HANDLE inputHandle() { return GetStdHandle(STD_INPUT_HANDLE); }

bool ansiEnabled = false;

void enableAnsi() {
  if (ansiEnabled) return;
  ansiEnabled = true;
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (GetConsoleMode(out, &mode)) SetConsoleMode(out, mode | 0x0004 /* ENABLE_VIRTUAL_TERMINAL_PROCESSING */);
}

}  // namespace

bool counterFrequency(int64_t& frequency) {
  LARGE_INTEGER f;
  if (!QueryPerformanceFrequency(&f)) return false;
  frequency = f.QuadPart;
  return true;
}

int64_t counterValue() {
  LARGE_INTEGER c;
  QueryPerformanceCounter(&c);
  return c.QuadPart;
}

uint32_t tickCount() { return GetTickCount(); }

void sleepMilliseconds(uint32_t ms) { Sleep(ms); }

void modulePath(char* buffer, std::size_t size) {
  if (size == 0) return;
  const DWORD n = GetModuleFileNameA(nullptr, buffer, static_cast<DWORD>(size));
  buffer[n < size ? n : size - 1] = '\0';
}

void beep(uint32_t hertz, uint32_t ms) { Beep(hertz, ms); }

bool cryptoRandom(uint32_t& value) {
  HCRYPTPROV provider = 0;
  if (!CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) return false;
  const BOOL ok = CryptGenRandom(provider, sizeof value, reinterpret_cast<BYTE*>(&value));
  CryptReleaseContext(provider, 0);
  return ok != FALSE;
}

bool stdoutIsTerminal() { return _isatty(_fileno(stdout)) != 0; }
bool stdinIsTerminal() { return _isatty(_fileno(stdin)) != 0; }

void terminalWrite(const char* bytes, std::size_t count) {
  enableAnsi();
  std::fwrite(bytes, 1, count, stdout);
  std::fflush(stdout);
}

bool terminalSize(int32_t& columns, int32_t& rows) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) return false;
  columns = info.srWindow.Right - info.srWindow.Left + 1;
  rows = info.srWindow.Bottom - info.srWindow.Top + 1;
  return true;
}

void pollConsoleInput() {
  HANDLE in = inputHandle();
  DWORD mode = 0;
  if (!stdinIsTerminal() || !GetConsoleMode(in, &mode)) return;
  DWORD pending = 0;
  while (GetNumberOfConsoleInputEvents(in, &pending) && pending > 0) {
    INPUT_RECORD record;
    DWORD read = 0;
    if (!ReadConsoleInputA(in, &record, 1, &read) || read == 0) return;
    if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) continue;
    const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
    const auto character = static_cast<unsigned char>(key.uChar.AsciiChar);
    const int32_t code = character != 0 ? character : (key.wVirtualScanCode & 0xFF) << 8 | 0xFF;
    // Modifier keys alone give no key.
    if (character == 0 && (key.wVirtualKeyCode == VK_SHIFT || key.wVirtualKeyCode == VK_CONTROL ||
                           key.wVirtualKeyCode == VK_MENU || key.wVirtualKeyCode == VK_CAPITAL)) {
      continue;
    }
    for (WORD i = 0; i < key.wRepeatCount; ++i) postConsoleKey(code);
  }
}

void terminalRestore() {}

}  // namespace pel::platform
