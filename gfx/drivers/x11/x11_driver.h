// The "X11" back end: a window with its own thread that presents the dirty
// band of the visible page every 10 ms (MIT-SHM when the server offers it,
// plain XPutImage otherwise) and turns X events into key codes and events.
#pragma once

#include <cstdint>

#include "gfx/driver.h"

namespace pel {

extern const DisplayDriver x11Driver;

}  // namespace pel
