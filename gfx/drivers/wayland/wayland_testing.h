// What tests and benchmarks of the "Wayland" back end reach into, apart from
// its interface.
#pragma once

#include <cstdint>

#include "gfx/drivers/wayland/wayland_driver.h"

namespace pel {

// Passes of the window thread since the process started, and a wake for one
// more (for tests: the thread sleeps while it has nothing to do).
int64_t waylandPasses();
void waylandWake();

// Benchmarks: rows first..last presented at once and the round trip after;
// and the floor, a 32-bit page copied whole into a free buffer, attached,
// damaged, committed and the round trip. Neither waits for a frame callback.
void waylandPresentNow(int32_t first, int32_t last);
void waylandBarePresent();

// Tests: the seat's listeners fed with what a compositor would send (the
// keymap's text, evdev key codes, modifier masks, focus, the pointer in
// surface coordinates with evdev button codes, wheel axis values).
void waylandFeedKeymap(const char* text);
void waylandFeedKey(uint32_t code, bool pressed);
void waylandFeedModifiers(uint32_t depressed, uint32_t locked);
void waylandFeedFocus(bool gained);
void waylandFeedPointer(double x, double y, uint32_t button, bool pressed, uint32_t time);
void waylandFeedWheel(bool horizontal, double value);
void waylandFeedPointerLeave();
// One pointer frame of wheel events: axis_discrete steps, axis_value120
// and the axis value (each sent when not 0).
void waylandFeedWheelFrame(bool horizontal, int32_t discrete, int32_t value120, double value);
// The pointer entering the picture's surface (true) or another surface of
// the client's, as libdecor's title bar is (false), at surface point (x, y);
// a button on whatever surface the pointer is over.
void waylandFeedPointerEnter(bool picture, double x, double y);
void waylandFeedButton(uint32_t button, bool pressed, uint32_t time);
// Tests: the surface's size as the compositor configured it.
void waylandSurfaceSize(int32_t& width, int32_t& height);
// Tests: the compositor's close request.
void waylandFeedClose();
// Tests: a toplevel made and dropped at once on the window's connection,
// from the calling thread, for which the compositor pings the client (sway
// pings each new toplevel's client).
void waylandProvokePing();

}  // namespace pel
