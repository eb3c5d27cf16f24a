// The "OpenGL" back end on Windows: a window with a double-buffered OpenGL
// context current on the program's thread, presented with SwapBuffers at
// each page flip, where the window's messages are handled too. It serves only
// modes with flag 0x02 and has no window thread.
#pragma once

#include <windows.h>

#include <cstdint>

#include "gfx/driver.h"

namespace pel {

extern const DisplayDriver wglDriver;

// Tests replace wglChoosePixelFormatARB with a chooser of their own (null
// restores the driver's).
using PixelFormatChooser = BOOL(WINAPI*)(HDC, const int*, const FLOAT*, UINT, int*, UINT*);
void setPixelFormatChooser(PixelFormatChooser chooser);
// Samples left in the attribute list after the last format choice.
int32_t wglSamplesChosen();

}  // namespace pel
