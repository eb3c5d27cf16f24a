// The "OpenGL" back end on X11 (GLX): the X11 window layer's window with a
// child window holding a double-buffered OpenGL context current on the
// program's thread, presented with glXSwapBuffers at each page flip, where
// the window's events are handled too. It serves only modes with flag 0x02,
// has no window thread, and looks libGL up at run time.
#pragma once

#include <cstdint>

#include "gfx/driver.h"

namespace pel {

extern const DisplayDriver glxDriver;

}  // namespace pel
