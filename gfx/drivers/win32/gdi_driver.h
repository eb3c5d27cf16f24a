// The "GDI" back end: a window thread puts the band of changed rows of the
// visible page on the window with SetDIBitsToDevice about every 10 ms.
#pragma once

#include <cstdint>

#include "gfx/driver.h"

namespace pel {

extern const DisplayDriver gdiDriver;

}  // namespace pel
