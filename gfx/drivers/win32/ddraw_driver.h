// The "DirectX" back end: DirectDraw shows the framebuffer (converted
// straight into the primary surface in full screen, into an off-screen
// surface blitted onto the window otherwise) and DirectInput reads the
// keyboard state, from a window thread of the Win32 window layer.
#pragma once

#include <cstdint>

#include "gfx/driver.h"

namespace pel {

extern const DisplayDriver ddrawDriver;

}  // namespace pel
