// The "Direct2D" back end: a window thread copies the band of changed rows
// into a Direct2D bitmap and draws it onto the window through an HWND
// render target, or, for shaped windows, into a Direct3D 10.1 texture put
// on screen with UpdateLayeredWindow and a magenta colour key. The key state
// follows the key messages themselves.
#pragma once

#include <cstdint>

#include "gfx/driver.h"

namespace pel {

extern const DisplayDriver d2dDriver;

}  // namespace pel
