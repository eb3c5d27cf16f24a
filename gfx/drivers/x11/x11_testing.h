// What tests and benchmarks of the "X11" back end reach into, apart from
// its interface.
#pragma once

#include <cstdint>

#include "gfx/drivers/x11/x11_driver.h"

namespace pel {

// Surface rows put on the window since the process started (for tests and
// benchmarks of the dirty band).
int64_t x11RowsPresented();

// Passes of the window thread since the process started, and a wake for one
// more (for tests that wait for the window to catch up with what they sent:
// the thread sleeps while it has nothing to do).
int64_t x11Passes();
void x11Wake();

// Marks page rows first to last and presents them at once, waiting for the
// server to finish: the cost of one pass (for benchmarks).
void x11PresentNow(int32_t first, int32_t last);

}  // namespace pel
