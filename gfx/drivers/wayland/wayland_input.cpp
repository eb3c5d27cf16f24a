// The seat's keyboard and pointer through the platform-neutral window rules:
// keys by evdev code (the X11 layout's codes less 8) with characters from the
// compositor's xkb keymap, repeat at the compositor's rate, focus, the
// pointer's enter, leave, moves, buttons and wheels. Runs on the window
// thread under the back end's lock.
#include "gfx/drivers/wayland/wayland_testing.h"
#include "gfx/drivers/wayland/wayland_window.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "gfx/drivers/xkb_keys.h"
#include "gfx/input.h"
#include "gfx/mode.h"

namespace pel::wayland {
namespace {

using Clock = std::chrono::steady_clock;

// ---- Keyboard ----------------------------------------------------------------

void dropKeymap() {
  if (win->xkbState) wl->xkb_state_unref(win->xkbState);
  if (win->keymap) wl->xkb_keymap_unref(win->keymap);
  win->xkbState = nullptr;
  win->keymap = nullptr;
}

void keymap(void*, wl_keyboard*, uint32_t format, int32_t fd, uint32_t size) {
  if (format != WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 || size == 0) {
    close(fd);
    return;
  }
  void* text = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  close(fd);
  if (text == MAP_FAILED) return;
  dropKeymap();
  if (!win->xkb) win->xkb = wl->xkb_context_new(XKB_CONTEXT_NO_FLAGS);
  // The text ends in a NUL within size.
  if (win->xkb) {
    win->keymap = wl->xkb_keymap_new_from_string(win->xkb, static_cast<const char*>(text), XKB_KEYMAP_FORMAT_TEXT_V1,
                                                 XKB_KEYMAP_COMPILE_NO_FLAGS);
  }
  munmap(text, size);
  if (win->keymap) win->xkbState = wl->xkb_state_new(win->keymap);
  // Every keyboard's keymap has Escape on evdev code 1; a virtual
  // keyboard's may number its keys as it likes.
  win->evdevLayout = !win->xkbState || wl->xkb_state_key_get_one_sym(win->xkbState, 9) == XKB_KEY_Escape;
}

int32_t modifierWord() {
  if (!win->xkbState) return 0;
  auto active = [](const char* name) {
    return wl->xkb_state_mod_name_is_active(win->xkbState, name, XKB_STATE_MODS_EFFECTIVE) > 0;
  };
  int32_t m = 0;
  if (active(XKB_MOD_NAME_SHIFT)) m |= keymod::shift;
  if (active(XKB_MOD_NAME_CTRL)) m |= keymod::leftCtrl;
  if (active(XKB_MOD_NAME_ALT)) m |= keymod::leftAlt;
  if (active(XKB_MOD_NAME_LOGO)) m |= keymod::super;
  if (active(XKB_MOD_NAME_CAPS)) m |= keymod::capsLock;
  if (active(XKB_MOD_NAME_NUM)) m |= keymod::numLock;
  return m;
}

// Scan codes name positions on the keyboard; without a keyboard behind the
// keymap, the US key that gives the symbol stands in.
xkb::PcKey pcKey(uint32_t keycode, uint32_t keysym) {
  return xkb::pcKeyFromKeycode(win->evdevLayout ? keycode : xkb::keycodeFromKeysym(keysym));
}

// The key symbol of a key unshifted, 0 for none.
uint32_t unshiftedKeysym(uint32_t keycode) {
  const xkb_layout_index_t layout = wl->xkb_state_key_get_layout(win->xkbState, keycode);
  const xkb_keysym_t* syms = nullptr;
  const int count = wl->xkb_keymap_key_get_syms_by_level(win->keymap, keycode, layout, 0, &syms);
  return count > 0 ? syms[0] : 0;
}

// One press (or repeat) or release of the key with this evdev code.
void keyEvent(uint32_t code, bool press) {
  const uint32_t keycode = code + 8;
  uint32_t keysym = 0, character = 0, unshifted = 0;
  if (win->xkbState) {
    keysym = wl->xkb_state_key_get_one_sym(win->xkbState, keycode);
    character = wl->xkb_state_key_get_utf32(win->xkbState, keycode);
    unshifted = unshiftedKeysym(keycode);
  }
  const xkb::PcKey pc = pcKey(keycode, keysym);
  // The key is the one at its place, whatever Shift made of it; a virtual
  // keyboard's stands at the US key that types its symbol.
  const uint32_t place = win->evdevLayout ? keycode : xkb::keycodeFromKeysym(keysym);
  const int32_t virtualKey = xkb::virtualKeyOfKey(win->evdevLayout ? unshifted : keysym, place);
  DesktopKey key{keycode, virtualKey, pc.scanCode, pc.enhanced, character};
  char composed[32];
  xkb::composeTyped(win->composer, press && !win->keyDown[keycode & 0xFF], keysym, key, composed);
  desktopKey(win->rules, win->keyDown[keycode & 0xFF], press, key, modifierWord());
}

void key(void*, wl_keyboard*, uint32_t, uint32_t, uint32_t code, uint32_t state) {
  const bool press = state == WL_KEYBOARD_KEY_STATE_PRESSED;
  keyEvent(code, press);
  if (press && win->repeatRate > 0 && win->keymap && wl->xkb_keymap_key_repeats(win->keymap, code + 8)) {
    win->repeatKey = code;
    win->nextRepeat = Clock::now() + std::chrono::milliseconds(win->repeatDelay);
  } else if (!press && win->repeatKey == code) {
    win->repeatKey = 0;
  }
}

void modifiers(void*, wl_keyboard*, uint32_t, uint32_t depressed, uint32_t latched, uint32_t locked, uint32_t group) {
  if (win->xkbState) wl->xkb_state_update_mask(win->xkbState, depressed, latched, locked, 0, 0, group);
}

void keyboardEnter(void*, wl_keyboard*, uint32_t, wl_surface* surface, wl_array* keys) {
  if (surface != win->surface) return;
  activation(win->rules, true);
  // The keys held as the focus arrives.
  ScreenMode* m = currentMode();
  const auto* held = static_cast<const uint32_t*>(keys->data);
  for (std::size_t i = 0; m && i < keys->size / sizeof(uint32_t); ++i) {
    const uint32_t keycode = held[i] + 8;
    const xkb::PcKey pc = pcKey(keycode, win->xkbState ? wl->xkb_state_key_get_one_sym(win->xkbState, keycode) : 0);
    if (pc.scanCode > 0 && pc.scanCode < 128) m->keyState[pc.scanCode] = 1;
  }
}

// Keys held as the focus goes are let go for the window: their releases
// will go elsewhere, and every press the program saw has its release.
void letGoOfKeys() {
  win->repeatKey = 0;
  for (uint32_t keycode = 8; keycode < 256; ++keycode) {
    if (win->keyDown[keycode]) keyEvent(keycode - 8, false);
  }
  std::memset(win->keyDown, 0, sizeof win->keyDown);
  xkb::resetComposer(win->composer);
}

void keyboardLeave(void*, wl_keyboard*, uint32_t, wl_surface*) {
  letGoOfKeys();
  if (win->rules.active) activation(win->rules, false);
}

void repeatInfo(void*, wl_keyboard*, int32_t rate, int32_t delay) {
  win->repeatRate = rate > 0 ? rate : 0;
  win->repeatDelay = delay > 0 ? delay : 0;
  if (!win->repeatRate) win->repeatKey = 0;
}

const wl_keyboard_listener keyboardListener = {
    .keymap = keymap,
    .enter = keyboardEnter,
    .leave = keyboardLeave,
    .key = key,
    .modifiers = modifiers,
    .repeat_info = repeatInfo,
};

// ---- Pointer ----------------------------------------------------------------

constexpr uint32_t btnLeft = 0x110, btnRight = 0x111, btnMiddle = 0x112, btnSide = 0x113, btnExtra = 0x114;
constexpr double wheelNotch = 10.0;  // continuous axis units of one wheel step
// A frame's wheel movement counts this many notches at most, so that no
// value a compositor sends keeps the thread posting steps.
constexpr int32_t mostNotches = 64;

bool overPicture() { return win->pointerSurface && win->pointerSurface == win->surface; }

// The theme's arrow, loaded once a connection at the desktop's cursor theme
// and size (XCURSOR_THEME, XCURSOR_SIZE), in the output's real pixels.
void loadCursor() {
  if (win->cursorTried) return;
  win->cursorTried = true;
  const Cursors* c = cursorLibrary();
  if (!c || !win->shm || !win->compositor) return;
  const char* theme = std::getenv("XCURSOR_THEME");
  const char* sizeText = std::getenv("XCURSOR_SIZE");
  const int asked = sizeText ? std::atoi(sizeText) : 0;
  const int size = asked > 0 && asked <= 256 ? asked : 24;
  const int scale = wl_compositor_get_version(win->compositor) >= WL_SURFACE_SET_BUFFER_SCALE_SINCE_VERSION
                        ? std::clamp(win->outputScale, 1, 4)
                        : 1;
  win->cursorTheme = c->wl_cursor_theme_load(theme && *theme ? theme : nullptr, size * scale, win->shm);
  if (win->cursorTheme) win->cursorImage = c->wl_cursor_theme_get_cursor(win->cursorTheme, "left_ptr");
  if (!win->cursorImage || win->cursorImage->image_count == 0) return;
  const wl_cursor_image* image = win->cursorImage->images[0];
  wl_buffer* buffer = c->wl_cursor_image_get_buffer(const_cast<wl_cursor_image*>(image));
  if (!buffer) return;
  win->cursorSurface = wl_compositor_create_surface(win->compositor);
  if (scale > 1) wl_surface_set_buffer_scale(win->cursorSurface, scale);
  wl_surface_attach(win->cursorSurface, buffer, 0, 0);
  wl_surface_damage(win->cursorSurface, 0, 0, static_cast<int32_t>(image->width) / scale,
                    static_cast<int32_t>(image->height) / scale);
  wl_surface_commit(win->cursorSurface);
  win->cursorScale = scale;
}

// The pointer over the picture gets the arrow, or nothing when the program
// hid it. Elsewhere (libdecor's frame) the surface's owner sets its own.
void showCursor() {
  if (!win->pointer || !overPicture()) return;
  if (!win->rules.cursorVisible) {
    wl_pointer_set_cursor(win->pointer, win->pointerSerial, nullptr, 0, 0);
    return;
  }
  loadCursor();
  if (!win->cursorSurface) return;
  const wl_cursor_image* image = win->cursorImage->images[0];
  wl_pointer_set_cursor(win->pointer, win->pointerSerial, win->cursorSurface,
                        static_cast<int32_t>(image->hotspot_x) / win->cursorScale,
                        static_cast<int32_t>(image->hotspot_y) / win->cursorScale);
}

// Buttons the program holds whose releases will go elsewhere (the pointer
// left, a grab of the compositor's took it, the pointer went away) are let
// go for the window, so each press it saw has its release.
void letGoOfButtons() {
  for (int32_t bit : {1, 2, 4}) {
    if (win->rules.buttons & bit) buttonUp(win->rules, bit);
  }
  if (win->rules.buttons & 0x18) extraButtons(win->rules, false, false, false, false);
}

void pointerEnter(void*, wl_pointer*, uint32_t serial, wl_surface* surface, wl_fixed_t x, wl_fixed_t y) {
  letGoOfButtons();
  win->pointerSurface = surface;
  win->pointerSerial = serial;
  win->axisFrame = {};
  if (!overPicture()) return;
  pointerAt(wl_fixed_to_double(x), wl_fixed_to_double(y));
  // The pointer's picture is the client's to set at each enter.
  showCursor();
}

void pointerLeave(void*, wl_pointer*, uint32_t, wl_surface*) {
  letGoOfButtons();
  win->pointerSurface = nullptr;
  win->axisFrame = {};
  win->rules.pointerInClient = false;
  if (win->rules.mouseInside) pointerLeave(win->rules);
}

void motion(void*, wl_pointer*, uint32_t, wl_fixed_t x, wl_fixed_t y) {
  if (overPicture()) pointerAt(wl_fixed_to_double(x), wl_fixed_to_double(y));
}

// Presses count on the picture's surface only: one on libdecor's title bar
// is libdecor's (and its release goes to the compositor's move). A release
// counts for a press the program saw.
void button(void*, wl_pointer*, uint32_t, uint32_t time, uint32_t which, uint32_t state) {
  const bool press = state == WL_POINTER_BUTTON_STATE_PRESSED;
  const int32_t bit = which == btnLeft     ? 1
                      : which == btnRight  ? 2
                      : which == btnMiddle ? 4
                      : which == btnSide   ? 8
                      : which == btnExtra  ? 16
                                           : 0;
  const bool held = win->rules.buttons & bit;
  if (!bit || (press ? !overPicture() || held : !held)) return;
  if (bit & 0x18) {
    const bool first = bit == 8 ? press : (win->rules.buttons & 8) != 0;
    const bool second = bit == 16 ? press : (win->rules.buttons & 16) != 0;
    extraButtons(win->rules, first, second, press, false);
    return;
  }
  if (!press) {
    buttonUp(win->rules, bit);
    return;
  }
  buttonDown(win->rules, bit, win->clicks.press(bit, time));
}

void stepWheel(bool horizontal, bool positive) {
  wheelStep(win->rules, horizontal, horizontal ? positive : !positive);
}

// A frame's wheels: a wheel's notches (axis_discrete, or axis_value120 from
// wl_seat 8 on, a high-resolution wheel's part notches carried), after which
// the frame's axis value counts no more (compositors send 10 or 15 units a
// notch); without them, continuous values (touchpads, axis_source finger)
// carry their remainder. Vertical: negative is up, a step forward;
// horizontal: positive is right. Wheels over libdecor's frame are its own.
void pointerFrame(void*, wl_pointer*) {
  const WaylandWindow::AxisFrame f = std::exchange(win->axisFrame, {});
  if (!overPicture()) return;
  for (const bool horizontal : {false, true}) {
    if (f.stepped[horizontal]) {
      int32_t& rest = win->wheelRest120[horizontal];
      rest = std::clamp(rest + f.steps120[horizontal], -120 * mostNotches, 120 * mostNotches);
      while (rest >= 120 || rest <= -120) {
        const bool positive = rest > 0;
        stepWheel(horizontal, positive);
        rest += positive ? -120 : 120;
      }
      win->wheelRest[horizontal] = 0;
    } else if (f.moved[horizontal]) {
      double& rest = win->wheelRest[horizontal];
      rest = std::clamp(rest + f.units[horizontal], -wheelNotch * mostNotches, wheelNotch * mostNotches);
      while (std::fabs(rest) >= wheelNotch) {
        const bool positive = rest > 0;
        stepWheel(horizontal, positive);
        rest += positive ? -wheelNotch : wheelNotch;
      }
    }
  }
}

void notches(uint32_t which, int64_t steps120) {
  if (which > WL_POINTER_AXIS_HORIZONTAL_SCROLL) return;
  int32_t& steps = win->axisFrame.steps120[which];
  steps = static_cast<int32_t>(std::clamp<int64_t>(steps + steps120, -120 * mostNotches, 120 * mostNotches));
  win->axisFrame.stepped[which] = true;
}

void axisDiscrete(void*, wl_pointer*, uint32_t which, int32_t discrete) { notches(which, int64_t{discrete} * 120); }
void axisValue120(void*, wl_pointer*, uint32_t which, int32_t value120) { notches(which, value120); }

void axis(void*, wl_pointer* pointer, uint32_t, uint32_t which, wl_fixed_t value) {
  if (which > WL_POINTER_AXIS_HORIZONTAL_SCROLL) return;
  double& units = win->axisFrame.units[which];
  units = std::clamp(units + wl_fixed_to_double(value), -wheelNotch * mostNotches, wheelNotch * mostNotches);
  win->axisFrame.moved[which] = true;
  // Before wl_seat 5 no frames come: each value is its own.
  if (pointer && wl_pointer_get_version(pointer) < WL_POINTER_FRAME_SINCE_VERSION) pointerFrame(nullptr, pointer);
}

const wl_pointer_listener pointerListener = {
    .enter = pointerEnter,
    .leave = pointerLeave,
    .motion = motion,
    .button = button,
    .axis = axis,
    .frame = pointerFrame,
    .axis_source = [](void*, wl_pointer*, uint32_t) {},
    .axis_stop = [](void*, wl_pointer*, uint32_t, uint32_t) {},
    .axis_discrete = axisDiscrete,
    .axis_value120 = axisValue120,
};

// ---- Seat ----------------------------------------------------------------------

// From wl_seat 3 on the compositor keeps a device until the client releases
// it; destroying the proxy alone would leave one behind for every virtual
// keyboard that comes and goes.
void dropKeyboard() {
  if (!win->keyboard) return;
  if (wl_keyboard_get_version(win->keyboard) >= WL_KEYBOARD_RELEASE_SINCE_VERSION) {
    wl_keyboard_release(win->keyboard);
  } else {
    wl_keyboard_destroy(win->keyboard);
  }
  win->keyboard = nullptr;
}

void dropPointer() {
  if (!win->pointer) return;
  if (wl_pointer_get_version(win->pointer) >= WL_POINTER_RELEASE_SINCE_VERSION) {
    wl_pointer_release(win->pointer);
  } else {
    wl_pointer_destroy(win->pointer);
  }
  win->pointer = nullptr;
  win->pointerSurface = nullptr;
  win->axisFrame = {};
}

void capabilities(void*, wl_seat* seat, uint32_t caps) {
  const bool hasKeyboard = caps & WL_SEAT_CAPABILITY_KEYBOARD, hasPointer = caps & WL_SEAT_CAPABILITY_POINTER;
  if (hasKeyboard && !win->keyboard) {
    win->keyboard = wl_seat_get_keyboard(seat);
    wl_keyboard_add_listener(win->keyboard, &keyboardListener, nullptr);
  } else if (!hasKeyboard && win->keyboard) {
    // Keys held on a keyboard that went away are let go, and stop repeating.
    letGoOfKeys();
    dropKeyboard();
  }
  if (hasPointer && !win->pointer) {
    win->pointer = wl_seat_get_pointer(seat);
    wl_pointer_add_listener(win->pointer, &pointerListener, nullptr);
  } else if (!hasPointer && win->pointer) {
    letGoOfButtons();
    if (win->rules.mouseInside) pointerLeave(win->rules);
    win->rules.pointerInClient = false;
    dropPointer();
  }
}

}  // namespace

const wl_seat_listener seatListener = {
    .capabilities = capabilities,
    .name = [](void*, wl_seat*, const char*) {},
};

void pointerAt(double x, double y) {
  // Surface coordinates are logical pixels; the picture's place is in buffer ones.
  const double s = win->bufferScale;
  const PagePoint p = pageFromClient(win->picture, win->width, win->height, static_cast<int32_t>(std::floor(x * s)),
                                     static_cast<int32_t>(std::floor(y * s)));
  win->rules.pointerInClient = p.inside;
  // Wayland gives no screen position: the surface's own stands in for it.
  pointerMove(win->rules, p.x, p.y, static_cast<int32_t>(x), static_cast<int32_t>(y));
}

void updateCursor() {
  // Called from the program's thread, which may hold the back end's lock
  // already (the runtime counts its holds); the window thread may be
  // waiting for events, so the request goes out at once.
  const ScreenMode* m = currentMode();
  const bool held = m && m->lockCount != 0;
  if (!held) win->presentation.lock();
  showCursor();
  if (!held) win->presentation.unlock();
  if (win->display) wl->wl_display_flush(win->display);
}

const char* appId() {
  const char* name = program_invocation_short_name;
  return name && *name ? name : "pellucet";
}

void releaseInput() {
  dropKeyboard();
  dropPointer();
  if (win->cursorSurface) wl_surface_destroy(win->cursorSurface);
  if (win->cursorTheme) cursorLibrary()->wl_cursor_theme_destroy(win->cursorTheme);
  win->cursorSurface = nullptr;
  win->cursorTheme = nullptr;
  win->cursorImage = nullptr;
  win->cursorTried = false;
  dropKeymap();
  if (win->xkb) wl->xkb_context_unref(win->xkb);
  win->xkb = nullptr;
  xkb::closeComposer(win->composer);
}

void repeatKeys() {
  if (!win->repeatKey || win->repeatRate <= 0) return;
  const auto now = Clock::now();
  const auto period = std::chrono::microseconds(1000000 / win->repeatRate);
  while (win->repeatKey && now >= win->nextRepeat) {
    keyEvent(win->repeatKey, true);
    win->nextRepeat += period;
  }
}

int repeatDueIn() {
  if (!win->repeatKey || win->repeatRate <= 0) return -1;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(win->nextRepeat - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

}  // namespace pel::wayland

namespace pel {

using namespace wayland;

// The listeners fed as a compositor with a seat would feed them.
void waylandFeedKeymap(const char* text) {
  const int fd = memfd_create("pellucet-keymap", MFD_CLOEXEC);
  const std::size_t size = std::strlen(text) + 1;
  if (fd < 0 || write(fd, text, size) != static_cast<ssize_t>(size)) {
    if (fd >= 0) close(fd);
    return;
  }
  std::lock_guard guard(win->presentation);
  keymap(nullptr, nullptr, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, static_cast<uint32_t>(size));
}
void waylandFeedKey(uint32_t code, bool pressed) {
  std::lock_guard guard(win->presentation);
  key(nullptr, nullptr, 0, 0, code, pressed ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
}
void waylandFeedModifiers(uint32_t depressed, uint32_t locked) {
  std::lock_guard guard(win->presentation);
  modifiers(nullptr, nullptr, 0, depressed, 0, locked, 0);
}
void waylandFeedFocus(bool gained) {
  std::lock_guard guard(win->presentation);
  wl_array none{};
  if (gained) {
    keyboardEnter(nullptr, nullptr, 0, win->surface, &none);
  } else {
    keyboardLeave(nullptr, nullptr, 0, win->surface);
  }
}
void waylandFeedPointer(double x, double y, uint32_t button, bool pressed, uint32_t time) {
  std::lock_guard guard(win->presentation);
  if (win->pointerSurface != win->surface) {
    pointerEnter(nullptr, nullptr, 0, win->surface, wl_fixed_from_double(x), wl_fixed_from_double(y));
  } else {
    motion(nullptr, nullptr, time, wl_fixed_from_double(x), wl_fixed_from_double(y));
  }
  if (button) wayland::button(nullptr, nullptr, 0, time, button, pressed ? 1 : 0);
}
void waylandFeedWheelFrame(bool horizontal, int32_t discrete, int32_t value120, double value) {
  std::lock_guard guard(win->presentation);
  const uint32_t which = horizontal ? WL_POINTER_AXIS_HORIZONTAL_SCROLL : WL_POINTER_AXIS_VERTICAL_SCROLL;
  if (discrete) axisDiscrete(nullptr, nullptr, which, discrete);
  if (value120) axisValue120(nullptr, nullptr, which, value120);
  if (value != 0) axis(nullptr, nullptr, 0, which, wl_fixed_from_double(value));
  pointerFrame(nullptr, nullptr);
}
void waylandFeedWheel(bool horizontal, double value) { waylandFeedWheelFrame(horizontal, 0, 0, value); }
void waylandFeedPointerLeave() {
  std::lock_guard guard(win->presentation);
  wayland::pointerLeave(nullptr, nullptr, 0, win->surface);
}
void waylandFeedPointerEnter(bool picture, double x, double y) {
  // Another surface of the client's, as libdecor's title bar is: only its
  // address counts.
  static int frameSurface;
  std::lock_guard guard(win->presentation);
  pointerEnter(nullptr, nullptr, 0, picture ? win->surface : reinterpret_cast<wl_surface*>(&frameSurface),
               wl_fixed_from_double(x), wl_fixed_from_double(y));
}
void waylandFeedButton(uint32_t button, bool pressed, uint32_t time) {
  std::lock_guard guard(win->presentation);
  wayland::button(nullptr, nullptr, 0, time, button, pressed ? 1 : 0);
}

}  // namespace pel
