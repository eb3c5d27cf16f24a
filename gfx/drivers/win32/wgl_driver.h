// The "OpenGL" back end on Windows: a window with a double-buffered OpenGL
// context current on the program's thread, presented with SwapBuffers at
// each page flip, where the window's messages are handled too. It serves only
// modes with flag 0x02 and has no window thread.
#pragma once

#include <cstdint>

#include "gfx/driver.h"

namespace pel {

extern const DisplayDriver wglDriver;

}  // namespace pel
