// What tests and benchmarks of the "GDI" back end reach into, apart from
// its interface.
#pragma once

#include <cstdint>

#include "gfx/drivers/win32/gdi_driver.h"

namespace pel {

// Display lines put on the window, and passes of the window thread, since the
// process started (tests and benchmarks watch them).
int64_t gdiRowsPresented();
int64_t gdiPasses();
// The last band sent: first display line and line count.
void gdiLastBand(int32_t& first, int32_t& lines);
// Scaled windows: the last band of scaled rows put on the picture.
void gdiLastScaledBand(int32_t& first, int32_t& lines);
// Marks page rows first to last and presents them at once from the calling
// thread: the cost of one pass's presentation (for benchmarks).
void gdiPresentNow(int32_t first, int32_t last);

}  // namespace pel
