// Helpers for the Windows back ends' tests, which run under Wine on a
// private X server: real input through SendInput, pixels read back from the
// window's device context, and counts of what a process holds.
#pragma once

#include <windows.h>
#include <tlhelp32.h>

#include <chrono>
#include <cstdlib>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

#include "../expected_pixels.h"
#include "gfx/mode.h"

namespace pel::test {

// How many mode sets a leak test cycles through: PEL_MODE_CYCLES when set
// (longer runs by hand), else the test's own count.
inline int modeCycles(int fallback) {
  const char* asked = std::getenv("PEL_MODE_CYCLES");
  return asked ? std::atoi(asked) : fallback;
}

// The window's client area, 0x00RRGGBB a pixel, top row first.
inline std::vector<uint32_t> clientPixels(HWND window, int width, int height, bool fromScreen = false) {
  std::vector<uint32_t> pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  HDC source = GetDC(fromScreen ? nullptr : window);
  POINT origin{0, 0};
  if (fromScreen) ClientToScreen(window, &origin);
  HDC memory = CreateCompatibleDC(source);
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(source, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ previous = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, source, origin.x, origin.y, SRCCOPY);
  GdiFlush();
  const auto* p = static_cast<const uint32_t*>(bits);
  for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = p[i] & 0xFFFFFF;
  SelectObject(memory, previous);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(fromScreen ? nullptr : window, source);
  return pixels;
}

inline void sendKey(WORD virtualKey, bool up, bool extended = false) {
  INPUT in{};
  in.type = INPUT_KEYBOARD;
  in.ki.wVk = virtualKey;
  in.ki.wScan = static_cast<WORD>(MapVirtualKeyA(virtualKey, MAPVK_VK_TO_VSC));
  in.ki.dwFlags = (up ? KEYEVENTF_KEYUP : 0) | (extended ? KEYEVENTF_EXTENDEDKEY : 0);
  SendInput(1, &in, sizeof in);
}

// Presses and lets go of a key, with modifiers held around it.
inline void tapKey(WORD virtualKey, std::initializer_list<WORD> held = {}, bool extended = false) {
  for (WORD m : held) sendKey(m, false);
  sendKey(virtualKey, false, extended);
  sendKey(virtualKey, true, extended);
  for (WORD m : held) sendKey(m, true);
}

inline void typeUnicode(wchar_t c) {
  INPUT in[2] = {};
  for (int i = 0; i < 2; ++i) {
    in[i].type = INPUT_KEYBOARD;
    in[i].ki.wScan = c;
    in[i].ki.dwFlags = KEYEVENTF_UNICODE | (i ? KEYEVENTF_KEYUP : 0);
  }
  SendInput(2, in, sizeof in[0]);
}

inline void mouseInput(DWORD flags, LONG x = 0, LONG y = 0, DWORD data = 0) {
  INPUT in{};
  in.type = INPUT_MOUSE;
  in.mi.dx = x;
  in.mi.dy = y;
  in.mi.mouseData = data;
  in.mi.dwFlags = flags;
  SendInput(1, &in, sizeof in);
}

// Waits until `done` holds, 5 s at most.
inline bool waitFor(const std::function<bool()>& done, int milliseconds = 5000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    Sleep(5);
  }
  return true;
}

inline int threadCount() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  int count = 0;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
  }
  CloseHandle(snapshot);
  return count;
}

inline BOOL CALLBACK countOwnWindow(HWND w, LPARAM counter) {
  DWORD process = 0;
  GetWindowThreadProcessId(w, &process);
  if (process == GetCurrentProcessId()) ++*reinterpret_cast<int*>(counter);
  return TRUE;
}

// Top-level windows of this process.
inline int windowCount() {
  int count = 0;
  EnumWindows(countOwnWindow, reinterpret_cast<LPARAM>(&count));
  return count;
}

inline DWORD handleCount() {
  DWORD count = 0;
  GetProcessHandleCount(GetCurrentProcess(), &count);
  return count;
}

// Bytes in use in every heap of the process (the C library's among them).
inline std::size_t heapBytesInUse() {
  HANDLE heaps[64];
  const DWORD count = GetProcessHeaps(64, heaps);
  std::size_t total = 0;
  for (DWORD i = 0; i < count && i < 64; ++i) {
    if (!HeapLock(heaps[i])) continue;
    PROCESS_HEAP_ENTRY entry{};
    while (HeapWalk(heaps[i], &entry)) {
      if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) total += entry.cbData;
    }
    HeapUnlock(heaps[i]);
  }
  return total;
}

}  // namespace pel::test
