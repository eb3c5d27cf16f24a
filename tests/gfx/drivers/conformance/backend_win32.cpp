// "GDI", "DirectX", "Direct2D" and "OpenGL-WGL" under Wine on its private X
// server: pixels read back from the screen under the client area, keys
// through SendInput, the close box's request and the title through the
// window's own messages.
#include <windows.h>

#include <pellucet/pellucet.h>

#include <cstring>

#include "../win32/win32_test_support.h"
#include "conformance.h"
#include "gfx/drivers/win32/d2d_testing.h"
#include "gfx/drivers/win32/ddraw_testing.h"
#include "gfx/drivers/win32/gdi_testing.h"
#include "gfx/drivers/win32/win32_window.h"

namespace pel::conformance {
namespace {

HWND window() { return win32::windowHandle(); }

// Waits for three whole passes of the window thread (OpenGL: three flips,
// where its events arrive).
template <int64_t (*passes)()>
void settle() {
  const int64_t start = passes();
  test::waitFor([&] { return passes() >= start + 3; });
}
void settleAtFlips() {
  for (int i = 0; i < 3; ++i) {
    pellucet::flip();
    Sleep(20);
  }
}

std::vector<uint32_t> grab(int32_t& width, int32_t& height) {
  RECT client{};
  if (!window() || !GetClientRect(window(), &client)) return {};
  width = client.right;
  height = client.bottom;
  return test::clientPixels(window(), width, height, true);
}

// A 16-bit bitmap on GDI is 5-5-5, each channel widened as the display does.
uint32_t gdiShownAs(const ScreenMode* m, int x, int y) {
  if (m->bytesPerPixel != 2) return convertedAs(m, x, y);
  const uint32_t p = reinterpret_cast<const uint16_t*>(m->visibleBuffer + y * m->pitch)[x];
  auto widen = [](uint32_t c) { return (c << 3) | (c >> 2); };
  return widen(p >> 11) << 16 | widen((p >> 6) & 31) << 8 | widen(p & 31);
}

struct VirtualKey {
  WORD code;
  bool extended;
};

// The Windows key of an X key symbol name.
VirtualKey virtualKeyOf(const char* name) {
  const std::size_t length = std::strlen(name);
  if (length == 1 && name[0] >= 'a' && name[0] <= 'z') return {static_cast<WORD>(name[0] - 'a' + 'A'), false};
  if (length == 1 && name[0] >= '0' && name[0] <= '9') return {static_cast<WORD>(name[0]), false};
  if (name[0] == 'F' && length > 1 && length <= 3) return {static_cast<WORD>(VK_F1 + std::atoi(name + 1) - 1), false};
  static const struct {
    const char* name;
    VirtualKey key;
  } named[] = {
      {"minus", {VK_OEM_MINUS, false}}, {"Return", {VK_RETURN, false}}, {"Escape", {VK_ESCAPE, false}},
      {"space", {VK_SPACE, false}},     {"BackSpace", {VK_BACK, false}}, {"Tab", {VK_TAB, false}},
      {"Left", {VK_LEFT, true}},        {"Right", {VK_RIGHT, true}},     {"Up", {VK_UP, true}},
      {"Down", {VK_DOWN, true}},        {"Home", {VK_HOME, true}},       {"End", {VK_END, true}},
      {"Delete", {VK_DELETE, true}},    {"Insert", {VK_INSERT, true}},   {"Prior", {VK_PRIOR, true}},
      {"Next", {VK_NEXT, true}},        {"Alt_L", {VK_MENU, false}},      {"Shift_L", {VK_SHIFT, false}},
      {"KP_Add", {VK_ADD, false}},      {"KP_Multiply", {VK_MULTIPLY, false}},
      {"Shift_R", {VK_RSHIFT, false}},  {"Control_L", {VK_LCONTROL, false}}, {"Control_R", {VK_RCONTROL, true}},
  };
  for (const auto& n : named) {
    if (std::strcmp(n.name, name) == 0) return n.key;
  }
  return {0, false};
}

// The code point of a name "U" and hex digits ("U20AC"), 0 for other names.
uint32_t codePointOf(const char* name) {
  const std::size_t length = std::strlen(name);
  if (name[0] != 'U' || length < 5 || length > 7) return 0;
  char* end = nullptr;
  const unsigned long c = std::strtoul(name + 1, &end, 16);
  return *end == '\0' && c <= 0x10FFFF ? static_cast<uint32_t>(c) : 0;
}

bool type(const std::vector<Key>& keys) {
  if (!window()) return false;
  SetForegroundWindow(window());
  const WORD modifiers[] = {VK_SHIFT, VK_CONTROL, VK_MENU};
  for (const Key& k : keys) {
    // A character no key of the keyboard has, as a tool types it: one
    // UTF-16 unit a key, a character past the first 65,536 as two.
    const uint32_t c = std::strcmp(k.name, "eacute") == 0 ? 0xE9 : codePointOf(k.name);
    if (c && k.modifiers == plain) {
      if (c < 0x10000) {
        test::typeUnicode(static_cast<wchar_t>(c));
      } else {
        test::typeUnicode(static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10)));
        test::typeUnicode(static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
      }
      Sleep(5);
      continue;
    }
    const VirtualKey v = virtualKeyOf(k.name);
    if (!v.code) return false;
    for (int i = 0; i < 3; ++i) {
      if (k.modifiers & (1u << i)) test::sendKey(modifiers[i], false);
    }
    test::sendKey(v.code, false, v.extended);
    test::sendKey(v.code, true, v.extended);
    for (int i = 2; i >= 0; --i) {
      if (k.modifiers & (1u << i)) test::sendKey(modifiers[i], true);
    }
    Sleep(5);
  }
  return true;
}

bool pressKey(const char* name, bool press) {
  const VirtualKey v = virtualKeyOf(name);
  if (!window() || !v.code) return false;
  test::sendKey(v.code, !press, v.extended);
  // SendInput only queues the key: the next step (a focus change) must come
  // after the system has it, or it may take the focus first.
  for (int i = 0; i < 100 && ((GetAsyncKeyState(v.code) & 0x8000) != 0) != press; ++i) Sleep(5);
  return true;
}

bool pointTo(int32_t x, int32_t y) {
  POINT p{x, y};
  if (!window() || !ClientToScreen(window(), &p)) return false;
  SetCursorPos(p.x, p.y);
  return true;
}

bool click(int32_t button, int32_t count) {
  const DWORD down = button == 2 ? MOUSEEVENTF_RIGHTDOWN : button == 3 ? MOUSEEVENTF_MIDDLEDOWN : MOUSEEVENTF_LEFTDOWN;
  for (int i = 0; i < count; ++i) {
    test::mouseInput(down);
    test::mouseInput(down << 1);  // the matching up flag
  }
  return true;
}

// One wheel message a notch.
bool scroll(int32_t notches) {
  for (int i = 0; i < (notches < 0 ? -notches : notches); ++i)
    test::mouseInput(MOUSEEVENTF_WHEEL, 0, 0, static_cast<DWORD>(notches > 0 ? WHEEL_DELTA : -WHEEL_DELTA));
  return true;
}

// The outer size that gives the client area asked for.
bool resize(int32_t width, int32_t height) {
  RECT outer{0, 0, width, height};
  if (!window()) return false;
  AdjustWindowRectEx(&outer, static_cast<DWORD>(GetWindowLongA(window(), GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongA(window(), GWL_EXSTYLE)));
  return SetWindowPos(window(), nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                      SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// A window of the test's own takes the focus, and goes.
HWND other = nullptr;
bool focus(bool take) {
  if (!window()) return false;
  if (take) {
    if (other) DestroyWindow(other);
    other = nullptr;
    return SetForegroundWindow(window());
  }
  if (!other)
    other = CreateWindowExA(0, "STATIC", "other", WS_POPUP | WS_VISIBLE, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  return other && SetForegroundWindow(other);
}

// The close box: the system command it sends.
bool requestClose() { return window() && PostMessageA(window(), WM_SYSCOMMAND, SC_CLOSE, 0); }

// In UTF-8, as the program set it.
bool title(std::string& title) {
  wchar_t wide[256] = {};
  char text[1024] = {};
  if (!window()) return false;
  GetWindowTextW(window(), wide, 256);
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, text, sizeof text, nullptr, nullptr);
  title = text;
  return true;
}

std::string ready() { return ""; }

constexpr const char* noRecord = "Windows keeps no record of what a window drew that a program can read";
constexpr const char* noRepeat = "keys sent with SendInput do not repeat";

}  // namespace

const Backend gdiBackend = {
    .name = "GDI", .driver = "GDI", .flags = 0, .start = ready, .stop = [] {}, .settle = settle<gdiPasses>,
    .grab = grab, .type = type, .requestClose = requestClose, .title = title,
    .noScreen = nullptr, .noInput = nullptr, .noRecord = noRecord, .noRepeat = noRepeat,
    .pointTo = pointTo, .click = click, .scroll = scroll, .resize = resize, .focus = focus, .shownAs = gdiShownAs,
    .anyCharacter = true, .pressKey = pressKey,
};

const Backend directXBackend = {
    .name = "DirectX", .driver = "DirectX", .flags = 0, .start = ready, .stop = [] {}, .settle = settle<ddrawPasses>,
    .grab = grab, .type = type, .requestClose = requestClose, .title = title,
    .noScreen = nullptr, .noInput = nullptr, .noRecord = noRecord, .noRepeat = noRepeat,
    .pointTo = pointTo, .click = click, .scroll = scroll, .resize = resize, .focus = focus, .shownAs = nullptr,
    .anyCharacter = true, .pressKey = pressKey,
};

const Backend direct2DBackend = {
    .name = "Direct2D", .driver = "Direct2D", .flags = 0, .start = ready, .stop = [] {}, .settle = settle<d2dPasses>,
    .grab = grab, .type = type, .requestClose = requestClose, .title = title,
    .noScreen = nullptr, .noInput = nullptr, .noRecord = noRecord, .noRepeat = noRepeat,
    .pointTo = pointTo, .click = click, .scroll = scroll, .resize = resize, .focus = focus, .shownAs = nullptr,
    .anyCharacter = true, .pressKey = pressKey,
};

const Backend wglBackend = {
    .name = "OpenGL-WGL", .driver = "OpenGL", .flags = pellucet::openGl, .start = ready, .stop = [] {},
    .settle = settleAtFlips, .grab = nullptr, .type = type, .requestClose = requestClose, .title = title,
    .noScreen = "programs draw with OpenGL here, not on pages", .noInput = nullptr, .noRecord = noRecord,
    .noRepeat = noRepeat, .pointTo = pointTo, .click = click, .scroll = scroll, .resize = resize, .focus = focus, .shownAs = nullptr,
    .anyCharacter = true, .pressKey = pressKey,
};

}  // namespace pel::conformance
