// The "Wayland" back end: an xdg-shell window with its own thread that
// presents the dirty band of the visible page from shared-memory buffers,
// paced by the compositor's frame callbacks, and turns the seat's input into
// key codes and events.
#pragma once

#include <cstdint>

#include "gfx/driver.h"

namespace pel {

extern const DisplayDriver waylandDriver;

}  // namespace pel
