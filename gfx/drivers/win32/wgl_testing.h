// What tests and benchmarks of the "OpenGL" (WGL) back end reach into, apart from
// its interface.
#pragma once

#include <windows.h>

#include <cstdint>

#include "gfx/drivers/win32/wgl_driver.h"

namespace pel {

// Tests replace wglChoosePixelFormatARB with a chooser of their own (null
// restores the driver's).
using PixelFormatChooser = BOOL(WINAPI*)(HDC, const int*, const FLOAT*, UINT, int*, UINT*);
void setPixelFormatChooser(PixelFormatChooser chooser);
// Samples left in the attribute list after the last format choice.
int32_t wglSamplesChosen();

}  // namespace pel
